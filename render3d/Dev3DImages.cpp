// The draw manager's single-quad drawing: images (an attached device texture
// or the cached tiled texture of the texture store), filled and gradient
// boxes with optional antialiased edges, frame borders, the bars outside the
// view.
#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"
#include "render3d/Dev3DTexStore.h"

namespace render3d {

namespace {

T3DPoint Scaled(T3DPoint a, double k) { return {float(a.X * k), float(a.Y * k), float(a.Z * k)}; }

TAffineFrame3D FrameOf(T3DPoint origin, T3DPoint ax, T3DPoint ay) {
  TAffineFrame3D f;
  foundation::InitAffineFrame3D(f, origin, ax, ay, foundation::CrossVectors3D(ax, ay));
  return f;
}

bool IsEmptyCrop(const TFloatRect& r) { return !(r.Right > r.Left) || !(r.Bottom > r.Top); }

// The first device texture among the image's attachments, or null.
TCustomTexture* AttachedTexture(imaging::TImage* image) {
  if (!image->Attachments) return nullptr;
  foundation::TList* list = image->Attachments;
  for (int32_t i = 0; i < list->Count(); ++i) {
    auto* o = static_cast<foundation::TRefObject*>(list->GetItem(i));
    if (auto* t = dynamic_cast<TCustomTexture*>(o)) return t;
  }
  return nullptr;
}

TTextureOptions OptionsOf(const TImageDrawParams& p) {
  TTextureOptions o;
  o.Level = p.Level;
  o.AtlasColumns = p.AtlasColumns;
  o.AtlasRows = p.AtlasRows;
  o.Atlas = p.Atlas != 0;
  o.Premultiplied = p.Premultiplied != 0;
  return o;
}

uint32_t WithOpacity(uint32_t c, float opacity) {
  if (!(opacity < 100.0f)) return c;
  uint32_t a = c >> 24;
  auto na = static_cast<uint32_t>(std::trunc(double(a) * opacity * 0.01));
  return (c & 0x00FFFFFFu) | (std::min(na, 255u) << 24);
}

uint32_t Average(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int shift = 0; shift < 32; shift += 8) r |= ((((a >> shift) & 255) + ((b >> shift) & 255)) >> 1) << shift;
  return r;
}

}  // namespace

uint8_t TruncatedOpacityAlpha(double opacity) {
  return static_cast<uint8_t>(static_cast<int64_t>(std::trunc(opacity * 2.55)) & 0xFF);
}

int32_t RoundedOpacityAlpha(double opacity) {
  return std::clamp(static_cast<int32_t>(std::lround(opacity * 2.55)), 0, 255);
}

void T3DDrawer::DrawImage(imaging::TImage* image, T3DPoint origin, TFloatPoint offset, T3DPoint axisX,
                          T3DPoint axisY, const TImageDrawParams& p) {
  if (!image || !IsReady()) return;
  TCustomTexture* attached = AttachedTexture(image);
  TMultiTexture6* cached = nullptr;
  TFloatRect src;
  uint32_t color = 0;
  if (attached) {
    uint8_t a = TruncatedOpacityAlpha(p.Opacity);
    color = MakeARGB(a, 255, 255, 255);
    attached->PointFilter = p.Filter == 0;
    const double sx = TextureScaleX, sy = TextureScaleY;
    if (IsEmptyCrop(p.Crop))
      src = {0, 0, float(image->Params.Width), float(image->Params.Height)};
    else
      src = {float(p.Crop.Left / sx), float(p.Crop.Top / sy), float(p.Crop.Right / sx), float(p.Crop.Bottom / sy)};
    offset = {float(offset.X / sx), float(offset.Y / sy)};
    axisX = Scaled(axisX, sx);
    axisY = Scaled(axisY, sy);
  } else {
    if (!TextureSource) return;
    const double s = std::ldexp(1.0, p.Level);
    offset = {float(offset.X / s), float(offset.Y / s)};
    axisX = Scaled(axisX, s);
    axisY = Scaled(axisY, s);
    cached = TextureSource->GetTexture(image, OptionsOf(p));
    if (!cached) return;
    cached->Tinted = p.Tinted != 0 || p.GradeMode != 0;
    cached->TintB = p.TintBlue;
    cached->TintG = p.TintGreen;
    cached->TintR = p.TintRed;
    cached->EdgeColor = p.EdgeColor;
    cached->Alpha = RoundedOpacityAlpha(p.Opacity);
    cached->PointFilter = p.Filter == 0;
    cached->Mipmapped = true;
    cached->LodBias = p.LodBias;
    cached->EdgeAntialiasing = p.Perspective != 0;
    if (IsEmptyCrop(p.Crop))
      src = {float(cached->SourceRect.Left), float(cached->SourceRect.Top), float(cached->SourceRect.Right),
             float(cached->SourceRect.Bottom)};
    else
      src = {float(p.Crop.Left / s), float(p.Crop.Top / s), float(p.Crop.Right / s), float(p.Crop.Bottom / s)};
  }
  const TAffineFrame3D frame = FrameOf(origin, axisX, axisY);
  AddDrawnRect(origin, offset, axisX, axisY, src);
  T3DScreen::TEdgeMesh mesh;
  const bool perspective = attached && p.Perspective != 0;
  if (perspective) Screen->BuildEdgeMesh(mesh, frame, offset, Camera, src, 15);

  auto draw = [&] {
    if (cached) {
      cached->Draw(frame, offset, Camera, src);
      return;
    }
    TCustomTexture* t[1] = {attached};
    if (perspective)
      Screen->DrawEdgeMesh(t, mesh, color, color, color, color, 15);
    else
      Screen->DrawTextureQuad(t, origin, offset, axisX, axisY, {&src, 1}, color, color, color, color);
  };

  const bool prem = p.Premultiplied != 0 || (attached && attached->Premultiplied);
  if (p.GradeMode != 0) {
    TPixelShaderId id = p.GradeMode == 1 ? (prem ? psColorGradePrem : psColorGrading)
                                         : (prem ? psColorGradeLinearPrem : psColorGradeLinear);
    DrawGraded(id, p.GradeTable1, p.GradeTable2, p.GradeMix, draw);
    return;
  }
  // Only what was pushed here is popped: popping with nothing pushed would
  // take away the shader of an enclosing pass.
  if (prem) PushShader(Shaders[psPremul4]);
  const TOnExit pop([&] {
    if (prem) PushShader(nullptr);
  });
  draw();
}

void T3DDrawer::BindGradeTables(int32_t stage, TCustomColoringTexture* t1, TCustomColoringTexture* t2, float mix) {
  if (!Screen || !Screen->IsReady()) return;
  T3DRenderer* r = Screen->Renderer;
  r->SetTexture(stage, t1 ? t1->GetTexture() : nullptr);
  r->SetTexture(stage + 1, t2 ? t2->GetTexture() : nullptr);
  if (t1 || t2) {
    const float c0[4] = {mix, 0, 0, 0};
    r->SetShaderConstants(0, c0, 1, false);
  }
}

void T3DDrawer::DrawGraded(TPixelShaderId id, TCustomColoringTexture* t1, TCustomColoringTexture* t2, float mix,
                           const std::function<void()>& draw) {
  PushShader(Shaders[id]);
  BindGradeTables(1, t1, t2, mix);
  const TOnExit unbind([this] {
    PushShader(nullptr);
    BindGradeTables(1, nullptr, nullptr, 0);
  });
  draw();
}

void T3DDrawer::PrepareImageTexture(imaging::TImage* image, const TImageDrawParams& p) {
  if (!TextureSource || !image) return;
  TMultiTexture6* t = TextureSource->GetTexture(image, OptionsOf(p));
  if (!t) return;
  t->Mipmapped = true;
  t->Refresh();
}

void T3DDrawer::DrawBox(T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY, const TBoxParams& p) {
  if (!(p.Opacity > 0)) return;
  QEL_ASSERT(p.FillMode <= 8, u"DrawBox: fill mode above 8");
  const T3DPoint P{float(origin.X - axisX.X * offset.X - axisY.X * offset.Y),
                   float(origin.Y - axisX.Y * offset.X - axisY.Y * offset.Y),
                   float(origin.Z - axisX.Z * offset.X - axisY.Z * offset.Y)};
  const T3DPoint X = Scaled(axisX, p.Width), Y = Scaled(axisY, p.Height);
  const T3DPoint TL = P, TR{P.X + X.X, P.Y + X.Y, P.Z + X.Z}, BL{P.X + Y.X, P.Y + Y.Y, P.Z + Y.Z},
                 BR{TR.X + Y.X, TR.Y + Y.Y, TR.Z + Y.Z};
  AddDrawnRect(origin, offset, axisX, axisY, {0, 0, p.Width, p.Height});
  const uint32_t c1 = WithOpacity(p.Color1, p.Opacity), c2 = WithOpacity(p.Color2, p.Opacity);
  const uint32_t m = Average(c1, c2);
  // Top-left, top-right, bottom-left, bottom-right per fill mode.
  const uint32_t corners[9][4] = {{c1, m, m, c2},   {m, c1, c2, m},   {c2, m, m, c1},
                                  {m, c2, c1, m},   {c2, c2, c1, c1}, {c1, c1, c2, c2},
                                  {c1, c2, c1, c2}, {c2, c1, c2, c1}, {c1, c1, c1, c1}};
  const uint32_t* c = corners[p.FillMode];
  const uint8_t mask = uint8_t((p.EdgeLeft ? 1 : 0) | (p.EdgeTop ? 2 : 0) | (p.EdgeRight ? 4 : 0) |
                               (p.EdgeBottom ? 8 : 0));
  if (!IsReady()) return;
  if (mask == 0)
    Screen->DrawColorQuad(TL, TR, BL, BR, c[0], c[1], c[2], c[3]);
  else
    GetBoxAntialiaser()->Draw(TL, Camera, X, Y, c[0], c[1], c[2], c[3], mask);
}

void T3DDrawer::DrawColorRect(TFloatPoint p0, TFloatPoint p1, TFloatPoint p2, uint32_t color) {
  TBoxParams b = DefaultBoxParams;
  b.Color1 = color;
  b.Opacity = float(double(color >> 24) / 255 * 100);
  DrawBox({p0.X, p0.Y, 0}, {0, 0}, {p1.X - p0.X, p1.Y - p0.Y, 0}, {p2.X - p0.X, p2.Y - p0.Y, 0}, b);
}

void T3DDrawer::DrawFrameBorder(T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY,
                                TFloatPoint border, TFloatPoint size, uint32_t color, float opacity, bool antialias) {
  const float bw = border.X, bh = border.Y, w = size.X, h = size.Y;
  if (!(bw > 0) || !(bh > 0)) return;
  const uint8_t aa = antialias ? 1 : 0;
  struct TStrip {
    float X, Y, W, H;
    uint8_t L, T, R, B;
  };
  const TStrip strips[4] = {{0, 0, bw, h, aa, aa, 0, aa},
                            {w - bw, 0, bw, h, 0, aa, aa, aa},
                            {bw, 0, w - 2 * bw, bh, 0, aa, 0, 0},
                            {bw, h - bh, w - 2 * bw, bh, 0, 0, 0, aa}};
  for (const TStrip& s : strips) {
    TBoxParams b = DefaultBoxParams;
    b.Color1 = color;
    b.Opacity = opacity;
    b.Width = s.W;
    b.Height = s.H;
    b.EdgeLeft = s.L;
    b.EdgeTop = s.T;
    b.EdgeRight = s.R;
    b.EdgeBottom = s.B;
    DrawBox(origin, {offset.X - s.X, offset.Y - s.Y}, axisX, axisY, b);
  }
}

void T3DDrawer::FillOutsideView(imaging::TFColor color) {
  if (!IsReady()) return;
  const TRect& vp = Screen->View.Viewport;
  TRect V = GetViewBounds();
  V = {V.Left + vp.Left, V.Top + vp.Top, V.Right + vp.Left, V.Bottom + vp.Top};
  const TRect S{vp.Left - 1, vp.Top - 1, vp.Right + 1, vp.Bottom + 1};
  const uint32_t c = MakeARGB(255, color.R, color.G, color.B);
  const TRect bands[4] = {{S.Left, S.Top, S.Right, V.Top},
                          {S.Left, V.Top, V.Left, V.Bottom},
                          {V.Right, V.Top, S.Right, V.Bottom},
                          {S.Left, V.Bottom, S.Right, S.Bottom}};
  for (const TRect& r : bands)
    if (r.Right > r.Left && r.Bottom > r.Top) Clear(c, r);
}

}  // namespace render3d
