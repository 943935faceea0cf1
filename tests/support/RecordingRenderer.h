// A renderer of the device-independent 3D layer that draws nothing and
// records every call, for the logic above the device: call order of scenes
// and presents, the render-target stack, draw flags and blend modes, the
// retry order after failed creations, pool reuse. Header-only, so only the
// test programs that use it link the 3D layer.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "render3d/Dev3DCore.h"

namespace render3d_test {

class TRecordingSurface : public render3d::T3DSurface {
 public:
  QEL_CLASSNAME(TRecordingSurface)
  int32_t Width = 0, Height = 0;
  std::string Name;
  bool CopyTo(imaging::TBitmap*) override { return true; }
  void GetSize(int32_t& w, int32_t& h) override {
    w = Width;
    h = Height;
  }
  imaging::TPixelFormat* GetPixelFormat() override { return nullptr; }
  imaging::TBitmap* Lock(const render3d::TRect&, bool) override { return nullptr; }
  bool Unlock(imaging::TBitmap*& bitmap) override {
    bitmap = nullptr;
    return true;
  }
};

class TRecordingTexture : public render3d::T3DTexture {
 public:
  QEL_CLASSNAME(TRecordingTexture)
  int32_t Width = 0, Height = 0;
  bool Mipmaps = false;
  int32_t Serial = 0;
  TRecordingSurface* Surface = nullptr;
  void Dispose() override {
    if (Surface) Surface->Free();
    Surface = nullptr;
    render3d::T3DTexture::Dispose();
  }
  int32_t GetLevelCount() override { return 1; }
  render3d::T3DSurface* GetSurface(int32_t level) override { return level == 0 ? Surface : nullptr; }
  void Update() override {}
  void SetAddressMode(uint8_t u, uint8_t v) override {
    AddressU = u;
    AddressV = v;
  }
  void GetAddressMode(uint8_t& u, uint8_t& v) override {
    u = AddressU;
    v = AddressV;
  }
  void SetFilter(uint8_t f) override { Filter = f; }
  void GetFilter(uint8_t& f) override { f = Filter; }
  void SetMipFilter(uint8_t v) override { MipFilter = v; }
  void SetMipLodBias(float b) override { LodBias = b; }
  uint8_t AddressU = 0, AddressV = 0, Filter = 0, MipFilter = 0;
  float LodBias = 0;
};

class TRecordingVertexList : public render3d::T3DVertexList {
 public:
  QEL_CLASSNAME(TRecordingVertexList)
  std::vector<render3d::T3DVertex> Vertices;
  int32_t StartVertex = 0, PrimitiveCount = 0;
  render3d::TPrimitiveKind Kind = render3d::pkTriangleList;
  bool SetFormat(int32_t start, int32_t count, render3d::TPrimitiveKind kind) override {
    StartVertex = start;
    PrimitiveCount = count;
    Kind = kind;
    return true;
  }
  bool SetVertices(int32_t dest, std::span<const render3d::T3DVertex> v, int32_t src, int32_t count) override {
    if (dest < 0 || src < 0 || static_cast<size_t>(dest + count) > Vertices.size()) return false;
    for (int32_t i = 0; i < count; ++i) Vertices[static_cast<size_t>(dest + i)] = v[static_cast<size_t>(src + i)];
    return true;
  }
};

class TRecordingRenderer : public render3d::T3DRenderer {
 public:
  QEL_CLASSNAME(TRecordingRenderer)
  explicit TRecordingRenderer(render3d::TDrawDevice* device, int32_t width = 640, int32_t height = 480)
      : T3DRenderer(device) {
    Back = new TRecordingSurface();
    Back->Width = width;
    Back->Height = height;
    Back->Name = "back";
    Target = Back;
  }
  void Dispose() override {
    if (Back) Back->Free();
    Back = nullptr;
    render3d::T3DRenderer::Dispose();
  }

  // The calls made so far, one line each ("BeginScene", "DrawVertexList flags=7 textures=1 blend=0", ...).
  std::vector<std::string> Calls;
  // Answers of the next creations: a result class (0 success); the list is used up front first.
  std::vector<uint8_t> CreateResults;
  // Operations named here answer False (and leave LastResult at 3) until removed.
  std::map<std::string, bool> Failing;
  TRecordingSurface* Back = nullptr;
  render3d::T3DSurface* Target = nullptr;
  render3d::TBlendMode Blend = render3d::bmNormal;
  int32_t TexturesMade = 0;

  bool IsFlipEx() override { return false; }
  void SetBounds() override { Record("SetBounds"); }
  bool BeginScene() override { return Op("BeginScene"); }
  bool EndScene() override { return Op("EndScene"); }
  bool Present(const render3d::TRect*, const render3d::TRect*) override { return Op("Present"); }
  bool Clear(std::span<const render3d::TRect>, int32_t count, uint32_t color, float, uint8_t flags) override {
    char buf[80];
    std::snprintf(buf, sizeof buf, "Clear count=%d color=%08X flags=%u", count, color, flags);
    return Op("Clear", buf);
  }
  bool ResetRenderStates() override { return Op("ResetRenderStates"); }
  bool SetRenderTarget(render3d::T3DSurface* s) override {
    if (!s) return Op("SetRenderTarget", "SetRenderTarget null") && false;
    auto* rs = dynamic_cast<TRecordingSurface*>(s);
    if (!Op("SetRenderTarget", "SetRenderTarget " + (rs ? rs->Name : std::string("?")))) return false;
    Target = s;
    return true;
  }
  render3d::T3DSurface* GetRenderTarget() override { return Target; }
  bool GetBackBuffer(render3d::T3DSurface*& s) override {
    s = Back;
    return true;
  }
  bool SetViewport(const render3d::TRect& r, float, float) override {
    char buf[80];
    std::snprintf(buf, sizeof buf, "SetViewport %d,%d,%d,%d", r.Left, r.Top, r.Right, r.Bottom);
    return Op("SetViewport", buf);
  }
  bool DrawVertexList(std::span<render3d::TBaseTexture* const> textures, int32_t count, render3d::T3DVertexList*,
                      render3d::TDrawFlags flags) override {
    if (static_cast<size_t>(count) != textures.size()) return false;
    char buf[80];
    std::snprintf(buf, sizeof buf, "DrawVertexList flags=%u textures=%d blend=%u", flags, count, unsigned(Blend));
    return Op("DrawVertexList", buf);
  }
  bool SetTexture(int32_t stage, render3d::TBaseTexture* t) override {
    return Op("SetTexture", "SetTexture " + std::to_string(stage) + (t ? " set" : " null"));
  }
  render3d::T3DTexture* CreateTexture(render3d::TTextureKind kind, int32_t w, int32_t h, bool mipmaps) override {
    char buf[80];
    std::snprintf(buf, sizeof buf, "CreateTexture kind=%u %dx%d mip=%d", unsigned(kind), w, h, int(mipmaps));
    Record(buf);
    if (!CreateResults.empty()) {
      LastResult = CreateResults.front();
      CreateResults.erase(CreateResults.begin());
      if (LastResult != 0) return nullptr;
    }
    LastResult = 0;
    auto* t = new TRecordingTexture();
    t->Kind = kind;
    t->Width = w;
    t->Height = h;
    t->Mipmaps = mipmaps;
    t->Serial = ++TexturesMade;
    t->Surface = new TRecordingSurface();
    t->Surface->Width = w;
    t->Surface->Height = h;
    t->Surface->Name = "texture" + std::to_string(t->Serial);
    return t;
  }
  render3d::TVolumeTexture* CreateVolumeTexture(int32_t, int32_t, int32_t) override {
    Record("CreateVolumeTexture");
    return nullptr;
  }
  render3d::T3DVertexList* CreateVertexList(int32_t n, render3d::TVertexComponents c, int32_t sets) override {
    Record("CreateVertexList " + std::to_string(n) + " components=" + std::to_string(c) + " sets=" +
           std::to_string(sets));
    auto* vl = new TRecordingVertexList();
    vl->Vertices.resize(static_cast<size_t>(n));
    return vl;
  }
  bool CopySurface(render3d::T3DSurface*, render3d::T3DSurface*, std::span<const render3d::TRect>,
                   std::span<const render3d::TRect>, int32_t count) override {
    return Op("CopySurface", "CopySurface count=" + std::to_string(count));
  }
  bool SetBlendMode(render3d::TBlendMode mode) override {
    Blend = mode;
    Record("SetBlendMode " + std::to_string(mode));
    return true;
  }
  bool SetTransform(uint8_t index, const float*) override {
    return Op("SetTransform", "SetTransform " + std::to_string(index));
  }
  bool SetDoubleSided(bool v) override { return Op("SetDoubleSided", std::string("SetDoubleSided ") + (v ? "1" : "0")); }
  render3d::TFloatPoint GetTexelOffset() override { return {0.5f, 0.5f}; }
  render3d::T3DShader* CreateShader(const std::string&, bool vertex) override {
    Record(vertex ? "CreateShader vertex" : "CreateShader pixel");
    return new render3d::T3DShader();
  }
  bool SetShader(render3d::T3DShader* s) override { return Op("SetShader", s ? "SetShader set" : "SetShader null"); }
  bool SetShaderConstants(int32_t reg, std::span<const float>, int32_t count, bool) override {
    return Op("SetShaderConstants", "SetShaderConstants " + std::to_string(reg) + " " + std::to_string(count));
  }

 private:
  void Record(const std::string& line) { Calls.push_back(line); }
  bool Op(const std::string& name, const std::string& line = {}) {
    Record(line.empty() ? name : line);
    if (Failing.count(name)) {
      LastResult = render3d::rcLostOrOther;
      return false;
    }
    LastResult = 0;
    return true;
  }
};

// An engine whose renderers are recording renderers of the device's size.
// Renderers made are kept in Made (not owned) so tests can read their calls.
class TRecordingEngine : public render3d::T3DEngine {
 public:
  QEL_CLASSNAME(TRecordingEngine)
  std::vector<TRecordingRenderer*> Made;
  bool DeviceUsable = true;
  uint32_t Vendor = 0;
  // The state new renderers start in (1: creation pending).
  uint8_t NewState = 0;
  render3d::TRendererDevice* CreateOffscreenDevice(int32_t, int32_t) override { return nullptr; }
  uint32_t AdapterFromRect(const render3d::TRect&) override { return 0; }
  uint32_t GetCapsValue(const std::u16string& name, uint32_t) override { return name == u"Vendor" ? Vendor : 0; }
  std::u16string GetCapsText(const std::u16string&, uint32_t) override { return {}; }
  bool GetDisplayMode(render3d::TDisplayMode& mode, uint32_t) override {
    mode.RefreshRate = 60;
    return true;
  }
  render3d::T3DRenderer* CreateRenderer(render3d::TDrawDevice* device, const render3d::TRendererParams&) override {
    int32_t w = device ? device->Bounds.Right - device->Bounds.Left : 640;
    int32_t h = device ? device->Bounds.Bottom - device->Bounds.Top : 480;
    auto* r = new TRecordingRenderer(device, w, h);
    r->State = NewState;
    Made.push_back(r);
    return r;
  }
  bool CheckDevice() override { return DeviceUsable; }
  uint8_t GetShaderLevel(uint32_t) override { return 2; }
  TRecordingRenderer* Last() const { return Made.empty() ? nullptr : Made.back(); }
};

}  // namespace render3d_test
