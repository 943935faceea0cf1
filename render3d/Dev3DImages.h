// The draw records of the draw manager's single-quad drawing: an image with
// its draw parameters, a video frame, and a filled box. The drawing calls
// themselves are members of T3DDrawer (Dev3DDrawer.h) and live in
// Dev3DImages.cpp.
//
// Geometry is given the same way by every call: an origin, an offset (the
// anchor inside the rectangle) and two axis vectors (one unit of the
// rectangle along each axis); the point (x, y) of the rectangle lands at
// origin + axisX * (x - offset.x) + axisY * (y - offset.y).
#pragma once

#include <cstdint>

#include "render3d/Dev3DScreen.h"

namespace render3d {

struct TImageDrawParams {
  uint8_t Perspective = 0;    // draw through the edge mesh (antialiased edges)
  uint8_t Premultiplied = 0;  // the texels carry premultiplied alpha
  float Opacity = 100.0f;     // percent
  uint8_t Filter = 2;         // 0: point filtering; anything else: linear
  TFloatRect Crop{0, 0, 0, 0};  // full-size image pixels; empty: the whole image
  uint8_t Tinted = 0;
  uint8_t TintBlue = 255, TintGreen = 255, TintRed = 255;
  int32_t Level = 0;  // the texture is made from the image reduced by 2^Level
  float LodBias = 0;
  uint8_t Atlas = 0;
  int32_t AtlasColumns = 1, AtlasRows = 1;
  uint32_t EdgeColor = 0xFFFFFFFFu;
  float GradeMix = 0;
  TCustomColoringTexture* GradeTable1 = nullptr;  // stage 1; not owned
  TCustomColoringTexture* GradeTable2 = nullptr;  // stage 2; not owned
  uint8_t GradeMode = 0;  // 0 none, 1 volume tables, other: per-channel tables
};
inline constexpr TImageDrawParams DefaultImageDrawParams{};

struct TVideoDrawParams {
  float Opacity = 100.0f;  // percent
  uint8_t Perspective = 0;
  uint8_t Deinterlace = 0;  // 0 none, 1 line offsets (0, 0), 2 line offsets (1, -1)
  TFloatRect Crop{0, 0, 0, 0};  // luma pixels; never empty
  uint8_t ChromaKey = 0;
  float KeyU = 0, KeyV = 0;  // 0..1
  float KeyTolerance = 0;
  float GradeMix = 0;
  // Plane frames: the YUV-to-RGB volume tables on stages 3 and 4. RGBA
  // frames: grade tables on stages 1 and 2 by GradeMode.
  TCustomColoringTexture* GradeTable1 = nullptr;
  TCustomColoringTexture* GradeTable2 = nullptr;
  uint8_t GradeMode = 0;
};

struct TBoxParams {
  uint8_t EdgeLeft = 0, EdgeTop = 0, EdgeRight = 0, EdgeBottom = 0;  // antialias that edge
  uint8_t FillMode = 8;  // 0..8: diagonals, vertical and horizontal gradients, solid
  uint32_t Color1 = 0xFF000000u, Color2 = 0xFF000000u;  // ARGB
  float Width = 1.0f, Height = 1.0f;                    // in axis units
  float Opacity = 100.0f;                               // percent
};
inline constexpr TBoxParams DefaultBoxParams{};

// The alpha of the attached-texture and video paths: the opacity times 2.55
// truncated in double precision, so 100 gives 254.
uint8_t TruncatedOpacityAlpha(double opacity);
// The alpha of the cached-texture path: rounded and clamped, 100 gives 255.
int32_t RoundedOpacityAlpha(double opacity);

}  // namespace render3d
