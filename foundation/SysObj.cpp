#include "foundation/SysObj.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "foundation/kpExceptions.h"

namespace foundation {

const TGUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Every object is allocated with a hidden header in front of it that links it
// into the live-object list and records its instance size. TRefObject must
// therefore be the first base of every class (it is in single inheritance,
// and whenever it is named first); the constructor checks the header.
namespace {

constexpr uint64_t kHeaderMagic = 0x516A4C6976654F62ull;

struct alignas(16) LiveHeader {
  LiveHeader* prev;
  LiveHeader* next;
  TRefObject* self;  // set by the constructor
  uint32_t size;     // the instance size
  uint32_t linked;
  uint64_t magic;
  uint64_t spare;
};
static_assert(sizeof(LiveHeader) % alignof(std::max_align_t) == 0);

std::mutex gLiveLock;
LiveHeader* gFirst = nullptr;
LiveHeader* gLast = nullptr;
int gLiveCount = 0;

LiveHeader* HeaderOf(const void* obj) {
  return reinterpret_cast<LiveHeader*>(const_cast<char*>(static_cast<const char*>(obj)) -
                                       sizeof(LiveHeader));
}

// Appends under the lock. The list being empty while a first object is
// recorded means the list's globals are damaged.
void AddLiveObject(LiveHeader* h) {
  std::lock_guard<std::mutex> guard(gLiveLock);
  if (gLast) {
    gLast->next = h;
    h->prev = gLast;
  } else {
    if (gFirst) QelAssertFail("Unknown ClassLeaks Engine Error");
    gFirst = h;
    h->prev = nullptr;
  }
  h->next = nullptr;
  gLast = h;
  h->linked = 1;
  ++gLiveCount;
}

// Unlinks under the lock; `name` names the class in the messages.
void RemoveLiveObject(LiveHeader* h, const char* name, bool check) {
  std::lock_guard<std::mutex> guard(gLiveLock);
  auto duplicate = [&] {
    QelAssertFail(std::string("Possible duplicate ") + name + ".Free ");
  };
  if (gFirst == h) {
    gFirst = h->next;
  } else if (!h->prev) {
    if (check) duplicate();
  } else {
    h->prev->next = h->next;
  }
  if (gLast == h) {
    gLast = h->prev;
  } else if (!h->next) {
    if (check) duplicate();
  } else {
    h->next->prev = h->prev;
  }
  h->prev = nullptr;
  h->next = nullptr;
  h->linked = 0;
  --gLiveCount;
  if (check && ((gFirst == nullptr) != (gLast == nullptr))) QelAssertFail("");
}

}  // namespace

struct LiveListAccess {
  static void Unlink(TRefObject* obj) {
    LiveHeader* h = HeaderOf(obj);
    if (h->linked) RemoveLiveObject(h, obj->ClassName(), true);
  }
};

// ---- Allocation ---------------------------------------------------------------

void* TRefObject::operator new(size_t size) {
  void* block = std::calloc(1, sizeof(LiveHeader) + size);
  if (!block) throw std::bad_alloc();
  auto* h = static_cast<LiveHeader*>(block);
  h->size = static_cast<uint32_t>(size);
  h->magic = kHeaderMagic;
  AddLiveObject(h);
  return h + 1;
}

void TRefObject::operator delete(void* p) {
  if (!p) return;
  LiveHeader* h = HeaderOf(p);
  // Still linked only when a constructor raised: the object never reached Free.
  if (h->linked) RemoveLiveObject(h, "TRefObject", false);
  h->magic = 0;
  std::free(h);
}

// ---- Construction and release ---------------------------------------------------

TRefObject::TRefObject() : FRefCount(1), FFlags(ofCreated) {
  LiveHeader* h = HeaderOf(this);
  if (h->magic != kHeaderMagic || h->self != nullptr)
    QelAssertFail("TRefObject must be the first base of a heap object");
  h->self = this;
  // C++ always runs the base constructor, so construction is complete with a
  // positive count as soon as it has run.
  FFlags |= ofConstructed;
}

TRefObject::~TRefObject() {
  LiveHeader* h = HeaderOf(this);
  h->self = nullptr;
}

void TRefObject::Dispose() { FFlags |= ofDisposed; }

void TRefObject::BeforeDestruction() {}

void TRefObject::Free() {
  BeforeDestruction();
  int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n > 0) return;
  if (n < 0 && (FFlags & ofConstructed))
    QelAssertFail(std::string("Dupliacte free or _release at ") + ClassName());

  std::string error;
  try {
    Dispose();
  } catch (...) {
    error = std::string("Unhandled Exception at \"") + ClassName() + "\" Disposing";
  }
  if (error.empty() && (FFlags & (ofCreated | ofDisposed)) != (ofCreated | ofDisposed)) {
    if (!(FFlags & ofCreated))
      error = std::string("Error: inherited ") + ClassName() + ".Create not called!";
    else
      error = std::string("Error: inherited ") + ClassName() + ".Dispose not called!";
  }
  // The memory goes only when the count is exactly 0; a failed Dispose does
  // not keep the object alive (nothing could release it later).
  if (FRefCount.load(std::memory_order_acquire) == 0) {
    LiveListAccess::Unlink(this);
    delete this;
  }
  if (!error.empty()) QelAssertFail(error);
}

int TRefObject::_AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

int TRefObject::_Release() {
  int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) {
    // Back to 1 so that Free performs the final decrement and the disposal.
    FRefCount.fetch_add(1, std::memory_order_relaxed);
    Free();
  }
  return n;
}

int AddRefObj(TRefObject* obj) { return obj ? obj->_AddRef() : 0; }

int ReleaseObj(TRefObject* obj) { return obj ? obj->_Release() : 0; }

int32_t TRefObject::QueryInterface(const TGUID& iid, void** obj) {
  if (iid == IID_IUnknown) {
    *obj = static_cast<IUnknown*>(this);
    _AddRef();
    return S_OK;
  }
  *obj = nullptr;
  return E_NOINTERFACE;
}

uint32_t TRefObject::AddRef() { return static_cast<uint32_t>(_AddRef()); }

uint32_t TRefObject::Release() { return static_cast<uint32_t>(_Release()); }

TRefObject* TRefObject::FromUnknown(IUnknown* intf) { return dynamic_cast<TRefObject*>(intf); }

const char* TRefObject::ClassName() const { return DemangledClassName(typeid(*this)); }

size_t TRefObject::InstanceSize() const { return HeaderOf(this)->size; }

// ---- Live-object list ---------------------------------------------------------------

int LiveObjectCount() {
  std::lock_guard<std::mutex> guard(gLiveLock);
  return gLiveCount;
}

namespace {

struct TClassInfo {
  std::string Name;
  int32_t Count;
  int32_t InstanceSize;
};

constexpr int kMaxLeakClasses = 128;

struct LeakTable {
  TClassInfo Items[kMaxLeakClasses];
  int Used = 0;
  bool Overflow = false;
};

void CountLeakedClass(LeakTable& table, const char* name, int32_t size) {
  for (int i = 0; i < table.Used; ++i) {
    if (table.Items[i].Name == name) {
      ++table.Items[i].Count;
      return;
    }
  }
  if (table.Used < kMaxLeakClasses)
    table.Items[table.Used++] = TClassInfo{name, 1, size};
  else
    table.Overflow = true;
}

std::atomic<TLeakReportOpener> gOpener{nullptr};

void (*gSetProcessDPIAware)() = nullptr;

// The layer answers the DPI-awareness entry as present with no effect: a
// Linux desktop scales through its own settings.
void LayerSetProcessDPIAware() {}

}  // namespace

std::atomic<bool> LeakReportDisabled{false};

std::string BuildLeakReport() {
  auto table = std::make_unique<LeakTable>();
  {
    std::lock_guard<std::mutex> guard(gLiveLock);
    for (LiveHeader* h = gFirst; h; h = h->next)
      if (h->self) CountLeakedClass(*table, h->self->ClassName(), static_cast<int32_t>(h->size));
  }
  std::string text;
  for (int i = table->Used - 1; i >= 0; --i) {
    const TClassInfo& c = table->Items[i];
    text += c.Name + ": " + std::to_string(c.Count) + " (" +
            std::to_string(static_cast<int64_t>(c.Count) * c.InstanceSize) + " bytes)\r\n";
  }
  if (table->Overflow) text += "...";
  return text;
}

bool WriteLeakReport(const std::string& text) {
  std::FILE* f = std::fopen("memleaks.txt", "wb");
  if (!f) return false;
  static const char kHead[] = "Memory Leaks\r\n\r\n";
  bool ok = std::fwrite(kHead, 1, sizeof kHead - 1, f) == sizeof kHead - 1 &&
            std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) return false;
  TLeakReportOpener opener = gOpener.load();
  if (!opener) return false;
  return opener(u"open", u"notepad.exe", u"memleaks.txt");
}

bool ReportLeaks() {
  if (LeakReportDisabled.load()) return false;
  std::string text = BuildLeakReport();
  if (text.empty()) return false;
  return WriteLeakReport(text);
}

TLeakReportOpener SetLeakReportOpener(TLeakReportOpener opener) { return gOpener.exchange(opener); }

void EnableDpiAwareness() {
  gSetProcessDPIAware = &LayerSetProcessDPIAware;
  if (gSetProcessDPIAware) gSetProcessDPIAware();
}

void InitSysObj() { EnableDpiAwareness(); }

void FinalizeSysObj() {
  if (!LeakReportDisabled.load()) ReportLeaks();
}

}  // namespace foundation
