#include "container/kvQelFileAccessor2.h"

#include <atomic>

#include "container/kvPartialStream.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvPathMacros.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvLoadCallBack.h"
#include "platform/os/files.h"
#include "text/kvTextProducer2.h"

namespace container {

namespace {

// ---- process-wide state ----
std::mutex gAliasLock;
TPathModifiersList gAliases;

std::atomic<int32_t> gSourceCounter{1};

// Guards the handle hash list and the handles' reference counts.
std::mutex gHandleLock;
foundation::THashList* gHandles = nullptr;
int32_t gLiveHandles = 0;
constexpr int32_t kHandleBuckets = 9997;

TFileAccessor* gRealAccessor = nullptr;
std::mutex gRealAccessorLock;

constexpr int32_t kLoadCallbackChunk = 32768;

bool FileExistsBeforeBar(const std::u16string& name) {
  const size_t bar = name.find(u'|');
  return foundation::FileExists(bar == std::u16string::npos ? name : name.substr(0, bar));
}

void CallLoadCallBack(foundation::TStream* sender) {
  const int64_t size = sender->GetSize();
  // The throttle's answer does not stop a read; it only paces the thread.
  imaging::LoadCallBack(size > 0 ? static_cast<float>(sender->GetPosition()) / static_cast<float>(size) : 1.0f);
}

bool ForwardProgress(float fraction) {
  imaging::LoadCallBack(fraction);
  return true;
}

}  // namespace

// ---- Path aliases ----------------------------------------------------------------------------------

void ClearPathAliases(TPathModifiersList& Table) {
  Table.Items.clear();
  Table.Items.shrink_to_fit();
  Table.Count = 0;
}

int32_t InsertPathAlias(TPathModifiersList& Table, int32_t Index, const std::u16string& Name,
                        const std::u16string& Folder, bool Default) {
  if (Index < 0 || Index > Table.Count) return -1;
  if (Table.Count >= static_cast<int32_t>(Table.Items.size()))
    Table.Items.resize(Table.Items.empty() ? 8 : Table.Items.size() * 2);
  TPathModifier entry;
  // Tokens are compared folded and with their percent signs.
  std::u16string name = Name;
  if (name.empty() || name.front() != u'%') name = u"%" + name;
  if (name.size() < 2 || name.back() != u'%') name += u"%";
  entry.Name = foundation::FoldCase(name);
  entry.Folder = foundation::GetExpandedPath(Folder);
  foundation::SetTrailingBackslash(entry.Folder, false);
  entry.Default = Default;
  for (int32_t i = Table.Count; i > Index; --i) Table.Items[i] = std::move(Table.Items[i - 1]);
  Table.Items[Index] = std::move(entry);
  ++Table.Count;
  return Index;
}

int32_t AddPathAlias(TPathModifiersList& Table, const std::u16string& Name, const std::u16string& Folder,
                     bool Default) {
  return InsertPathAlias(Table, Table.Count, Name, Folder, Default);
}

void InstallPathAliases(const TPathModifiersList& Table) {
  std::lock_guard<std::mutex> lock(gAliasLock);
  gAliases = Table;
}

std::u16string ExpandPathAliases(const TPathModifiersList& Table, const std::u16string& Name) {
  std::u16string result = Name;
  int position = 1;
  std::u16string token;
  while (foundation::NextPathMacro(result, position, token, true, true)) {
    const int tokenEnd = position - 1;  // 0-based, just after the token
    const int tokenStart = tokenEnd - static_cast<int>(token.size());
    const char16_t* folder = nullptr;
    if (token == u"%store%")
      folder = u"";
    else if (token == u"%styles%")
      folder = u"Slide Styles\\";
    else if (token == u"%effects%")
      folder = u"Transitions\\";
    if (folder) {
      // These three always belong to the store roots and begin the name.
      std::u16string rest = result.substr(static_cast<size_t>(tokenEnd));
      if (!rest.empty() && (rest.front() == u'\\' || rest.front() == u'/')) rest.erase(0, 1);
      return VirtualResolve(folder + rest);
    }
    bool taken = false;
    std::u16string chosen;
    size_t chosenFolderLength = 0;
    for (int32_t i = 0; i < Table.Count; ++i) {
      const TPathModifier& entry = Table.Items[static_cast<size_t>(i)];
      if (entry.Name != token) continue;
      std::u16string candidate = result.substr(0, static_cast<size_t>(tokenStart)) + entry.Folder +
                                 result.substr(static_cast<size_t>(tokenEnd));
      if (FileExistsBeforeBar(candidate)) {
        chosen = std::move(candidate);
        chosenFolderLength = entry.Folder.size();
        taken = true;
        break;
      }
      if (entry.Default) {
        // Taken unless a later entry of the name has the file.
        chosen = std::move(candidate);
        chosenFolderLength = entry.Folder.size();
        taken = true;
      }
    }
    if (taken) {
      result = std::move(chosen);
      position = tokenStart + static_cast<int>(chosenFolderLength) + 1;
    }
  }
  return result;
}

std::u16string ResolvePathAlias(const std::u16string& Name) {
  TPathModifiersList table;
  {
    std::lock_guard<std::mutex> lock(gAliasLock);
    table = gAliases;
  }
  return ExpandPathAliases(table, Name);
}

bool AliasedFileExists(const std::u16string& Name) { return foundation::FileExists(ResolvePathAlias(Name)); }

// ---- Sources ---------------------------------------------------------------------------------------

TCallbackHandle::TCallbackHandle(TFileSource* Source, TImageCallback Callback)
    : Source(Source), Callback(std::move(Callback)) {}

void TCallbackHandle::Dispose() {
  if (Source) {
    std::lock_guard<std::mutex> lock(Source->FCallbackLock);
    auto& list = Source->FImageCallbacks;
    for (auto it = list.begin(); it != list.end(); ++it)
      if (*it == this) {
        list.erase(it);
        break;
      }
    Source = nullptr;
  }
  TRefObject::Dispose();
}

TFileSource::TFileSource() : Lock(new foundation::TSafeCriticalSection()), SourceId(gSourceCounter.fetch_add(1)) {}

void TFileSource::Dispose() {
  bool empty;
  {
    std::lock_guard<std::mutex> lock(FCallbackLock);
    empty = FImageCallbacks.empty();
  }
  foundation::FreeAndNil(Lock);
  TRefObject::Dispose();
  QEL_ASSERT(empty, "TFileSource.Dispose: image callbacks still registered");
}

foundation::TStream* TFileSource::OpenStream(const std::u16string& Name) {
  foundation::TRef<foundation::TStream> stream;
  {
    std::lock_guard<foundation::TSafeCriticalSection> guard(*Lock);
    try {
      stream = foundation::TRef<foundation::TStream>::Adopt(DoOpen(Name));
    } catch (...) {
      // A damaged entry or an unreadable file is a missing file to the caller.
    }
  }
  if (!stream) return nullptr;
  try {
    auto window = foundation::MakeRef<TPartialStream>(stream.Get(), 0, stream->GetSize(), true);
    stream.Detach();  // the window owns it now
    window->SetReadCallback(CallLoadCallBack, kLoadCallbackChunk);
    return window.Detach();
  } catch (...) {
    return nullptr;
  }
}

TCallbackHandle* TFileSource::AddImageCallback(TImageCallback Callback) {
  auto* handle = new TCallbackHandle(this, std::move(Callback));
  std::lock_guard<std::mutex> lock(FCallbackLock);
  FImageCallbacks.push_back(handle);
  return handle;
}

imaging::TImage* TFileSource::QueryImageCallbacks(const std::u16string& Name) {
  // The callbacks run outside the list's lock, each kept alive while it runs.
  std::vector<foundation::TRef<TCallbackHandle>> handles;
  {
    std::lock_guard<std::mutex> lock(FCallbackLock);
    for (TCallbackHandle* h : FImageCallbacks) handles.push_back(foundation::TRef<TCallbackHandle>::AddRef(h));
  }
  for (const auto& h : handles) {
    // A generator that fails has no image for the name; the later ones are
    // still asked, and the name may still be a file.
    if (!h->Callback) continue;
    try {
      if (imaging::TImage* image = h->Callback(Name)) return image;
    } catch (...) {
    }
  }
  return nullptr;
}

TFileStreamEx* TFileStreamEx::OpenRead(const std::u16string& FileName) {
  using namespace platform::os;
  auto s = foundation::MakeRef<TFileStreamEx>();
  try {
    s->Open(FileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  } catch (const foundation::Exception&) {
    return nullptr;
  }
  return s.Detach();
}

int32_t TFileStreamEx::Read(std::span<uint8_t> Buffer, int32_t Offset, int32_t Count) {
  try {
    return TFileStream::Read(Buffer, Offset, Count);
  } catch (const foundation::Exception&) {
    return 0;
  }
}

foundation::TStream* TRealFileSource::DoOpen(const std::u16string& Name) {
  const size_t bar = Name.find(u'|');
  if (bar != std::u16string::npos) return DoOpen(Name.substr(0, bar));
  const std::u16string file = ResolvePathAlias(Name);
  if (!foundation::FileExists(file)) return nullptr;
  return TFileStreamEx::OpenRead(file);
}

// ---- Accessor --------------------------------------------------------------------------------------

TFileAccessor::TFileAccessor(TFileSource* Source) : Source(Source) {
  QEL_ASSERT(Source, "TFileAccessor.Create: no file source");
  Source->_AddRef();
}

void TFileAccessor::Dispose() {
  foundation::FreeAndNil(Source);
  TRefObject::Dispose();
}

TFileAccessor* TFileAccessor::Clone() {
  auto* accessor = new TFileAccessor(Source);
  accessor->BaseFolder = BaseFolder;
  return accessor;
}

foundation::TStream* TFileAccessor::OpenStream(const std::u16string& Name) {
  foundation::TStream* stream = Source->OpenStream(Name);
  if (stream && OpenHook) OpenHook(Name, stream);
  if (!stream && FallbackOpen) stream = FallbackOpen(Name);
  return stream;
}

bool TFileAccessor::ResolvePath(std::u16string& Name) {
  if (foundation::FileExists(Name)) return true;
  const std::u16string aliased = ResolvePathAlias(Name);
  if (foundation::FileExists(aliased)) {
    Name = aliased;
    return true;
  }
  if (!BaseFolder.empty()) {
    const std::u16string local = foundation::IncludeTrailingBackslash(BaseFolder) + ExtractLastPathItem(Name);
    if (foundation::FileExists(local)) {
      Name = local;
      return true;
    }
  }
  return false;
}

foundation::TStream* TFileAccessor::OpenFile(const std::u16string& Name) {
  std::u16string name = Name;
  if (!ResolvePath(name)) return nullptr;
  return TFileStreamEx::OpenRead(name);
}

imaging::TImage* TFileAccessor::LoadImage(TFileAccessor* Accessor, const std::u16string& Name) {
  if (!Accessor) foundation::QelAssertFail(u"TFileAccessor not Assigned for fn: \"" + Name + u"\"");
  // The handle installs the forwarding progress method on the store once,
  // when it is decoded, so no thread replaces it while another uses it.
  return GetImageHandle(Accessor->Source, Name);
}

// ---- Image handles -----------------------------------------------------------------------------------

TImageHandle::TImageHandle(foundation::TKeyItem* Entry, int32_t SourceId) : Entry(Entry), SourceId(SourceId) {}

void TImageHandle::Dispose() {
  if (Entry) {
    Entry->Remove(this);
    if (Entry->Count() == 0) Entry->Free();  // the key leaves the hash list with its last handle
    Entry = nullptr;
    --gLiveHandles;
  }
  foundation::FreeAndNil(Store);
  TRefObject::Dispose();
}

TQelImage::TQelImage(TImageHandle* Handle) : imaging::TImage(Handle->Store), Handle(Handle) { Handle->_AddRef(); }

void TQelImage::Dispose() {
  {
    std::lock_guard<std::mutex> lock(gHandleLock);
    foundation::FreeAndNil(Handle);
  }
  imaging::TImage::Dispose();
}

imaging::TImage* TQelImage::Clone() { return new TQelImage(Handle); }

int32_t LiveImageHandleCount() {
  std::lock_guard<std::mutex> lock(gHandleLock);
  return gLiveHandles;
}

namespace {

imaging::TBitmapStore* DecodeForHandle(TFileSource* Source, const std::u16string& Name) {
  foundation::TRef<imaging::TBitmapStore> store;
  bool opened = false;
  try {
    auto generated = foundation::TRef<imaging::TImage>::Adopt(Source->QueryImageCallbacks(Name));
    if (generated && generated->Store) {
      store = foundation::TRef<imaging::TBitmapStore>::AddRef(generated->Store);
    } else if (auto stream = foundation::TRef<foundation::TStream>::Adopt(Source->OpenStream(Name))) {
      opened = true;
      // Our own reference covers the stream whatever a loader does with it.
      imaging::TLevelProvider provider = Source->LevelRoutineProvider;
      store = foundation::TRef<imaging::TBitmapStore>::Adopt(
          imaging::LoadBitmapStore(stream.Get(), Name, false, provider));
    }
  } catch (...) {
    // Undecodable data gives the placeholder below, never an exception.
    store.Reset();
  }
  if (!store) {
    auto placeholder = foundation::TRef<imaging::TImage>::Adopt(CreatePlaceholderImage(Name, opened, false));
    if (placeholder) store = foundation::TRef<imaging::TBitmapStore>::AddRef(placeholder->Store);
  }
  return store.Detach();
}

}  // namespace

imaging::TImage* GetImageHandle(TFileSource* Source, const std::u16string& Name) {
  QEL_ASSERT(Source, "GetImageHandle: no file source");
  const std::u16string key = foundation::UpperCaseStr(Name);
  TImageHandle* handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(gHandleLock);
    if (!gHandles) gHandles = new foundation::THashList(kHandleBuckets);
    foundation::TKeyItem* entry = gHandles->FindOrAdd(key);
    for (int32_t i = 0; i < entry->Count() && !handle; ++i) {
      auto* h = entry->Get<TImageHandle>(i);
      if (h->SourceId == Source->SourceId) {
        handle = h;
        handle->_AddRef();
      }
    }
    if (!handle) {
      handle = new TImageHandle(entry, Source->SourceId);
      entry->Add(handle);
      ++gLiveHandles;
    }
  }
  // The reference taken above is released under the process-wide lock (the
  // last one takes the handle out of the table), on every way out.
  struct ReleaseUnderLock {
    TImageHandle* handle;
    ~ReleaseUnderLock() {
      std::lock_guard<std::mutex> lock(gHandleLock);
      handle->Free();
    }
  } release{handle};
  {
    // Two threads asking for one file decode it once; other files decode in parallel.
    std::lock_guard<std::mutex> lock(handle->Lock);
    if (!handle->Decoded) {
      handle->Store = DecodeForHandle(Source, Name);
      if (handle->Store && !handle->Store->Progress) handle->Store->Progress = ForwardProgress;
      handle->Decoded = true;  // a file is tried once per handle
    }
  }
  return handle->Store ? new TQelImage(handle) : nullptr;
}

// ---- Placeholders ------------------------------------------------------------------------------------

TPlaceholderProducer PlaceholderProducerHook = DefaultPlaceholderProducer;

imaging::TImage* DefaultPlaceholderProducer(const std::u16string& Line1, const std::u16string& Line2) {
  if (!imaging::pfA8R8G8B8) return nullptr;
  imaging::TSysBitmap* bitmap = imaging::CreateSysBitmap(kPlaceholderWidth, kPlaceholderHeight, imaging::pfA8R8G8B8);
  if (!bitmap) return nullptr;
  for (int32_t y = 0; y < kPlaceholderHeight; ++y) {
    imaging::TFColorA* row = bitmap->Rows32(y);
    for (int32_t x = 0; x < kPlaceholderWidth; ++x) row[x] = imaging::TFColorA{100, 100, 100, 255};
  }
  return imaging::WrapBitmapAsImage(bitmap, true, Line1 + Line2);
}

imaging::TImage* VectorTextPlaceholderProducer(const std::u16string& Line1, const std::u16string& Line2) {
  // Without a vectorizer (no font layer) the grey placeholder stands in.
  if (!foundation::TRef<text::TVectorizer>::Adopt(text::CreateVectorizer())) return nullptr;
  auto lines = foundation::TRef<foundation::TStringList>::Adopt(new foundation::TStringList());
  lines->Add(Line1);
  lines->Add(Line2);
  auto producer = foundation::TRef<text::TTextProducer>::Adopt(new text::TTextProducer());
  producer->SetVectorText(text::CreateVectorText(text::DefaultFontParams(), lines.Get()), true);
  return producer->RenderEx(text::MakeARGB(230, 230, 230, 255), text::MakeARGB(100, 100, 100, 255), 0.5, false, false,
                            {0, 0}, Line1 + Line2);
}

imaging::TImage* CreatePlaceholderImage(const std::u16string& Name, bool Opened, bool Video) {
  const char16_t* first = Video ? (Opened ? u"Video load error:" : u"Video not found")
                                : (Opened ? u"Image load error:" : u"Image not found");
  const std::u16string line1 = u" " + std::u16string(first) + u" ";
  const std::u16string line2 = u" " + ExtractLastPathItem(Name) + u" ";
  // A producer that fails must not turn a missing picture into an error: the
  // plain picture stands in for it.
  foundation::TRef<imaging::TImage> image;
  if (TPlaceholderProducer producer = PlaceholderProducerHook) {
    try {
      image = foundation::TRef<imaging::TImage>::Adopt(producer(line1, line2));
    } catch (...) {
    }
  }
  if (!image || !image->Store) image = foundation::TRef<imaging::TImage>::Adopt(DefaultPlaceholderProducer(line1, line2));
  return image.Detach();
}

// ---- Real-file accessor and unit life ------------------------------------------------------------------

TFileAccessor* RealFileAccessor() {
  std::lock_guard<std::mutex> lock(gRealAccessorLock);
  return gRealAccessor;
}

TFileAccessor* CreateRealFileAccessor() {
  TFileAccessor* global = RealFileAccessor();
  QEL_ASSERT(global, "CreateRealFileAccessor: unit not initialised");
  return global->Clone();
}

void InitFileAccessor() {
  // Placeholders are drawn as vector text; a producer installed by someone
  // else (a test) stays.
  if (PlaceholderProducerHook == DefaultPlaceholderProducer) PlaceholderProducerHook = VectorTextPlaceholderProducer;
  {
    std::lock_guard<std::mutex> lock(gHandleLock);
    if (!gHandles) gHandles = new foundation::THashList(kHandleBuckets);
  }
  std::lock_guard<std::mutex> lock(gRealAccessorLock);
  if (!gRealAccessor) {
    auto* source = new TRealFileSource();
    gRealAccessor = new TFileAccessor(source);
    source->Free();
  }
}

void DoneFileAccessor() {
  {
    std::lock_guard<std::mutex> lock(gRealAccessorLock);
    foundation::FreeAndNil(gRealAccessor);
  }
  {
    std::lock_guard<std::mutex> lock(gAliasLock);
    ClearPathAliases(gAliases);
  }
  std::lock_guard<std::mutex> lock(gHandleLock);
  // Handles still alive keep their entries; the list then stays for them.
  if (gLiveHandles == 0) foundation::FreeAndNil(gHandles);
}

}  // namespace container
