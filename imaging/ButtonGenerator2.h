// Show buttons composed from skins: a "btn.ini" cuts nine parts (corners,
// edges, centre) out of the skin images for each of three states, and a
// button of any width is made by stretching the edges and the centre
// horizontally. Buttons are named by "Button: " keys. Skin images are shared
// by every producer through one process-wide cache.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/kvIni.h"
#include "foundation/kvLists.h"
#include "foundation/kvStream.h"
#include "imaging/kvImage.h"

namespace imaging {

extern const char16_t ButtonSkinFileName[];  // "btn.ini"

struct TBtnIniString {
  std::u16string ImageName;
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

enum TButtonPart : int32_t {
  bpLeftTop, bpTop, bpRightTop, bpRight, bpRightBottom, bpBottom, bpLeftBottom, bpLeft, bpCenter
};

// Reads a colour text of the skin INI (0xAARRGGBB); filled by the text
// library, which knows the colour forms. Without it the default stays.
using TButtonColorReader = uint32_t (*)(const foundation::TIniItem* Item, uint32_t Default);
extern TButtonColorReader ButtonColorReaderHook;
// Renders a one-line error text as an image (yellow on blue); filled by the
// text library. Without it the error image is an opaque blue pixel named by
// the text.
using TButtonErrorImageHook = TImage* (*)(const std::u16string& Text);
extern TButtonErrorImageHook ButtonErrorImageHook;

struct TButtonKey {
  std::u16string SkinName;
  uint8_t State = 0;
  int32_t Width = 0, Hue = 0, Saturation = 0, Lightness = 0;
};
std::u16string BuildButtonKey(const std::u16string& SkinName, uint8_t State, int32_t Width, int32_t Hue,
                              int32_t Saturation, int32_t Lightness);
void ParseButtonKey(const std::u16string& Text, TButtonKey& Key);

class TButtonProducer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TButtonProducer)
  using TLoadImage = std::function<TImage*(const std::u16string& Name)>;
  using TProgress = std::function<void(void* Sender, bool& Abort)>;

  void LoadSkin(foundation::TStream* Stream, const std::u16string& SkinName);
  TImage* GenerateButton(uint8_t State, int32_t Width, int32_t Hue, int32_t Saturation, int32_t Lightness);
  TImage* ComposeButton(uint8_t State, int32_t Width, int32_t Hue, int32_t Saturation, int32_t Lightness);
  TImage* CreateErrorImage(const std::u16string& Text);

  std::array<TBtnIniString, 27> Parts;
  uint8_t TextColor[3] = {0, 0, 0};  // red, green, blue
  float BtnOffset = 0;
  float BtnMinWidth = 0;
  uint8_t Filtering = 2;  // 0 Nearest, 1 Bilinear, 2 Default
  TSize SkinSize;
  std::u16string SkinName;
  bool Loaded = false;
  TLoadImage LoadImage;
  TProgress Progress;
};

class TButtonProducerHost : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TButtonProducerHost)
  TButtonProducerHost(TButtonProducer::TLoadImage LoadImage, TButtonProducer::TProgress Progress);
  void Dispose() override;
  // The producer of that skin (searched from the end), or a new one appended.
  TButtonProducer* GetProducer(const std::u16string& SkinName);

  foundation::TList* Producers = nullptr;
  TButtonProducer::TLoadImage LoadImage;
  TButtonProducer::TProgress Progress;
};

// The process-wide cache of skin images (skin name + "\" + image name).
void InitButtonGenerator();
void DoneButtonGenerator();
int32_t ButtonImageCacheCount();

}  // namespace imaging
