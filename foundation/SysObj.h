// The reference-counted base object of nearly every class, the process-wide
// list of live objects and the leak report written from it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "foundation/kpTypes.h"

namespace foundation {

// Construction flags kept in TRefObject::Flags.
enum : uint8_t {
  ofCreated = 1,      // the base constructor ran
  ofConstructed = 2,  // construction finished with a positive count
  ofDisposed = 4,     // the base Dispose ran
};

// Overrides ClassName() inside a class body; the name is the one the object's
// messages and the leak report use. Without it the demangled type name (its
// namespace removed) is used, so a forgotten macro still reports correctly.
#define QEL_CLASSNAME(cls) \
  const char* ClassName() const override { return #cls; }

// Result codes of the interface lookup.
constexpr int32_t S_OK = 0;
constexpr int32_t E_NOINTERFACE = static_cast<int32_t>(0x80004002u);

// The IUnknown identifier {00000000-0000-0000-C000-000000000046}.
extern const TGUID IID_IUnknown;

// The small COM-shaped interface: query by identifier, add a reference,
// release. TRefObject implements it over its own count; interfaces of other
// classes derive from it.
class IUnknown {
 public:
  virtual int32_t QueryInterface(const TGUID& iid, void** obj) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

class TRefObject : public IUnknown {
 public:
  // Count 1, ofCreated and ofConstructed set. The object is already in the
  // live-object list (operator new links it before any constructor runs).
  TRefObject();
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;

  // Releases the object's resources. Every override releases its own and
  // then calls the base Dispose; it must accept fields construction never set.
  virtual void Dispose();

  // Runs on every Free, also when references remain.
  virtual void BeforeDestruction();

  // Releases one reference; the last one disposes of the object and frees it.
  void Free();

  // Takes a reference: the new count.
  int _AddRef();
  // Releases a reference: the remaining count (0 when the object went away).
  int _Release();

  // The interface lookup by identifier: S_OK with the interface, else
  // E_NOINTERFACE with nil. Only IUnknown is known here; classes with
  // interfaces of their own extend it.
  int32_t QueryInterface(const TGUID& iid, void** obj) override;
  // The interface entries: forward to _AddRef and _Release.
  uint32_t AddRef() override;
  uint32_t Release() override;

  // The object's IUnknown interface, and the way back from one.
  IUnknown* GetUnknown() { return this; }
  static TRefObject* FromUnknown(IUnknown* intf);

  // The class name used in messages and in the leak report.
  virtual const char* ClassName() const;

  int32_t RefCount() const { return FRefCount.load(std::memory_order_relaxed); }
  uint8_t Flags() const { return FFlags; }

  // The size the object was allocated with (its class's instance size).
  size_t InstanceSize() const;

  // Allocation links the zero-filled block into the live-object list;
  // deallocation unlinks it.
  static void* operator new(size_t size);
  static void operator delete(void* p);
  static void* operator new[](size_t) = delete;
  static void* operator new(size_t, std::align_val_t) = delete;
  static void operator delete[](void*) = delete;

 protected:
  // Objects end only through Free; the destructor releases nothing.
  virtual ~TRefObject();

 private:
  friend struct LiveListAccess;
  std::atomic<int32_t> FRefCount;
  uint8_t FFlags;
};

// Null-safe reference helpers: nil gives 0 and does nothing.
int AddRefObj(TRefObject* obj);
int ReleaseObj(TRefObject* obj);

// Null-safe Free.
inline void FreeObj(TRefObject* obj) {
  if (obj) obj->Free();
}

// Sets the variable to nil, then frees what it held.
template <class T>
void FreeAndNil(T*& obj) {
  T* p = obj;
  obj = nullptr;
  if (p) p->Free();
}

// Holds one reference for C++ callers. Adopt() takes over a reference the
// caller owns (a fresh `new T`); AddRef() takes a new one.
template <class T>
class TRef {
 public:
  TRef() = default;
  TRef(std::nullptr_t) {}
  static TRef Adopt(T* obj) {
    TRef r;
    r.FObj = obj;
    return r;
  }
  static TRef AddRef(T* obj) {
    if (obj) obj->_AddRef();
    return Adopt(obj);
  }
  TRef(const TRef& other) : FObj(other.FObj) {
    if (FObj) FObj->_AddRef();
  }
  TRef(TRef&& other) noexcept : FObj(std::exchange(other.FObj, nullptr)) {}
  template <class U>
  TRef(TRef<U>&& other) noexcept : FObj(other.Detach()) {}
  TRef& operator=(TRef other) noexcept {
    std::swap(FObj, other.FObj);
    return *this;
  }
  ~TRef() { Reset(); }

  void Reset() {
    T* p = std::exchange(FObj, nullptr);
    if (p) p->Free();
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(FObj, nullptr); }

  T* Get() const { return FObj; }
  T* operator->() const { return FObj; }
  T& operator*() const { return *FObj; }
  explicit operator bool() const { return FObj != nullptr; }

 private:
  template <class U>
  friend class TRef;
  T* FObj = nullptr;
};

template <class T, class... Args>
TRef<T> MakeRef(Args&&... args) {
  return TRef<T>::Adopt(new T(std::forward<Args>(args)...));
}

// A process-wide reference that threads read while another thread replaces
// it. Set swaps under the lock and releases the old object after the lock
// is left (its Dispose may take other locks); Acquire hands out a new
// reference, so a reader keeps the object alive however soon it is
// replaced. The lock is a leaf: nothing else is taken while it is held.
// Meant for globals: it never releases its object at exit (trivially
// destructible), so ending threads may still read it; Set(nullptr) releases.
template <class T>
class TSharedRef {
 public:
  // Installs obj's reference (a TRef taken over; nullptr: none).
  void Set(TRef<T> obj) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      T* previous = FObj;
      FObj = obj.Detach();
      obj = TRef<T>::Adopt(previous);
    }
    // obj, now holding the previous object, releases it here.
  }
  // Installs obj with a new reference of its own.
  void SetAddRef(T* obj) { Set(TRef<T>::AddRef(obj)); }
  TRef<T> Acquire() const {
    std::lock_guard<std::mutex> guard(FLock);
    return TRef<T>::AddRef(FObj);
  }

 private:
  mutable std::mutex FLock;
  T* FObj = nullptr;  // one reference of its own; guarded by FLock
};
static_assert(std::is_trivially_destructible_v<TSharedRef<TRefObject>>,
              "a global TSharedRef must not release its object at exit");

// ---- Live-object list and leak report ------------------------------------

// Number of objects currently in the live-object list.
int LiveObjectCount();

// Builds the leak text from the live-object list: one line per class from the
// newest class to the oldest, "..." appended when more than 128 classes leak.
std::string BuildLeakReport();

// Writes "memleaks.txt" in the current folder ("Memory Leaks", an empty line,
// the text) and opens it through the opener hook. False on any file error or
// when the opener reports failure.
bool WriteLeakReport(const std::string& text);

// Builds the report and, when not empty, writes it. Skipped when the
// process-wide switch LeakReportDisabled is set. Returns whether a report
// was written and opened.
bool ReportLeaks();

// The process-wide switch: the program's entry sets it so the report never
// runs in the player.
extern std::atomic<bool> LeakReportDisabled;

// Opens the written report (verb, program, parameter); answers success.
// Default: opens nothing and answers False.
using TLeakReportOpener = bool (*)(const char16_t* verb, const char16_t* program,
                                   const char16_t* parameter);
TLeakReportOpener SetLeakReportOpener(TLeakReportOpener opener);

// The process's DPI-awareness call, made once at start-up.
void EnableDpiAwareness();

// Start-up and finalisation of the unit, called explicitly by the program.
void InitSysObj();
void FinalizeSysObj();

}  // namespace foundation
