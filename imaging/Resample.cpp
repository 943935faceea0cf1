#include "imaging/Resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "imaging/ImagingAssert.h"
#include "foundation/Rounding.h"

namespace imaging {

float BoxFilter(float Value) { return (Value > -0.5f && Value <= 0.5f) ? 1.0f : 0.0f; }

float TriangleFilter(float Value) {
  const float a = std::fabs(Value);
  return a < 1.0f ? 1.0f - a : 0.0f;
}

float HermiteFilter(float Value) {
  const float a = std::fabs(Value);
  return a < 1.0f ? (2.0f * a - 3.0f) * a * a + 1.0f : 0.0f;
}

float BellFilter(float Value) {
  const float a = std::fabs(Value);
  if (a < 0.5f) return 0.75f - a * a;
  if (a < 1.5f) {
    const float t = a - 1.5f;
    return 0.5f * t * t;
  }
  return 0.0f;
}

float SplineFilter(float Value) {
  const float a = std::fabs(Value);
  if (a < 1.0f) return 0.5f * a * a * a - a * a + 2.0f / 3.0f;
  if (a < 2.0f) {
    const float t = 2.0f - a;
    return t * t * t / 6.0f;
  }
  return 0.0f;
}

namespace {
float Sinc(float v) {
  if (v == 0.0f) return 1.0f;
  const float x = v * std::numbers::pi_v<float>;
  return std::sin(x) / x;
}
}  // namespace

float Lanczos3Filter(float Value) {
  const float a = std::fabs(Value);
  return a < 3.0f ? Sinc(a) * Sinc(a / 3.0f) : 0.0f;
}

float MitchellFilter(float Value) {
  // B = C = 1/3 written out.
  const float a = std::fabs(Value);
  if (a < 1.0f) return (7.0f * a * a * a - 12.0f * a * a + 16.0f / 3.0f) / 6.0f;
  if (a < 2.0f) return (-7.0f / 3.0f * a * a * a + 12.0f * a * a - 20.0f * a + 32.0f / 3.0f) / 6.0f;
  return 0.0f;
}

const TResampleFilter ResampleFilters[ResampleFilterCount] = {
    {"Box", BoxFilter, 0.5f},           {"Triangle", TriangleFilter, 1.0f}, {"Hermite", HermiteFilter, 1.0f},
    {"Bell", BellFilter, 1.5f},         {"B-Spline", SplineFilter, 2.0f},   {"Lanczos3", Lanczos3Filter, 3.0f},
    {"Mitchell", MitchellFilter, 2.0f},
};

namespace {

using foundation::RoundEvenSaturated;

int32_t Reflect(int64_t j, int32_t extent) {
  int64_t n = j < 0 ? -j : (j < extent ? j : 2 * int64_t(extent) - j - 1);
  // A support wider than the source leaves some contributors outside after
  // the one reflection: they are held at the nearest border pixel.
  return static_cast<int32_t>(std::clamp<int64_t>(n, 0, extent - 1));
}

bool Step(const TResampleProgress& Progress, void* Sender, bool& Abort) {
  if (Progress) Progress(Sender, Abort);
  return !Abort;
}

}  // namespace

void BuildContributors(std::vector<TContributor>& List, int32_t I, float Scale, TFilterProc Filter, float Support,
                       int32_t SourceExtent) {
  List.clear();
  const float c = static_cast<float>(I) / Scale;
  if (Scale >= 1.0f) {
    const float w = Support;
    const auto lo = static_cast<int64_t>(std::floor(c - w)), hi = static_cast<int64_t>(std::ceil(c + w));
    for (int64_t j = lo; j <= hi; ++j) {
      const float weight = Filter(c - static_cast<float>(j));
      if (weight != 0.0f) List.push_back({Reflect(j, SourceExtent), weight});
    }
  } else {
    const float w = Support / Scale;
    const auto lo = static_cast<int64_t>(std::floor(c - w)), hi = static_cast<int64_t>(std::ceil(c + w));
    for (int64_t j = lo; j <= hi; ++j) {
      const float weight = Filter((c - static_cast<float>(j)) * Scale) * Scale;
      if (weight != 0.0f) List.push_back({Reflect(j, SourceExtent), weight});
    }
  }
}

void ResampleFiltered(TSysBitmap* Source, TSysBitmap* Dest, TFilterProc Filter, float Support, float Scale,
                      void* Sender, const uint8_t* OutputTable, int32_t OutputTableHigh,
                      const TResampleProgress& Progress) {
  IMG_ASSERT(Source && Source->Width >= 2 && Source->Height >= 2, "Source bitmap too small");
  IMG_ASSERT(Dest && Source->BytesPerPixel() == 1 && Dest->BytesPerPixel() == 1, "");
  const int32_t sw = Source->Width, sh = Source->Height, dw = Dest->Width, dh = Dest->Height;
  // A scale that would shrink the whole source below one pixel (or is not a
  // number) asks for contributor lists of unbounded length.
  if (!(Scale > 0.0f) || !std::isfinite(Scale) || double(Scale) * (double(std::max(sw, sh)) + 1.0) < 1.0) return;
  if (!OutputTable) OutputTableHigh = -1;

  bool abort = false;
  std::vector<std::vector<TContributor>> columns(static_cast<size_t>(dw));
  for (int32_t i = 0; i < dw; ++i) {
    BuildContributors(columns[static_cast<size_t>(i)], i, Scale, Filter, Support, sw);
    if (!Step(Progress, Sender, abort)) break;
  }

  // Stored by destination column, one run of source-height values each.
  std::vector<uint16_t> work(static_cast<size_t>(dw) * static_cast<size_t>(sh));
  for (int32_t y = 0; y < sh; ++y) {
    const uint8_t* row = Source->Row(y);
    for (int32_t i = 0; i < dw; ++i) {
      float sum = 0.0f;
      for (const TContributor& c : columns[static_cast<size_t>(i)]) sum += static_cast<float>(row[c.Pixel]) * c.Weight;
      sum = std::clamp(sum, 0.0f, 255.0f);
      work[static_cast<size_t>(i) * sh + y] = static_cast<uint16_t>(RoundEvenSaturated(double(sum) * 65535.0 / 255.0));
    }
    if (!Step(Progress, Sender, abort)) break;
  }

  std::vector<std::vector<TContributor>> rows(static_cast<size_t>(dh));
  for (int32_t k = 0; k < dh; ++k) {
    BuildContributors(rows[static_cast<size_t>(k)], k, Scale, Filter, Support, sh);
    if (!Step(Progress, Sender, abort)) break;
  }

  for (int32_t i = 0; i < dw; ++i) {
    const uint16_t* column = work.data() + static_cast<size_t>(i) * sh;
    for (int32_t k = 0; k < dh; ++k) {
      float sum = 0.0f;
      for (const TContributor& c : rows[static_cast<size_t>(k)]) sum += static_cast<float>(column[c.Pixel]) * c.Weight;
      sum = std::clamp(sum, 0.0f, 65535.0f);
      uint8_t out;
      if (OutputTableHigh >= 0) {
        const int32_t index = std::min(RoundEvenSaturated(double(sum) * 4095.0 / 65535.0), OutputTableHigh);
        out = OutputTable[index];
      } else {
        out = static_cast<uint8_t>(RoundEvenSaturated(double(sum) * 255.0 / 65535.0));
      }
      Dest->Row(k)[i] = out;
    }
    if (!Step(Progress, Sender, abort)) break;
  }
}

}  // namespace imaging
