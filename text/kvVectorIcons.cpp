#include "text/kvVectorIcons.h"

#include <cmath>

#include "foundation/kvByteString.h"
#include "foundation/kvUTF8.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvBitmap.h"
#include "text/GraphicsParams.h"
#include "text/kvRasterizerUtils.h"
#include "text/kvSvgUtils.h"

namespace text {

namespace {

using foundation::TIniItem;
using foundation::TIniList;

// Two floats separated by ",", each defaulting to def.
foundation::TFloatPoint FloatPair(const TIniItem* item, float def) {
  if (!item) return {def, def};
  const foundation::TByteString v = TIniItem::GetRawValue(item);
  const std::string_view s = v.View();
  const size_t comma = s.find(',');
  const auto num = [def](std::string_view part) {
    const double d = foundation::TByteString::FromBytes(part).ToFloatDef(def);
    return std::isfinite(d) ? float(d) : def;
  };
  if (comma == std::string_view::npos) return {num(s), def};
  return {num(s.substr(0, comma)), num(s.substr(comma + 1))};
}

}  // namespace

TVectorIcon::TVectorIcon() { RasterHelper = new TRasterHelper(); }

void TVectorIcon::Dispose() {
  for (auto* l : Layers) l->Free();
  Layers.clear();
  if (RasterHelper) RasterHelper->Free();
  RasterHelper = nullptr;
  TRefObject::Dispose();
}

uint32_t TVectorIcon::Resolve(const std::u16string& Text, uint32_t Default) const {
  if (ColorResolver) return ColorResolver(Text, Default);
  return ByteStrToColorDef(foundation::TByteString::FromUnicode(Text), Default);
}

bool TVectorIcon::LoadFromNode(const TIniList* Node) {
  LayerCount = 0;
  for (auto* l : Layers) l->Path.Count = 0;
  Size = FloatPair(TIniList::FindKey(Node, u"size"), 1);
  const TIniItem* color = TIniList::FindKey(Node, u"color");
  Color = color ? TIniItem::GetValue(color) : u"";
  if (!Node || !(Size.X > 0 && Size.Y > 0)) return false;
  for (int32_t i = 0; i < Node->GetCount(); ++i) {
    auto* child = dynamic_cast<const foundation::TIniObject*>(Node->GetChild(i));
    if (!child || TIniItem::GetName(child) != u"vl") continue;
    if (LayerCount >= int32_t(Layers.size())) Layers.push_back(new TIconLayer());
    TIconLayer* layer = Layers[size_t(LayerCount)];
    layer->Path.Count = 0;
    const TIniItem* path = TIniList::FindKey(child, u"path");
    if (!path) continue;
    const foundation::TByteString data = TIniItem::GetRawValue(path);
    if (data.View().empty() || ParseSvgPath(std::string(data.View()), layer->Path, true) != 0) {
      layer->Path.Count = 0;
      continue;
    }
    const TIniItem* lc = TIniList::FindKey(child, u"color");
    layer->Color = lc ? TIniItem::GetValue(lc) : u"";
    layer->Pos = FloatPair(TIniList::FindKey(child, u"pos"), 0);
    layer->Scale = FloatPair(TIniList::FindKey(child, u"scale"), 1);
    ++LayerCount;
  }
  return LayerCount > 0;
}

imaging::TImage* TVectorIcon::Render(int32_t W, int32_t H, uint32_t DefaultColor, int32_t Angle) {
  if (LayerCount <= 0 || !(Size.X > 0 && Size.Y > 0)) return nullptr;
  const double e = std::min(double(W) / Size.X, double(H) / Size.Y);
  const double uu = std::nearbyint(Size.X * e), vv = std::nearbyint(Size.Y * e);
  if (!(uu >= 1 && vv >= 1 && uu < 65536 && vv < 65536)) return nullptr;  // nothing to paint, or too large
  const int32_t u = int32_t(uu), v = int32_t(vv);
  const int32_t t = (((Angle + 360) / 90) % 4 + 4) % 4;
  const uint32_t iconColor = Resolve(Color, DefaultColor);
  RasterHelper->Color = iconColor;
  if (t == 1 || t == 3) RasterHelper->BeginPaint(v, u, iconColor & 0x00FFFFFFu);
  else RasterHelper->BeginPaint(u, v, iconColor & 0x00FFFFFFu);
  try {
    for (int32_t i = 0; i < LayerCount; ++i) {
      const TIconLayer* l = Layers[size_t(i)];
      LayerScaleX = float(e * l->Scale.X);
      LayerScaleY = float(e * l->Scale.Y);
      LayerOffsetX = float(e * l->Pos.X);
      LayerOffsetY = float(e * l->Pos.Y);
      const float fu = float(u), fv = float(v);
      RasterHelper->Transform = [this, t, fu, fv](foundation::TFloatPoint p) {
        const float X = LayerOffsetX + LayerScaleX * p.X, Y = LayerOffsetY + LayerScaleY * p.Y;
        switch (t) {
          case 1: return foundation::TFloatPoint{fv - Y, X};
          case 2: return foundation::TFloatPoint{fu - X, fv - Y};
          case 3: return foundation::TFloatPoint{Y, fu - X};
          default: return foundation::TFloatPoint{X, Y};
        }
      };
      RasterHelper->Color = Resolve(l->Color, iconColor);
      RasterHelper->DrawPath(l->Path, false);
    }
  } catch (...) {
    RasterHelper->ResetTransform();
    RasterHelper->EndPaint()->Free();
    throw;
  }
  RasterHelper->ResetTransform();
  return imaging::WrapBitmapAsImage(RasterHelper->EndPaint(), true, u"");
}

}  // namespace text
