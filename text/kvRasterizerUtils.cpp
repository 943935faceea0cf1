#include "text/kvRasterizerUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvBitmap.h"
#include "text/GraphicsParams.h"
#include "text/kvSvgUtils.h"

namespace text {

namespace {

constexpr float kClamp = 67108864.0f;  // 2^26 pixels

TFloatPoint Identity(TFloatPoint p) { return p; }

uint32_t SwapRB(uint32_t c) { return (c & 0xFF00FF00u) | ((c >> 16) & 0xFFu) | ((c & 0xFFu) << 16); }

}  // namespace

TRasterHelper::TRasterHelper() {
  Rasterizer = new TRasterizer();
  Outline = new TOutline();
  Outline->OnSpan = [this](int32_t Row, int32_t First, int32_t Last, const int16_t* Coverage) {
    WriteSpan(Row, First, Last, Coverage);
  };
  Transform = Identity;
}

void TRasterHelper::Dispose() {
  QEL_ASSERT(Target == nullptr, "Previous TRasterHelper.BeginPaint not Closed");
  if (Rasterizer) Rasterizer->Free();
  Rasterizer = nullptr;
  if (Outline) Outline->Free();
  Outline = nullptr;
  TRefObject::Dispose();
}

void TRasterHelper::BeginPaint(int32_t W, int32_t H, uint32_t Argb) {
  QEL_ASSERT(Target == nullptr, "Previous TRasterHelper.BeginPaint not Closed");
  QEL_ASSERT(W >= 1 && H >= 1, "TRasterHelper.BeginPaint: W or H = 0");
  auto* bmp = new imaging::TDirectBitmap(W, H, imaging::pfA8R8G8B8);
  rows_.resize(size_t(H));
  for (int32_t y = 0; y < H; ++y) {
    rows_[size_t(y)] = bmp->Row(y);
    uint32_t* row = reinterpret_cast<uint32_t*>(rows_[size_t(y)]);
    std::fill(row, row + W, Argb);
  }
  Target = bmp;
  swapRB_ = false;
}

void TRasterHelper::BeginPaintBlank(int32_t W, int32_t H) { BeginPaint(W, H, Color & 0x00FFFFFFu); }

void TRasterHelper::BeginPaintOn(imaging::TBitmap* Bitmap) {
  QEL_ASSERT(Target == nullptr, "Previous TRasterHelper.BeginPaint not Closed");
  QEL_ASSERT(Bitmap != nullptr, "ABitmap Parameter Not Assigned");
  const bool known = Bitmap->PixelFormat == imaging::pfA8R8G8B8 || Bitmap->PixelFormat == imaging::pfA8B8G8R8 ||
                     Bitmap->PixelFormat == imaging::pfA8r8g8b8;
  std::vector<uint8_t*> rows;
  if (known) {
    if (auto* d = dynamic_cast<imaging::TDirectBitmap*>(Bitmap)) {
      for (int32_t y = 0; y < d->Height; ++y) rows.push_back(d->Row(y));
    } else if (auto* s = dynamic_cast<imaging::TSysBitmap*>(Bitmap)) {
      rows.assign(s->ScanLines().begin(), s->ScanLines().end());
    }
  }
  // Bitmaps whose rows cannot be reached are refused like foreign formats.
  QEL_ASSERT(known && int32_t(rows.size()) >= Bitmap->Height, "Ivalid ABitmap PixelFormat");
  rows_ = std::move(rows);
  Target = Bitmap;
  // The colour is ARGB; in a bitmap stored red first its red and blue trade places.
  swapRB_ = Bitmap->PixelFormat == imaging::pfA8B8G8R8;
}

imaging::TBitmap* TRasterHelper::EndPaint() {
  QEL_ASSERT(Target != nullptr, "No Previous Call of TRasterHelper.BeginPaint");
  imaging::TBitmap* t = Target;
  Target = nullptr;
  rows_.clear();
  return t;
}

void TRasterHelper::ResetTransform() { Transform = Identity; }

void TRasterHelper::WriteSpan(int32_t Row, int32_t First, int32_t Last, const int16_t* Coverage) {
  if (Row < 0 || Row >= int32_t(rows_.size())) return;
  uint32_t* row = reinterpret_cast<uint32_t*>(rows_[size_t(Row)]);
  const uint32_t color = paintColor_;
  const uint32_t alpha = color >> 24;
  for (int32_t x = First; x <= Last; ++x) {
    const int32_t c = Coverage[x];
    if (c <= 0) continue;
    TARGB px = row[x];
    if (c >= 256) {
      BlendPixelOver(px, color);
    } else {
      BlendPixelOver(px, (color & 0x00FFFFFFu) | (((alpha * uint32_t(c)) >> 8) << 24));
    }
    row[x] = px;
  }
}

void TRasterHelper::MoveTo(TFloatPoint P) {
  if (StrokeMode != 0) {
    FlushStroke();
    StrokePoints.resize(std::max<size_t>(StrokePoints.size(), 16));
    StrokePoints[0] = P;
    StrokeCount = 1;
  } else {
    Outline->MoveTo(P);
  }
}

void TRasterHelper::LineTo(TFloatPoint P) {
  if (StrokeMode != 0) {
    if (StrokeCount >= int32_t(StrokePoints.size())) StrokePoints.resize(StrokePoints.size() * 2 + 16);
    StrokePoints[size_t(StrokeCount++)] = P;
  } else {
    Outline->AddPoint(P);
  }
}

void TRasterHelper::FlushStroke() {
  const int32_t n = StrokeCount;
  StrokeCount = 0;
  if (n < 2) return;
  const float half = PenWidth / 2;
  auto offset = [half](TFloatPoint a, TFloatPoint b) {
    const double nx = double(b.Y) - a.Y, ny = double(a.X) - b.X;
    const double len = std::sqrt(nx * nx + ny * ny);
    if (!(len > 0)) return TFloatPoint{0, 0};
    return TFloatPoint{float(nx * half / len), float(ny * half / len)};
  };
  const TFloatPoint* p = StrokePoints.data();
  for (int32_t i = 0; i + 1 < n; ++i) {
    const TFloatPoint o = offset(p[i], p[i + 1]);
    const TFloatPoint a{p[i].X + o.X, p[i].Y + o.Y};
    if (i == 0) Outline->MoveTo(a);
    else Outline->AddPoint(a);
    Outline->AddPoint(TFloatPoint{p[i + 1].X + o.X, p[i + 1].Y + o.Y});
  }
  for (int32_t i = n - 1; i > 0; --i) {
    const TFloatPoint o = offset(p[i], p[i - 1]);
    const TFloatPoint a{p[i].X + o.X, p[i].Y + o.Y};
    if (i == n - 1 && StrokeMode == 1) Outline->MoveTo(a);
    else Outline->AddPoint(a);
    Outline->AddPoint(TFloatPoint{p[i - 1].X + o.X, p[i - 1].Y + o.Y});
  }
}

bool TRasterHelper::DrawPath(const TPath& Path, bool EvenOdd) {
  QEL_ASSERT(bool(Transform), "");
  QEL_ASSERT(Target != nullptr, "No Previous Call of TRasterHelper.BeginPaint");
  Outline->Reset();
  if (StrokeMode != 0) {
    if (PenWidth < 0.0001f) return true;
    StrokeCount = 0;
    Outline->EvenOdd = false;
  } else {
    Outline->EvenOdd = EvenOdd;
  }
  // Curve pieces wholly outside the target (by more than the pen) become chords.
  const float margin = (StrokeMode != 0 ? PenWidth : 0) + 2;
  const TFlattenClip clip{-margin, -margin, float(Target->Width) + margin, float(Target->Height) + margin};
  bool bad = false;
  auto point = [&](const TPathItem& it) {
    TFloatPoint p = Transform(TFloatPoint{it.X, it.Y});
    if (std::isnan(p.X) || std::isnan(p.Y)) bad = true;
    p.X = std::clamp(p.X, -kClamp, kClamp);
    p.Y = std::clamp(p.Y, -kClamp, kClamp);
    return p;
  };
  const auto emit = [this](TFloatPoint q) { LineTo(q); };
  const int32_t count = std::min<int32_t>(Path.Count, int32_t(Path.Items.size()));
  const TPathItem* items = Path.Items.data();
  bool expectMove = true;
  TFloatPoint prev{0, 0};
  for (int32_t i = 0; i < count; ++i) {
    const int32_t kind = items[i].Kind;
    if (expectMove && kind != pkMove) return false;
    switch (kind) {
      case pkMove:
        prev = point(items[i]);
        MoveTo(prev);
        expectMove = false;
        break;
      case pkLine:
        prev = point(items[i]);
        LineTo(prev);
        break;
      case pkQuadratic: {
        if (i + 1 >= count) return false;
        const TFloatPoint c = point(items[i]), e = point(items[i + 1]);
        if (bad) return false;
        FlattenQuadratic(prev, c, e, emit, clip);
        prev = e;
        ++i;
        break;
      }
      case pkCubic: {
        if (i + 2 >= count) return false;
        const TFloatPoint c1 = point(items[i]), c2 = point(items[i + 1]), e = point(items[i + 2]);
        if (bad) return false;
        FlattenCubic(prev, c1, c2, e, emit, clip);
        prev = e;
        i += 2;
        break;
      }
      case pkClose:
        expectMove = true;
        break;
      default:
        QEL_ASSERT(false, "Unknown Path Command");
    }
    if (bad) return false;
  }
  if (StrokeMode != 0) FlushStroke();
  paintColor_ = swapRB_ ? SwapRB(Color) : Color;
  Rasterizer->Rasterize(Outline, Target->Width, Target->Height);
  return true;
}

bool TRasterHelper::StrokePath(const TPath& Path, float Width, bool Closed) {
  PenWidth = Width;
  StrokeMode = Closed ? 1 : 2;
  struct Restore {
    TRasterHelper* h;
    ~Restore() { h->StrokeMode = 0; }
  } restore{this};
  return DrawPath(Path, false);
}

}  // namespace text
