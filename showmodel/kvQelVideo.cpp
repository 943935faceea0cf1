#include "showmodel/kvQelVideo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvIniUtils.h"
#include "showmodel/kvQelSlideHost.h"
#include "text/kvIniColorUtils.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;

namespace {

TCreateObjectHook gPrevious = nullptr;
bool gInstalled = false;

TQelObject* CreateVideoObject(uint8_t TypeCode, TQelObject* Parent, TQelObjectProps* Props) {
  if (TypeCode == otVideo) return TQelObject::Create<TQelVideo>(Parent, Props);
  return gPrevious ? gPrevious(TypeCode, Parent, Props) : nullptr;
}

// Every wrapper alive, by host and key. Slides are built on the loader
// thread while the main thread releases old ones, so the list has a lock.
std::mutex gWrappersLock;
std::vector<TExtractorWrapper*> gWrappers;

TIniItem* Key(TQelObjectProps* P, std::u16string_view Name) { return P ? FindNodeKey(P, Name) : nullptr; }

// The "VideoClip" block of the project's "Tracks" list with that GUID.
TIniList* FindClipNode(TIniList* list, const std::u16string& guid, int depth = 0) {
  if (!list || guid.empty() || depth > 64) return nullptr;
  for (foundation::TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::NextObject(list, o)) {
    if (foundation::SameText(TIniItem::GetName(o), u"VideoClip") &&
        TIniItem::GetValue(TIniList::FindKey(o, u"ClipGUID")) == guid)
      return o;
    if (TIniList* inner = FindClipNode(o, guid, depth + 1)) return inner;
  }
  return nullptr;
}

foundation::TIniSection* SectionOf(TQelSlideHost* host, const std::u16string& name) {
  if (!host || !host->SectionQuery) return nullptr;
  return dynamic_cast<foundation::TIniSection*>(host->SectionQuery(name));
}

T3DPoint Scale3(T3DPoint v, double k) { return {float(v.X * k), float(v.Y * k), float(v.Z * k)}; }

double Finite(double v, double def) { return std::isfinite(v) ? v : def; }

}  // namespace

// ---- clips -------------------------------------------------------------------------------------------------

TVideoClip2::TVideoClip2(TExtractorWrapper* Owner, TIniList* Node, foundation::TIniSection* Times)
    : Owner(Owner), Node(Node) {
  if (Node) Node->_AddRef();
  Load(Times);
  if (Owner) Owner->Clips.push_back(this);
}

void TVideoClip2::Dispose() {
  if (Owner) {
    auto& list = Owner->Clips;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  foundation::FreeAndNil(Node);
  TRefObject::Dispose();
}

void TVideoClip2::Load(foundation::TIniSection* Times) {
  LoadFromDisk = TIniItem::GetBool(TIniList::FindKey(Node, u"LoadFromDisk"), false);
  FileName = TIniItem::GetValue(TIniList::FindKey(Node, u"FileName"));
  Duration = Finite(TIniItem::GetFloat(TIniList::FindKey(Node, u"Duration"), 0), 0);
  StartVideoTime = Finite(TIniItem::GetFloat(TIniList::FindKey(Node, u"StartVideoTime"), 0), 0);
  StartQelTime = Finite(TIniItem::GetFloat(TIniList::FindKey(Node, u"StartQELTime"), 0), 0);
  Speed = Finite(TIniItem::GetFloat(TIniList::FindKey(Node, u"FPSMultiplier"), 1), 1);
  Caption = TIniItem::GetValue(TIniList::FindKey(Node, u"ClipCaption"));
  StartSlideIdx = TIniItem::GetInteger(TIniList::FindKey(Node, u"StartSlideIdx"), 0);
  Mute = TIniItem::GetBool(TIniList::FindKey(Node, u"Mute"), false);
  MasterId = TIniItem::GetValue(TIniList::FindKey(Node, u"MasterID"));
  SyncPosition =
      StartSlideIdx != 0
          ? Finite(TIniItem::GetFloat(TIniList::FindKeyIndexed(Times, u"opt_synchpos", StartSlideIdx), 0), 0)
          : 0;
}

void TVideoClip2::Clamp(double Length) {
  if (Duration < 0 || Duration > Length) {
    Duration = Length;
    if (Node) TIniItem::SetFloat(TIniList::ForceKey(Node, u"Duration"), Duration);
  }
  if (StartVideoTime < 0 || StartVideoTime > Length) {
    StartVideoTime = 0;
    if (Node) TIniItem::SetFloat(TIniList::ForceKey(Node, u"StartVideoTime"), 0);
  }
}

// ---- extractor wrappers ------------------------------------------------------------------------------------

TExtractorWrapper::TExtractorWrapper(TQelSlideHost* Host, const std::u16string& Key) : Key(Key), Host(Host) {
  const size_t colon = Key.find(u':');
  if (colon != std::u16string::npos) Guid = Key.substr(colon + 1);
  std::lock_guard<std::mutex> guard(gWrappersLock);
  gWrappers.push_back(this);
}

void TExtractorWrapper::Dispose() {
  {
    std::lock_guard<std::mutex> guard(gWrappersLock);
    gWrappers.erase(std::remove(gWrappers.begin(), gWrappers.end(), this), gWrappers.end());
  }
  CloseExtractor();
  while (!Clips.empty()) {
    TVideoClip2* c = Clips.back();
    Clips.pop_back();
    c->Owner = nullptr;
    c->Free();
  }
  TRefObject::Dispose();
}

TExtractorWrapper* TExtractorWrapper::Find(TQelSlideHost* Host, const std::u16string& Key) {
  std::lock_guard<std::mutex> guard(gWrappersLock);
  for (TExtractorWrapper* w : gWrappers)
    if (w->Host == Host && w->Key == Key) {
      w->_AddRef();
      return w;
    }
  return nullptr;
}

void TExtractorWrapper::CloseExtractor() {
  if (Held.Image && Extractor) Extractor->PutBack(Held);
  Held = video::TVideoItem{};
  HeldLocks = 0;
  if (Extractor) {
    Extractor->Stop();
    foundation::FreeAndNil(Extractor);
  }
  Source = nullptr;
  DeviceSet = false;
  RequestSent = false;
}

void TExtractorWrapper::SetFileName(const std::u16string& Name, bool FromDisk) {
  if (Name == FileName && FromDisk == LoadFromDisk && (Extractor || OpenState != 2 || Name.empty())) return;
  FileName = Name;
  LoadFromDisk = FromDisk;
  foundation::TStream* stream = nullptr;
  if (Host && Host->Accessor && !Name.empty()) {
    stream = FromDisk ? Host->Accessor->OpenFile(Name) : Host->Accessor->OpenStream(Name);
    // A name the show does not hold may still name a file beside it.
    std::u16string resolved = Name;
    if (!stream && !FromDisk && Host->Accessor->ResolvePath(resolved)) stream = Host->Accessor->OpenStream(resolved);
  }
  const bool opened = stream != nullptr;
  video::TFrameSource* source =
      opened ? video::CreateVideoSource(stream, true, Name, Host->VideoOpenFlags[0], Host->VideoOpenFlags[1]) : nullptr;
  CloseExtractor();
  if (source) {
    OpenState = 0;
    Source = source;
    Extractor = new video::TQelVideoExtractor(source, true);
  } else {
    OpenState = opened ? 1 : 2;
  }
}

double TExtractorWrapper::GetLength() {
  if (!Source) return 0;
  const video::TVideoParams& p = Source->Params;
  if (p.FrameRate <= 0 || p.FrameCount <= 0) return 0;
  return double(p.FrameCount) / p.FrameRate * 1000.0;
}

int32_t TExtractorWrapper::FrameIndexAt(double VideoTime) {
  return Extractor ? Extractor->FrameIndexAt(VideoTime) : video::kNoFrame;
}

void TExtractorWrapper::SetDevice() {
  if (DeviceSet || !Extractor || !Source) return;
  DeviceSet = true;
  const video::TVideoParams& p = Source->Params;
  for (int k = 0; k < 2; ++k) {
    auto* image = new video::TMemoryYUVImage(p.Width, p.Height, p.HasAlpha);
    Extractor->AddImage(image);
    image->Free();  // the pool holds it
  }
}

void TExtractorWrapper::Request(double VideoTime, bool Wait) {
  if (!Extractor) return;
  Extractor->Seek(VideoTime, Wait);
  RequestSent = true;
}

int32_t TExtractorWrapper::Prefetch(double VideoTime) {
  if (!Extractor || !Source) return 2;
  const int32_t e = FrameIndexAt(VideoTime);
  bool available = Held.Image && Held.Frame == e, next = false;
  for (int32_t i = 0, n = Extractor->GetItemCount(); i < n; ++i) {
    const int32_t f = Extractor->GetItemFrame(i);
    available = available || f == e;
    next = next || f == e + 1;
  }
  if (available && next) return 2;
  if (available) {
    const double rate = Source->Params.FrameRate;
    if (std::nearbyint(VideoTime * rate / 1000) < Source->Params.FrameCount) {
      const auto range = Extractor->GetFrameTimeRange(e + 1);
      Request((range.first + range.second) / 2, false);
      return 1;
    }
    return 2;
  }
  Request(VideoTime, false);
  return 0;
}

bool TExtractorWrapper::TakeFrame(double VideoTime, double Rate) {
  if (!Extractor) return false;
  if (Held.Image) {
    ++HeldLocks;
    return true;
  }
  Extractor->TakeFrame(Held, VideoTime, Rate);
  if (!Held.Image) return false;
  HeldLocks = 1;
  return true;
}

void TExtractorWrapper::ReleaseFrame() {
  QEL_ASSERT(HeldLocks >= 1, "TExtractorWrapper.ReleaseFrame: no frame held");
  if (--HeldLocks > 0) return;
  if (Extractor && Held.Image) Extractor->PutBack(Held);
  Held = video::TVideoItem{};
}

// ---- the video object ----------------------------------------------------------------------------------------

void TQelVideo::Dispose() {
  if (Wrapper && CurrentFrame != video::kNoFrame && Wrapper->HeldLocks > 0) Wrapper->ReleaseFrame();
  Clip = nullptr;
  foundation::FreeAndNil(Wrapper);
  foundation::FreeAndNil(Placeholder);
  TQelObject::Dispose();
}

void TQelVideo::InitDefaults() {
  Duration = 10000;
  StartQelTime = 0;
  StartVideoTime = 0;
  Speed = 1;
  ReferenceRate = 60;
  Antialiased = true;
  ImageIndex = int32_t(0x80000001);
  PixelAspect = 1;
}

double TQelVideo::Length() { return Wrapper ? Wrapper->GetLength() : 0; }

void TQelVideo::CreateExtractor() {
  TQelSlideBase* slide = GetSlide();
  const std::u16string key =
      foundation::IntToStr(slide ? slide->SlideIndex() : 0) + u":" + (ClipGuid.empty() ? FileName : ClipGuid);
  Clip = nullptr;
  foundation::FreeAndNil(Wrapper);
  TQelSlideHost* host = GetSlideHost();
  Wrapper = TExtractorWrapper::Find(host, key);
  if (!Wrapper) Wrapper = new TExtractorWrapper(host, key);
  if (ClipGuid.empty()) return;
  foundation::TIniSection* times = SectionOf(host, u"Times");
  if (!Wrapper->Clips.empty()) {
    Clip = Wrapper->Clips.front();
    Clip->Load(times);
    return;
  }
  TIniList* node = FindClipNode(SectionOf(host, u"Tracks"), ClipGuid);
  auto* clip = new TVideoClip2(Wrapper, node, times);
  Clip = clip;  // the wrapper's list holds it
}

void TQelVideo::SetSource(const std::u16string& Name) {
  if (Clip) {
    Clip->FileName = Name;
    Wrapper->SetFileName(Name, Clip->LoadFromDisk);
    Clip->Clamp(Length());
  } else {
    Wrapper->SetFileName(Name, LoadFromDisk);
  }
}

void TQelVideo::SetFileName(const std::u16string& Name) {
  if (!Wrapper) CreateExtractor();
  FileName = Name;
  SetSource(Name);
  UpdateGeometry();
  Duration = Length();
  foundation::FreeAndNil(Placeholder);
  // A file the decoder opens but that has no frames to play (a picture given
  // to a video object) would otherwise draw nothing at all: it shows the
  // load-error placeholder, as a file that does not open does.
  const uint8_t state = Wrapper->OpenState == 0 && !(Wrapper->GetLength() > 0) ? 1 : Wrapper->OpenState;
  if (state != 0) {
    Placeholder = container::CreatePlaceholderImage(Name, state == 1, true);
    if (Placeholder) Size = {float(Placeholder->Params.Width), float(Placeholder->Params.Height)};
  }
  Changed[0] = true;
}

void TQelVideo::SetDuration(double Value) {
  const double length = Length();
  if (!std::isfinite(Value) || Value < 0 || Value > length) Value = length;
  Duration = Value;
}

void TQelVideo::SetStartVideoTime(double Value) {
  if (!std::isfinite(Value) || Value < 0 || Value > Length()) Value = 0;
  StartVideoTime = Value;
}

void TQelVideo::SetLoadFromDisk(bool Value) { LoadFromDisk = Value; }

double TQelVideo::GetVideoTime(double T) {
  double start = Clip ? Clip->StartQelTime : StartQelTime;
  const double m = Clip ? Clip->Speed : Speed;
  const double duration = Clip ? Clip->Duration : Duration;
  const double first = Clip ? Clip->StartVideoTime : StartVideoTime;
  // A clip that runs on from an earlier slide started before this slide
  // did: the offset comes first, so the clip goes on where it was instead of
  // waiting at its first frame and then jumping.
  if (Clip) {
    TQelSlideBase* slide = GetSlide();
    start -= (slide ? slide->SlideStart() : 0) - Clip->SyncPosition;
  }
  const double e = std::max(Props ? GetDeltaTime(Props, 0) : 0.0, start);
  if (T < e) return first;
  if (m <= 0 || T > start + duration / m) return first + duration;
  return first + m * (T - start);
}

void TQelVideo::UpdateGeometry() {
  if (!Wrapper || !Wrapper->Source) return;
  const video::TVideoParams& p = Wrapper->Source->Params;
  const float w = float(p.Width), h = float(p.Height);
  if (w <= 0 || h <= 0) return;
  PixelAspect = p.AspectClass == 1 ? 1.333333 * h / w : p.AspectClass == 2 ? 1.777778 * h / w : 1.0;
  BorderParams.Zoom = 100;
  BorderParams.Offset = {0, 0};
  BorderParamsEff = BorderParams;
  float bw = 0;
  ContentRect = CalcObjectContentRect(BorderParams, w, h, bw);
  const float cw = ContentRect.Right - ContentRect.Left, ch = ContentRect.Bottom - ContentRect.Top;
  Size = {float(2 * bw + cw * PixelAspect), 2 * bw + ch};
  FramedSize = Size;
  if (AutoRotate && (p.Rotation == 90 || p.Rotation == 270)) Size = {Size.Y * Size.Y / Size.X, Size.Y};
  BorderWidthPair = {bw, bw};
  if (Props) ApplyAspect(Props, Size.X, Size.Y);
}

TFloatPoint TQelVideo::GetContentSize() {
  if (!Wrapper || !Wrapper->Source) return {0, 0};
  return {float(Wrapper->Source->Params.Width), float(Wrapper->Source->Params.Height)};
}

void TQelVideo::LoadKeys(TQelObjectProps* P, bool Reload) {
  TQelSlideHost* host = GetSlideHost();
  ClipGuid = GetNodeValue(P, u"ClipGUID", u"");
  if (!ClipGuid.empty() && !FindClipNode(SectionOf(host, u"Tracks"), ClipGuid)) ClipGuid.clear();
  Mute = TIniItem::GetBool(Key(P, u"Mute"), false);
  AutoRotate = TIniItem::GetBool(Key(P, u"AutoRotate"), false);
  StartQelTime = Finite(TIniItem::GetFloat(Key(P, u"StartQELTime"), 0), 0);
  Speed = Finite(TIniItem::GetFloat(Key(P, u"FPSMultiplier"), 1), 1);
  const std::u16string file = GetNodeValue(P, u"FileName", u"");
  TQelSlideBase* slide = GetSlide();
  const std::u16string key =
      foundation::IntToStr(slide ? slide->SlideIndex() : 0) + u":" + (ClipGuid.empty() ? file : ClipGuid);
  if (!Wrapper || Wrapper->Key != key) {
    FileName = file;
    CreateExtractor();
  }
  if (Clip) {
    SetFileName(Clip->FileName);
    Duration = Finite(TIniItem::GetFloat(Key(P, u"Duration"), 0), 0);
    StartVideoTime = Finite(TIniItem::GetFloat(Key(P, u"StartVideoTime"), 0), 0);
  } else {
    SetLoadFromDisk(TIniItem::GetBool(Key(P, u"LoadFromDisk"), false));
    SetFileName(file);
    SetDuration(TIniItem::GetFloat(Key(P, u"Duration"), 0));
    SetStartVideoTime(TIniItem::GetFloat(Key(P, u"StartVideoTime"), 0));
  }
  Antialiased = TIniItem::GetBool(Key(P, u"Antialiased"), TIniItem::GetBool(Key(P, u"AntialiasedBorder"), true));
  TObjectFrameParams frame;
  frame.Border = TIniItem::GetBool(Key(P, u"EnableBorder"), false);
  frame.Crop = TIniItem::GetBool(Key(P, u"EnableCrop"), false);
  frame.KeepAspect = TIniItem::GetBool(Key(P, u"EnableAspect"), false);
  frame.BorderWidth = float(TIniItem::GetFloat(Key(P, u"BorderWidth"), 1.5));
  frame.Color = text::IniItemGetColor(Key(P, u"BorderColor"), 0xFFFFFFFF);
  std::array<float, 4> crop = foundation::IniItemGetFloat4(Key(P, u"CropRect"), {0, 0, 0, 0});
  const int32_t rotation = Wrapper && Wrapper->Source ? Wrapper->Source->Params.Rotation : 0;
  if (AutoRotate) {
    // The margins turn with the picture: (left, top, right, bottom).
    if (rotation == 90) crop = {crop[1], crop[2], crop[3], crop[0]};
    else if (rotation == 270) crop = {crop[3], crop[0], crop[1], crop[2]};
    else if (rotation == 180) crop = {crop[2], crop[3], crop[0], crop[1]};
  }
  frame.CropLeft = crop[0];
  frame.CropTop = crop[1];
  frame.CropRight = crop[2];
  frame.CropBottom = crop[3];
  frame.Aspect = float(TIniItem::GetFloat(Key(P, u"Aspect"), 0));
  BorderParams = frame;
  if (frame.Border && !imaging::ColorManagementOff.load() && host && host->DisplayProfile) {
    const imaging::TFColor c{uint8_t(frame.Color), uint8_t(frame.Color >> 8), uint8_t(frame.Color >> 16)};
    imaging::TFColor out = c;
    imaging::TransformColor(host->DisplayProfile, out, c);
    BorderColorDisplay = (frame.Color & 0xFF000000u) | uint32_t(out.R) << 16 | uint32_t(out.G) << 8 | out.B;
  } else {
    BorderColorDisplay = frame.Color;
  }
  UpdateGeometry();
  static const std::u16string_view deinterlace[] = {u"Auto", u"Wave", u"BobEven", u"BobOdd"};
  Deinterlace = uint8_t(TIniItem::GetValueIndex(Key(P, u"DeinterlaceType"), deinterlace, true, diAuto));
  WaitForConvert = TIniItem::GetBool(Key(P, u"WaitForConvert"), false);
  ChromaEnable = TIniItem::GetBool(Key(P, u"ChromaEnable"), false);
  const std::array<float, 4> key3 = foundation::IniItemGetFloat4(Key(P, u"Chromakey"), {0, 0, 0, 0});
  for (int k = 0; k < 3; ++k) ChromaKey[k] = key3[size_t(k)];
  ChromaDelta = float(TIniItem::GetFloat(Key(P, u"ChromaDelta"), 0));
  ImageIndex = TIniItem::GetInteger(Key(P, u"ImageIndex"), int32_t(0x80000001));
  const TFloatPoint content = GetContentSize();
  if (P && content.X > 0 && content.Y > 0) ApplyAspect(P, Size.X, Size.Y);
  TQelObject::LoadKeys(P, Reload);
}

void TQelVideo::EvaluateAt(double T, bool Recurse) {
  TQelSlideBase* slide = GetSlide();
  const double local = Props ? Props->EvalTime : 0;
  if (slide && local + slide->SlideStart() != T) Changed[0] = true;
  TQelObject::EvaluateAt(T, Recurse);
}

void TQelVideo::PrefetchFrames(TQelDrawer* Drawer, double T) {
  if (Wrapper && Length() > 0) {
    Wrapper->SetDevice();
    TQelSlideBase* slide = GetSlide();
    Wrapper->Request(GetVideoTime(T - (slide ? slide->SlideStart() : 0)), true);
  }
  TQelObject::PrefetchFrames(Drawer, T);
}

int32_t TQelVideo::GetFramesReady(TQelDrawer* Drawer, double T) {
  const int32_t inherited = TQelObject::GetFramesReady(Drawer, T);
  if (!Wrapper) return inherited;
  Wrapper->SetDevice();
  TQelSlideBase* slide = GetSlide();
  const double local = T - (slide ? slide->SlideStart() : 0);
  int32_t own = 2;
  const double slideEnd = slide ? slide->GetOriginTime(koSlideEnd) - slide->SlideStart() : 0;
  if (!Clip || (local >= 0 && local <= slideEnd)) own = Wrapper->Prefetch(GetVideoTime(local));
  if (own == 0 || inherited == 0) return 0;
  return own == 2 && inherited == 2 ? 2 : 1;
}

void TQelVideo::Prepare() {
  if (Wrapper && CurrentFrame != video::kNoFrame) {
    const double rate = Wrapper->Source ? Wrapper->Source->Params.FrameRate : 0;
    const double step = std::nearbyint(rate / ReferenceRate);
    if (PreviousFrame != video::kNoFrame && std::fabs(double(CurrentFrame) - PreviousFrame) > step) Changed[0] = true;
    PreviousFrame = CurrentFrame;
    if (Wrapper->HeldLocks > 0) Wrapper->ReleaseFrame();
    CurrentFrame = video::kNoFrame;
  }
  TQelObject::Prepare();
}

void TQelVideo::DrawContent(TQelDrawer* Drawer) {
  const float opacity = GetOpacity();
  if (opacity == 0 || !Drawer) return;
  const double fx = FramedSize.X != 0 ? Size.X / FramedSize.X : 1;
  const double fy = FramedSize.Y != 0 ? Size.Y / FramedSize.Y : 1;
  const TFloatPoint position{float(ContentRect.Left - (RectOrigin.X + BorderWidthPair.X) / fx),
                             float(ContentRect.Top - (RectOrigin.Y + BorderWidthPair.Y) / fy)};
  if (Wrapper && Wrapper->Source && Length() > 0) {
    Wrapper->SetDevice();
    const double local = Props ? Props->EvalTime : 0;
    const double c = GetVideoTime(local);
    if (CurrentFrame == video::kNoFrame) {
      if (CaptureMode) Wrapper->Request(c, true);
      bool ok = Wrapper->TakeFrame(c, ReferenceRate);
      if (ok && (Wrapper->Held.Image->ContentLost.load() || Wrapper->Held.Frame < 0)) {
        Wrapper->ReleaseFrame();
        Wrapper->Request(c, true);
        ok = Wrapper->TakeFrame(c, ReferenceRate);
        // Lost again: this frame is skipped.
        if (ok && (Wrapper->Held.Image->ContentLost.load() || Wrapper->Held.Frame < 0)) {
          Wrapper->ReleaseFrame();
          ok = false;
        }
      }
      if (!ok) return;
      CurrentFrame = Wrapper->Held.Frame;
    }
    auto* frames = dynamic_cast<TVideoFrameDrawer*>(Drawer);
    if (!frames || !Wrapper->Held.Image) return;
    const video::TVideoParams& p = Wrapper->Source->Params;
    TVideoDrawParams r;
    r.Opacity = opacity;
    r.Antialiased = Antialiased;
    r.Content = ContentRect;
    r.Deinterlace = Deinterlace;
    if (r.Deinterlace == diAuto)
      r.Deinterlace = !p.Interlaced ? diWave : p.TopFieldFirst ? diBobEven : diBobOdd;
    if (r.Deinterlace != diWave && Wrapper->Extractor) {
      const auto range = Wrapper->Extractor->GetFrameTimeRange(Wrapper->Held.Frame);
      const bool firstHalf = c < (range.first + range.second) / 2;
      r.Field = (r.Deinterlace == diBobEven) == firstHalf ? 1 : 2;
    }
    r.ChromaEnable = ChromaEnable;
    for (int k = 0; k < 3; ++k) r.ChromaKey[k] = ChromaKey[k];
    r.ChromaDelta = ChromaDelta;
    T3DPoint a = Scale3(Frame.U, fx * PixelAspect), b = Scale3(Frame.V, fy);
    if (AutoRotate && p.Rotation % 180 == 90 && FramedSize.X > 0 && FramedSize.Y > 0) {
      const T3DPoint oldA = a;
      a = Scale3(b, FramedSize.Y / FramedSize.X);
      b = Scale3(oldA, -(FramedSize.X / FramedSize.Y));
    }
    if (AutoRotate && p.Rotation >= 180) {
      a = Scale3(a, -1);
      b = Scale3(b, -1);
    }
    if (BorderParams.Border)
      Drawer->DrawFrameBorder(Frame, {-RectOrigin.X, -RectOrigin.Y}, BorderWidthPair, Size, BorderColorDisplay,
                              opacity, Antialiased);
    frames->DrawVideoFrame(Wrapper->Held.Image, Frame, position, a, b, r);
    return;
  }
  if (Placeholder) {
    const double pw = Placeholder->Params.Width, ph = Placeholder->Params.Height;
    const double sx = pw > 0 ? Size.X / pw : 1, sy = ph > 0 ? Size.Y / ph : 1;
    TObjectDrawParams r = Drawer->DefaultDrawParams();
    r.Opacity = opacity;
    Drawer->DrawObjectImage(Placeholder, Frame, {float(-RectOrigin.X / sx), float(-RectOrigin.Y / sy)},
                            Scale3(Frame.U, sx), Scale3(Frame.V, sy), r);
  }
}

void InitQelVideo() {
  // Once only: taking the head again would point this hook back at itself.
  // An empty hook means the object unit has not started yet: the chain then
  // ends at the factory of every other kind, which the object unit would
  // have installed, so images, texts and boxes are still made whatever the
  // order of the two.
  if (gInstalled) return;
  gPrevious = CreateObjectHook ? CreateObjectHook : &CreateObjectByType;
  CreateObjectHook = &CreateVideoObject;
  gInstalled = true;
}

void DoneQelVideo() {
  if (!gInstalled) return;
  // A hook chained on top keeps this one as its fallback: it stays.
  if (CreateObjectHook == &CreateVideoObject) CreateObjectHook = gPrevious;
  gPrevious = nullptr;
  gInstalled = false;
}

}  // namespace showmodel
