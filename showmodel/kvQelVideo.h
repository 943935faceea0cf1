// The video object: a rectangle of a slide that plays a video file in step
// with the show time. The show time maps to a video time (start offsets,
// speed, duration, and clips that run on over several slides); a frame
// extractor decodes ahead on its own thread, and objects of one slide that
// show the same file or clip share it through an extractor wrapper. A file
// that is missing or does not decode shows a placeholder picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "showmodel/kvQelObject.h"
#include "video/QelVideoExtractor.h"
#include "video/kvVideoSource.h"

namespace showmodel {

class TExtractorWrapper;

// Deinterlacing as asked for ("DeinterlaceType") and as drawn.
enum : uint8_t { diAuto = 0, diWave = 1, diBobEven = 2, diBobOdd = 3 };

// What the draw manager gets for one video frame.
struct TVideoDrawParams {
  float Opacity = 100;
  bool Antialiased = true;
  TFloatRect Content;   // the shown part of the picture, in picture pixels
  uint8_t Deinterlace = diWave;
  int32_t Field = 0;    // 0 both (wave), 1 the first field, 2 the second
  bool ChromaEnable = false;
  float ChromaKey[3] = {0, 0, 0};
  float ChromaDelta = 0;
};

// What a drawer needs beyond the objects' drawer to show video frames. A
// drawer without it shows no frames (the placeholder still draws).
class TVideoFrameDrawer {
 public:
  virtual ~TVideoFrameDrawer() = default;
  virtual void DrawVideoFrame(video::TYUVImage* Image, const TAffineFrame3D& Frame, TFloatPoint Position,
                              T3DPoint AxisA, T3DPoint AxisB, const TVideoDrawParams& Params) = 0;
};

// A clip of the project's "Tracks" list as one wrapper sees it.
class TVideoClip2 : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVideoClip2)
  // Adds itself to the wrapper's clip list (the list holds it).
  TVideoClip2(TExtractorWrapper* Owner, foundation::TIniList* Node, foundation::TIniSection* Times);
  void Dispose() override;
  // Reads the clip's keys from its node.
  void Load(foundation::TIniSection* Times);
  // Clamps start and duration to the file's length, writing changed values
  // back into the clip's node.
  void Clamp(double Length);

  TExtractorWrapper* Owner = nullptr;  // not referenced
  foundation::TIniList* Node = nullptr;  // one reference
  std::u16string FileName;
  bool LoadFromDisk = false;
  double Duration = 0, StartQelTime = 0, StartVideoTime = 0, Speed = 1;
  bool Mute = false;
  std::u16string Caption, MasterId;
  int32_t StartSlideIdx = 0;
  double SyncPosition = 0;
};

// One extractor per file or clip per slide, shared by the objects that show it.
class TExtractorWrapper : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TExtractorWrapper)
  // Registers itself in the host's list under the key.
  TExtractorWrapper(TQelSlideHost* Host, const std::u16string& Key);
  void Dispose() override;
  // The wrapper of that key in the host's list (one more reference), or nil.
  static TExtractorWrapper* Find(TQelSlideHost* Host, const std::u16string& Key);

  // Opens the file (from the disk or the show) and starts an extractor on
  // its source; without a source the open state says why.
  void SetFileName(const std::u16string& Name, bool FromDisk);
  // The source's length in ms (frames / rate); 0 without a source.
  double GetLength();
  int32_t FrameIndexAt(double VideoTime);
  // Adds the pool images on the first use.
  void SetDevice();
  void Request(double VideoTime, bool Wait);
  // 0: the frame is not decoded yet (asked for); 1: it is, the next one was
  // asked for; 2: nothing more is needed.
  int32_t Prefetch(double VideoTime);
  // The frame nearest the time (held until ReleaseFrame); false without one.
  bool TakeFrame(double VideoTime, double Rate);
  void ReleaseFrame();

  std::u16string Key;
  TQelSlideHost* Host = nullptr;  // not referenced: the host outlives its slides
  video::TQelVideoExtractor* Extractor = nullptr;  // one reference
  video::TFrameSource* Source = nullptr;  // the extractor's
  std::u16string FileName;
  bool LoadFromDisk = false;
  uint8_t OpenState = 2;  // 0 open, 1 opened but not decodable, 2 not found
  video::TVideoItem Held;
  int32_t HeldLocks = 0;
  bool DeviceSet = false;
  bool RequestSent = false;
  std::vector<TVideoClip2*> Clips;  // one reference each
  std::u16string Guid;

 private:
  void CloseExtractor();
};

class TQelVideo : public TQelObject {
 public:
  QEL_CLASSNAME(TQelVideo)
  void Dispose() override;
  void Prepare() override;
  void DrawContent(TQelDrawer* Drawer) override;
  void LoadKeys(TQelObjectProps* Props, bool Reload) override;
  void EvaluateAt(double T, bool Recurse) override;
  void InitDefaults() override;
  TFloatPoint GetContentSize() override;
  void PrefetchFrames(TQelDrawer* Drawer, double T) override;
  int32_t GetFramesReady(TQelDrawer* Drawer, double T) override;

  void SetFileName(const std::u16string& Name);
  void SetDuration(double Value);
  void SetStartVideoTime(double Value);
  void SetLoadFromDisk(bool Value);
  // The video time (ms) of a slide-relative show time.
  double GetVideoTime(double T);
  void UpdateGeometry();
  void CreateExtractor();

  TVideoClip2* Clip = nullptr;  // the wrapper's
  std::u16string ClipGuid;
  double Duration = 10000, StartQelTime = 0, StartVideoTime = 0, Speed = 1;
  bool Mute = false, AutoRotate = false, LoadFromDisk = false;
  std::u16string FileName;
  TExtractorWrapper* Wrapper = nullptr;  // one reference
  double ReferenceRate = 60;
  uint8_t Deinterlace = diAuto;
  bool Antialiased = true;
  bool ChromaEnable = false;
  float ChromaKey[3] = {0, 0, 0};
  float ChromaDelta = 0;
  int32_t ImageIndex = int32_t(0x80000001);
  int32_t PreviousFrame = video::kNoFrame, CurrentFrame = video::kNoFrame;
  imaging::TImage* Placeholder = nullptr;  // one reference
  double PixelAspect = 1;
  bool WaitForConvert = false;
  bool CaptureMode = false;  // a snapshot for printing: wait for the exact frame

 private:
  void SetSource(const std::u16string& Name);
  double Length();
};

// Start-up: chains the object factory for type code 8 (once), falling back to
// the hook it found, or to CreateObjectByType when it found none.
void InitQelVideo();
// Puts the hook it found back while it is still the head of the chain.
void DoneQelVideo();

}  // namespace showmodel
