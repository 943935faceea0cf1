// The object kinds drawn from pictures and rectangles: the image (a picture
// or a sprite animation from a grid of frames, with border, crop and the
// aspect window of the Frame parameter group, a drop shadow and texture
// levels chosen from the largest on-screen size) and the box (solid or
// gradient rectangle, also the frame and the splitter that ends a slide's
// background objects); and the object factory that makes the kinds by type
// code.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/ShadowGenerator2.h"
#include "imaging/kvImage.h"
#include "imaging/kvImageAnimation.h"
#include "showmodel/kvQelObject.h"

namespace showmodel {

inline constexpr int32_t ImageIndexAbsent = -2147483647;

class TQelImage : public TQelObject {
 public:
  QEL_CLASSNAME(TQelImage)
  void Dispose() override;
  bool IsChanged() override;
  void UpdateTransform(bool Recurse) override;
  void DrawContent(TQelDrawer* Drawer) override;
  imaging::TSysBitmap* GetColorGradeSource() override { return ProfileLut; }
  void LoadKeys(TQelObjectProps* P, bool Reload) override;
  void InitDefaults() override;
  TFloatPoint GetContentSize() override;
  void Preload(TQelDrawer* Drawer) override;
  void CommitFrameState(bool Recurse) override;
  virtual void FillDrawParams(TObjectDrawParams& Params, TQelDrawer* Drawer);
  virtual void LoadImageHandle();
  virtual float GetDrawOpacity() { return GetOpacity(); }

  // Setters: each sets the first change flag when the value changes.
  void SetAntialiased(bool Value);
  void SetFiltering(uint8_t Value);
  void SetMipLodBias(float Value);
  void SetBorderParams(const TObjectFrameParams& Value);
  void SetAnimParams(const imaging::TImageAnimationParams& Value);
  void SetImageName(const std::u16string& Value);
  void SetRestoreAlpha(bool Value);

  // The animation frame shown at the properties' evaluation time.
  int32_t CurrentFrame();
  bool Animated() const { return AnimParams.Enable; }
  // The grid with columns and rows below 1 counted as 1.
  int32_t Columns() const { return AnimParams.Columns < 1 ? 1 : AnimParams.Columns; }
  int32_t Rows() const { return AnimParams.Rows < 1 ? 1 : AnimParams.Rows; }
  // The picture's resource name as the accessor is asked for it.
  std::u16string PictureName();
  // The name the shadow finds the picture under (its alpha shapes the
  // shadow): the picture's resource name, or the key a generated picture
  // was asked for by.
  virtual std::u16string ShadowSourceName() { return PictureName(); }

  imaging::TShadow* Shadow = nullptr;
  bool ShadowDirty = false;
  uint8_t EffectBufferNo = 0;
  bool RestoreAlpha = false;
  bool Antialiased = true;
  uint8_t Filtering = flDefault;
  int32_t MipLevel = 0;
  float MipLodBias = -0.5f;
  int32_t FrameIndex = 0;
  int32_t ImageIndex = ImageIndexAbsent;
  TFloatRect BaseContentRect;
  int32_t MinMipLevel = -1;
  imaging::TSysBitmap* ProfileLut = nullptr;
  std::u16string ImageName;
  imaging::TImage* Image = nullptr;
  imaging::TImage* PreviousImage = nullptr;
  imaging::TImageAnimationParams AnimParams;

 protected:
  void DropPicture();
  void RecalcGeometry();
  void UpdateShadow();
  void ChooseTextureLevel(TFloatPoint PictureSize);
  // The size factor of the shadow picture.
  virtual float ShadowSizeFactor(int32_t Level);
  imaging::TShadowImageLoader ShadowLoader();
};

// A skinned push button: the picture of its state (normal, hover, pressed)
// is generated from the theme's skin through a "Button: " name.
class TQelButton : public TQelImage {
 public:
  QEL_CLASSNAME(TQelButton)
  void Dispose() override;
  void UpdateTransform(bool Recurse) override;
  void LoadKeys(TQelObjectProps* P, bool Reload) override;
  void InitDefaults() override;
  void Preload(TQelDrawer* Drawer) override;
  void LoadImageHandle() override;
  float GetDrawOpacity() override { return GetOpacity() * BtnOpacity / 100; }

  // A new state reloads the picture at once.
  void SetState(uint8_t Value);
  // Compared without regard to case; a different name loads the theme.
  void SetTheme(const std::u16string& Value);
  void SetHue(int32_t Value);
  void SetSaturation(int32_t Value);
  void SetLightness(int32_t Value);
  // The width for a caption of that width / height (nothing without a
  // caption or a height).
  void UpdateButtonWidth(double CaptionAspect);

  bool PictureDirty = false;
  std::u16string Theme;
  int32_t ButtonWidth = 0, ButtonHeight = 0;
  imaging::TImage* NormalPicture = nullptr;
  imaging::TImage* HoverPicture = nullptr;
  imaging::TImage* PressedPicture = nullptr;
  uint8_t State = 0;
  float BtnOpacity = 100;
  float BtnOffsetX = 100;
  float BtnMinWidth = 0;
  int32_t Hue = 0, Saturation = 0, Lightness = 0;
  TQelObject* Caption = nullptr;  // the caption text child; not counted

 protected:
  float ShadowSizeFactor(int32_t Level) override;
  // A button's picture is generated from its button key.
  std::u16string ShadowSourceName() override;

 private:
  void LoadTheme();
};

class TQelBox : public TQelObject {
 public:
  QEL_CLASSNAME(TQelBox)
  void Dispose() override;
  void DrawContent(TQelDrawer* Drawer) override;
  void LoadKeys(TQelObjectProps* P, bool Reload) override;
  void Preload(TQelDrawer* Drawer) override;
  TBoxDrawParams MakeBoxParams(TQelDrawer* Drawer);
  bool IsInvisible();

  imaging::TShadow* Shadow = nullptr;
  uint8_t FillMode = 0;  // 0 Solid, 1 HGradient, 2 VGradient, 3 TLBRGradient, 4 TRBLGradient
  imaging::TFColor Color1{0, 0, 0};
  uint8_t Alpha1 = 255;
  imaging::TFColor Color2{0, 0, 0};
  uint8_t Alpha2 = 255;
  uint32_t Color1Display = 0xFF000000, Color2Display = 0xFF000000;
  bool Antialiased = false;
  TBoxDrawParams BoxParams;

 private:
  void UpdateShadow();
};

}  // namespace showmodel
