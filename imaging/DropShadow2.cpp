#include "imaging/DropShadow2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/ImagingAssert.h"
#include "imaging/Resample.h"
#include "foundation/Rounding.h"

namespace imaging {

namespace {

using foundation::RoundEvenSaturated;

TSysBitmap* NewA8(int32_t w, int32_t h) {
  TSysBitmap* b = CreateSysBitmap(w, h, pfA8);
  IMG_ASSERT(b, "");
  for (int32_t y = 0; y < h; ++y) std::memset(b->Row(y), 0, static_cast<size_t>(w));
  return b;
}

}  // namespace

TDropShadow::TDropShadow(TProgress aProgress) : Progress(std::move(aProgress)) {
  Curves = new TCurvesData;
  SetSize(2);
  Curves->Reset();
}

void TDropShadow::Dispose() {
  delete Curves;
  Curves = nullptr;
  foundation::FreeAndNil(Reduced);
  foundation::FreeAndNil(Mask);
  foundation::TRefObject::Dispose();
}

std::array<uint8_t, 4096> MakeContourOutputTable(const std::array<uint8_t, 256>& c) {
  std::array<uint8_t, 4096> t{};
  const float k = 4095.0f / 255.0f, j = 255.0f / 4095.0f;
  for (int i = 0; i < 4095; ++i) {
    const auto fi = static_cast<float>(i);
    const auto p = static_cast<int32_t>(fi * j);
    const int32_t q = std::min(p + 1, 255);
    const float v = ((static_cast<float>(q) * k - fi) * static_cast<float>(c[static_cast<size_t>(p)]) +
                     (fi - static_cast<float>(p) * k) * static_cast<float>(c[static_cast<size_t>(q)])) *
                    j;
    t[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(RoundEvenSaturated(v), 0, 255));
  }
  t[4095] = c[255];
  return t;
}

double CapShadowRadius(double Radius, int32_t Width, int32_t Height) {
  const double w = Width, h = Height, cap = double(MaxBitmapPixels);
  // (w + 2p)(h + 2p) <= cap  <=>  4p^2 + 2(w + h)p + wh - cap <= 0.
  const double disc = (w + h) * (w + h) - 4.0 * (w * h - cap);
  if (disc < 0) return 1;
  const double pad = std::floor((-(w + h) + std::sqrt(disc)) / 4.0);
  if (pad < 3) return 1;
  // ceil(2.5 r) <= pad for every r <= pad / 2.5.
  return std::min(Radius, pad / 2.5);
}

void TDropShadow::Make(TSysBitmap* Source) {
  IMG_ASSERT(Source && (Source->BytesPerPixel() == 1 || Source->BytesPerPixel() == 4), "");
  double r = Radius;
  // A radius below 1 only comes from a negative size; with it the reduced
  // bitmap would grow without bound.
  if (!(r > 0) || r < 1) r = 1;
  // A huge radius would pad the bitmap beyond the pixel cap.
  r = CapShadowRadius(r, Source->Width, Source->Height);
  Radius = r;
  const auto pad = static_cast<int32_t>(std::ceil(2.5 * r));
  const int32_t pw = Source->Width + 2 * pad, ph = Source->Height + 2 * pad;
  TSysBitmap* padded = NewA8(pw, ph);
  try {
    bool abort = false;
    const int32_t n = Source->BytesPerPixel();
    for (int32_t y = 0; y < Source->Height; ++y) {
      const uint8_t* s = Source->Row(y);
      uint8_t* d = padded->Row(pad + y) + pad;
      if (n == 1) {
        std::memcpy(d, s, static_cast<size_t>(Source->Width));
      } else {
        for (int32_t x = 0; x < Source->Width; ++x) d[x] = s[4 * x + 3];
      }
      if (Progress) Progress(this, abort);
      if (abort) break;
    }
    foundation::FreeAndNil(Reduced);
    Reduced = NewA8(RoundEvenSaturated(pw / r) + 1, RoundEvenSaturated(ph / r) + 1);
    foundation::FreeAndNil(Mask);
    Mask = NewA8(pw, ph);
    const TResampleProgress progress = [this](void* sender, bool& a) {
      if (Progress) Progress(sender, a);
    };
    ResampleFiltered(padded, Reduced, SplineFilter, 2.0f, static_cast<float>(1.0 / r), this, nullptr, -1, progress);
    padded->Free();
    padded = nullptr;
    if (Curves->PresetIndex != 0) {
      Curves->BuildTable();
      const auto table = MakeContourOutputTable(Curves->Table);
      ResampleFiltered(Reduced, Mask, SplineFilter, 2.0f, static_cast<float>(r), this, table.data(), 4095, progress);
    } else {
      ResampleFiltered(Reduced, Mask, SplineFilter, 2.0f, static_cast<float>(r), this, nullptr, -1, progress);
    }
  } catch (...) {
    foundation::FreeObj(padded);
    throw;
  }
}

}  // namespace imaging
