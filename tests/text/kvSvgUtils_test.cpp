// SVG path data read into paths, the Bezier evaluators, the 3D frame and
// vector icons loaded from style-sheet nodes and rendered.
#include "text/kvSvgUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvImage.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "text/GraphicsParams.h"
#include "text/kvVectorIcons.h"

using namespace text;

namespace {

struct P {
  float x, y;
  int kind;
};

std::vector<P> Parse(const std::string& s, bool chained, int32_t* result = nullptr) {
  TPath path;
  const int32_t r = ParseSvgPath(s, path, chained);
  if (result) *result = r;
  std::vector<P> out;
  for (int32_t i = 0; i < path.Count; ++i) out.push_back({path.Items[size_t(i)].X, path.Items[size_t(i)].Y, path.Items[size_t(i)].Kind});
  return out;
}

void ExpectPoints(const std::vector<P>& got, const std::vector<P>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_FLOAT_EQ(got[i].x, want[i].x) << i;
    EXPECT_FLOAT_EQ(got[i].y, want[i].y) << i;
    EXPECT_EQ(got[i].kind, want[i].kind) << i;
  }
}

}  // namespace

TEST(SvgPathData, Commands) {
  struct Row {
    const char* name;
    std::string text;
    bool chained;
    int32_t result;
    std::vector<P> points;
  };
  const std::vector<Row> rows = {
      {"move with three pairs", "M1 2 3 4 5,6", true, 0, {{1, 2, 0}, {3, 4, 1}, {5, 6, 1}}},
      {"line right after a close", "M0 0 L1 1 Z L2 2", true, 13, {{0, 0, 0}, {1, 1, 1}}},
      {"a move after a close", "M0 0 L1 1 z m2 2", true, 0, {{0, 0, 0}, {1, 1, 1}, {3, 3, 0}}},
      {"cubic kinds", "M0 0 C1 1 2 2 3 3", true, 0, {{0, 0, 0}, {1, 1, 3}, {2, 2, 2}, {3, 3, 1}}},
      {"T reflects the quadratic's control", "M0 0 Q1 2 3 4 T9 9", true, 0,
       {{0, 0, 0}, {1, 2, 2}, {3, 4, 1}, {5, 6, 2}, {9, 9, 1}}},
      {"S reflects the second control", "M0 0 C0 1 2 3 4 4 S8 8 9 9", true, 0,
       {{0, 0, 0}, {0, 1, 3}, {2, 3, 2}, {4, 4, 1}, {6, 5, 3}, {8, 8, 2}, {9, 9, 1}}},
      {"chained relative moves and lines", "m1 1 l1 0 1 0", true, 0, {{1, 1, 0}, {2, 1, 1}, {3, 1, 1}}},
      {"chained relative cubic", "M0 0 c1 0 1 0 1 0", true, 0, {{0, 0, 0}, {1, 0, 3}, {2, 0, 2}, {3, 0, 1}}},
      {"unchained relative cubic", "M0 0 c1 0 1 0 1 0", false, 0, {{0, 0, 0}, {1, 0, 3}, {1, 0, 2}, {1, 0, 1}}},
      {"S right after a move", "M0 0 S1 1 2 2", true, 6, {{0, 0, 0}}},
      {"H with two numbers", "M0 0 H5 7", true, 0, {{0, 0, 0}, {5, 0, 1}, {7, 0, 1}}},
      {"relative V", "M2 3 v4", true, 0, {{2, 3, 0}, {2, 7, 1}}},
      {"numbers joined by a sign", "M1-2", true, 2, {}},
      {"exponents", "M1e1 2E-1", true, 0, {{10, 0.2f, 0}}},
      {"a path not starting with a move", "L1 1", true, 1, {}},
      {"an unknown letter", "M0 0 A1 1 0 0 0 2 2", true, 6, {{0, 0, 0}}},
      {"blanks only", " \t\n", true, 0, {}},
      {"a missing y stops at the end", "M1", true, 3, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    int32_t result = -1;
    const auto got = Parse(r.text, r.chained, &result);
    EXPECT_EQ(result, r.result);
    ExpectPoints(got, r.points);
  }
}

TEST(SvgPathData, BezierEvaluators) {
  EXPECT_DOUBLE_EQ(EvalQuadraticBezier(0, 4, 8, 0.5), 4);
  EXPECT_DOUBLE_EQ(EvalQuadraticBezier(0, 8, 0, 0.5), 4);
  EXPECT_DOUBLE_EQ(EvalCubicBezierD(0, 0, 8, 8, 0.5), 4);
  EXPECT_DOUBLE_EQ(EvalCubicBezier(1, 1, 1, 1, 0.3), 1);
  std::vector<TFloatPoint> pts;
  FlattenQuadratic({0, 0}, {50, 100}, {100, 0}, [&](TFloatPoint p) { pts.push_back(p); });
  ASSERT_GT(pts.size(), 20u);
  EXPECT_FLOAT_EQ(pts.back().X, 100);
  for (size_t i = 1; i < pts.size(); ++i) {
    EXPECT_LT(std::fabs(pts[i].X - pts[i - 1].X), 2.0f);
    EXPECT_LT(std::fabs(pts[i].Y - pts[i - 1].Y), 2.0f);
  }
}

TEST(SvgPathData, Frame3D) {
  auto* b = new imaging::TDirectBitmap(6, 5, imaging::pfA8R8G8B8);
  b->FillRect({0, 0, 6, 5}, 0);
  Draw3DFrame(b, {1, 1, 5, 4}, 0xFFFFFFFFu, 0xFF000000u, {0, 0, 6, 3});
  auto px = [&](int x, int y) { return reinterpret_cast<uint32_t*>(b->Row(y))[x]; };
  EXPECT_EQ(px(1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(px(1, 2), 0xFFFFFFFFu);
  EXPECT_EQ(px(3, 1), 0xFFFFFFFFu);
  EXPECT_EQ(px(4, 1), 0xFF000000u);  // the right edge runs from the top
  EXPECT_EQ(px(4, 2), 0xFF000000u);
  EXPECT_EQ(px(2, 3), 0u);           // the bottom edge lies outside the clip
  EXPECT_EQ(px(2, 2), 0u);
  b->Free();
}

namespace {

foundation::TIniFile* Ini(const std::string& text) {
  auto* ini = new foundation::TIniFile();
  EXPECT_TRUE(foundation::LoadIniFromBytes(ini, std::vector<uint8_t>(text.begin(), text.end())));
  return ini;
}

const foundation::TIniList* Icon(foundation::TIniFile* ini) {
  return foundation::TIniList::FindObject(foundation::TIniFile::FindSection(ini, u"icons"), u"box");
}

}  // namespace

TEST(VectorIcons, LoadAndRenderSizesAndTurns) {
  foundation::TIniFile* ini = Ini(
      "[icons]\n"
      "object box\n"
      "  SIZE=10,20\n"
      "  color=#FF0000\n"
      "  object vl\n"
      "    path=M0 0 H10 V20 H0 Z\n"
      "  end\n"
      "  object vl\n"
      "    path=M0 0 L1\n"  // does not parse: dropped
      "  end\n"
      "  object VL\n"
      "    path=M0 0 H1 V1 Z\n"  // not a layer: the name is case-sensitive
      "  end\n"
      "  object vl\n"
      "    path=M0 0 H5 V5 H0 Z\n"
      "    color=0,0,255\n"
      "    pos=5,0\n"
      "  end\n"
      "end\n");
  auto* icon = new TVectorIcon();
  ASSERT_TRUE(icon->LoadFromNode(Icon(ini)));
  EXPECT_EQ(icon->LayerCount, 2);
  EXPECT_FLOAT_EQ(icon->Size.X, 10);
  EXPECT_FLOAT_EQ(icon->Size.Y, 20);
  std::vector<std::u16string> resolved;
  icon->ColorResolver = [&](const std::u16string& t, uint32_t def) {
    resolved.push_back(t);
    return t.empty() ? def : ByteStrToColorDef(foundation::TByteString::FromUnicode(t), def);
  };
  imaging::TImage* img = icon->Render(40, 40, 0xFF00FF00u, 0);
  imaging::TBitmap* b = img->GetBitmap();
  EXPECT_EQ(b->Width, 20);
  EXPECT_EQ(b->Height, 40);
  std::vector<imaging::TFColorA> row(20);
  b->GetPixels32(row, 0, 0, 5, 20);
  EXPECT_EQ(row[2].R, 255);   // first layer in the icon's red
  EXPECT_EQ(row[12].B, 255);  // second layer, moved right by 5 design units (10 pixels), in blue
  EXPECT_EQ(row[12].R, 0);
  img->Free();
  EXPECT_EQ(resolved.size(), 3u);
  img = icon->Render(40, 40, 0, 90);
  EXPECT_EQ(img->GetBitmap()->Width, 40);
  EXPECT_EQ(img->GetBitmap()->Height, 20);
  img->Free();
  // A description without a positive size loads no layers and renders nothing.
  foundation::TIniFile* bad = Ini("[icons]\nobject box\n  size=0,5\n  object vl\n    path=M0 0 H1 V1\n  end\nend\n");
  EXPECT_FALSE(icon->LoadFromNode(Icon(bad)));
  EXPECT_EQ(icon->Render(10, 10, 0, 0), nullptr);
  bad->Free();
  icon->Free();
  ini->Free();
}
