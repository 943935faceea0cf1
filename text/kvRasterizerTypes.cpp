#include "text/kvRasterizerTypes.h"

namespace text {

int32_t AllocPathItem(TPath& Path) {
  if (Path.Count >= int32_t(Path.Items.size())) Path.Items.resize(Path.Items.empty() ? 16 : Path.Items.size() * 2);
  return Path.Count++;
}

int32_t AddPathPoint(TPath& Path, float X, float Y, int32_t Kind) {
  const int32_t i = AllocPathItem(Path);
  Path.Items[size_t(i)] = TPathItem{X, Y, Kind};
  return i;
}

void AddRectToPath(TPath& Path, float X, float Y, float W, float H) {
  AddPathPoint(Path, X, Y, pkMove);
  AddPathPoint(Path, X + W, Y, pkLine);
  AddPathPoint(Path, X + W, Y + H, pkLine);
  AddPathPoint(Path, X, Y + H, pkLine);
  AddPathPoint(Path, X, Y, pkLine);
}

void AddFrameToPath(TPath& Path, float X, float Y, float W, float H, float E) {
  AddPathPoint(Path, X - E, Y - E, pkMove);
  AddPathPoint(Path, X + W + E, Y - E, pkLine);
  AddPathPoint(Path, X + W + E, Y + H + E, pkLine);
  AddPathPoint(Path, X - E, Y + H + E, pkLine);
  AddPathPoint(Path, X - E, Y - E, pkLine);
  AddPathPoint(Path, X + E, Y + E, pkMove);
  AddPathPoint(Path, X + E, Y + H - E, pkLine);
  AddPathPoint(Path, X + W - E, Y + H - E, pkLine);
  AddPathPoint(Path, X + W - E, Y + E, pkLine);
  AddPathPoint(Path, X + E, Y + E, pkLine);
}

void AddRoundRectToPath(TPath& Path, float X, float Y, float W, float H, float R) {
  AddPathPoint(Path, X + R, Y, pkMove);
  AddPathPoint(Path, X + W - R, Y, pkLine);
  AddPathPoint(Path, X + W, Y, pkQuadratic);
  AddPathPoint(Path, X + W, Y + R, pkQuadratic);
  AddPathPoint(Path, X + W, Y + H - R, pkLine);
  AddPathPoint(Path, X + W, Y + H, pkQuadratic);
  AddPathPoint(Path, X + W - R, Y + H, pkQuadratic);
  AddPathPoint(Path, X + R, Y + H, pkLine);
  AddPathPoint(Path, X, Y + H, pkQuadratic);
  AddPathPoint(Path, X, Y + H - R, pkQuadratic);
  AddPathPoint(Path, X, Y + R, pkLine);
  AddPathPoint(Path, X, Y, pkQuadratic);
  AddPathPoint(Path, X + R, Y, pkQuadratic);
}

}  // namespace text
