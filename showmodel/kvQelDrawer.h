// What show objects need of the draw manager: the drawing calls with their
// parameter records, texture preparation, colour-grade lookup textures and
// the camera geometry shared by drawing and hit testing. The draw manager of
// the screen implements it; tests record the calls.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/ShadowGenerator2.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"
#include "render3d/Dev3DScreen.h"

namespace showmodel {

using foundation::T3DPoint;
using foundation::TAffineFrame3D;
using foundation::TFloatPoint;
using foundation::TFloatRect;

class TObjectFilter;
class TQelObject;

// The camera geometry is the screen's: drawing, hit testing, side
// visibility and extents share its one camera distance factor.
using render3d::CameraFactor;
using render3d::IsBehindPlane;
using render3d::ProjectPoint;
using render3d::ScreenPointToPlane;

// A colour-grade lookup texture of a device: the filter variant grades a
// volume table through a filter chain; the lookup-bitmap variant starts from
// a given table (a picture's colour-profile table) and grades that.
class TColorGradeTexture : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TColorGradeTexture)
  bool LookupVariant = false;
  imaging::TSysBitmap* Lookup = nullptr;  // not owned
  // Refills the texture from the lookup table and the chain.
  virtual void SetSource(TObjectFilter* Source) = 0;
};

enum : uint8_t { gmNone = 0, gmLookup = 1, gmFilter = 2 };

struct TColorGradeRecord {
  float Fraction = 0;
  TColorGradeTexture* TextureA = nullptr;  // not counted: the object's wrappers hold them
  TColorGradeTexture* TextureB = nullptr;
  uint8_t Mode = gmNone;
};

enum : uint8_t { flNearest = 0, flBilinear = 1, flDefault = 2 };

struct TObjectDrawParams {
  bool Antialiased = false;
  bool Premultiplied = false;
  float Opacity = 100;
  uint8_t Filtering = flDefault;
  bool HasCrop = false;
  TFloatRect Crop;
  uint32_t Tint = 0xFFFFFFFF;  // ARGB
  uint8_t TintValid = 0;
  int32_t MipLevel = 0;
  float MipBias = 0;
  bool Animated = false;
  int32_t GridColumns = 1, GridRows = 1;
  uint32_t BorderColor = 0xFFFFFFFF;
  TColorGradeRecord Grade;
};

// Fill modes of a box: gradients 0 (top-left to bottom-right), 1 (top-right
// to bottom-left), 5 (vertical), 6 (horizontal); 8 solid.
struct TBoxDrawParams {
  bool EdgeAntialias[4] = {false, false, false, false};
  uint8_t FillMode = 8;
  uint32_t Color1 = 0xFF000000, Color2 = 0xFF000000;  // ARGB
  float ScaleX = 1, ScaleY = 1;
  float Opacity = 100;
};

class TQelDrawer : public imaging::IShadowDrawer {
 public:
  // The drawer has a screen that can draw.
  virtual bool IsReady() = 0;
  // Draws the item with its blur (positive) or sharpening (negative).
  virtual void DrawItemWithEffects(TQelObject* Item) = 0;
  virtual TObjectDrawParams DefaultDrawParams() { return {}; }
  virtual TBoxDrawParams BoxTemplate() { return {}; }
  virtual void PrepareObjectTexture(imaging::TImage* Image, const TObjectDrawParams& Params) = 0;
  virtual void DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D& Frame, TFloatPoint SourceOffset,
                               T3DPoint AxisA, T3DPoint AxisB, const TObjectDrawParams& Params) = 0;
  virtual void DrawBox(T3DPoint Origin, T3DPoint EdgeA, T3DPoint EdgeB, const TBoxDrawParams& Params) = 0;
  virtual void DrawFrameBorder(const TAffineFrame3D& Frame, TFloatPoint Position, TFloatPoint Width,
                               TFloatPoint Size, uint32_t Color, float Opacity, bool Antialiased) = 0;
  // A new colour-grade texture of the drawer's device (one reference).
  virtual TColorGradeTexture* CreateColorGradeTexture(bool LookupVariant) = 0;
};

}  // namespace showmodel
