#include "imaging/kvCompoundBitmap.h"

#include <algorithm>
#include <random>

#include "imaging/SysBitmapStore.h"

namespace imaging {

namespace {
int32_t Jitter() {
  thread_local std::minstd_rand rng{std::random_device{}()};
  return static_cast<int32_t>(rng() % 10);
}
}  // namespace

TCompoundBitmap::TCompoundBitmap(int32_t aWidth, int32_t aHeight, TPixelFormat* aFormat) {
  Width = aWidth;
  Height = aHeight;
  PixelFormat = aFormat;
}

void TCompoundBitmap::Dispose() {
  for (TCompoundItem& item : Items) {
    if (item.Owns) foundation::FreeObj(item.Bitmap);
    foundation::FreeObj(item.Image);
    item = TCompoundItem{};
  }
  Items.clear();
  TBitmap::Dispose();
}

int32_t TCompoundBitmap::GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  const int32_t bpp = BytesPerPixel();
  if (bpp <= 0 || Count <= 0 || Offset < 0) return 0;
  // A span beyond the caller's buffer is cut to it.
  Count = static_cast<int32_t>(std::min<int64_t>(Count, (int64_t(Buffer.size()) - Offset) / bpp));
  if (Count <= 0) return 0;
  for (const TCompoundItem& item : Items) {
    TSysBitmap* b = item.Bitmap;
    if (!b || b->BytesPerPixel() != bpp) continue;
    if (Y < item.Y || int64_t(Y) >= int64_t(item.Y) + b->Height) continue;
    const int64_t first = std::max<int64_t>(X, item.X);
    const int64_t last = std::min<int64_t>(int64_t(X) + Count, int64_t(item.X) + b->Width);
    if (first >= last) continue;
    b->GetPixels(Buffer, static_cast<int32_t>(Offset + bpp * (first - X)), static_cast<int32_t>(first - item.X),
                 Y - item.Y, static_cast<int32_t>(last - first));
  }
  return Count * bpp;
}

TImage* TCompoundBitmap::GetItemImage(int32_t Index, TCompoundPlacement& Placement) {
  if (Index < 0 || Index >= Count()) return nullptr;
  TCompoundItem& item = Items[static_cast<size_t>(Index)];
  if (!item.Bitmap) return nullptr;
  if (!item.Image) item.Image = WrapBitmapAsImage(item.Bitmap, false, u"");
  const float hw = float(item.Image->Params.Width) * 0.5f, hh = float(item.Image->Params.Height) * 0.5f;
  Placement.HalfSize = {hw, hh};
  Placement.Position = {float(item.X) + hw + float(Jitter() - 5), float(item.Y) + hh + float(Jitter() - 5), 0};
  Placement.XAxis = {1, 0, 0};
  Placement.YAxis = {0, 1, 0};
  return item.Image;
}

}  // namespace imaging
