// Vector text: a multi-line text in one font whose glyphs are outlines
// (TVectorText), built from the platform's text elements (TSimpleVectorText)
// or served from the glyph cache, and TTextProducer, which renders one at
// any scale into a 32-bit image with per-line alignment, line spacing,
// underline and strike-out bars, a text colour and a background.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvStrings.h"
#include "text/GraphicsParams.h"
#include "text/kvRectUtils.h"
#include "text/kvTextVectorizer.h"

namespace imaging {
class TBitmap;
class TImage;
}

namespace text {

class TRasterHelper;

// One line in the font's pixels at scale 1.
struct TVectorLineMetrics {
  int32_t LeftOverhang = 0;   // 0 or negative
  int32_t FullWidth = 0;
  int32_t RightOverhang = 0;  // 0 or negative
  int32_t Width = 0;          // LeftOverhang + FullWidth + RightOverhang
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;
};

// The placement part of a glyph's information (after its identity).
struct TGlyphPlacement {
  int32_t AWidth = 0, BWidth = 0, CWidth = 0;
  int32_t Advance = 0;
  int32_t Ascent = 0, Descent = 0, Height = 0;
  int32_t Reserved[3] = {};
  int32_t PenX = 0;
};
TGlyphPlacement PlacementOf(const TGlyphInfo& Info);

class TVectorText : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVectorText)
  virtual void GetLineMetrics(TVectorLineMetrics& Metrics, int32_t Line) = 0;
  virtual int32_t GetGlyphCount(int32_t Line) = 0;
  // In pixels at scale 1, origin at the glyph origin on the baseline, y downward.
  virtual void GetGlyphPath(TPath& Path, int32_t Line, int32_t Glyph) = 0;
  virtual void GetGlyphInfo(TGlyphPlacement& Info, int32_t Line, int32_t Glyph) = 0;

  int32_t LineCount = 0;
  TLineMetrics FontMetrics;

 protected:
  // The line metrics rule over the line's placements; Skip tells glyphs to leave out.
  void MetricsFromPlacements(TVectorLineMetrics& Metrics, int32_t Line, const std::function<bool(int32_t)>& Skip);
};

class TSimpleVectorText : public TVectorText {
 public:
  QEL_CLASSNAME(TSimpleVectorText)
  TSimpleVectorText(const TFontParams& Font, foundation::TStringList* Lines);
  void Dispose() override;
  void GetLineMetrics(TVectorLineMetrics& Metrics, int32_t Line) override;
  int32_t GetGlyphCount(int32_t Line) override;
  void GetGlyphPath(TPath& Path, int32_t Line, int32_t Glyph) override;
  void GetGlyphInfo(TGlyphPlacement& Info, int32_t Line, int32_t Glyph) override;

  TVectorizer* Vectorizer = nullptr;
  std::vector<TTextElementEx*> Elements;
};

TVectorText* CreateVectorText(const TFontParams& Font, foundation::TStringList* Lines);

class TTextProducer;
using TTextProgressEvent = std::function<void(TTextProducer* Producer, bool& Cancel)>;

class TTextProducer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTextProducer)
  void Dispose() override;
  void SetVectorText(TVectorText* Text, bool Owns);
  // The rendered image (the caller owns it), named Name.
  imaging::TImage* RenderEx(uint32_t TextColor, uint32_t BackColor, double Scale, bool Underline, bool StrikeOut,
                            foundation::TFloatPoint Offset, const std::u16string& Name);
  imaging::TImage* Render(uint32_t TextColor, uint32_t BackColor, double Scale);
  // The painted A8R8G8B8 bitmap of RenderEx (the caller owns it).
  imaging::TBitmap* RenderBitmap(uint32_t TextColor, uint32_t BackColor, double Scale, bool Underline,
                                 bool StrikeOut, foundation::TFloatPoint Offset);

  TVectorText* VectorText = nullptr;
  bool OwnsVectorText = false;
  TRasterHelper* RasterHelper = nullptr;
  foundation::TFloatPoint GlyphOffset;
  float Scale = 1;
  TRectList LineRects;
  float LineSpacing = 0;
  uint8_t Alignment = 0;  // 0 left, 1 centre, 2 right
  TTextProgressEvent OnProgress;
};

// The pixel size of the image a render paints, each side at least 1.
foundation::TFloatPoint GetVectorTextSize(TVectorText* Text, double Scale, double LineSpacing);
// Where the lines lie inside that image.
foundation::TFloatRect GetVectorTextBounds(TVectorText* Text, double Scale, double LineSpacing);
float GetVectorTextLineHeight(TVectorText* Text, double Scale);

// The parameters of a text image (the "Text: " keys).
struct TTextParams {
  std::u16string FontName;
  uint8_t Style = 0;
  uint8_t Alignment = 0;
  int32_t LineSpacing = 0;
  uint32_t Value = 0xFFFFFFFFu;  // carried, never keyed
  double Scale = 1;
  double Scale2 = 1;
  float OffsetX = 0, OffsetY = 0;
};

const TFontParams& DefaultFontParams();
const TTextParams& DefaultTextParams();
inline constexpr char16_t DefaultText[] = u"Text";

}  // namespace text
