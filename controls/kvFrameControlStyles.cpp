#include "controls/kvFrameControlStyles.h"

#include "controls/kvDrawFrames.h"

namespace controls {

using foundation::TByteString;

uint32_t MixARGB(uint32_t a, uint32_t b, int32_t w) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int32_t ca = int32_t(a >> shift & 255), cb = int32_t(b >> shift & 255);
    result |= uint32_t(ca + (cb - ca) * w / 256) << shift;
  }
  return result;
}

TColorStyles::TColorStyles(TStylesStore* store, float scale) : Store(store) {
  const TByteString defaultName = TByteString::FromBytes("default"), txt = TByteString::FromBytes("txt");
  DefState = store->GetStateByName(defaultName, u"def", scale);
  TextState = store->GetStateByName(txt, u"def", scale);
  SelState = store->GetStateByName(txt, u"sel", scale);
  InfoState = store->GetStateByName(defaultName, u"info", scale);
  DefFill = DefState->FoneColor;
  TextFill = TextState->FoneColor;
  SelFill = SelState->FoneColor;
  DefFrame = DefState->FrameColor;
  TextFrame = TextState->FrameColor;
  SelFrame = SelState->FrameColor;
  Light3D = store->GetColor(TByteString::FromBytes("3DLight"), 0);
  HiLight3D = store->GetColor(TByteString::FromBytes("3DHiLight"), 0);
  Shadow3D = store->GetColor(TByteString::FromBytes("3DShadow"), 0);
  DkShadow3D = store->GetColor(TByteString::FromBytes("3DDkShadow"), 0);
  InfoFill = InfoState->FoneColor;
  DialogFill = store->GetStateByName(defaultName, u"dlg", scale)->FoneColor;
  AltFill = store->Blend(store->IsDark ? -0.2f : 0.2f);
  SelTint = store->IsDark ? store->Blend(0.5f) : MixARGB(SelFill, DefFill, 96);
  Accent = MixARGB(SelFill, DefFrame, 96);
  DefFont = DefState->Font;
  TextFont = TextState->Font;
  SelFont = SelState->Font;
  AccentFont1 = DefFont;
  AccentFont1.Color = text::ARGBToFColor(Accent);
  AccentFont1.BgColor = text::ARGBToFColor(DialogFill);
  AccentFont2 = DefFont;
  AccentFont2.Color = text::ARGBToFColor(Accent);
}

TControlStyles::TControlStyles(TStylesStore* store, double scaleX, double scaleY)
    : TColorStyles(store, float(scaleX)), ScaleX(scaleX), ScaleY(scaleY) {}

TControlStyles::TControlStyles(TStylesStore* store, const TFrameDevice* device)
    : TControlStyles(store, double(device->DpiX) / 96.0, double(device->DpiY) / 96.0) {}

}  // namespace controls
