#include "text/kvTextProducer2.h"

#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvBitmap.h"
#include "text/kvRasterizerUtils.h"

namespace text {

namespace {

double Nearest(double v) { return std::nearbyint(v); }

struct TLayout {
  double SizeX = 0, SizeY = 0;
  double MaxLeft = 0, MaxRight = 0, MaxAscent = 0, MaxDescent = 0;
  std::vector<foundation::TRect> Rects;
  std::vector<double> OriginY;
  std::vector<TVectorLineMetrics> Metrics;
};

void Layout(TVectorText* T, double s, double L, TLayout& out) {
  const int32_t n = std::max(0, T->LineCount);
  out.Rects.assign(size_t(n), {});
  out.OriginY.assign(size_t(n), 0);
  out.Metrics.assign(size_t(n), {});
  QEL_ASSERT(out.Rects.size() == size_t(n) && out.OriginY.size() == size_t(n), "");
  const double a = T->FontMetrics.Ascent, d = T->FontMetrics.Descent;
  for (int32_t i = 0; i < n; ++i) {
    TVectorLineMetrics& m = out.Metrics[size_t(i)];
    T->GetLineMetrics(m, i);
    foundation::TRect& r = out.Rects[size_t(i)];
    r.Left = 0;
    r.Top = int32_t(std::floor(-a * s));
    r.Right = int32_t(std::ceil(m.Width * s));
    r.Bottom = int32_t(std::ceil(d * s));
    out.SizeX = std::max(out.SizeX, double(r.Right));
    if (i > 0) out.SizeY += L * (a + d) * s / 200;
    out.OriginY[size_t(i)] = out.SizeY;
    out.SizeY += (a + d) * s;
    out.MaxLeft = std::max(out.MaxLeft, -m.LeftOverhang * s);
    out.MaxRight = std::max(out.MaxRight, -m.RightOverhang * s);
    out.MaxAscent = std::max(out.MaxAscent, m.Ascent * s);
    out.MaxDescent = std::max(out.MaxDescent, m.Descent * s);
  }
}

// The image size of a layout; negative line spacing can make the sum
// negative, and an image is never smaller than 1 x 1.
void ImageSize(TVectorText* T, const TLayout& l, double s, int32_t& w, int32_t& h) {
  const double a = T->FontMetrics.Ascent, d = T->FontMetrics.Descent;
  const double fw = Nearest(l.SizeX) + std::ceil(l.MaxLeft) + std::ceil(l.MaxRight) + 2;
  const double fh = Nearest(l.SizeY) + std::ceil(l.MaxAscent - a * s) + std::ceil(l.MaxDescent - d * s) + 2;
  w = int32_t(std::clamp(fw, 1.0, 2147483647.0));
  h = int32_t(std::clamp(fh, 1.0, 2147483647.0));
}

}  // namespace

TGlyphPlacement PlacementOf(const TGlyphInfo& Info) {
  TGlyphPlacement p;
  p.AWidth = Info.AWidth;
  p.BWidth = Info.BWidth;
  p.CWidth = Info.CWidth;
  p.Advance = Info.Advance;
  p.Ascent = Info.Ascent;
  p.Descent = Info.Descent;
  p.Height = Info.Height;
  for (int i = 0; i < 3; ++i) p.Reserved[i] = Info.Reserved1[i];
  p.PenX = Info.PenX;
  return p;
}

void TVectorText::MetricsFromPlacements(TVectorLineMetrics& M, int32_t Line,
                                        const std::function<bool(int32_t)>& Skip) {
  const int32_t n = GetGlyphCount(Line);
  bool any = false;
  int32_t minStart = 0, minAll = 0, maxAll = 0, maxEnd = 0, asc = 0, desc = 0;
  for (int32_t j = 0; j < n; ++j) {
    if (Skip && Skip(j)) continue;
    TGlyphPlacement p;
    GetGlyphInfo(p, Line, j);
    const int32_t start = p.PenX, inkLeft = p.PenX + p.AWidth, inkRight = inkLeft + p.BWidth,
                  end = inkRight + p.CWidth;
    const int32_t lo = std::min({start, inkLeft, inkRight, end}), hi = std::max({start, inkLeft, inkRight, end});
    if (!any) {
      minStart = start;
      minAll = lo;
      maxAll = hi;
      maxEnd = end;
      asc = p.Ascent;
      desc = p.Descent;
      any = true;
    } else {
      minStart = std::min(minStart, start);
      minAll = std::min(minAll, lo);
      maxAll = std::max(maxAll, hi);
      maxEnd = std::max(maxEnd, end);
      asc = std::max(asc, p.Ascent);
      desc = std::max(desc, p.Descent);
    }
  }
  M = {};
  if (any) {
    M.LeftOverhang = minAll - minStart;
    M.Width = maxEnd - minStart;
    M.RightOverhang = maxEnd - maxAll;
    M.FullWidth = M.Width - M.LeftOverhang - M.RightOverhang;
    M.Ascent = asc;
    M.Descent = desc;
  } else {
    M.Ascent = FontMetrics.Ascent;
    M.Descent = FontMetrics.Descent;
  }
  M.Height = M.Ascent + M.Descent;
}

TSimpleVectorText::TSimpleVectorText(const TFontParams& Font, foundation::TStringList* Lines) {
  LineCount = Lines ? Lines->GetCount() : 0;
  Vectorizer = CreateVectorizer();
  QEL_ASSERT(Vectorizer != nullptr, "No vectorizer installed");
  Vectorizer->GetLineMetrics(FontMetrics, Font);
  for (int32_t i = 0; i < LineCount; ++i) Elements.push_back(Vectorizer->CreateTextElement(Font, Lines->GetString(i)));
}

void TSimpleVectorText::Dispose() {
  for (auto* e : Elements)
    if (e) e->Free();
  Elements.clear();
  if (Vectorizer) Vectorizer->Free();
  Vectorizer = nullptr;
  TVectorText::Dispose();
}

void TSimpleVectorText::GetLineMetrics(TVectorLineMetrics& Metrics, int32_t Line) {
  MetricsFromPlacements(Metrics, Line, {});
}

int32_t TSimpleVectorText::GetGlyphCount(int32_t Line) { return Elements[size_t(Line)]->GetGlyphCount(); }

void TSimpleVectorText::GetGlyphPath(TPath& Path, int32_t Line, int32_t Glyph) {
  TGlyphInfo info;
  Elements[size_t(Line)]->GetGlyphInfo(Glyph, info);
  Vectorizer->GetGlyphPath(info, Path);
}

void TSimpleVectorText::GetGlyphInfo(TGlyphPlacement& Info, int32_t Line, int32_t Glyph) {
  TGlyphInfo info;
  Elements[size_t(Line)]->GetGlyphInfo(Glyph, info);
  Info = PlacementOf(info);
}

TVectorText* CreateVectorText(const TFontParams& Font, foundation::TStringList* Lines) {
  return new TSimpleVectorText(Font, Lines);
}

void TTextProducer::Dispose() {
  if (OwnsVectorText && VectorText) VectorText->Free();
  VectorText = nullptr;
  if (RasterHelper) RasterHelper->Free();
  RasterHelper = nullptr;
  TRefObject::Dispose();
}

void TTextProducer::SetVectorText(TVectorText* Text, bool Owns) {
  if (OwnsVectorText && VectorText && VectorText != Text) VectorText->Free();
  OwnsVectorText = Owns;
  VectorText = Text;
}

imaging::TImage* TTextProducer::Render(uint32_t TextColor, uint32_t BackColor, double Scale) {
  return RenderEx(TextColor, BackColor, Scale, false, false, {0, 0}, u"");
}

imaging::TImage* TTextProducer::RenderEx(uint32_t TextColor, uint32_t BackColor, double S, bool Underline,
                                         bool StrikeOut, foundation::TFloatPoint Offset, const std::u16string& Name) {
  return imaging::WrapBitmapAsImage(RenderBitmap(TextColor, BackColor, S, Underline, StrikeOut, Offset), true, Name);
}

imaging::TBitmap* TTextProducer::RenderBitmap(uint32_t TextColor, uint32_t BackColor, double S, bool Underline,
                                              bool StrikeOut, foundation::TFloatPoint Offset) {
  TVectorText* T = VectorText;
  QEL_ASSERT(T != nullptr, "TTextProducer: no vector text");
  TLayout l;
  Layout(T, S, LineSpacing, l);
  int32_t w = 1, h = 1;
  ImageSize(T, l, S, w, h);
  ClearRectList(LineRects);
  if (!RasterHelper) RasterHelper = new TRasterHelper();
  TRasterHelper* rh = RasterHelper;
  rh->Color = TextColor;
  rh->Transform = [this](foundation::TFloatPoint p) {
    return foundation::TFloatPoint{p.X * Scale + GlyphOffset.X, p.Y * Scale + GlyphOffset.Y};
  };
  rh->BeginPaintBlank(w, h);
  imaging::TBitmap* bmp = nullptr;
  try {
    const double a = T->FontMetrics.Ascent;
    const double sizeX = Nearest(l.SizeX);
    TPath path;
    for (int32_t i = 0; i < std::max(0, T->LineCount); ++i) {
      double ox = Offset.X + 1, oy = l.OriginY[size_t(i)] + Offset.Y + 1;
      foundation::TRect r = l.Rects[size_t(i)];
      if (Alignment == 1) ox += sizeX * 0.5 - (r.Left + r.Right) * 0.5;
      else if (Alignment == 2) ox += sizeX - r.Right;
      OffsetRectBy(r, int32_t(Nearest(ox)), int32_t(Nearest(oy + S * a)));
      AddRectToList(LineRects, r);
      Scale = float(S);
      const int32_t n = T->GetGlyphCount(i);
      for (int32_t j = 0; j < n; ++j) {
        TGlyphPlacement p;
        T->GetGlyphInfo(p, i, j);
        GlyphOffset = {float(ox + S * p.PenX + l.MaxLeft), float(oy + l.MaxAscent)};
        path.Count = 0;
        T->GetGlyphPath(path, i, j);
        rh->DrawPath(path, false);
      }
      const TVectorLineMetrics& m = l.Metrics[size_t(i)];
      auto bar = [&](float pos, float thick) {
        GlyphOffset = {float(ox + l.MaxLeft), float(oy + l.MaxAscent)};
        const double top = Nearest(-pos), bottom = Nearest(thick - pos);
        path.Count = 0;
        AddRectToPath(path, 0, float(top), float(m.FullWidth + m.RightOverhang), float(bottom - top));
        rh->DrawPath(path, false);
      };
      if (Underline) bar(T->FontMetrics.UnderlinePosition, T->FontMetrics.UnderlineThickness);
      if (StrikeOut) bar(T->FontMetrics.StrikeOutPosition, T->FontMetrics.StrikeOutThickness);
      bool cancel = false;
      if (OnProgress) OnProgress(this, cancel);
      if (cancel) break;
    }
  } catch (...) {
    rh->EndPaint()->Free();
    throw;
  }
  bmp = rh->EndPaint();
  if (BackColor != (TextColor & 0x00FFFFFFu)) {
    auto* d = static_cast<imaging::TDirectBitmap*>(bmp);
    for (int32_t y = 0; y < h; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(d->Row(y));
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t px = row[x];
        if ((px >> 24) == 255) continue;
        if ((px >> 24) == 0) {
          row[x] = BackColor;
        } else {
          TARGB out = BackColor;
          BlendPixelOver(out, px);
          row[x] = out;
        }
      }
      bool cancel = false;
      if (OnProgress) OnProgress(this, cancel);
      if (cancel) break;
    }
  }
  return bmp;
}

foundation::TFloatPoint GetVectorTextSize(TVectorText* Text, double Scale, double LineSpacing) {
  TLayout l;
  Layout(Text, Scale, LineSpacing, l);
  int32_t w = 1, h = 1;
  ImageSize(Text, l, Scale, w, h);
  return {float(w), float(h)};
}

foundation::TFloatRect GetVectorTextBounds(TVectorText* Text, double Scale, double LineSpacing) {
  TLayout l;
  Layout(Text, Scale, LineSpacing, l);
  const float left = float(l.MaxLeft);
  const float top = float(std::ceil(l.MaxAscent - Text->FontMetrics.Ascent * Scale));
  const float width = float(std::max(l.SizeX, 1.0)), height = float(std::max(l.SizeY, 1.0));
  return foundation::FloatBounds(left, top, width, height);
}

float GetVectorTextLineHeight(TVectorText* Text, double Scale) {
  return float((Text->FontMetrics.Ascent + Text->FontMetrics.Descent) * Scale);
}

const TFontParams& DefaultFontParams() {
  static const TFontParams p = [] {
    TFontParams f;
    InitFontParams(f, u"Arial", 72, 0, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), true);
    return f;
  }();
  return p;
}

const TTextParams& DefaultTextParams() {
  static const TTextParams p = [] {
    TTextParams t;
    t.FontName = u"Arial";
    t.Style = 0;
    t.Alignment = 1;
    t.LineSpacing = 0;
    t.Value = 0xFFFFFFFFu;
    t.Scale = 1;
    t.Scale2 = 1;
    return t;
  }();
  return p;
}

}  // namespace text
