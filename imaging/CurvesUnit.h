// Contour curves: a start point, an end point and interior control points
// turned into a 256-entry table by a Catmull-Rom spline. The shadow renderer
// reshapes a soft edge's alpha with them; ten curves are built in as presets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvStream.h"

namespace imaging {

struct TCurvePoint {
  int32_t X = 0, Y = 0;
};

class TCurvesData {
 public:
  TCurvesData();
  virtual ~TCurvesData() = default;

  // Start (0, 0), end (255, 255), identity table, no interior points.
  void Reset();
  void ClearPoints();
  // Count (2..255), start, interior points, end, all unsigned 16-bit
  // big-endian in 0..255. A bad count or point resets the curve and answers
  // false; a stream that ends early raises its read error.
  bool LoadFromStream(foundation::TStream* Stream);
  void BuildTable();
  uint8_t GetValue(int32_t Input) const { return Table[static_cast<uint8_t>(Input)]; }
  // 0 Linear, 1 Cone, ... 9 Tooth; any other index marks the curve as not
  // from a preset (-1) and changes nothing else.
  void SetPreset(int32_t Index);

  std::string Name;
  int32_t PresetIndex = 0;
  std::array<uint8_t, 256> Table{};
  TCurvePoint StartPoint;
  TCurvePoint EndPoint;
  std::vector<TCurvePoint> Points;
};

// Reads a 32-bit little-endian length and that many bytes; false (empty name)
// for a length outside 0..999999.
bool ReadCurveName(foundation::TStream* Stream, std::string& Name);

// The stored preset texts (name length, name, curve stream), in stored order.
inline constexpr int32_t ContourPresetCount = 10;
const std::string& ContourPresetText(int32_t StoredIndex);
// The stored position of the preset selected by a `ShadowSpreadIndex`-style index 0..9.
int32_t ContourPresetStoredIndex(int32_t Index);

}  // namespace imaging
