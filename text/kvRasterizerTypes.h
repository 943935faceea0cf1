// The path that every outline shape is carried in (glyph outlines, SVG
// icons, boxes): a flat list of points, each with a command, and the small
// builders that append rectangles, frames and rounded rectangles to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace text {

// Path commands. The second and third points of a curve keep whatever kind
// their writer gave them (the builders write 2, the SVG reader the count of
// points left in the segment); only the first point of a segment is read.
enum : int32_t { pkMove = 0, pkLine = 1, pkQuadratic = 2, pkCubic = 3, pkClose = 9 };

struct TPathItem {
  float X = 0;
  float Y = 0;  // grows downward
  int32_t Kind = 0;
};

// Items' length is the capacity; Count the items in use. Clearing is Count := 0.
struct TPath {
  std::vector<TPathItem> Items;
  int32_t Count = 0;
};

// The index of one new item; the capacity doubles (16 when it was 0).
int32_t AllocPathItem(TPath& Path);
int32_t AddPathPoint(TPath& Path, float X, float Y, int32_t Kind);
void AddRectToPath(TPath& Path, float X, float Y, float W, float H);
// A ring of width 2E centred on the rectangle's border: the outer contour
// clockwise, the inner one counter-clockwise, so either fill rule leaves the ring.
void AddFrameToPath(TPath& Path, float X, float Y, float W, float H, float E);
void AddRoundRectToPath(TPath& Path, float X, float Y, float W, float H, float R);

}  // namespace text
