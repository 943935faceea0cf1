// Video frames on the device and their drawing.
#include "render3d/Dev3DYUV.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "foundation/kpExceptions.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"

namespace render3d {

// ---- plane textures ----

TYUVPlaneTexture::TYUVPlaneTexture(T3DScreen* screen, T3DYUV* owner, TTextureKind kind, int32_t width,
                                   int32_t height)
    : TCustomTexture(screen) {
  SetKind(kind);
  SetSize(width, height);
  Owner = owner;  // only now: setting kind and size releases the (absent) device texture
}

// The texels come only from LockPlane: a new device texture is not painted.
void TYUVPlaneTexture::Upload() { Filled = true; }

void TYUVPlaneTexture::ReleaseTexture() {
  TCustomTexture::ReleaseTexture();
  if (Owner) {
    Owner->ContentLost = true;
    if (Owner->OnContentLost) Owner->OnContentLost(Owner);
  }
}

// ---- T3DYUV ----

int32_t PaddedPlaneSize(int32_t n) {
  int32_t p = 1;
  while (p < n) p <<= 1;
  return std::min(n + 8, p);
}

T3DYUV::T3DYUV(T3DScreen* screen, bool planeMode, int32_t width, int32_t height, bool rgba)
    : RGBAMode(rgba), Width(width), Height(height) {
  PaddedWidth = PaddedPlaneSize(width);
  PaddedHeight = PaddedPlaneSize(height);
  auto make = [](TYUVPlaneTexture* t) {
    t->GetTexture();
    return t;
  };
  if (planeMode && !rgba) {
    PlaneY = static_cast<TVideoTexture*>(make(new TVideoTexture(screen, this, width, height)));
    // The chroma planes are locked over half the padded size, so they are
    // made that large: half the plain size is too small for sizes just
    // above a power of two (65 pads to 73, locks 36 columns, 32 is 2^5).
    PlaneU = static_cast<TVideoTexture*>(make(new TVideoTexture(screen, this, PaddedWidth / 2, PaddedHeight / 2)));
    PlaneV = static_cast<TVideoTexture*>(make(new TVideoTexture(screen, this, PaddedWidth / 2, PaddedHeight / 2)));
    GrayMode = false;
  } else if (rgba) {
    PlaneRGBA = static_cast<TRGBATexture*>(make(new TRGBATexture(screen, this, width, height)));
    GrayMode = false;
  } else {
    PlaneGray = static_cast<TGrayScaleTexture*>(make(new TGrayScaleTexture(screen, this, width, height)));
    GrayMode = true;
  }
}

TYUVPlaneTexture* T3DYUV::PlaneTexture(int32_t plane) const {
  switch (plane) {
    case kYUVPlaneY: return PlaneY;
    case kYUVPlaneU: return PlaneU;
    case kYUVPlaneV: return PlaneV;
    case kYUVPlaneGray: return PlaneGray;
    case kYUVPlaneRGBA: return PlaneRGBA;
    default: QEL_ASSERT(false, u"YUVImage: plane number out of range");
  }
  return nullptr;
}

imaging::TSysBitmap* T3DYUV::LockPlane(int32_t plane) {
  Lock();
  const TOnExit unlock([this] { Unlock(); });
  imaging::TSysBitmap* result = nullptr;
  {
    TYUVPlaneTexture* t = PlaneTexture(plane);
    if (t && t->GetTexture()) {
      int32_t w = PaddedWidth, h = PaddedHeight, pw = Width, ph = Height;
      if (plane == kYUVPlaneU || plane == kYUVPlaneV) {
        w /= 2;
        h /= 2;
        pw /= 2;
        ph /= 2;
      }
      // A plane without a padded border (a power-of-two size) in a larger
      // texture still needs one replicated column and row: the filter reads
      // them, and the texture's own edge is further out.
      if (plane <= kYUVPlaneV) {
        if (w == pw && w < t->TexWidth) ++w;
        if (h == ph && h < t->TexHeight) ++h;
      }
      imaging::TBitmap* b = t->LockLevel({0, 0, w, h}, 0);
      result = dynamic_cast<imaging::TSysBitmap*>(b);
      if (b && !result) t->Texture->GetSurface(0)->Unlock(b);
      if (result) ++LockCount;
    }
  }
  return result;
}

bool T3DYUV::UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) {
  Lock();
  const TOnExit unlock([this] { Unlock(); });
  bool ok = false;
  {
    QEL_ASSERT(LockCount >= 1, u"YUVImage: unlock without a lock");
    TYUVPlaneTexture* t = PlaneTexture(plane);
    if (bitmap && plane <= kYUVPlaneV) {
      int32_t w = Width, h = Height;
      if (plane != kYUVPlaneY) {
        w /= 2;
        h /= 2;
      }
      w = std::min(w, bitmap->Width);
      h = std::min(h, bitmap->Height);
      if (w > 0 && h > 0) {
        for (int32_t y = 0; y < h; ++y) {
          uint8_t* row = bitmap->Row(y);
          std::memset(row + w, row[w - 1], size_t(bitmap->Width - w));
        }
        // Whole rows: the corner below and right of the picture is read by
        // the filter as well, and row h - 1 already carries its padding.
        for (int32_t y = h; y < bitmap->Height; ++y) std::memcpy(bitmap->Row(y), bitmap->Row(h - 1), size_t(bitmap->Width));
      }
    }
    if (t && t->Texture) {
      imaging::TBitmap* b = bitmap;
      T3DSurface* s = t->Texture->GetSurface(0);
      ok = s && s->Unlock(b);
    }
    if (ok) --LockCount;
  }
  return ok;
}

void T3DYUV::FrameDone() {
  Lock();
  const TOnExit unlock([this] { Unlock(); });
  for (TYUVPlaneTexture* t : {static_cast<TYUVPlaneTexture*>(PlaneY), static_cast<TYUVPlaneTexture*>(PlaneU),
                              static_cast<TYUVPlaneTexture*>(PlaneV), static_cast<TYUVPlaneTexture*>(PlaneRGBA),
                              static_cast<TYUVPlaneTexture*>(PlaneGray)})
    if (t) t->GetReadyTexture();
}

void T3DYUV::ReleaseTextures() {
  Lock();
  while (LockCount > 0) Wait();
  auto drop = [](auto*& t) {
    if (!t) return;
    t->Owner = nullptr;  // going away on purpose: the content is not lost
    t->Free();
    t = nullptr;
  };
  drop(PlaneY);
  drop(PlaneU);
  drop(PlaneV);
  drop(PlaneRGBA);
  drop(PlaneGray);
  OnRemove = nullptr;
  Unlock();
}

void T3DYUV::Dispose() {
  QEL_ASSERT(LockCount == 0, u"YUVImage: disposed with locked planes");
  if (OnRemove) {
    auto remove = OnRemove;
    remove(this);
  }
  ReleaseTextures();
  foundation::TMonitor::Dispose();
}

// ---- the draw manager's part ----

T3DYUV* T3DDrawer::CreateYUVImage(int32_t width, int32_t height, bool rgba) {
  auto* image = new T3DYUV(Screen, CanDrawVideoPlanes(), width, height, rgba);
  image->OnRemove = [this](T3DYUV* i) {
    std::lock_guard<foundation::TCriticalSection> g(*Lock);
    YuvImages.erase(std::remove(YuvImages.begin(), YuvImages.end(), i), YuvImages.end());
  };
  std::lock_guard<foundation::TCriticalSection> g(*Lock);
  YuvImages.push_back(image);
  return image;
}

void T3DDrawer::ReleaseYuvImages() {
  std::vector<T3DYUV*> images;
  {
    std::lock_guard<foundation::TCriticalSection> g(*Lock);
    images.swap(YuvImages);
  }
  for (T3DYUV* i : images) i->ReleaseTextures();
}

bool T3DDrawer::CanDrawVideoPlanes() {
  return Screen && Screen->Renderer && GetShaderLevel() != 0 && Screen->Renderer->SupportsL8;
}

void T3DDrawer::DrawVideoFrame(T3DYUV* frame, T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY,
                               TVideoDrawParams p) {
  QEL_ASSERT(frame != nullptr, u"DrawVideoFrame: not a device video frame");
  QEL_ASSERT(p.Crop.Right > p.Crop.Left && p.Crop.Bottom > p.Crop.Top, u"DrawVideoFrame: empty crop");
  QEL_ASSERT(p.Deinterlace <= 2, u"DrawVideoFrame: deinterlace mode out of range");
  if (!IsReady()) return;
  const uint8_t a = TruncatedOpacityAlpha(p.Opacity);
  const uint32_t c = MakeARGB(a, 255, 255, 255);
  const TFloatRect chroma{p.Crop.Left / 2, p.Crop.Top / 2, p.Crop.Right / 2, p.Crop.Bottom / 2};
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, origin, axisX, axisY, foundation::CrossVectors3D(axisX, axisY));
  AddDrawnRect(origin, offset, axisX, axisY, p.Crop);
  T3DScreen::TEdgeMesh mesh;
  if (p.Perspective) Screen->BuildEdgeMesh(mesh, plane, offset, Camera, p.Crop, 15);
  T3DRenderer* r = Screen->Renderer;
  auto drawTextures = [&](std::span<TCustomTexture* const> textures, std::span<const TFloatRect> rects) {
    if (p.Perspective)
      Screen->DrawEdgeMesh(textures, mesh, c, c, c, c, 15);
    else
      Screen->DrawTextureQuad(textures, origin, offset, axisX, axisY, rects, c, c, c, c);
  };
  const bool usable = CanDrawVideoPlanes();

  if (usable && !frame->RGBAMode && frame->PlaneY && frame->PlaneU && frame->PlaneV) {
    static constexpr TPixelShaderId ids[2][2] = {{psColorGradeVideo, psColorGradeDeinter},
                                                 {psColorGradeChromaKey, psColorGradeChromaDeinter}};
    PushShader(Shaders[ids[p.ChromaKey ? 1 : 0][p.Deinterlace ? 1 : 0]]);
    try {
      const float h = float(frame->PlaneY->TexHeight);
      const float o0 = p.Deinterlace == 2 ? 1.0f : 0.0f, o1 = p.Deinterlace == 2 ? -1.0f : 0.0f;
      const float k = p.KeyTolerance > 0 ? 1 / p.KeyTolerance : 0;
      const float constants[5][4] = {
          {p.GradeMix, 0, 0, 0}, {h, 1 / h, 0, 0}, {o0, o1, 0, 0}, {p.KeyTolerance, k, 0, 0}, {p.KeyU, p.KeyV, 0, 0}};
      r->SetShaderConstants(0, {&constants[0][0], 20}, p.ChromaKey ? 5 : 3, false);
      r->SetTexture(3, p.GradeTable1 ? p.GradeTable1->GetTexture() : nullptr);
      r->SetTexture(4, p.GradeTable2 ? p.GradeTable2->GetTexture() : nullptr);
      TCustomTexture* t[3] = {frame->PlaneY, frame->PlaneU, frame->PlaneV};
      const TFloatRect rects[3] = {p.Crop, chroma, chroma};
      drawTextures(t, rects);
    } catch (...) {
      PushShader(nullptr);
      r->SetTexture(3, nullptr);
      r->SetTexture(4, nullptr);
      throw;
    }
    PushShader(nullptr);
    r->SetTexture(3, nullptr);
    r->SetTexture(4, nullptr);
    return;
  }
  TCustomTexture* single = frame->RGBAMode ? static_cast<TCustomTexture*>(frame->PlaneRGBA)
                                           : static_cast<TCustomTexture*>(frame->PlaneGray);
  if (!single) return;
  TCustomTexture* t[1] = {single};
  if (usable && frame->RGBAMode) {
    if (p.GradeMode != 0) {
      DrawGraded(p.GradeMode == 1 ? psColorGrading : psColorGradeLinear, p.GradeTable1, p.GradeTable2, p.GradeMix,
                 [&] { drawTextures(t, {&p.Crop, 1}); });
    } else {
      drawTextures(t, {&p.Crop, 1});
    }
    return;
  }
  // Packed gray frames, and RGBA frames on a device without plane drawing:
  // one flat quad whatever the perspective flag says.
  Screen->DrawTextureQuad(t, origin, offset, axisX, axisY, {&p.Crop, 1}, c, c, c, c);
}

}  // namespace render3d
