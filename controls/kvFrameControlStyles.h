// The colours and fonts every drawn control needs from one scheme at one
// scale, gathered once from the style sheet.
#pragma once

#include <array>
#include <cstdint>

#include "controls/kvControlStyles.h"
#include "foundation/SysObj.h"
#include "text/GraphicsParams.h"

namespace controls {

class TFrameDevice;

// Per channel (all four bytes): a + (b - a) * w div 256.
uint32_t MixARGB(uint32_t a, uint32_t b, int32_t w);

class TColorStyles : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TColorStyles)
  TColorStyles(TStylesStore* store, float scale);

  TStyleItem* GetStyleItem(const foundation::TByteString& name) { return Store->GetStyleItem(name); }
  bool IsDark() const { return Store->IsDark; }

  TStylesStore* Store = nullptr;  // process-wide, outlives every style set
  // "def" of "default", "def" and "sel" of "txt", "info" of "default".
  TStyleState* DefState = nullptr;  // the states live in the store's list
  TStyleState* TextState = nullptr;
  TStyleState* SelState = nullptr;
  TStyleState* InfoState = nullptr;
  text::TFontParams DefFont, TextFont, SelFont, AccentFont1, AccentFont2;
  uint32_t DefFill = 0, TextFill = 0, SelFill = 0;
  uint32_t DefFrame = 0, TextFrame = 0, SelFrame = 0;
  uint32_t Light3D = 0, HiLight3D = 0, Shadow3D = 0, DkShadow3D = 0;
  uint32_t InfoFill = 0, DialogFill = 0;
  uint32_t AltFill = 0, SelTint = 0, Accent = 0;
};

class TControlStyles : public TColorStyles {
 public:
  QEL_CLASSNAME(TControlStyles)
  // The scales are the device's pixel densities over 96.
  TControlStyles(TStylesStore* store, const TFrameDevice* device);
  TControlStyles(TStylesStore* store, double scaleX, double scaleY);

  double ScaleX = 1, ScaleY = 1;
};

}  // namespace controls
