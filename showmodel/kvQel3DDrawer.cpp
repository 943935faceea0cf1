#include "showmodel/kvQel3DDrawer.h"

#include "foundation/kpExceptions.h"
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/ColorGradeGenerator.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DYUV.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelSlide.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "video/DeviceYUVImage.h"

namespace showmodel {

namespace {

// The slide behind an item the adapter made, if it wraps one.
TQelSlide* SlideOfObjectItem(render3d::TDrawItem* Item) {
  auto* item = dynamic_cast<TQelObjectItem*>(Item);
  return item ? dynamic_cast<TQelSlide*>(item->Object) : nullptr;
}

// The effect slide's item: the filter holds the slide for as long as the item.
render3d::TDrawItem* ItemOfEffectSlide(TQelSlide* Slide) {
  return Slide ? new TQelObjectItem(Slide, nullptr) : nullptr;
}

// The viewport's content through its stencil, both drawn as items of the
// draw manager into its mask pass.
void DrawThroughMask(TQelDrawer* Drawer, TQelObject* Stencil, TQelObject* Content, imaging::TImage* Background,
                     float Opacity) {
  auto* adapter = dynamic_cast<TQel3DDrawer*>(Drawer);
  if (!adapter || !Stencil || !Content) return;
  auto mask = foundation::TRef<TQelObjectItem>::Adopt(new TQelObjectItem(Stencil, adapter));
  auto content = foundation::TRef<TQelObjectItem>::Adopt(new TQelObjectItem(Content, adapter));
  adapter->Drawer->DrawThroughMask(mask.Get(), content.Get(), Background, Opacity);
}

// A grade texture on the drawer's screen: the volume table (a picture's
// profile table, or the identity) for the lookup variant, the per-channel
// ramp otherwise; the object's filter chain grades it.
class TDeviceGradeTexture : public TColorGradeTexture {
 public:
  QEL_CLASSNAME(TDeviceGradeTexture)
  TDeviceGradeTexture(render3d::T3DScreen* Screen, bool aLookupVariant) {
    LookupVariant = aLookupVariant;
    Texture = new render3d::TCustomColorGradeTexture(Screen, aLookupVariant ? 1 : 2);
  }
  void Dispose() override {
    foundation::FreeAndNil(Texture);
    TColorGradeTexture::Dispose();
  }
  void SetSource(TObjectFilter* Source) override {
    if (LookupVariant) Texture->SetBitmap(Lookup, false);
    Texture->SetSource(Source);
  }

  render3d::TCustomColorGradeTexture* Texture = nullptr;
};

render3d::TCustomColoringTexture* DeviceTexture(TColorGradeTexture* T) {
  auto* d = dynamic_cast<TDeviceGradeTexture*>(T);
  return d ? d->Texture : nullptr;
}

void ApplyChain(foundation::TRefObject* First, imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  ApplyFilterChain(dynamic_cast<TObjectFilter*>(First), Bitmap, Width, Rows);
}

}  // namespace

render3d::TImageDrawParams ToImageDrawParams(const TObjectDrawParams& P) {
  render3d::TImageDrawParams r;
  r.Perspective = P.Antialiased ? 1 : 0;
  r.Premultiplied = P.Premultiplied ? 1 : 0;
  r.Opacity = P.Opacity;
  r.Filter = P.Filtering;
  if (P.HasCrop) r.Crop = P.Crop;
  // A white tint changes nothing: it is left off.
  r.Tinted = P.TintValid && (P.Tint & 0x00FFFFFFu) != 0x00FFFFFFu ? 1 : 0;
  r.TintRed = uint8_t(P.Tint >> 16);
  r.TintGreen = uint8_t(P.Tint >> 8);
  r.TintBlue = uint8_t(P.Tint);
  r.Level = P.MipLevel;
  r.LodBias = P.MipBias;
  r.Atlas = P.Animated ? 1 : 0;
  r.AtlasColumns = P.GridColumns;
  r.AtlasRows = P.GridRows;
  r.EdgeColor = P.BorderColor;
  r.GradeMode = P.Grade.Mode;
  r.GradeMix = P.Grade.Fraction;
  r.GradeTable1 = P.Grade.TextureA ? DeviceTexture(P.Grade.TextureA) : nullptr;
  r.GradeTable2 = P.Grade.TextureB ? DeviceTexture(P.Grade.TextureB) : nullptr;
  // Grading needs its tables on the device.
  if (!r.GradeTable1 || !r.GradeTable2) r.GradeMode = 0;
  return r;
}

render3d::TBoxParams ToBoxParams(const TBoxDrawParams& P) {
  render3d::TBoxParams r;
  r.EdgeLeft = P.EdgeAntialias[0];
  r.EdgeTop = P.EdgeAntialias[1];
  r.EdgeRight = P.EdgeAntialias[2];
  r.EdgeBottom = P.EdgeAntialias[3];
  r.FillMode = P.FillMode;
  r.Color1 = P.Color1;
  r.Color2 = P.Color2;
  r.Width = P.ScaleX;
  r.Height = P.ScaleY;
  r.Opacity = P.Opacity;
  return r;
}

// ---- an object as a draw item ----

void TQelObjectItem::Dispose() {
  delete OwnAdapter;
  OwnAdapter = nullptr;
  render3d::TDrawItem::Dispose();
}

bool TQelObjectItem::IsChanged() { return Object->IsChanged(); }

float TQelObjectItem::GetBlurAmount() { return Object->GetBlurAmount(); }

void TQelObjectItem::Draw(render3d::T3DDrawer* D) {
  if (Clear) {
    const auto v = D->GetViewBounds();
    D->Clear(Background, {v.Left - 1, v.Top - 1, v.Right + 1, v.Bottom + 1});
  }
  // The transition drawing marks both slides of an effect that draws the
  // backgrounds itself; the slide reads that from its own flag.
  const bool saved = Object->BackgroundSuppressed;
  Object->BackgroundSuppressed = saved || TransparentBg != 0;
  try {
    Object->Draw(AdapterFor(D));
  } catch (...) {
    Object->BackgroundSuppressed = saved;
    throw;
  }
  Object->BackgroundSuppressed = saved;
}

TQel3DDrawer* TQelObjectItem::AdapterFor(render3d::T3DDrawer* D) {
  if (Owner) return Owner;
  if (!OwnAdapter || OwnAdapter->Drawer != D) {
    delete OwnAdapter;
    OwnAdapter = nullptr;
    OwnAdapter = new TQel3DDrawer(D);
  }
  return OwnAdapter;
}

TQel3DDrawer::TQel3DDrawer(render3d::T3DDrawer* aDrawer) : Drawer(aDrawer) {
  QEL_ASSERT(Drawer, "TQel3DDrawer: no draw manager");
  Drawer->_AddRef();
}

TQel3DDrawer::~TQel3DDrawer() {
  foundation::FreeAndNil(Upload);
  foundation::FreeAndNil(YuvTable);
  foundation::FreeAndNil(Drawer);
}

bool TQel3DDrawer::DrawTree(TQelObject* Root, const render3d::TViewState& View, uint32_t Background) {
  if (!Root) return false;
  auto item = foundation::TRef<TQelObjectItem>::Adopt(new TQelObjectItem(Root, this));
  item->Clear = true;
  item->Background = Background;
  return Drawer->DrawItemInView(item.Get(), View);
}

bool TQel3DDrawer::IsReady() { return Drawer->IsReady(); }

void TQel3DDrawer::DrawItemWithEffects(TQelObject* Item) {
  auto item = foundation::TRef<TQelObjectItem>::Adopt(new TQelObjectItem(Item, this));
  Drawer->DrawItemWithEffects(item.Get());
}

void TQel3DDrawer::PrepareObjectTexture(imaging::TImage* Image, const TObjectDrawParams& Params) {
  Drawer->PrepareImageTexture(Image, ToImageDrawParams(Params));
}

void TQel3DDrawer::DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D& Frame, TFloatPoint SourceOffset,
                                   T3DPoint AxisA, T3DPoint AxisB, const TObjectDrawParams& Params) {
  Drawer->DrawImage(Image, Frame.Origin, SourceOffset, AxisA, AxisB, ToImageDrawParams(Params));
}

void TQel3DDrawer::DrawBox(T3DPoint Origin, T3DPoint EdgeA, T3DPoint EdgeB, const TBoxDrawParams& Params) {
  Drawer->DrawBox(Origin, {0, 0}, EdgeA, EdgeB, ToBoxParams(Params));
}

void TQel3DDrawer::DrawFrameBorder(const TAffineFrame3D& Frame, TFloatPoint Position, TFloatPoint Width,
                                   TFloatPoint Size, uint32_t Color, float Opacity, bool Antialiased) {
  Drawer->DrawFrameBorder(Frame.Origin, Position, Frame.U, Frame.V, Width, Size, Color, Opacity, Antialiased);
}

TColorGradeTexture* TQel3DDrawer::CreateColorGradeTexture(bool LookupVariant) {
  return new TDeviceGradeTexture(Drawer->Screen, LookupVariant);
}

namespace {
render3d::TImageDrawParams ShadowParams(imaging::TImage* Image, const imaging::TImageDrawParams& P) {
  render3d::TImageDrawParams r;
  r.Opacity = P.Opacity;
  r.Premultiplied = Image && Image->Params.PixelFormat && Image->Params.PixelFormat->HasAlpha ? 1 : 0;
  r.Tinted = P.ColorFlag ? 1 : 0;
  r.TintRed = P.Color[0];
  r.TintGreen = P.Color[1];
  r.TintBlue = P.Color[2];
  return r;
}
}  // namespace

void TQel3DDrawer::PrepareImageTexture(imaging::TImage* Image, const imaging::TImageDrawParams& Params) {
  Drawer->PrepareImageTexture(Image, ShadowParams(Image, Params));
}

void TQel3DDrawer::DrawImage(imaging::TImage* Image, T3DPoint Origin, TFloatPoint Offset, T3DPoint XScale,
                             T3DPoint YScale, const imaging::TImageDrawParams& Params) {
  Drawer->DrawImage(Image, Origin, Offset, XScale, YScale, ShadowParams(Image, Params));
}

render3d::T3DYUV* TQel3DDrawer::UploadFrame(video::TMemoryYUVImage* Image) {
  if (Upload && (Upload->Width != Image->Width || Upload->Height != Image->Height ||
                 Upload->RGBAMode != Image->RGBAMode || Upload->GrayMode != Image->GrayMode))
    foundation::FreeAndNil(Upload);
  if (!Upload) Upload = Drawer->CreateYUVImage(Image->Width, Image->Height, Image->RGBAMode);
  // A device that keeps frames in another layout than the decoder wrote
  // (gray frames where planes cannot be drawn) gets no picture.
  if (!Upload || Upload->RGBAMode != Image->RGBAMode || Upload->GrayMode != Image->GrayMode) return nullptr;
  std::vector<int32_t> planes;
  if (Image->RGBAMode)
    planes = {video::kPlaneRGBA};
  else if (Image->GrayMode)
    planes = {video::kPlaneGray};
  else
    planes = {video::kPlaneY, video::kPlaneU, video::kPlaneV};
  for (int32_t plane : planes) {
    imaging::TSysBitmap* b = Upload->LockPlane(plane);
    if (!b) return nullptr;
    const int32_t w = Image->PlaneWidth(plane) * Image->BytesPerPixel(plane);
    const int32_t h = std::min(Image->PlaneHeight(plane), b->Height);
    const size_t n = size_t(std::min(w, b->Width * b->BytesPerPixel()));
    for (int32_t y = 0; y < h; ++y) std::memcpy(b->Row(y), Image->Row(plane, y), n);
    if (!Upload->UnlockPlane(plane, b)) return nullptr;
  }
  Upload->FrameDone();
  return Upload;
}

void TQel3DDrawer::DrawVideoFrame(video::TYUVImage* Image, const TAffineFrame3D& Frame, TFloatPoint Position,
                                  T3DPoint AxisA, T3DPoint AxisB, const TVideoDrawParams& Params) {
  if (!Image || Image->Width <= 0 || Image->Height <= 0 || !Drawer->IsReady()) return;
  render3d::T3DYUV* frame = nullptr;
  if (auto* device = dynamic_cast<video::TDeviceYUVImage*>(Image))
    frame = device->Device;
  else if (auto* memory = dynamic_cast<video::TMemoryYUVImage*>(Image))
    frame = UploadFrame(memory);
  if (!frame) return;
  if (!YuvTable) {
    YuvTable = new render3d::TCustomColorGradeTexture(Drawer->Screen, 1);
    // The shared table of the display (not owned by the texture).
    YuvTable->SetBitmap(imaging::GetColorGradeLUT(false, nullptr), false);
  }
  render3d::TVideoDrawParams r;
  r.Opacity = Params.Opacity;
  r.Perspective = Params.Antialiased ? 1 : 0;
  r.Deinterlace = uint8_t(Params.Field == 1 ? 1 : Params.Field == 2 ? 2 : 0);
  const TFloatRect& c = Params.Content;
  r.Crop = c.Right > c.Left && c.Bottom > c.Top ? c : TFloatRect{0, 0, float(Image->Width), float(Image->Height)};
  r.GradeTable1 = YuvTable;
  r.GradeTable2 = YuvTable;
  Drawer->DrawVideoFrame(frame, Frame.Origin, Position, AxisA, AxisB, r);
}

render3d::TDrawItem* TQel3DDrawer::CreateItem(TQelObject* Object) {
  QEL_ASSERT(Object, "TQel3DDrawer.CreateItem: no object");
  return new TQelObjectItem(Object, this);
}

void InitQel3DDrawer() {
  render3d::SetFilterChainApplier(ApplyChain);
  TRealSlideFilter::SlideOfItem = &SlideOfObjectItem;
  TRealSlideFilter::ItemOfSlide = &ItemOfEffectSlide;
  DrawThroughMaskHook = &DrawThroughMask;
}

void DoneQel3DDrawer() {
  render3d::SetFilterChainApplier(nullptr);
  TRealSlideFilter::SlideOfItem = nullptr;
  TRealSlideFilter::ItemOfSlide = nullptr;
  DrawThroughMaskHook = nullptr;
}

}  // namespace showmodel
