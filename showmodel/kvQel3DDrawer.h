// The show objects' draw manager on the screen: TQelDrawer over render3d's
// T3DDrawer. Objects fill their own records (kvQelDrawer.h); this adapter
// turns them into the draw manager's image, box and border records, wraps
// each object in a draw item (so blur and sharpening reach it) and makes the
// colour-grade textures on the drawer's screen.
#pragma once

#include "render3d/Dev3DDrawer.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DImages.h"
#include "showmodel/kvQelDrawer.h"
#include "showmodel/kvQelVideo.h"

namespace showmodel {

// The draw manager's image record for an object's record.
render3d::TImageDrawParams ToImageDrawParams(const TObjectDrawParams& Params);
// The draw manager's box record for an object's box record.
render3d::TBoxParams ToBoxParams(const TBoxDrawParams& Params);

// Video frames: a frame already on the device is drawn as it is; a frame in
// memory is copied into the adapter's own device frame first. Both go
// through the display's YUV table.
class TQel3DDrawer : public TQelDrawer, public TVideoFrameDrawer {
 public:
  // Holds a reference to the drawer.
  explicit TQel3DDrawer(render3d::T3DDrawer* Drawer);
  ~TQel3DDrawer() override;
  TQel3DDrawer(const TQel3DDrawer&) = delete;
  TQel3DDrawer& operator=(const TQel3DDrawer&) = delete;

  // Draws an object tree (a slide) as one frame in the view, over the
  // view cleared to Background (ARGB).
  bool DrawTree(TQelObject* Root, const render3d::TViewState& View, uint32_t Background);
  // A new draw item (one reference) that draws the object tree through this
  // adapter; a slide's item leads back to the slide for slide effects.
  render3d::TDrawItem* CreateItem(TQelObject* Object);

  bool IsReady() override;
  void DrawItemWithEffects(TQelObject* Item) override;
  void PrepareObjectTexture(imaging::TImage* Image, const TObjectDrawParams& Params) override;
  void DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D& Frame, TFloatPoint SourceOffset, T3DPoint AxisA,
                       T3DPoint AxisB, const TObjectDrawParams& Params) override;
  void DrawBox(T3DPoint Origin, T3DPoint EdgeA, T3DPoint EdgeB, const TBoxDrawParams& Params) override;
  void DrawFrameBorder(const TAffineFrame3D& Frame, TFloatPoint Position, TFloatPoint Width, TFloatPoint Size,
                       uint32_t Color, float Opacity, bool Antialiased) override;
  TColorGradeTexture* CreateColorGradeTexture(bool LookupVariant) override;
  // Shadows.
  void PrepareImageTexture(imaging::TImage* Image, const imaging::TImageDrawParams& Params) override;
  void DrawImage(imaging::TImage* Image, T3DPoint Origin, TFloatPoint Offset, T3DPoint XScale, T3DPoint YScale,
                 const imaging::TImageDrawParams& Params) override;
  void DrawVideoFrame(video::TYUVImage* Image, const TAffineFrame3D& Frame, TFloatPoint Position, T3DPoint AxisA,
                      T3DPoint AxisB, const TVideoDrawParams& Params) override;

  render3d::T3DDrawer* Drawer = nullptr;  // one reference

 private:
  // The device frame of the frame in memory; false when it cannot be held.
  render3d::T3DYUV* UploadFrame(video::TMemoryYUVImage* Image);
  render3d::T3DYUV* Upload = nullptr;                      // owned
  render3d::TCustomColorGradeTexture* YuvTable = nullptr;  // owned
};

// One object as a draw item of the draw manager: its blur and change state,
// drawn back through an adapter. An item made without an adapter (a slide
// drawn by the player's root item, the effect slide of a transition) makes
// its own for the draw manager it is drawn with. Slide effects find the
// slide behind such an item.
class TQelObjectItem : public render3d::TDrawItem {
 public:
  QEL_CLASSNAME(TQelObjectItem)
  // The object is not referenced: its owner outlives the item.
  TQelObjectItem(TQelObject* aObject, TQel3DDrawer* aOwner) : Object(aObject), Owner(aOwner) {}
  void Dispose() override;
  bool IsChanged() override;
  float GetBlurAmount() override;
  void Draw(render3d::T3DDrawer* D) override;

  TQelObject* Object;
  TQel3DDrawer* Owner;
  bool Clear = false;
  uint32_t Background = 0;

 private:
  TQel3DDrawer* AdapterFor(render3d::T3DDrawer* D);
  TQel3DDrawer* OwnAdapter = nullptr;
};

// Start-up: installs the object filters as the grade textures' filter
// chain, the ways between slides and draw items for slide effects, and the
// viewports' drawing through the draw manager's mask pass.
void InitQel3DDrawer();
// Takes them out again.
void DoneQel3DDrawer();

}  // namespace showmodel
