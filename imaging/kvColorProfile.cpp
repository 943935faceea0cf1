#include "imaging/kvColorProfile.h"

#include <cstring>
#include <mutex>

#include "foundation/kvFileUtils.h"
#include "imaging/ImagingAssert.h"
#include "imaging/kvColorProfileData.h"
#include "platform/color/api.h"

namespace imaging {

TCreateColorTransform CreateColorTransformHook = nullptr;
std::atomic<bool> ColorManagementOff{false};
TColorProfile* SRGBColorProfile = nullptr;
TColorProfile* YUVsRGBColorProfile = nullptr;
TColorProfile* AdobeRGBColorProfile = nullptr;
TColorProfile* RaderAZOColorProfile = nullptr;

namespace {
std::mutex g_profileLock;  // builds each profile's table once
// Read by loader threads (transforms, colour lookups) while the colour set-up
// replaces it: handed out with a reference.
foundation::TSharedRef<TColorProfile> g_displayProfile;
std::vector<TLoaderItem> g_loaders;
bool g_started = false;

std::mutex g_colorDirLock;
std::u16string g_colorDir = u"?";
}  // namespace

TColorProfile::TColorProfile(std::vector<uint8_t> aData, std::u16string aName)
    : Name(std::move(aName)), Data(std::move(aData)) {}

void TColorProfile::Dispose() {
  foundation::FreeAndNil(Table);
  foundation::TRefObject::Dispose();
}

void TColorProfile::TransformColor(TFColor& Result, const TFColor& Color) {
  if (!TableBuilt.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> guard(g_profileLock);
    if (!TableBuilt.load(std::memory_order_relaxed)) {
      TColorTransform* t = GetColorTransform(SRGBColorProfile, this);
      if (t) {
        TSysBitmap* table = nullptr;
        try {
          table = CreateSysBitmap(32, 1024, pfR8G8B8);
          for (int32_t i = 0; i < 32; ++i)
            for (int32_t j = 0; j < 32; ++j) {
              TFColor* row = table->Rows24(i * 32 + j);
              for (int32_t k = 0; k < 32; ++k)
                row[k] = TFColor{static_cast<uint8_t>(ColorLUTLevel(i)), static_cast<uint8_t>(ColorLUTLevel(j)),
                                 static_cast<uint8_t>(ColorLUTLevel(k))};
            }
          t->TransformBitmap(table);
        } catch (...) {
          foundation::FreeObj(table);
          t->Free();
          throw;
        }
        t->Free();
        Table = table;
      }
      TableBuilt.store(true, std::memory_order_release);
    }
  }
  if (Table)
    InterpolateColorLUT(Table, Result, Color);
  else
    Result = Color;
}

void TransformColor(TColorProfile* Profile, TFColor& Result, const TFColor& Color) {
  foundation::TRef<TColorProfile> display;
  if (!Profile) {
    display = g_displayProfile.Acquire();
    Profile = display.Get();
  }
  if (!Profile) {
    Result = Color;
    return;
  }
  Profile->TransformColor(Result, Color);
}

namespace {

struct AxisPos {
  int32_t Index;
  int32_t Weight;
};

AxisPos Axis(uint8_t v) {
  const int32_t c = v * 7967;  // 31 x 257: 16.16 position on the 0..31 node scale
  const int32_t index = c >> 16;
  return AxisPos{index, (c & 65535) + index};
}

int32_t Lerp(int32_t a, int32_t b, int32_t w) {
  if (w == 0) return a;
  if (w == 65535) return b;
  return a + (w * (b - a) + 32767) / 65536;  // truncates toward zero
}

struct Rgb {
  int32_t B, G, R;
};

Rgb LerpRgb(const Rgb& a, const Rgb& b, int32_t w) {
  return Rgb{Lerp(a.B, b.B, w), Lerp(a.G, b.G, w), Lerp(a.R, b.R, w)};
}

}  // namespace

void InterpolateColorLUT(TSysBitmap* Table, TFColor& Result, const TFColor& Color) {
  const AxisPos r = Axis(Color.R), g = Axis(Color.G), b = Axis(Color.B);
  auto alongRow = [&](int32_t row) {
    const TFColor* p = Table->Rows24(row);
    const TFColor& a = p[r.Index];
    if (r.Weight == 0) return Rgb{a.B, a.G, a.R};
    const TFColor& c = p[r.Index + 1];
    if (r.Weight == 65535) return Rgb{c.B, c.G, c.R};
    return LerpRgb(Rgb{a.B, a.G, a.R}, Rgb{c.B, c.G, c.R}, r.Weight);
  };
  auto alongGreen = [&](int32_t row) {
    if (g.Weight == 0) return alongRow(row);
    if (g.Weight == 65535) return alongRow(row + 1);
    return LerpRgb(alongRow(row), alongRow(row + 1), g.Weight);
  };
  const int32_t base = b.Index * 32 + g.Index;
  Rgb out;
  if (b.Weight == 0)
    out = alongGreen(base);
  else if (b.Weight == 65535)
    out = alongGreen(base + 32);
  else
    out = LerpRgb(alongGreen(base), alongGreen(base + 32), b.Weight);
  Result = TFColor{static_cast<uint8_t>(out.B), static_cast<uint8_t>(out.G), static_cast<uint8_t>(out.R)};
}

TColorTransform::TColorTransform(TColorProfile* aSource, TColorProfile* aDestination) {
  Source = aSource;
  Destination = aDestination;
  foundation::AddRefObj(Source);
  foundation::AddRefObj(Destination);
}

void TColorTransform::Dispose() {
  foundation::FreeAndNil(Source);
  foundation::FreeAndNil(Destination);
  foundation::TRefObject::Dispose();
}

TColorProfile* CreateColorProfileFromBytes(const std::vector<uint8_t>& Bytes, const std::u16string& Name) {
  return new TColorProfile(Bytes, Name);
}

int32_t FindBytes(const std::vector<uint8_t>& Data, const std::string& Pattern, int64_t Limit) {
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(Data.size()), Limit);
  const int64_t m = static_cast<int64_t>(Pattern.size());
  for (int64_t i = 0; i + m <= n; ++i)
    if (std::memcmp(Data.data() + i, Pattern.data(), static_cast<size_t>(m)) == 0) return static_cast<int32_t>(i);
  return -1;
}

TColorProfile* CreateColorProfile(const std::vector<uint8_t>& Bytes, const std::u16string& Name) {
  if (Bytes.empty()) return nullptr;
  if (SRGBColorProfile && FindBytes(Bytes, "sRGB IEC61966-2.1", 512) >= 0) {
    SRGBColorProfile->_AddRef();
    return SRGBColorProfile;
  }
  return CreateColorProfileFromBytes(Bytes, Name);
}

foundation::TRef<TColorProfile> GetDisplayColorProfile() {
  foundation::TRef<TColorProfile> display = g_displayProfile.Acquire();
  return display ? display : foundation::TRef<TColorProfile>::AddRef(SRGBColorProfile);
}

void SetDisplayColorProfile(TColorProfile* Profile, bool TakeOver) {
  if (TakeOver)
    g_displayProfile.Set(foundation::TRef<TColorProfile>::Adopt(Profile));
  else
    g_displayProfile.SetAddRef(Profile);
}

TColorTransform* GetColorTransform(TColorProfile* Source, TColorProfile* Destination) {
  if (!Source) Source = SRGBColorProfile;
  // Held until the transform has its own reference.
  foundation::TRef<TColorProfile> display;
  if (!Destination) {
    display = GetDisplayColorProfile();
    Destination = display.Get();
  }
  if (!CreateColorTransformHook || !SRGBColorProfile || Source == Destination) return nullptr;
  return CreateColorTransformHook(Source, Destination);
}

void RegisterProfileLoader(TProfileLoader Loader, const std::vector<std::u16string>& Extensions) {
  IMG_ASSERT(g_loaders.size() < 0x10000000, "");
  // Profile readers outlive the image loaders (they are cleared only with the
  // bitmap library), so a decoder restart registers the same reader again.
  for (const TLoaderItem& item : g_loaders)
    if (item.Loader == Loader) return;
  g_loaders.push_back(TLoaderItem{Loader, Extensions});
}

const std::vector<TLoaderItem>& ProfileLoaders() { return g_loaders; }

// ---- monitor profile ---------------------------------------------------------------

std::u16string GetColorDirectory() {
  std::lock_guard<std::mutex> guard(g_colorDirLock);
  if (g_colorDir == u"?") {
    std::u16string dir = platform::color::getColorDirectory();
    if (!dir.empty() && dir.back() != u'\\') dir += u'\\';
    g_colorDir = dir;
  }
  return g_colorDir;
}

void ResetColorDirectoryCache() {
  std::lock_guard<std::mutex> guard(g_colorDirLock);
  g_colorDir = u"?";
}

bool ResolveColorProfilePath(std::u16string& Name) {
  if (Name.empty()) return false;
  if (foundation::FileExists(Name)) return true;
  const std::u16string dir = GetColorDirectory();
  if (dir.empty()) return false;
  const std::u16string joined = dir + Name;
  if (foundation::FileExists(joined)) {
    Name = joined;
    return true;
  }
  return false;
}

std::u16string CallGetStandardColorSpaceProfile(int32_t StandardSpace) {
  return platform::color::getStandardColorSpaceProfile(StandardSpace);
}

bool GetMonitorColorProfilePath(std::u16string& Text, int32_t StandardSpace) {
  Text.clear();
  if (StandardSpace == 0) {
    std::u16string name = platform::color::getICMProfile();
    if (ResolveColorProfilePath(name)) {
      Text = name;
      return true;
    }
  }
  std::u16string name = CallGetStandardColorSpaceProfile(StandardSpace);
  if (ResolveColorProfilePath(name)) {
    Text = name;
    return true;
  }
  return false;
}

// ---- start-up ----------------------------------------------------------------------

void InitColorProfiles() {
  if (g_started) return;
  g_started = true;
  const std::vector<uint8_t> srgb = BuildSRGBProfileBytes();
  SRGBColorProfile = CreateColorProfileFromBytes(srgb, u"sRGB");
  YUVsRGBColorProfile = CreateColorProfileFromBytes(srgb, u"YUVsRGB");
  AdobeRGBColorProfile = CreateColorProfileFromBytes(BuildAdobeRGBProfileBytes(), u"AdobeRGB");
  RaderAZOColorProfile = CreateColorProfileFromBytes(BuildRaderAZOProfileBytes(), u"RaderAZO");
}

void DoneColorProfiles() {
  if (!g_started) return;
  g_started = false;
  SetDisplayColorProfile(nullptr, false);
  foundation::FreeAndNil(SRGBColorProfile);
  foundation::FreeAndNil(YUVsRGBColorProfile);
  foundation::FreeAndNil(AdobeRGBColorProfile);
  foundation::FreeAndNil(RaderAZOColorProfile);
  g_loaders.clear();
  ResetColorDirectoryCache();
}

}  // namespace imaging
