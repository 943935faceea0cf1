// The first byte chooses the key kind; the rest is the key text (each byte one
// UTF-16 unit). A key read back from the text it builds must build that same
// text again, and small shadows and masks render without fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/Startup.h"
#include "imaging/MaskGenerator.h"
#include "imaging/ShadowGenerator2.h"

using namespace imaging;

QEL_FUZZ_TARGET(data, size) {
  static bool started = (StartImaging(), true);
  (void)started;
  if (size < 1) return 0;
  const std::u16string text(data + 1, data + size);
  switch (data[0] % 3) {
    case 0: {
      TShadowParams p;
      ParseShadowKey(text, p);
      const std::u16string once = GetShadowResourceKey(p);
      TShadowParams q;
      ParseShadowKey(once, q);
      TShadowParams r;
      const std::u16string twice = GetShadowResourceKey(q);
      ParseShadowKey(twice, r);
      fuzzing::Check(GetShadowResourceKey(r) == twice);
      const double w = double(p.Rect.Right) - p.Rect.Left + 2.0 * p.Margin.X;
      const double h = double(p.Rect.Bottom) - p.Rect.Top + 2.0 * p.Margin.Y;
      if (w * h <= 1024 && w <= 64 && h <= 64 && std::fabs(p.ShadowSize) <= 16) {
        auto* gen = new TShadowGenerator({});
        TImage* img = gen->GenerateShadowImage(p, {});
        if (img) img->Free();
        gen->Free();
      }
      break;
    }
    case 1: {
      TMaskParams p;
      ParseMaskKey(text, p);
      TMaskParams q;
      ParseMaskKey(BuildPresetMaskKey(p), q);
      fuzzing::Check(q.Width == p.Width && q.Height == p.Height && q.Kind == p.Kind);
      if (int64_t(p.Width) * p.Height <= 1024) {
        auto* gen = new TMaskGenerator({});
        TImage* img = GenerateMaskImage(gen, p);
        if (img) img->Free();
        gen->Free();
      }
      break;
    }
    default: {
      TButtonKey k;
      ParseButtonKey(text, k);
      if (k.SkinName.find(u':') == std::u16string::npos) {
        TButtonKey j;
        ParseButtonKey(BuildButtonKey(k.SkinName, k.State, k.Width, k.Hue, k.Saturation, k.Lightness), j);
        fuzzing::Check(j.SkinName == k.SkinName && j.State == k.State && j.Width == k.Width && j.Hue == k.Hue &&
                       j.Saturation == k.Saturation && j.Lightness == k.Lightness);
      }
      break;
    }
  }
  return 0;
}
