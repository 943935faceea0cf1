#include "decoders/SysGifLoader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>


namespace decoders {

using namespace imaging;

int64_t GifAtlasPixelLimit = 26214401;

void TImgStore::Dispose() {
  foundation::FreeAndNil(Bitmap);
  TRefObject::Dispose();
}

namespace {

bool SeeThrough(const uint8_t* px) { return px[3] == 0; }

// Builds the atlas of the frames; frees their bitmaps as it goes.
TDirectBitmap* BuildAtlas(std::vector<TImgStore*>& frames, int32_t W, int32_t H) {
  const int32_t N = static_cast<int32_t>(frames.size());
  auto* atlas = new TDirectBitmap(N * W, H, pfA8R8G8B8);
  int32_t D = -1, K = -1, S = -1;
  TRect R{};
  for (int32_t i = 0; i < N; ++i) {
    TImgStore* f = frames[static_cast<size_t>(i)];
    const int32_t cell = i * W;
    // 1. The frame at its place, clipped to its own cell.
    const int32_t bw = f->Bitmap ? f->Bitmap->Width : 0, bh = f->Bitmap ? f->Bitmap->Height : 0;
    const int32_t x0 = std::min<int32_t>(f->Left, W), y0 = std::min<int32_t>(f->Top, H);
    const int32_t x1 = std::min<int32_t>(f->Left + std::min<int32_t>(f->FrameWidth, bw), W);
    const int32_t y1 = std::min<int32_t>(f->Top + std::min<int32_t>(f->FrameHeight, bh), H);
    for (int32_t y = y0; y < y1; ++y)
      std::memcpy(atlas->Row(y) + (cell + x0) * 4, f->Bitmap->Row(y - f->Top) + (x0 - f->Left) * 4,
                  static_cast<size_t>(x1 - x0) * 4);
    // 2. See-through pixels from the cell the disposal rule names.
    int32_t from = -1;
    bool keepRect = false;
    if ((D == 0 || D == 1) && i >= 1) {
      from = i - 1;
    } else if (D == 2 && i >= 1) {
      from = i - 1;
      keepRect = true;
    } else if (D == 3 && S >= 0) {
      from = S;
    }
    if (from >= 0) {
      const int32_t src = from * W;
      const bool rectEmpty = R.Right <= R.Left || R.Bottom <= R.Top;
      for (int32_t y = 0; y < H; ++y) {
        uint8_t* row = atlas->Row(y);
        const bool wholeRow = !keepRect || rectEmpty || y < R.Top || y >= R.Bottom;
        for (int32_t x = 0; x < W; ++x) {
          if (!wholeRow && x >= R.Left && x < R.Right) continue;
          uint8_t* px = row + (cell + x) * 4;
          if (SeeThrough(px)) std::memcpy(px, row + (src + x) * 4, 4);
        }
      }
    }
    // 3. This frame's rectangle and disposal for the next one.
    R = TRect{f->Left, f->Top, f->Left + f->FrameWidth, f->Top + f->FrameHeight};
    D = f->GraphicControl.Packedbit >> 2;
    if (D == 1) K = i;
    if (D == 3) S = K;
    foundation::FreeAndNil(f->Bitmap);
  }
  return atlas;
}

// Only the part of a frame inside its cell is ever used: a frame larger than
// the logical screen is cut down at once, so the frames kept for the atlas
// never take more memory than the atlas itself.
TDirectBitmap* CropToCell(TDirectBitmap* bitmap, int32_t left, int32_t top, int32_t W, int32_t H) {
  const int32_t cw = std::clamp(W - left, 0, bitmap->Width), ch = std::clamp(H - top, 0, bitmap->Height);
  if (cw == bitmap->Width && ch == bitmap->Height) return bitmap;
  TDirectBitmap* part = nullptr;
  if (cw > 0 && ch > 0) {
    part = new TDirectBitmap(cw, ch, pfA8R8G8B8);
    for (int32_t y = 0; y < ch; ++y) std::memcpy(part->Row(y), bitmap->Row(y), static_cast<size_t>(cw) * 4);
  }
  bitmap->Free();
  return part;
}

TImgStore* KeepFrame(TFPReaderGif* reader, TDirectBitmap* bitmap, int32_t W, int32_t H) {
  bitmap = CropToCell(bitmap, reader->Descriptor.Left, reader->Descriptor.Top, W, H);
  auto* f = new TImgStore();
  f->Left = reader->Descriptor.Left;
  f->Top = reader->Descriptor.Top;
  f->FrameWidth = reader->Descriptor.Width;
  f->FrameHeight = reader->Descriptor.Height;
  f->DescriptorFlags = reader->Descriptor.Packedbit;
  f->GraphicControl = reader->GraphicControl;
  f->Bitmap = bitmap;
  return f;
}

}  // namespace

TBitmapStore* LoadGifImage(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                           TLevelProvider& Provider, bool Atlas) {
  foundation::TRef<TFPReaderGif> reader = foundation::TRef<TFPReaderGif>::Adopt(new TFPReaderGif());
  if (!reader->InternalCheck(Stream)) return nullptr;
  TDirectBitmap* first = nullptr;
  try {
    reader->InternalRead(Stream, first);
  } catch (...) {
    foundation::FreeAndNil(first);
  }
  if (!first) return nullptr;
  const int32_t W = reader->Header.ScreenWidth, H = reader->Header.ScreenHeight;
  TDirectBitmap* result = first;
  decoders::TTilesTag* tag = nullptr;
  std::vector<TImgStore*> frames;
  int64_t total = 0;  // 64 bits: thousands of long delays pass 2^31 ms
  std::string delays;
  const int64_t cellPixels = int64_t(W) * H;
  // An atlas needs a logical screen whose single cell stays within the limit;
  // otherwise the first frame stands as a still picture.
  const bool atlas = Atlas && reader->Animated && cellPixels > 0 && cellPixels < GifAtlasPixelLimit;
  if (atlas) {
    TDirectBitmap* current = first;
    for (;;) {
      const uint16_t delay = reader->GraphicControl.DelayTime;
      const int32_t duration = delay == 0 ? 50 : delay * 10;
      total += duration;
      if (!delays.empty()) delays += ",";
      delays += std::to_string(duration);
      frames.push_back(KeepFrame(reader.Get(), current, W, H));
      TDirectBitmap* next = nullptr;
      bool ok = false;
      try {
        ok = reader->ReadNextFrame(Stream, next);
      } catch (...) {
        ok = false;
      }
      if (!ok || !next) {
        // A frame that fails ends the collection.
        foundation::FreeObj(next);
        break;
      }
      if (cellPixels * (int64_t(frames.size()) + 1) >= GifAtlasPixelLimit) {
        foundation::FreeObj(next);
        break;
      }
      current = next;
    }
    try {
      result = BuildAtlas(frames, W, H);
    } catch (...) {
      result = nullptr;
    }
    for (TImgStore* f : frames) f->Free();
    if (!result) return nullptr;
  }
  auto* store = new TWrapperBitmapStore(Name, result, true, Provider);
  if (OwnsStream) Stream->Free();
  if (atlas) {
    const int32_t N = static_cast<int32_t>(frames.size());
    tag = new decoders::TTilesTag(store);
    tag->FrameWidth = W;
    tag->FrameHeight = H;
    tag->Columns = N;
    tag->FrameCount = N;
    tag->Rows = 1;
    tag->TotalDuration = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
    tag->MeanDuration = static_cast<int32_t>(total / N);
    tag->Delays = foundation::TByteString::FromBytes(delays);
    tag->LoopCount = reader->LoopCount;
  }
  return store;
}

TBitmapStore* LoadGifBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                 TLevelProvider& Provider) {
  return LoadGifImage(Stream, Name, OwnsStream, Provider, false);
}

TBitmapStore* LoadGifFirstFrameBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                           TLevelProvider& Provider) {
  return LoadGifImage(Stream, Name, OwnsStream, Provider, false);
}

TBitmapStore* LoadGifAtlasBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                      TLevelProvider& Provider) {
  return LoadGifImage(Stream, Name, OwnsStream, Provider, true);
}

void InitSysGifLoader() {
  RegisterImageLoader(&LoadGifBitmapStore, {u".gif"});
  RegisterImageLoader(&LoadGifFirstFrameBitmapStore, {u".gif_first_frame"});
  RegisterImageLoader(&LoadGifAtlasBitmapStore, {u".gif|framesatlas"});
}

}  // namespace decoders
