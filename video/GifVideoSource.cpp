#include "video/GifVideoSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "imaging/kvPixelFormat.h"

namespace video {

using imaging::TSysBitmap;

void TGifFrameData::Dispose() {
  foundation::FreeAndNil(Cached);
  foundation::FreeAndNil(CachedRestore);
  foundation::TRefObject::Dispose();
}

TGifVideoSource::TGifVideoSource(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName)
    : MediaStream(stream), OwnsStream(ownsStream), FileName(fileName) {
  Reader = new decoders::TFPReaderGif();
  Frames = new foundation::TList();
  try {
    HeaderOk = stream && Reader->InternalCheck(stream);
  } catch (const std::exception&) {
    HeaderOk = false;
  }
}

void TGifVideoSource::Dispose() {
  if (OwnsStream) foundation::FreeAndNil(MediaStream);
  foundation::FreeAndNil(Reader);
  foundation::FreeAndNil(PrevComposed);
  foundation::FreeAndNil(PrevRestore);
  if (Frames) {
    Frames->Clear();
    foundation::FreeAndNil(Frames);
  }
  TFrameSource::Dispose();
}

TSysBitmap* TGifVideoSource::NewCanvas() const {
  TSysBitmap* c = imaging::CreateSysBitmap(Width, Height, imaging::pfA8R8G8B8);
  for (int32_t y = 0; y < Height; ++y) std::memset(c->Row(y), 0, static_cast<size_t>(Width) * 4);
  return c;
}

namespace {
TSysBitmap* CopyOf(const TSysBitmap* src, int32_t w, int32_t h) {
  TSysBitmap* c = imaging::CreateSysBitmap(w, h, imaging::pfA8R8G8B8);
  for (int32_t y = 0; y < h; ++y) std::memcpy(c->Row(y), src->Row(y), static_cast<size_t>(w) * 4);
  return c;
}
void CopyInto(TSysBitmap* dst, const TSysBitmap* src, int32_t w, int32_t h) {
  for (int32_t y = 0; y < h; ++y) std::memcpy(dst->Row(y), src->Row(y), static_cast<size_t>(w) * 4);
}
}  // namespace

void TGifVideoSource::Draw(TSysBitmap* canvas, imaging::TDirectBitmap* image, const TGifFrameData* f) const {
  const int32_t w = std::min<int32_t>(image->Width, Width - f->Left);
  const int32_t h = std::min<int32_t>(image->Height, Height - f->Top);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* in = image->Row(y);
    uint8_t* out = canvas->Row(f->Top + y) + static_cast<size_t>(f->Left) * 4;
    for (int32_t x = 0; x < w; ++x)
      if (in[4 * x + 3] != 0) std::memcpy(out + 4 * x, in + 4 * x, 4);  // transparent pixels keep the canvas
  }
}

bool TGifVideoSource::Scan() {
  if (!HeaderOk) return false;
  imaging::TDirectBitmap* first = nullptr;
  try {
    Reader->InternalRead(MediaStream, first);
  } catch (const std::exception&) {
    foundation::FreeAndNil(first);
    return false;
  }
  if (!first) return false;
  if (!Reader->Animated) {
    first->Free();
    return false;
  }
  Width = Reader->Header.ScreenWidth;
  Height = Reader->Header.ScreenHeight;
  // Every frame composes on a canvas of the screen size: a screen the
  // bitmap layer would not make is no video.
  if (Width <= 0 || Height <= 0 || !imaging::BitmapSizeAllowed(Width, Height, 32)) {
    first->Free();
    return false;
  }
  int32_t prevDisposal = -1, restoreIndex = -1, lastDisposal2 = -1;
  int32_t prevRect[4] = {0, 0, 0, 0};
  int32_t total = 0;
  minimumMs_ = 1000;
  bool more = true;
  try {
    for (int32_t index = 0; more; ++index) {
      auto* f = new TGifFrameData();
      Frames->Add(f);
      const auto& d = Reader->Descriptor;
      f->Left = d.Left;
      f->Top = d.Top;
      f->FrameWidth = d.Width;
      f->FrameHeight = d.Height;
      f->ControlFlags = Reader->HasGraphicControl ? Reader->GraphicControl.Packedbit : 0;
      f->Delay = Reader->HasGraphicControl ? Reader->GraphicControl.DelayTime : 0;
      f->PrevDisposal = prevDisposal;
      f->RestoreIndex = restoreIndex;
      std::memcpy(f->PrevRect, prevRect, sizeof prevRect);
      f->Position = MediaStream->GetPosition();
      f->KeyFrame = index % 10 == 0;
      prevRect[0] = f->Left, prevRect[1] = f->Top, prevRect[2] = f->Left + f->FrameWidth,
      prevRect[3] = f->Top + f->FrameHeight;
      prevDisposal = f->Disposal();
      if (prevDisposal == 2) lastDisposal2 = index;
      if (prevDisposal == 3) restoreIndex = lastDisposal2;
      total += f->DisplayMs();
      minimumMs_ = std::min(minimumMs_, f->DisplayMs());
      cumulative_.push_back(total);
      more = Reader->SkipFrame(MediaStream);
    }
  } catch (const std::exception&) {
    // A damaged tail ends the index; the frames before it play.
  }
  // Frame 0 is kept as a whole canvas: the first image at its place on the
  // logical screen, so every later frame composes over it.
  TGifFrameData* f0 = Frame(0);
  f0->Cached = NewCanvas();
  Draw(f0->Cached, first, f0);
  first->Free();
  if (f0->Disposal() == 3) f0->CachedRestore = NewCanvas();
  Params = TVideoParams();
  Params.Width = Width;
  Params.Height = Height;
  Params.FrameRate = 1000.0 / minimumMs_;
  Params.HasAlpha = true;
  Params.DurationMs = total;
  // Rounded up, so the last frame of a finite animation is reached.
  Params.FrameCount = Reader->LoopCount != 0 ? static_cast<int32_t>((total + minimumMs_ - 1) / minimumMs_) : 1000000;
  Params.Codec = u"GIF";
  PrevComposed = CopyOf(f0->Cached, Width, Height);
  PrevRestore = f0->CachedRestore ? CopyOf(f0->CachedRestore, Width, Height) : nullptr;
  LastComposed = 0;
  return true;
}

bool TGifVideoSource::SetPosition(int32_t index) {
  RequestedIndex = index;
  return true;
}

double TGifVideoSource::RequestedTimeMs() const {
  double t = RequestedIndex / Params.FrameRate * 1000.0;
  const double d = Params.DurationMs;
  if (d <= 0) return 0;
  const int32_t loops = Reader->LoopCount;
  if (loops < 1 || loops > t / d) {
    // Within the pass: a time of exactly one duration is frame 0 again.
    t = std::fmod(t, d);
    if (t < 0) t = 0;
  } else {
    t = d;
  }
  return t;
}

int32_t TGifVideoSource::FrameAtTime(double t) const {
  const int32_t n = static_cast<int32_t>(cumulative_.size());
  for (int32_t i = 0; i < n; ++i)
    if (cumulative_[static_cast<size_t>(i)] > t) return i;
  return n - 1;
}

imaging::TDirectBitmap* TGifVideoSource::ReadFrame(int32_t b) {
  if (b < 1 || b >= FrameCount()) return nullptr;
  imaging::TDirectBitmap* image = nullptr;
  try {
    MediaStream->SetPosition(Frame(b - 1)->Position);
    if (!Reader->ReadNextFrame(MediaStream, image)) foundation::FreeAndNil(image);
  } catch (const std::exception&) {
    foundation::FreeAndNil(image);
  }
  if (image) ++FramesDecoded;
  return image;
}

bool TGifVideoSource::Compose(TSysBitmap* target, int32_t i) {
  if (i < 0 || i >= FrameCount() || !PrevComposed) return false;
  // Start: the last composed frame when it lies on the way, else the
  // nearest cached key frame at or before i.
  int32_t start = 0;
  for (int32_t k = i; k >= 0; --k)
    if (Frame(k)->KeyFrame && Frame(k)->Cached) {
      start = k;
      break;
    }
  TSysBitmap* canvas = nullptr;
  TSysBitmap* restore = nullptr;  // the canvas before frame `start` was drawn
  if (LastComposed <= i && LastComposed >= start) {
    start = LastComposed;
    canvas = CopyOf(PrevComposed, Width, Height);
    if (PrevRestore) restore = CopyOf(PrevRestore, Width, Height);
  } else {
    canvas = CopyOf(Frame(start)->Cached, Width, Height);
    if (Frame(start)->CachedRestore) restore = CopyOf(Frame(start)->CachedRestore, Width, Height);
  }
  bool ok = true;
  for (int32_t k = start + 1; k <= i && ok; ++k) {
    TGifFrameData* prev = Frame(k - 1);
    TGifFrameData* f = Frame(k);
    // The previous frame's disposal.
    if (prev->Disposal() == 2) {
      const int32_t x0 = std::min<int32_t>(prev->Left, Width), x1 = std::min<int32_t>(prev->Left + prev->FrameWidth, Width);
      const int32_t y1 = std::min<int32_t>(prev->Top + prev->FrameHeight, Height);
      for (int32_t y = prev->Top; y < y1; ++y) std::memset(canvas->Row(y) + x0 * 4, 0, static_cast<size_t>(x1 - x0) * 4);
    } else if (prev->Disposal() == 3 && restore) {
      // Back to the canvas as it was before the previous frame.
      CopyInto(canvas, restore, Width, Height);
    }
    foundation::FreeAndNil(restore);
    if (f->Disposal() == 3) restore = CopyOf(canvas, Width, Height);
    imaging::TDirectBitmap* image = ReadFrame(k);
    if (!image) {
      ok = false;
      break;
    }
    Draw(canvas, image, f);
    image->Free();
    if (f->KeyFrame && !f->Cached) {
      f->Cached = CopyOf(canvas, Width, Height);
      if (restore) f->CachedRestore = CopyOf(restore, Width, Height);
    }
  }
  if (ok) {
    CopyInto(target, canvas, std::min(Width, target->Width), std::min(Height, target->Height));
    foundation::FreeAndNil(PrevComposed);
    foundation::FreeAndNil(PrevRestore);
    PrevComposed = canvas;
    PrevRestore = restore;
    LastComposed = i;
  } else {
    canvas->Free();
    foundation::FreeObj(restore);
  }
  return ok;
}

bool TGifVideoSource::GetFrameYUV(TYUVImage* image) {
  TSysBitmap* plane = image->LockPlane(kPlaneRGBA);
  if (!plane) return false;
  bool ok = plane->BytesPerPixel() == 4 && Compose(plane, FrameAtTime(RequestedTimeMs()));
  image->UnlockPlane(kPlaneRGBA, plane);
  return ok;
}

bool TGifVideoSource::GetFrameBitmap(TSysBitmap* bitmap) {
  if (!bitmap || bitmap->BytesPerPixel() != 4) return false;
  return Compose(bitmap, FrameAtTime(RequestedTimeMs()));
}

// ---- hooks ----

namespace {
TVideoSourceFactory g_prevFactory = nullptr;
TVideoFileFilter g_prevFilter = nullptr;

bool IsGifName(const std::u16string& name) {
  size_t slash = name.find_last_of(u"\\/");
  size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return false;
  std::u16string ext = name.substr(dot);
  for (char16_t& c : ext)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return ext == u".gif";
}
}  // namespace

TFrameSource* GifVideoSourceFactory(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                    bool allowHardware, bool allowThreads) {
  if (!IsGifName(fileName)) {
    if (g_prevFactory) return g_prevFactory(stream, ownsStream, fileName, allowHardware, allowThreads);
    if (ownsStream) foundation::FreeObj(stream);
    return nullptr;
  }
  if (!stream) return nullptr;
  auto* s = new TGifVideoSource(stream, ownsStream, fileName);
  if (s->HeaderOk && s->Scan()) return s;
  s->Free();  // frees an owned stream too
  return nullptr;
}

bool GifVideoFileFilter(const std::u16string& fileName) {
  if (IsGifName(fileName)) return true;
  return g_prevFilter ? g_prevFilter(fileName) : true;
}

void InitGifVideoSource() {
  if (VideoSourceFactory == &GifVideoSourceFactory) return;
  g_prevFactory = VideoSourceFactory;
  g_prevFilter = VideoFileFilter;
  VideoSourceFactory = &GifVideoSourceFactory;
  VideoFileFilter = &GifVideoFileFilter;
}

void DoneGifVideoSource() {
  if (VideoSourceFactory == &GifVideoSourceFactory) {
    VideoSourceFactory = g_prevFactory;
    VideoFileFilter = g_prevFilter;
    g_prevFactory = nullptr;
    g_prevFilter = nullptr;
  }
}

}  // namespace video
