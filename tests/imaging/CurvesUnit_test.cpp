#include "imaging/CurvesUnit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/kvStream.h"
#include "foundation/kpExceptions.h"

using namespace imaging;

namespace {

std::string CurveBytes(const std::vector<std::pair<int, int>>& pts, int count = -1) {
  std::string s;
  auto be16 = [&](int v) {
    s.push_back(char((v >> 8) & 0xFF));
    s.push_back(char(v & 0xFF));
  };
  be16(count < 0 ? int(pts.size()) : count);
  for (auto [x, y] : pts) be16(x), be16(y);
  return s;
}

bool Load(TCurvesData& c, const std::string& bytes) {
  auto* s = new foundation::TStringStream(bytes);
  bool ok = false;
  try {
    ok = c.LoadFromStream(s);
  } catch (...) {
    s->Free();
    throw;
  }
  s->Free();
  return ok;
}

// The spline evaluated directly at t = i / 1000 (no forward differences).
// Entries written from a value within 1e-6 of a rounding tie are marked in
// Ties: the forward differences may round those the other way.
std::array<uint8_t, 256> DirectTable(const std::vector<std::pair<int, int>>& pts, std::array<bool, 256>* Ties = nullptr) {
  auto nearTie = [](double v) { return std::fabs(v - std::floor(v) - 0.5) < 1e-6; };
  if (Ties) Ties->fill(false);
  std::array<uint8_t, 256> t;
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(i);
  std::vector<std::pair<int, int>> w{pts.front()};
  for (size_t i = 1; i + 1 < pts.size(); ++i)
    if (pts[i].first != w.back().first) w.push_back(pts[i]);
  w.push_back(pts.back());
  const int n = int(w.size());
  for (int k = 0; k + 1 < n; ++k) {
    const auto p0 = w[std::max(k - 1, 0)], p1 = w[k], p2 = w[k + 1], p3 = w[std::min(k + 2, n - 1)];
    auto cr = [](double a, double b, double c, double d, double u) {
      return 0.5 * ((2 * b) + (-a + c) * u + (2 * a - 5 * b + 4 * c - d) * u * u + (-a + 3 * b - 3 * c + d) * u * u * u);
    };
    for (int i = 0; i <= 1000; ++i) {
      const double u = i / 1000.0;
      const double fx = cr(p0.first, p1.first, p2.first, p3.first, u);
      const double fy = cr(p0.second, p1.second, p2.second, p3.second, u);
      const int x = int(std::clamp(std::nearbyint(fx), 0.0, 255.0));
      const int y = int(std::clamp(std::nearbyint(fy), 0.0, 255.0));
      t[x] = uint8_t(y);
      if (Ties && (nearTie(fx) || nearTie(fy))) {
        (*Ties)[x] = true;
        (*Ties)[std::min(x + 1, 255)] = true;
      }
    }
  }
  for (int i = 0; i < w.front().first; ++i) t[i] = uint8_t(w.front().second);
  for (int i = w.back().first; i < 256; ++i) t[i] = uint8_t(w.back().second);
  for (auto [x, y] : w) t[x] = uint8_t(y);
  return t;
}

TEST(Curves, LinearIsIdentityAndConeAndCove) {
  TCurvesData c;
  c.SetPreset(0);
  EXPECT_EQ(c.Name, "Linear");
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.GetValue(i), i);
  c.SetPreset(1);
  EXPECT_EQ(c.Name, "Cone");
  EXPECT_EQ(c.GetValue(0), 0);
  EXPECT_EQ(c.GetValue(128), 255);
  EXPECT_EQ(c.GetValue(255), 0);
  EXPECT_GT(c.GetValue(64), 100);
  c.SetPreset(3);
  EXPECT_EQ(c.Name, "Cove - Deep");
  EXPECT_EQ(c.GetValue(0), 63);
  for (int i = 192; i < 256; ++i) EXPECT_EQ(c.GetValue(i), 255) << i;
}

TEST(Curves, PresetsMatchTheSplineEvaluatedDirectly) {
  const std::vector<std::vector<std::pair<int, int>>> pts = {
      {{0, 0}, {255, 255}},
      {{0, 0}, {128, 255}, {255, 0}},
      {{0, 255}, {128, 0}, {255, 255}},
      {{1, 63}, {148, 110}, {192, 255}},
      {{0, 127}, {83, 174}, {128, 255}},
      {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}},
      {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}},
      {{0, 0}, {86, 255}, {172, 0}, {255, 255}},
      {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}},
      {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}},
  };
  const char* names[] = {"Linear", "Cone", "Cone - Inverted", "Cove - Deep", "Cove - Shallow", "Gaussian",
                         "Half Round", "Ring", "Ring - Double", "Tooth"};
  for (int i = 0; i < 10; ++i) {
    TCurvesData c;
    c.SetPreset(i);
    EXPECT_EQ(c.PresetIndex, i);
    EXPECT_EQ(c.Name, names[i]);
    std::array<bool, 256> ties;
    const auto want = DirectTable(pts[i], &ties);
    for (int x = 0; x < 256; ++x) {
      if (ties[x]) {
        EXPECT_LE(std::abs(c.Table[x] - want[x]), 1) << names[i] << " at " << x;
      } else {
        EXPECT_EQ(c.Table[x], want[x]) << names[i] << " at " << x;
      }
    }
  }
}

TEST(Curves, BadCountsAndPointsReset) {
  TCurvesData c;
  c.SetPreset(1);
  EXPECT_FALSE(Load(c, CurveBytes({{0, 0}}, 1)));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.GetValue(i), i);
  c.SetPreset(1);
  std::vector<std::pair<int, int>> many(256, {0, 0});
  EXPECT_FALSE(Load(c, CurveBytes(many)));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c.GetValue(i), i);
  c.SetPreset(1);
  EXPECT_FALSE(Load(c, CurveBytes({{0, 0}, {300, 5}, {255, 255}})));
  EXPECT_TRUE(c.Points.empty());
  EXPECT_EQ(c.GetValue(128), 128);
  EXPECT_THROW(Load(c, CurveBytes({{0, 0}, {10, 10}, {255, 255}}).substr(0, 9)), foundation::EStreamReadError);
}

TEST(Curves, RepeatedXKeepsOnlyTheFirstPoint) {
  TCurvesData c;
  ASSERT_TRUE(Load(c, CurveBytes({{0, 0}, {100, 200}, {100, 20}, {255, 255}})));
  EXPECT_EQ(c.Points.size(), 2u);
  EXPECT_EQ(c.GetValue(100), 200);
  EXPECT_EQ(c.Table, DirectTable({{0, 0}, {100, 200}, {255, 255}}));
}

TEST(Curves, PresetOutOfRangeKeepsTheTable) {
  TCurvesData c;
  c.SetPreset(1);
  const auto cone = c.Table;
  c.SetPreset(10);
  EXPECT_EQ(c.PresetIndex, -1);
  EXPECT_EQ(c.Name, "");
  EXPECT_EQ(c.Table, cone);
  c.SetPreset(-3);
  EXPECT_EQ(c.PresetIndex, -1);
}

TEST(Curves, ReadCurveName) {
  auto read = [](const std::string& bytes, std::string& name) {
    auto* s = new foundation::TStringStream(bytes);
    const bool ok = ReadCurveName(s, name);
    s->Free();
    return ok;
  };
  std::string name = "x";
  EXPECT_TRUE(read(std::string("\x03\0\0\0abc", 7), name));
  EXPECT_EQ(name, "abc");
  EXPECT_TRUE(read(std::string("\0\0\0\0", 4), name));
  EXPECT_EQ(name, "");
  name = "x";
  EXPECT_FALSE(read(std::string("\xFF\xFF\xFF\xFF", 4), name));
  EXPECT_EQ(name, "");
  EXPECT_FALSE(read(std::string("\x40\x42\x0F\0", 4), name));  // 1,000,000
}

}  // namespace
