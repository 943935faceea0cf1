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

constexpr uint16_t kHeaderMagic = 0x4F62;

// 32 bytes: small objects (one per line of a loaded INI text) pay it each.
struct alignas(16) LiveHeader {
  LiveHeader* prev;
  LiveHeader* next;
  TRefObject* self;  // set by the constructor
  uint32_t size;     // the instance size
  uint8_t linked;
  uint8_t pooled;    // the block came from the small-object pool
  uint16_t magic;
};
static_assert(sizeof(LiveHeader) == 32);

// ---- The small-object pool ----------------------------------------------------
// Objects of up to 256 bytes with their header (one per line of a loaded INI
// text, hash-list entries, ...) come from 64 KB slabs of equal-sized blocks:
// allocating and freeing millions of them costs a free-list step each instead
// of the general allocator's bookkeeping, and a slab whose blocks are all free
// goes back at once. Sanitizer builds keep every object a heap block of its
// own, so their checks still see each one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPoolEnabled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kPoolEnabled = false;
#else
constexpr bool kPoolEnabled = true;
#endif
#else
constexpr bool kPoolEnabled = true;
#endif

constexpr size_t kSlabSize = 65536;
constexpr size_t kPoolMaxBlock = 256;
constexpr size_t kPoolClasses = kPoolMaxBlock / 16;

struct Slab {
  Slab* prev;        // in its class's list of slabs with free blocks
  Slab* next;
  void* freeList;    // freed blocks
  uint32_t block;    // block size
  uint32_t used;     // blocks handed out
  uint32_t bump;     // offset of the first never-used block
  uint32_t listed;   // in the class's list
};
constexpr size_t kSlabHeader = 64;
static_assert(sizeof(Slab) <= kSlabHeader);

std::mutex gPoolLock;
Slab* gPartial[kPoolClasses + 1] = {};

void ListSlab(Slab* s, size_t cls) {
  s->prev = nullptr;
  s->next = gPartial[cls];
  if (s->next) s->next->prev = s;
  gPartial[cls] = s;
  s->listed = 1;
}

void UnlistSlab(Slab* s, size_t cls) {
  if (s->prev) s->prev->next = s->next; else gPartial[cls] = s->next;
  if (s->next) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
  s->listed = 0;
}

bool SlabFull(const Slab* s) { return !s->freeList && s->bump + s->block > kSlabSize; }

// A zero-filled block of `bytes` (at most kPoolMaxBlock), or null.
void* PoolAllocate(size_t bytes) {
  const size_t cls = (bytes + 15) / 16;
  const uint32_t block = static_cast<uint32_t>(cls * 16);
  void* p = nullptr;
  {
    std::lock_guard<std::mutex> guard(gPoolLock);
    Slab* s = gPartial[cls];
    if (!s) {
      s = static_cast<Slab*>(std::aligned_alloc(kSlabSize, kSlabSize));
      if (!s) return nullptr;
      s->freeList = nullptr;
      s->block = block;
      s->used = 0;
      s->bump = kSlabHeader;
      ListSlab(s, cls);
    }
    if (s->freeList) {
      p = s->freeList;
      s->freeList = *static_cast<void**>(p);
    } else {
      p = reinterpret_cast<char*>(s) + s->bump;
      s->bump += block;
    }
    ++s->used;
    if (SlabFull(s)) UnlistSlab(s, cls);
  }
  std::memset(p, 0, block);
  return p;
}

void PoolRelease(void* p) {
  Slab* s = reinterpret_cast<Slab*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(kSlabSize - 1));
  Slab* empty = nullptr;
  {
    std::lock_guard<std::mutex> guard(gPoolLock);
    const size_t cls = s->block / 16;
    *static_cast<void**>(p) = s->freeList;
    s->freeList = p;
    --s->used;
    if (s->used == 0) {
      // The last slab of its size stays, empty, for the next objects: a
      // program that makes and frees a few objects in turn would otherwise
      // get and return a slab each time.
      if (!s->listed) ListSlab(s, cls);
      if (gPartial[cls] != s || s->next) {
        UnlistSlab(s, cls);
        empty = s;
      } else {
        s->freeList = nullptr;
        s->bump = kSlabHeader;
      }
    } else if (!s->listed) {
      ListSlab(s, cls);
    }
  }
  std::free(empty);
}
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
  const size_t bytes = sizeof(LiveHeader) + size;
  void* block = kPoolEnabled && bytes <= kPoolMaxBlock ? PoolAllocate(bytes) : nullptr;
  const bool pooled = block != nullptr;
  if (!block) block = std::calloc(1, bytes);
  if (!block) throw std::bad_alloc();
  auto* h = static_cast<LiveHeader*>(block);
  h->pooled = pooled ? 1 : 0;
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
  if (h->pooled)
    PoolRelease(h);
  else
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
