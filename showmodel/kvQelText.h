// The parts of slide texts that do not depend on rendering: the scale a
// text is rasterised at (the largest on-screen size it reaches) and what the
// text macros of an object's slide expand to.
#pragma once

#include <cstdint>

#include <string>
#include <vector>

#include "imaging/kvCompoundBitmap.h"
#include "showmodel/kvMTParser.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjects.h"
#include "text/kvTextProducer2.h"

namespace showmodel {

// The largest absolute Scale X or Scale Y among the key frames that animate
// the Scale group; the group's default (100) when none does, so a text whose
// key frames never scale it is rasterised at the size it is shown at.
double MaxKeyFrameScale(TQelObjectProps* Props);

// The raster scale of a text of TextWidth x TextHeight pixels at scale 1
// whose largest scale is MaxScale percent of a parent at most
// ParentScreenHeight pixels high on screen. A scale that is not finite and
// positive counts as 1. Halved while the raster would exceed 30000 pixels a
// side or 10,000,000 pixels in all; the halving is bounded, so sizes that
// are not finite end too.
double TextRasterScale(double MaxScale, double ParentScreenHeight, double TextWidth, double TextHeight);
double LimitRasterScale(double Scale, double TextWidth, double TextHeight);

// The macro values of a text object's slide: its index and the show's slide
// count, and the slide's main picture (through the main-image hook).
TMacroContext MakeMacroContext(TQelObject* Object);

// A text object: its lines (macros expanded) are rendered to a picture at
// the largest size the text reaches on screen, through a "Text: " name the
// slide host generates, and drawn like an image tinted with the colour of
// its state (normal, hover, pressed). The first child of a button is its
// caption.
class TQelText : public TQelImage {
 public:
  QEL_CLASSNAME(TQelText)
  void Dispose() override;
  void UpdateTransform(bool Recurse) override;
  bool ProjectBounds(TFloatPoint Screen, float& X, float& Y) override;
  void DrawContent(TQelDrawer* Drawer) override;
  imaging::TSysBitmap* GetColorGradeSource() override { return nullptr; }
  void LoadKeys(TQelObjectProps* P, bool Reload) override;
  void LoadFromProps(TQelObjectProps* P, bool Reload) override;
  void EvaluateAt(double T, bool Recurse) override;
  void InitDefaults() override;
  void LoadImageHandle() override;
  float GetDrawOpacity() override;
  void FillDrawParams(TObjectDrawParams& Params, TQelDrawer* Drawer) override;

  void SetState(uint8_t Value);
  void ScheduleRaster();
  bool IsCaption();
  // The state colour as ARGB for drawing.
  uint32_t StateColor();

  text::TTextParams TextParams;
  std::vector<std::u16string> Lines;
  std::vector<std::u16string> ExpandedLines;
  TMTParser* MacroParser = nullptr;
  bool NeedsRaster = false;
  double LastEvalTime = 0;
  imaging::TFColor TextColor{255, 255, 255}, TextColorHover{255, 255, 255}, TextColorClick{255, 255, 255};
  imaging::TFColor TextColorDisplay[3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
  std::u16string FontName = u"Arial";
  uint8_t FontStyle = 0;
  uint8_t TextAlign = 1;
  int32_t LineSpacing = 0;
  uint8_t State = 0;
  bool Rasterize = false;
  TFloatPoint RasterSize;
  TFloatRect TextBounds;
  TFloatPoint RenderOffset;
  TFloatPoint DrawOffset;
  float RasterScale = 0;
  float LineHeight = 0;
  std::u16string TextKeyValue;
  std::u16string TextKey;

 protected:
  float ShadowSizeFactor(int32_t Level) override;
  // A text's picture is made from its text key, not from a file name.
  std::u16string ShadowSourceName() override { return TextKey; }

 private:
  void CommitTextParams();
  // A picture made of separately placed parts: each part on its own place
  // through the frame, tinted with the state colour.
  void DrawCompound(TQelDrawer* Drawer, imaging::TCompoundBitmap* Compound, TFloatPoint Offset);
  void Raster();
  void ApplyPicture(double Ratio);
};

}  // namespace showmodel
