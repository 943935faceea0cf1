#include "imaging/ColorGradeGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "imaging/ImagingAssert.h"
#include "imaging/kvPixelFormat.h"

namespace imaging {

namespace {

std::recursive_mutex* g_lock = new std::recursive_mutex();
struct TCached {
  TSysBitmap* Table = nullptr;
  std::u16string ProfileName;
  bool Made = false;
};
TCached g_cache[2];  // 0 video, 1 RGB

uint8_t ClampByte(double v) {
  float s = static_cast<float>(v);
  double t = std::trunc(double(s));
  return static_cast<uint8_t>(std::clamp(t, 0.0, 255.0));
}

void CheckTable(TSysBitmap* b, int32_t bpp) {
  IMG_ASSERT(b && b->Width == 32 && b->Height == 1024 && b->BytesPerPixel() == bpp, "colour-grade table size");
}

}  // namespace

void InitColorGradeLUT(TSysBitmap* b) {
  CheckTable(b, 3);
  for (int32_t i = 0; i < 32; ++i)
    for (int32_t j = 0; j < 32; ++j) {
      uint8_t* row = b->Row(32 * i + j);
      for (int32_t k = 0; k < 32; ++k) {
        row[3 * k] = uint8_t(GradeLevel(i));
        row[3 * k + 1] = uint8_t(GradeLevel(j));
        row[3 * k + 2] = uint8_t(GradeLevel(k));
      }
    }
}

void FillIdentityColorLUT(TSysBitmap* b) {
  CheckTable(b, 4);
  for (int32_t i = 0; i < 32; ++i)
    for (int32_t j = 0; j < 32; ++j) {
      uint8_t* row = b->Row(32 * i + j);
      for (int32_t k = 0; k < 32; ++k) {
        row[4 * k] = uint8_t(GradeLevel(i));
        row[4 * k + 1] = uint8_t(GradeLevel(j));
        row[4 * k + 2] = uint8_t(GradeLevel(k));
        row[4 * k + 3] = 255;
      }
    }
}

void FillYuvToRgbLUT(TSysBitmap* b) {
  CheckTable(b, 4);
  for (int32_t i = 0; i < 32; ++i)
    for (int32_t j = 0; j < 32; ++j) {
      uint8_t* row = b->Row(32 * i + j);
      for (int32_t k = 0; k < 32; ++k) {
        double y = (GradeLevel(i) - 16) * 1.1643835616438356;
        double u = GradeLevel(j) - 128, v = GradeLevel(k) - 128;
        row[4 * k + 2] = ClampByte(v * 1.596 + y);
        row[4 * k + 1] = ClampByte(y - v * 0.813 - u * 0.391);
        row[4 * k] = ClampByte(u * 2.018 + y);
        row[4 * k + 3] = 255;
      }
    }
}

void FillIdentityRamp(TSysBitmap* b) {
  IMG_ASSERT(b && b->BytesPerPixel() == 4 && b->Width >= 256 && b->Height >= 1, "ramp size");
  uint8_t* row0 = b->Row(0);
  for (int32_t i = 0; i < 256; ++i) {
    row0[4 * i] = row0[4 * i + 1] = row0[4 * i + 2] = uint8_t(i);
    row0[4 * i + 3] = 255;
  }
  for (int32_t y = 1; y < b->Height; ++y) std::memcpy(b->Row(y), row0, 256 * 4);
}

void AddIdentityToColorLUT(TSysBitmap* b) {
  CheckTable(b, 3);
  for (int32_t i = 0; i < 32; ++i)
    for (int32_t j = 0; j < 32; ++j) {
      uint8_t* row = b->Row(32 * i + j);
      for (int32_t k = 0; k < 32; ++k) {
        row[3 * k] = uint8_t(row[3 * k] + GradeLevel(i));
        row[3 * k + 1] = uint8_t(row[3 * k + 1] + GradeLevel(j));
        row[3 * k + 2] = uint8_t(row[3 * k + 2] + GradeLevel(k));
      }
    }
}

TSysBitmap* GetColorGradeLUT(bool rgb, TColorProfile* profile) {
  std::lock_guard<std::recursive_mutex> g(*g_lock);
  foundation::TRef<TColorProfile> held;
  if (ColorManagementOff.load()) {
    profile = nullptr;
  } else if (!profile) {
    held = GetDisplayColorProfile();
    profile = held.Get();
  }
  std::u16string name = profile ? profile->Name : std::u16string();
  TCached& c = g_cache[rgb ? 1 : 0];
  if (c.Made && c.Table && c.ProfileName == name) return c.Table;
  if (c.Table) c.Table->Free();
  c.Table = CreateSysBitmap(32, 1024, PixelFormatByName(u"A8R8G8B8"));
  if (rgb)
    FillIdentityColorLUT(c.Table);
  else
    FillYuvToRgbLUT(c.Table);
  if (profile) {
    TColorProfile* from = rgb ? SRGBColorProfile : YUVsRGBColorProfile;
    if (TColorTransform* t = from ? GetColorTransform(from, profile) : nullptr) {
      t->TransformBitmap(c.Table);
      t->Free();
    }
  }
  c.ProfileName = name;
  c.Made = true;
  return c.Table;
}

void DoneColorGradeLUTs() {
  std::lock_guard<std::recursive_mutex> g(*g_lock);
  for (TCached& c : g_cache) {
    if (c.Table) c.Table->Free();
    c = TCached();
  }
}

}  // namespace imaging
