#include "imaging/CurvesUnit.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace imaging {

namespace {

bool ValidPoint(const TCurvePoint& p) { return p.X >= 0 && p.X <= 255 && p.Y >= 0 && p.Y <= 255; }

TCurvePoint ReadPoint(foundation::TStream* s) {
  TCurvePoint p;
  p.X = s->ReadWordBE();
  p.Y = s->ReadWordBE();
  return p;
}

inline int32_t RoundClamp(double v) {
  const double r = std::nearbyint(v);
  return static_cast<int32_t>(std::clamp(r, 0.0, 255.0));
}

struct TPresetSource {
  const char* Name;
  std::initializer_list<std::pair<int, int>> Points;
};

std::string MakePresetText(const TPresetSource& p) {
  std::string s;
  const auto n = static_cast<uint32_t>(std::char_traits<char>::length(p.Name));
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  s += p.Name;
  auto be16 = [&](int v) {
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
    s.push_back(static_cast<char>(v & 0xFF));
  };
  be16(static_cast<int>(p.Points.size()));
  for (const auto& [x, y] : p.Points) {
    be16(x);
    be16(y);
  }
  return s;
}

}  // namespace

TCurvesData::TCurvesData() { Reset(); }

void TCurvesData::Reset() {
  StartPoint = {0, 0};
  EndPoint = {255, 255};
  for (int i = 0; i < 256; ++i) Table[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  ClearPoints();
}

void TCurvesData::ClearPoints() { Points.clear(); }

bool TCurvesData::LoadFromStream(foundation::TStream* Stream) {
  const int32_t count = Stream->ReadWordBE();
  bool ok = count >= 2 && count <= 255;
  if (ok) {
    ClearPoints();
    StartPoint = ReadPoint(Stream);
    ok = ValidPoint(StartPoint);
    for (int32_t i = 0; ok && i < count - 2; ++i) {
      const TCurvePoint p = ReadPoint(Stream);
      ok = ValidPoint(p);
      if (ok) Points.push_back(p);
    }
    if (ok) {
      EndPoint = ReadPoint(Stream);
      ok = ValidPoint(EndPoint);
    }
  }
  if (!ok) {
    Reset();
    return false;
  }
  BuildTable();
  return true;
}

void TCurvesData::BuildTable() {
  std::vector<TCurvePoint> work{StartPoint};
  for (const TCurvePoint& p : Points)
    if (p.X != work.back().X) work.push_back(p);
  work.push_back(EndPoint);
  const int n = static_cast<int>(work.size());
  for (int k = 0; k + 1 < n; ++k) {
    const TCurvePoint& p0 = work[static_cast<size_t>(std::max(k - 1, 0))];
    const TCurvePoint& p1 = work[static_cast<size_t>(k)];
    const TCurvePoint& p2 = work[static_cast<size_t>(k + 1)];
    const TCurvePoint& p3 = work[static_cast<size_t>(std::min(k + 2, n - 1))];
    double value[2], d1[2], d2[2], d3[2];
    const double q0[2] = {double(p0.X), double(p0.Y)}, q1[2] = {double(p1.X), double(p1.Y)},
                 q2[2] = {double(p2.X), double(p2.Y)}, q3[2] = {double(p3.X), double(p3.Y)};
    for (int c = 0; c < 2; ++c) {
      const double a = -0.5 * q0[c] + 1.5 * q1[c] - 1.5 * q2[c] + 0.5 * q3[c];
      const double b = q0[c] - 2.5 * q1[c] + 2.0 * q2[c] - 0.5 * q3[c];
      const double cc = -0.5 * q0[c] + 0.5 * q2[c];
      value[c] = q1[c];
      d1[c] = a * 1e-9 + b * 1e-6 + cc * 0.001;
      d2[c] = a * 6e-9 + b * 2e-6;
      d3[c] = a * 6e-9;
    }
    for (int i = 0; i <= 1000; ++i) {
      Table[static_cast<size_t>(RoundClamp(value[0]))] = static_cast<uint8_t>(RoundClamp(value[1]));
      for (int c = 0; c < 2; ++c) {
        value[c] += d1[c];
        d1[c] += d2[c];
        d2[c] += d3[c];
      }
    }
  }
  for (int i = 0; i < StartPoint.X; ++i) Table[static_cast<size_t>(i)] = static_cast<uint8_t>(StartPoint.Y);
  for (int i = EndPoint.X; i < 256; ++i) Table[static_cast<size_t>(i)] = static_cast<uint8_t>(EndPoint.Y);
  for (const TCurvePoint& p : work) Table[static_cast<size_t>(p.X)] = static_cast<uint8_t>(p.Y);
}

void TCurvesData::SetPreset(int32_t Index) {
  PresetIndex = Index;
  if (Index < 0 || Index > 9) {
    PresetIndex = -1;
    Name.clear();
    return;
  }
  auto* s = new foundation::TStringStream(ContourPresetText(ContourPresetStoredIndex(Index)));
  try {
    ReadCurveName(s, Name);
    LoadFromStream(s);
  } catch (...) {
    s->Free();
    throw;
  }
  s->Free();
}

bool ReadCurveName(foundation::TStream* Stream, std::string& Name) {
  const int32_t n = Stream->ReadInteger();
  Name.clear();
  if (n < 0 || n > 999999) return false;
  if (n > 0) {
    Name.resize(static_cast<size_t>(n));
    if (Stream->ReadBuf(Name.data(), n) != n) throw foundation::EStreamReadError();
  }
  return true;
}

const std::string& ContourPresetText(int32_t StoredIndex) {
  // Built once on first use under the language's own lock, read-only
  // afterwards and never destroyed (threads may read it while the process ends).
  static const std::vector<std::string>& texts = *new std::vector<std::string>([] {
    const TPresetSource sources[ContourPresetCount] = {
        {"Cone", {{0, 0}, {128, 255}, {255, 0}}},
        {"Cone - Inverted", {{0, 255}, {128, 0}, {255, 255}}},
        {"Cove - Deep", {{1, 63}, {148, 110}, {192, 255}}},
        {"Cove - Shallow", {{0, 127}, {83, 174}, {128, 255}}},
        {"Gaussian", {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}}},
        {"Half Round", {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}}},
        {"Linear", {{0, 0}, {255, 255}}},
        {"Ring", {{0, 0}, {86, 255}, {172, 0}, {255, 255}}},
        {"Ring - Double", {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}}},
        {"Tooth", {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}}},
    };
    std::vector<std::string> v;
    for (const auto& s : sources) v.push_back(MakePresetText(s));
    return v;
  }());
  return texts[static_cast<size_t>(std::clamp(StoredIndex, 0, ContourPresetCount - 1))];
}

int32_t ContourPresetStoredIndex(int32_t Index) {
  if (Index == 0) return 6;              // Linear
  if (Index >= 1 && Index <= 6) return Index - 1;
  return Index;                           // Ring, Ring - Double, Tooth
}

}  // namespace imaging
