// Screen textures, colouring textures and shaders.
#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kvBitUtils.h"
#include "foundation/kvLog.h"
#include "imaging/SysBilinearUtils.h"
#include "imaging/kvPixelFormat.h"
#include "render3d/Dev3DScreen.h"

namespace render3d {

namespace {
void Log(const std::u16string& text) { foundation::GetLog()->Add(text); }
std::u16string Num(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
}  // namespace

int32_t GetTextureExtent(int32_t n, double& reciprocal) {
  int32_t e = foundation::NextPowerOfTwo(n);
  if (e <= 0) {
    reciprocal = 0.0;
    return e;
  }
  e = std::max(e, 32);
  reciprocal = 1.0 / e;
  return e;
}

void HalveBitmap(imaging::TSysBitmap* src, imaging::TSysBitmap* dst) {
  QEL_ASSERT(src && dst, u"HalveBitmap: bitmaps missing");
  QEL_ASSERT(src->PixelFormat == dst->PixelFormat &&
                 (src->PixelFormat->Name == "A8R8G8B8" || src->PixelFormat->Name == "A8r8g8b8"),
             u"HalveBitmap: pixel formats");
  if (dst->Width * 2 == src->Width && dst->Height * 2 == src->Height) {
    for (int32_t y = 0; y < dst->Height; ++y) {
      const uint8_t* a = src->Row(2 * y);
      const uint8_t* b = src->Row(2 * y + 1);
      uint8_t* d = dst->Row(y);
      for (int32_t x = 0; x < dst->Width; ++x)
        for (int c = 0; c < 4; ++c) {
          size_t i = size_t(x) * 8 + c;
          d[size_t(x) * 4 + c] = uint8_t((a[i] + a[i + 4] + b[i] + b[i + 4]) >> 2);
        }
    }
    return;
  }
  imaging::TBitmapParams s, d;
  imaging::GetSysBitmapParams(s, src);
  imaging::GetSysBitmapParams(d, dst);
  imaging::ResampleBilinear32(d, s);
}

// ---- TCustomTexture ----

TCustomTexture::TCustomTexture(T3DScreen* screen) : Screen(screen) {
  QEL_ASSERT(screen != nullptr, u"TCustomTexture: no screen");
  Screen->AddResource(this);
}

void TCustomTexture::Dispose() {
  ReleaseTexture();
  if (Screen) Screen->RemoveResource(this);
  Screen = nullptr;
  TRefObject::Dispose();
}

void TCustomTexture::SetSize(int32_t width, int32_t height) {
  if (width == Width && height == Height) return;
  ReleaseTexture();
  Width = width;
  Height = height;
  TexWidth = GetTextureExtent(width, ScaleU);
  TexHeight = GetTextureExtent(height, ScaleV);
}

void TCustomTexture::SetKind(TTextureKind kind) {
  ReleaseTexture();
  Kind = kind;
}

void TCustomTexture::SetPremultiplied(bool value) {
  Premultiplied = value;
  if (Texture) Texture->Premultiplied = value;
}

void TCustomTexture::SetMipmapped(bool value) {
  if (value == Mipmapped) return;
  if (!MipRequested && Filled) ReleaseTexture();
  MipRequested = MipRequested || value;
  Mipmapped = value;
}

void TCustomTexture::ReleaseTexture() {
  Filled = false;
  if (Texture) {
    T3DTexture* t = Texture;
    Texture = nullptr;
    t->OnRelease = nullptr;
    t->Free();
  }
}

T3DTexture* TCustomTexture::GetTexture() {
  if (!Texture && TexWidth > 0 && TexHeight > 0) {
    if (!Screen || !Screen->IsReady()) return nullptr;
    T3DRenderer* r = Screen->Renderer;
    Texture = r->CreateTexture(Kind, TexWidth, TexHeight, Mipmapped);
    if (Texture) Texture->Premultiplied = Premultiplied;
    bool target = Kind == tkTargetXrgb || Kind == tkTargetArgb;
    if (target) foundation::GetLog()->AddBool(u"Rt Create First Attempt Ok= ", Texture != nullptr, u"");
    if (!Texture && target && r->LastResult == rcOutOfVideoMemory) RetryRenderTarget();
    Filled = false;
    if (Texture) Texture->OnRelease = [this] { ReleaseTexture(); };
  }
  if (Texture && !Filled) Upload();
  return Texture;
}

// Releases the managed textures of the screen, newest half first, then the
// next quarter and so on, trying again after each step. The walk ends when
// the halving reaches 0, so the oldest texture is released too, also when
// the count is a power of two.
void TCustomTexture::RetryRenderTarget() {
  std::vector<TCustomTexture*> managed;
  for (TRefObject* o : Screen->ResourcesSnapshot())
    if (auto* t = dynamic_cast<TCustomTexture*>(o))
      if (t->Kind == tkArgb || t->Kind == tkLuminance) managed.push_back(t);
  const int32_t n = static_cast<int32_t>(managed.size());
  Log(u"tmpTexListcount= " + Num(n));
  T3DRenderer* r = Screen->Renderer;
  for (int32_t c = 1; !Texture && r; ++c) {
    int32_t hi = (n >> (c - 1)) - 1, lo = n >> c;
    if ((n >> (c - 1)) == 0) break;
    for (int32_t i = hi; i >= lo; --i) managed[size_t(i)]->ReleaseTexture();
    Texture = r->CreateTexture(Kind, TexWidth, TexHeight, Mipmapped);
    if (Texture) Texture->Premultiplied = Premultiplied;
    Log(u"Released Managed Texs from " + Num(hi) + u" to " + Num(lo) + u"; Rt Create " + Num(c) +
        u"nd Attempt Ok= " + (Texture ? u"True" : u"False"));
    r = Screen->Renderer;
  }
}

imaging::TBitmap* TCustomTexture::LockLevel(const TRect& rect, int32_t level) {
  int32_t tw = std::max(TexWidth >> level, 1), th = std::max(TexHeight >> level, 1);
  TRect r{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, tw), std::min(rect.Bottom, th)};
  if (r.Right <= r.Left || r.Bottom <= r.Top || !Texture) return nullptr;
  // Locks are top-down: row 0 of the lock is the row texture coordinate 0
  // addresses, so no rows are turned over.
  T3DSurface* s = Texture->GetSurface(level);
  return s ? s->Lock(r, false) : nullptr;
}

void TCustomTexture::Upload() {
  if (Filled) return;
  Filled = true;
  if (IsRenderTarget() || !Texture) return;
  int32_t levels = Texture->GetLevelCount();
  QEL_ASSERT(levels <= 16, u"TCustomTexture.Upload: too many levels");
  std::vector<imaging::TBitmap*> locked;
  std::vector<T3DSurface*> surfaces;
  // Released after the levels are unlocked, however the upload ends.
  TRef<TSysBitmapPrem> prem;
  try {
    for (int32_t i = 0; i < levels; ++i) {
      int32_t wi = std::max(Width >> i, 1), hi = std::max(Height >> i, 1);
      imaging::TBitmap* b = LockLevel({0, 0, wi, hi}, i);
      if (!b) {
        Filled = false;
        break;
      }
      locked.push_back(b);
      surfaces.push_back(Texture->GetSurface(i));
      auto* sys = static_cast<imaging::TSysBitmap*>(b);
      if (i == 0) {
        if (Premultiplied) {
          QEL_ASSERT(sys->BytesPerPixel() == 4, u"TCustomTexture.Upload: premultiplied upload needs 32 bits");
          prem = MakeRef<TSysBitmapPrem>(imaging::TSize{sys->Width, sys->Height}, imaging::PixelFormatByName(u"A8r8g8b8"),
                                         sys->ScanLines(), sys->Pitch);
          Paint(prem.Get());
        } else {
          Paint(sys);
        }
      } else {
        HalveBitmap(static_cast<imaging::TSysBitmap*>(locked[size_t(i) - 1]), sys);
      }
    }
  } catch (...) {
    Filled = false;
    for (size_t i = locked.size(); i-- > 0;) surfaces[i]->Unlock(locked[i]);
    throw;
  }
  for (size_t i = locked.size(); i-- > 0;) surfaces[i]->Unlock(locked[i]);
}

T3DTexture* TCustomTexture::GetReadyTexture() {
  T3DTexture* t = GetTexture();
  if (t) t->Update();
  return t;
}

void TCustomTexture::SetTexCoord(T3DVertex& vertex, double u, double v, int32_t i) const {
  vertex.TexCoords[i][0] = static_cast<float>(u * ScaleU);
  vertex.TexCoords[i][1] = static_cast<float>(v * ScaleV);
}

// ---- TShader ----

TShader::TShader(T3DScreen* screen, const std::string& code, bool vertex) : Screen(screen), Code(code), Vertex(vertex) {
  QEL_ASSERT(screen != nullptr, u"TShader: no screen");
  if (Screen->IsReady()) MakeDeviceShader();
  Screen->AddResource(this);
}

void TShader::MakeDeviceShader() {
  FreeDeviceShader();
  if (!Screen || !Screen->IsReady()) return;
  DeviceShader = Screen->Renderer->CreateShader(Code, Vertex);
  if (DeviceShader) DeviceShader->OnRelease = [this] { FreeDeviceShader(); };
}

void TShader::FreeDeviceShader() {
  if (DeviceShader) {
    T3DShader* s = DeviceShader;
    DeviceShader = nullptr;
    s->OnRelease = nullptr;
    s->Free();
  }
}

void TShader::Dispose() {
  FreeDeviceShader();
  if (Screen) Screen->RemoveResource(this);
  Screen = nullptr;
  TRefObject::Dispose();
}

// ---- TCustomColoringTexture ----

TCustomColoringTexture::TCustomColoringTexture(T3DScreen* screen) : Screen(screen) {
  QEL_ASSERT(screen != nullptr, u"TCustomColoringTexture: no screen");
  Screen->AddResource(this);
}

void TCustomColoringTexture::FreeTexture() {
  if (Texture) {
    TBaseTexture* t = Texture;
    Texture = nullptr;
    t->OnRelease = nullptr;
    t->Free();
  }
}

void TCustomColoringTexture::Dispose() {
  FreeTexture();
  if (Screen) Screen->RemoveResource(this);
  Screen = nullptr;
  TRefObject::Dispose();
}

}  // namespace render3d
