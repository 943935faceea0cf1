// The transition factory: a show's effect description turned into a draw
// filter with its parameters, and the process-wide hook through which the
// show model makes the filters of slide effects.
//
// The effect description itself is the show model's record; render3d sits
// below it, so the factory reads the fields it needs from a TEffectRecord
// that the show model fills from its effect (kind, the parameter arrays and
// the option flags, and the effect's own slide for slide effects).
#pragma once

#include <cstdint>
#include <vector>

#include <functional>

#include "foundation/SysObj.h"
#include "render3d/Dev3DRTPool.h"
#include "render3d/Dev3DScreen.h"
#include "transitions/kvDrawFilter.h"
#include "transitions/kvTriController.h"

namespace render3d {

using foundation::TRect;

class TDrawItem;

// What the factory reads of an effect description.
struct TEffectRecord {
  int32_t Kind = 0;
  std::vector<int32_t> IntParams;
  std::vector<float> FloatParams;
  std::vector<bool> Options;
  foundation::TRefObject* CustomSlide = nullptr;  // not owned; kind 12 only

  bool Option(size_t k) const { return k < Options.size() && Options[k]; }
  int32_t Int(size_t k) const { return k < IntParams.size() ? IntParams[k] : 0; }
  float Float(size_t k) const { return k < FloatParams.size() ? FloatParams[k] : 0.0f; }
};

// The slide-effect hook: makes the filter of a slide effect for the incoming
// slide from the effect's own slide. Installed by the show model at start-up.
using TSlideEffectHook = transitions::TDrawFilter* (*)(TDrawItem* incoming, foundation::TRefObject* customSlide);
void SetSlideEffectHook(TSlideEffectHook hook);
TSlideEffectHook GetSlideEffectHook();

// The filter for the effect (a new object owned by the caller), or null when
// the effect's options match no filter of its kind. effect must not be null.
transitions::TDrawFilter* CreateTransitionFilter(int32_t w, int32_t h, const TEffectRecord* effect, double duration,
                                                TDrawItem* incoming);

// Null for a null effect; else the factory's filter for the rectangle's size,
// initialised with the rectangle, the duration and the edge width
// (rect width x edgeFactor).
transitions::TDrawFilter* MakeTransitionFilter(const TRect& rect, const TEffectRecord* effect, double duration,
                                              float edgeFactor, TDrawItem* incoming);

class TCustomD3DEffecter;

inline bool SameRect(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
inline bool EmptyIntRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// The filter interface of slide effects (a third slide of the show shows the
// two slides as images); the show model implements it.
class TSlideEffFilter : public transitions::TDrawFilter {
 public:
  uint8_t TransparentBg = 0;         // the two slides are rendered without backgrounds
  TDrawItem* EffectSlide = nullptr;  // not owned
  // Attaches the effecter's two slide targets to the effect slide's images.
  virtual void BeginDraw(TCustomD3DEffecter* effecter) = 0;
  virtual void EndDraw() = 0;
  virtual void Preload(class T3DDrawer* drawer) = 0;
  virtual void SetProgress(double progress) = 0;
  virtual void SetSlides(TDrawItem* outgoing, TDrawItem* incoming) = 0;
};

// The per-slide transition state the engine passes to DrawTransition.
// NullRect remembers the rectangle for which the factory answered null, so
// a transition without a filter is not asked for again every frame.
struct TTransitionState {
  const TEffectRecord* Effect = nullptr;  // not owned
  double Duration = 0;
  float EdgeFactor = 0;
  double Position = 0;
  transitions::TDrawFilter* Filter = nullptr;  // owned
  bool HasNullAnswer = false;
  TRect NullRect;
  ~TTransitionState() {
    if (Filter) Filter->Free();
  }
};

// Triangles of the filters become triangles of the effecter's quad batches,
// textured from its first slide target.
class TD3DTriController : public transitions::TEffController {
 public:
  QEL_CLASSNAME(TD3DTriController)
  explicit TD3DTriController(TCustomD3DEffecter* effecter) : Effecter(effecter) {}
  transitions::TEffTile* CreateTile(const TRect& rect, TPoint cell) override;
  void GetViewRect(TRect& r) override;
  TCustomD3DEffecter* Effecter;  // not owned
};

class TD3DTriTile : public transitions::TEffTile {
 public:
  QEL_CLASSNAME(TD3DTriTile)
  TD3DTriTile(TD3DTriController* controller, const TRect& rect, TPoint cell);
  void BeginDraw(bool textured, bool threeD) override;
  void DrawTriangle(const transitions::TTriangle& v) override;
  void DrawColoredTriangle(const transitions::TTriangle& v, const transitions::TColors3& colors) override;
  void DrawMappedTriangle(const transitions::TTriangle& source, const transitions::TTriangle& target) override;
  void DrawColoredTriangle3D(const transitions::TTriangle3D& points, const transitions::TColors3& colors) override;
  void DrawMappedTriangle3D(const transitions::TTriangle& source, const transitions::TTriangle3D& target) override;
  void EndDraw() override;

  TCustomD3DEffecter* Effecter;    // not owned
  TVertexBuffer* Batch = nullptr;  // borrowed between BeginDraw and EndDraw
};

// The render targets transitions draw from: one view-sized slide target for
// filters, two screen-sized ones for slide effects.
class TCustomD3DEffecter : public TRefObject {
 public:
  QEL_CLASSNAME(TCustomD3DEffecter)
  using TRenderCallback = std::function<void(const TRect&)>;
  TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* sharedPool);
  void Dispose() override;
  virtual void SetViewRect(const TRect& r);
  void SetClipRect(const TRect& r) { ClipRect = r; }
  // 1: two slots from the shared pool; 0: the first slot from the own pool.
  void PrepareSlots(uint8_t mode);
  void ReleaseSlots();
  void NextSlot() { CurrentSlot = !CurrentSlot; }
  TRenderTargetTexture* GetSlideTarget(int32_t index) const;
  void RenderSlot(const TRenderCallback& callback);
  TD3DTriController* RenderToTexture(const TRenderCallback& callback, bool replicate);
  TVertexBuffer* GetBatch(bool textured);
  void FlushBatch(TVertexBuffer* batch) { batch->Flush(); }
  // The part of the target the callback draws into (empty marker when the
  // clip rectangle misses it).
  TRect DrawingRect(const TCustomTexture* target) const;
  // Copies the last column and row of r (relative to the target) outward.
  void ReplicateEdges(const TRect& r);
  // Copies a region of Slot0 onto another place of it through Scratch.
  void CopyRegion(TPoint source, TPoint size, TPoint dest);

  T3DScreen* Screen = nullptr;
  TRenderTargetManager* SharedPool = nullptr;  // not owned
  TRef<TRenderTargetManager> OwnPool;
  TRect ViewRect;
  TRect ClipRect;
  TRef<TVertexBuffer> TexturedBatch;
  TRef<TVertexBuffer> PlainBatch;
  TRef<TD3DTriController> Controller;
  TRenderTargetTexture* Slot0 = nullptr;
  TRenderTargetTexture* Slot1 = nullptr;
  TRef<TRenderTargetTexture> Scratch;  // made on first use
  bool CurrentSlot = false;
  int32_t ScratchFlushes = 0;  // flushes of the scratch copies (counted for tests)

 private:
  struct TCopyRecord {
    TRect Source, ScratchRect, Dest;
  };
  void FlushCopies();
  std::vector<TCopyRecord> FCopies;
  int32_t FFreeW = 256, FFreeH = 256;
};

}  // namespace render3d
