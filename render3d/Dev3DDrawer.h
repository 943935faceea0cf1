// The draw manager of an open show: one per show, over the main form's
// screen. Every frame the engine hands it the root draw item and a view; the
// drawer walks the item tree through TDrawItem::Draw, and the items call
// back into it to draw pictures, boxes, video frames and effect passes.
//
// This unit holds the drawer itself: what it owns, views and their
// restoration, scenes, the dispatch of items to the blur and sharpen passes,
// the pixel-shader stack and set, pixel-bounds tracking for the passes,
// screen capture and the size-fitting functions. The passes, the image and
// video drawing, transitions and the effecter extend it from their own
// units (the hooks below are where they plug in).
//
// Threads: everything runs on the GUI thread inside the engine's frame;
// Lock guards only the making of the shaders.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/kpThreads2.h"
#include "imaging/kvImage.h"
#include "imaging/kvPixelFormat.h"
#include "render3d/Dev3DRTPool.h"
#include "render3d/Dev3DScreen.h"
#include "render3d/Dev3DShaders.h"

namespace transitions {
class TDrawFilter;
class TEffController;
}  // namespace transitions

namespace render3d {

class T3DDrawer;
class TTextureSource;
class TCustomD3DEffecter;
struct TTransitionState;
struct TImageDrawParams;
struct TBoxParams;
struct TVideoDrawParams;
class T3DYUV;

// The base of everything the drawer draws.
class TDrawItem : public TRefObject {
 public:
  QEL_CLASSNAME(TDrawItem)
  uint8_t Changed = 0;
  uint8_t ContentChanged = 0;
  uint8_t TransparentBg = 0;  // set only while a slide is rendered for a slide effect

  virtual bool IsChanged() { return Changed != 0 || ContentChanged != 0; }
  // Positive values blur, negative ones sharpen.
  virtual float GetBlurAmount() { return 0.0f; }
  // Called once per frame after the outermost scene has ended.
  virtual void Prepare() {}
  virtual void Draw(T3DDrawer* drawer) = 0;
};

// A draw item that stands for one transition frame.
class TEffectItem : public TDrawItem {
 public:
  QEL_CLASSNAME(TEffectItem)
  transitions::TDrawFilter* Filter = nullptr;         // not owned
  transitions::TEffController* Controller = nullptr;  // not owned
  void Draw(T3DDrawer* drawer) override;
};

TPoint FitSizeInto(TPoint a, TPoint b);
// False for a null drawer, else the drawer's IsReady.
bool DrawerIsReady(const T3DDrawer* drawer);
TPoint FitSizeIntoNoEnlarge(TPoint a, TPoint b);

class T3DDrawer : public TRefObject {
 public:
  QEL_CLASSNAME(T3DDrawer)
  explicit T3DDrawer(T3DScreen* screen);
  void Dispose() override;
  // Out of line: some members are of classes only declared here.
  ~T3DDrawer() override;

  void CreateShaders();
  void PrepareRenderTargets();
  void BeginScene();
  bool EndScene();
  bool IsReady() const;
  uint8_t GetShaderLevel();
  bool DrawItemInView(TDrawItem* item, const TViewState& view);
  bool DrawItemWithEffects(TDrawItem* item);
  bool DrawItemInScene(TDrawItem* item);
  TRect GetViewBounds() const;
  double GetViewScale() const;
  void SetDrawOrigin(TFloatPoint p);
  void MakeTargetView(TViewState& out, const TViewState& view) const;
  void PushShader(TShader* shader);
  void Clear(uint32_t color, const TRect& rect);
  bool CopyBackBufferTo(imaging::TBitmap* bitmap);
  imaging::TImage* CaptureScreen();
  TBoxAntialiaser* GetBoxAntialiaser();
  TShader* GetShader(TPixelShaderId id) const { return Shaders[id]; }

  // Bounds tracking: while InEffects is set, every rectangle drawn (a
  // rectangle of a plane at origin with the two axes, offset subtracted
  // from its coordinates) widens DrawnBounds.
  void AddDrawnRect(T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY, const TFloatRect& rect);
  void ResetDrawnBounds();

  // ---- image and box drawing (Dev3DImages.cpp) ----
  void DrawImage(imaging::TImage* image, T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY,
                 const TImageDrawParams& params);
  void PrepareImageTexture(imaging::TImage* image, const TImageDrawParams& params);
  void DrawBox(T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY, const TBoxParams& params);
  void DrawColorRect(TFloatPoint p0, TFloatPoint p1, TFloatPoint p2, uint32_t color);
  void DrawFrameBorder(T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY, TFloatPoint border,
                       TFloatPoint size, uint32_t color, float opacity, bool antialias);
  void FillOutsideView(imaging::TFColor color);
  // Binds two grade tables to stages stage and stage + 1 (null unbinds) and
  // puts the mix into c0.x when a table is given.
  void BindGradeTables(int32_t stage, TCustomColoringTexture* t1, TCustomColoringTexture* t2, float mix);
  // Runs draw under a grading shader with the two tables bound from stage 1;
  // shader and tables are taken off again however draw ends.
  void DrawGraded(TPixelShaderId id, TCustomColoringTexture* t1, TCustomColoringTexture* t2, float mix,
                  const std::function<void()>& draw);

  // ---- video frames (Dev3DYUV.cpp) ----
  // A frame target on the screen; the caller owns it. It stays listed until
  // it is disposed; a drawer disposed first releases its textures.
  T3DYUV* CreateYUVImage(int32_t width, int32_t height, bool rgba);
  void DrawVideoFrame(T3DYUV* frame, T3DPoint origin, TFloatPoint offset, T3DPoint axisX, T3DPoint axisY,
                      TVideoDrawParams params);
  // A shader level and 8-bit luminance textures: YUV planes can be drawn.
  bool CanDrawVideoPlanes();
  void ReleaseYuvImages();

  // ---- transitions ----
  // Draws the outgoing slide in view and, while the state's transition
  // runs, the incoming one (logical size `size`, centred in the viewport)
  // through the state's filter.
  void DrawTransition(TDrawItem* outgoing, TDrawItem* incoming, TTransitionState* state, const TViewState& view,
                      TFloatPoint size);
  // Renders a slide into the effecter's first slide target; the effecter's
  // tile controller textured from it is the result.
  transitions::TEffController* RenderForEffect(TDrawItem* item, bool replicate, const TViewState& view);
  void DrawEffectSubject(const TRect& r);
  TCustomD3DEffecter* GetEffecter();

  // ---- the passes (Dev3DPasses.cpp) ----
  // The blur pass over an item (radius in screen pixels).
  virtual void RunBlurPass(TDrawItem* item, double radius);
  // Opens a sharpen layer (sets SharpenTarget and SharpenView); false when
  // no layer could be opened, and the item is then drawn plainly.
  virtual bool BeginSharpenLayer();
  virtual void EndSharpenLayer(double amount);
  // Closes an open sharpen layer without drawing it (the raise path).
  virtual void AbortSharpenLayer();
  // Motion blur: sub-frames are drawn between BeginMotionBlurFrame and
  // EndMotionBlur, each followed by AddMotionBlurFrame; the sum becomes
  // (frame x w1 + sum) x w2.
  void BeginMotionBlurFrame();
  void AddMotionBlurFrame(double w1, double w2);
  void EndMotionBlur();
  // The off-screen layer: what is drawn between Begin and End lands in the
  // returned target; DrawOffscreen draws it with an alpha and hands it back
  // to the pool.
  TRenderTargetTexture* BeginOffscreen();
  void EndOffscreen();
  void DrawOffscreen(TRenderTargetTexture* target, uint8_t alpha, const TViewState& view);
  // Draws content (over a tiled background picture, when given) through the
  // mask's brightness with an opacity in percent; false without pixel
  // shaders.
  bool DrawThroughMask(TDrawItem* mask, TDrawItem* content, imaging::TImage* background, double opacity);

  // Guards Shaders while they are made and YuvImages.
  TRef<foundation::TCriticalSection> Lock;
  T3DScreen* Screen = nullptr;  // not owned
  TRef<TRenderTargetManager> TargetPool;
  TRef<TRenderTargetManager> HalfPool;
  TRef<TRenderTargetManager> MotionPool;
  TRef<TTextureSource> TextureSource;
  TRef<TBoxAntialiaser> BoxAntialiaser;  // made on first use
  TViewState View, SharpenView, BlurView, MotionView, EffectView;
  double TextureScaleX = 1.0, TextureScaleY = 1.0;
  int32_t SceneDepth = 0;
  bool InEffects = false;
  T3DPoint Camera;
  TDrawItem* EffectSubject = nullptr;             // not owned
  TRef<TRenderTargetTexture> SharpenTarget;  // goes back to its pool when released
  TShader* Shaders[psShaderCount] = {};           // owned
  TRect TargetRect;
  TRect DrawnBounds;
  bool InTransition = false;
  TRef<TRenderTargetTexture> MotionFrame;  // pooled
  TRef<TRenderTargetTexture> MotionSum;    // pooled
  std::vector<TShader*> ShaderStack;            // not owned
  uint8_t CaptureMode = 0;
  TRef<TCustomD3DEffecter> Effecter;  // made on first use
  std::vector<T3DYUV*> YuvImages;          // not owned
};

}  // namespace render3d
