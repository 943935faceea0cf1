#include "video/kpFFLoad.h"

#include <cfenv>
#include <string>

#include "foundation/kpExceptions.h"

namespace video {

namespace {
TFFLoader* g_loader = nullptr;
std::fenv_t g_savedFenv;
bool g_fenvSaved = false;

struct LibraryDefault {
  const char16_t* name;
  int32_t major;
};
// FFmpeg 5.1 as Debian 12 ships it; avfilter and avdevice are never loaded.
const LibraryDefault kDefaults[kLibraryKinds] = {
    {u"avutil", 57}, {u"swscale", 6}, {u"swresample", 4}, {u"avcodec", 59}, {u"avformat", 59}, {u"", 0},
    {u"", 0},        {u"", 0},        {u"", 0},           {u"", 0},         {u"", 0}};

std::u16string Decimal(int32_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
}  // namespace

TFFLoader::TFFLoader() {
  for (int i = 0; i < kLibraryKinds; ++i) {
    Libraries[i].Name = kDefaults[i].name;
    Libraries[i].Major = kDefaults[i].major;
  }
}

std::u16string TFFLoader::FileName(TLibrary library) const {
  const TFFLibraryRecord& r = Libraries[static_cast<int>(library)];
  if (r.Name.empty()) return {};
  return u"lib" + r.Name + u".so." + Decimal(r.Major);
}

bool TFFLoader::LoadLibraries(TLibraryMask mask) {
  for (int i = 0; i < kLibraryKinds; ++i) {
    auto library = static_cast<TLibrary>(i);
    TFFLibraryRecord& r = Libraries[i];
    if (!(mask & LibraryBit(library)) || r.Handle != 0) continue;
    std::u16string file = FileName(library);
    if (file.empty()) continue;
    platform::os::LibraryHandle h = 0;
    if (!Folder.empty()) {
      std::u16string path = Folder;
      if (path.back() != u'\\') path += u'\\';
      h = platform::os::loadLibrary(path + file);
    }
    if (h == 0 && SystemFallback) h = platform::os::loadLibrary(file);
    if (h == 0) return false;
    r.Handle = h;
    BindFFLibrary(library, h);
  }
  return true;
}

void BindFFLibrary(TLibrary library, platform::os::LibraryHandle module) {
  if (static_cast<int>(library) >= platform::ffmpeg::kLibraryCount) return;
  std::string missing;
  if (!platform::ffmpeg::bindLibrary(static_cast<platform::ffmpeg::Library>(library), module, missing))
    foundation::QelAssertFail("Load function " + missing + " error");
}

double RationalAsDouble(int32_t num, int32_t den) { return static_cast<double>(num) / static_cast<double>(den); }

void InitFFLoad() {
  if (!g_fenvSaved) {
    // Saves the environment and masks every floating-point exception.
    std::feholdexcept(&g_savedFenv);
    g_fenvSaved = true;
  }
  if (!g_loader) g_loader = new TFFLoader();
}

void DoneFFLoad() {
  foundation::FreeAndNil(g_loader);
  if (g_fenvSaved) {
    std::fesetenv(&g_savedFenv);
    g_fenvSaved = false;
  }
}

TFFLoader* FFLoader() {
  if (!g_loader) g_loader = new TFFLoader();
  return g_loader;
}

}  // namespace video
