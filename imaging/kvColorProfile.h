// Colour profiles: the profile object with its ICC bytes, the abstract
// transform between two profiles and its creation hook, the built-in
// profiles, the display profile, single-colour conversion through a
// 32 x 32 x 32 lookup table, the profile readers and the monitor's profile.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"

namespace imaging {

class TColorProfile : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TColorProfile)
  TColorProfile(std::vector<uint8_t> Data, std::u16string Name);
  void Dispose() override;

  // Converts one sRGB colour into this profile (see the free TransformColor
  // for a call on no profile).
  void TransformColor(TFColor& Result, const TFColor& Color);

  std::u16string Name;
  std::vector<uint8_t> Data;  // the ICC profile bytes
  std::atomic<bool> TableBuilt{false};
  TSysBitmap* Table = nullptr;  // 32 x 1024 "R8G8B8", or none
};

// Called on none: the display profile converts, or the colour is copied.
void TransformColor(TColorProfile* Profile, TFColor& Result, const TFColor& Color);

class TColorTransform : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TColorTransform)
  TColorTransform(TColorProfile* Source, TColorProfile* Destination);
  void Dispose() override;
  // Converts the pixels of a 24- or 32-bit bitmap in place; true when a transform was applied.
  virtual bool TransformBitmap(TSysBitmap* Bitmap) = 0;

  TColorProfile* Source = nullptr;
  TColorProfile* Destination = nullptr;
};

using TCreateColorTransform = TColorTransform* (*)(TColorProfile* Source, TColorProfile* Destination);
// Start-up only: set before any thread runs, then read without a lock.
extern TCreateColorTransform CreateColorTransformHook;

// The switch that turns colour management off for the show being played:
// set by the show's colour set-up, read by the colour-grade tables on any
// thread.
extern std::atomic<bool> ColorManagementOff;

// The built-in profiles (set while the profile unit runs).
extern TColorProfile* SRGBColorProfile;
extern TColorProfile* YUVsRGBColorProfile;
extern TColorProfile* AdobeRGBColorProfile;
extern TColorProfile* RaderAZOColorProfile;

TColorProfile* CreateColorProfileFromBytes(const std::vector<uint8_t>& Bytes, const std::u16string& Name);
TColorProfile* CreateColorProfile(const std::vector<uint8_t>& Bytes, const std::u16string& Name);
int32_t FindBytes(const std::vector<uint8_t>& Data, const std::string& Pattern, int64_t Limit);

// The display's profile (sRGB when none is set), with a reference of the
// caller's own: loader threads read it while the colour set-up replaces it.
foundation::TRef<TColorProfile> GetDisplayColorProfile();
// Installs the display's profile (TakeOver: the caller's reference passes to
// it); the previous one is released once no reader holds it.
void SetDisplayColorProfile(TColorProfile* Profile, bool TakeOver);
// A new transform (the caller owns it) or none.
TColorTransform* GetColorTransform(TColorProfile* Source, TColorProfile* Destination);

// The table lookup of a built table for one colour.
void InterpolateColorLUT(TSysBitmap* Table, TFColor& Result, const TFColor& Color);
// Node level of a table index 0..31.
inline int32_t ColorLUTLevel(int32_t n) { return 8 * n + n / 4; }

using TProfileLoader = TColorProfile* (*)(foundation::TStream* Stream, const std::u16string& Name);
struct TLoaderItem {
  TProfileLoader Loader = nullptr;
  std::vector<std::u16string> Extensions;
};
void RegisterProfileLoader(TProfileLoader Loader, const std::vector<std::u16string>& Extensions);
const std::vector<TLoaderItem>& ProfileLoaders();

// The monitor-profile functions.
bool GetMonitorColorProfilePath(std::u16string& Text, int32_t StandardSpace);
std::u16string GetColorDirectory();
bool ResolveColorProfilePath(std::u16string& Name);
std::u16string CallGetStandardColorSpaceProfile(int32_t StandardSpace);
// Forgets the cached colour directory (tests change the platform backend).
void ResetColorDirectoryCache();

void InitColorProfiles();
void DoneColorProfiles();

}  // namespace imaging
