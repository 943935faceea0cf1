// The form the drawn-form tests draw through both back ends, and the
// channel comparison they share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "imaging/SysBitmapStore.h"
#include "render3d/kvDrawForm.h"
#include "render3d/kvImageText.h"

namespace render3d_test {

constexpr int32_t kSampleW = 96, kSampleH = 80;

// A picture of w x h, 24 or 32 bits: (R, G, B) = (x * 255 / (w - 1), y *
// 255 / (h - 1), 90); with alpha, the alpha falls from 255 on the left to 0
// on the right.
inline imaging::TImage* Picture(int32_t w, int32_t h, bool alpha) {
  auto* b = imaging::CreateSysBitmap(w, h, alpha ? imaging::pfA8R8G8B8 : imaging::pfR8G8B8);
  const int32_t bpp = alpha ? 4 : 3;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = b->Row(y) + x * bpp;
      p[0] = 90;
      p[1] = uint8_t(y * 255 / (h - 1));
      p[2] = uint8_t(x * 255 / (w - 1));
      if (alpha) p[3] = uint8_t(255 - x * 255 / (w - 1));
    }
  return imaging::WrapBitmapAsImage(b, true, alpha ? u"alpha" : u"plain");
}

// The form both back ends draw: a background, an opaque and a translucent
// fill, a picture at 1:1, the same picture at half opacity, a picture with
// alpha, fills and pictures clipped by the paint's clip rectangle, and a
// line of text in the surface's default font at kTextAt.
inline constexpr foundation::TPoint kTextAt{3, 62};

class TSampleForm : public render3d::TDrawForm {
 public:
  explicit TSampleForm(bool accelerated) : TDrawForm(accelerated) {}
  void Dispose() override {
    Plain->Free();
    Alpha->Free();
    if (Text) Text->Free();
    TDrawForm::Dispose();
  }
  void PaintSurface(render3d::TDevDrawSurface* s) override {
    ++Paints;
    if (!Text) Text = s->CreateTextElement(u"Hello", 1, 5, s->DefaultFont, 0);
    s->FillRect(foundation::TRect{0, 0, kSampleW, kSampleH}, 0xFF203040);
    s->FillRect(foundation::TRect{2, 2, 20, 12}, 0xFFF0E0D0);
    s->FillRect(foundation::TRect{10, 6, 40, 20}, 0x80FFFF00);
    s->DrawImageAt(Plain, foundation::TRect{0, 0, kSampleW, kSampleH}, 44, 2);
    render3d::TSurfaceTransform half;
    render3d::InitSurfaceTransform(half);
    half.Opacity = 0.5f;
    render3d::OffsetSurfaceTransform(half, 44, 22);
    s->DrawImageTransformed(Plain, foundation::TRect{0, 0, kSampleW, kSampleH}, half);
    render3d::FreeSurfaceTransformCache(half);
    s->DrawImageAt(Alpha, foundation::TRect{0, 0, kSampleW, kSampleH}, 4, 24);
    // Clipped: only the left half of the picture shows.
    s->DrawImageAt(Plain, foundation::TRect{0, 44, 58, kSampleH}, 44, 44);
    s->DrawText(Text, kTextAt, foundation::TRect{0, 0, kSampleW, kSampleH});
  }
  text::TTextElement* Text = nullptr;
  imaging::TImage* Plain = Picture(28, 16, false);
  imaging::TImage* Alpha = Picture(32, 24, true);
  int32_t Paints = 0;
};

// The largest difference of the colour channels of two 0x00RRGGBB pixels.
inline int ChannelDiff(uint32_t a, uint32_t b) {
  int m = 0;
  for (int shift : {0, 8, 16}) m = std::max(m, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
  return m;
}

}  // namespace render3d_test
