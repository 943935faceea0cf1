// Filtered rescaling of one-byte-per-pixel bitmaps (masks, grey images) with
// a separable kernel: a horizontal pass into a 16-bit intermediate image and
// a vertical pass into the destination, each over precomputed per-pixel lists
// of contributing source pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/SysBitmap.h"

namespace imaging {

using TFilterProc = float (*)(float Value);

struct TResampleFilter {
  const char* Name;
  TFilterProc Filter;
  float Support;
};

float BoxFilter(float Value);
float TriangleFilter(float Value);
float HermiteFilter(float Value);
float BellFilter(float Value);
float SplineFilter(float Value);
float Lanczos3Filter(float Value);
float MitchellFilter(float Value);

// Box, Triangle, Hermite, Bell, B-Spline, Lanczos3, Mitchell.
inline constexpr int ResampleFilterCount = 7;
extern const TResampleFilter ResampleFilters[ResampleFilterCount];

// Called after every contributor list, source row and destination column;
// setting Abort ends the loop under way and every later loop after its first step.
using TResampleProgress = std::function<void(void* Sender, bool& Abort)>;

// One contributor of a destination column or row.
struct TContributor {
  int32_t Pixel;
  float Weight;
};

// The contributors of destination index I for a source extent, in increasing
// source order, zero weights dropped; indices are reflected once at the
// borders and then held inside the source.
void BuildContributors(std::vector<TContributor>& List, int32_t I, float Scale, TFilterProc Filter, float Support,
                       int32_t SourceExtent);

// Scale is destination / source for both directions. OutputTable, when
// given, has OutputTableHigh + 1 entries (4096 for the 12-bit curve) and maps
// the result to the stored byte. Source must be at least 2 x 2; nothing is
// drawn for a scale that is not positive or would make the source smaller
// than a pixel.
void ResampleFiltered(TSysBitmap* Source, TSysBitmap* Dest, TFilterProc Filter, float Support, float Scale,
                      void* Sender, const uint8_t* OutputTable, int32_t OutputTableHigh,
                      const TResampleProgress& Progress);

}  // namespace imaging
