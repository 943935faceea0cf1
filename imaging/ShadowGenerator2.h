// Soft shadows of show objects. A shadow image is named by a resource key
// that starts with "Shadow: " and holds every parameter, so equal parameters
// share one cached image: the show's file accessor hands such keys to the
// resource generator, which parses the key back and renders the image
// (TShadowGenerator). TShadow is what an object keeps to draw its shadow.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/FloatGeometry.h"
#include "foundation/kvIni.h"
#include "imaging/kvImage.h"

namespace imaging {

using foundation::T3DPoint;
using foundation::TFloatPoint;
using foundation::TFloatRect;

inline constexpr char16_t NoShadowSource[] = u"N\\A";

struct TShadowParams {
  TFloatRect Rect;
  std::u16string SourceKey = NoShadowSource;
  float ShadowSize = 0;
  uint8_t SourceAlpha = 0;
  TFloatPoint Margin;
  int32_t ShadowSpreadIndex = 0;
  uint8_t ColorAlpha = 255;
  uint8_t Color2Alpha = 255;
  uint8_t GradientKind = 8;
  int32_t MipLevel = 0;
  std::u16string Key;
  std::u16string NormalisedKey;
  bool PlaneOffset = false;
  bool IgnoreSource = false;

  // Each stores a different value and empties Key; an equal value keeps it.
  void SetRect(const TFloatRect& Value);
  void SetMargin(TFloatPoint Value);
  void SetSize(float Value);
  void SetSourceAlpha(uint8_t Value);
  void SetSpreadIndex(int32_t Value);
  void SetColorAlpha(uint8_t Value);
  void SetColor2Alpha(uint8_t Value);
  void SetSourceBits(uint8_t Value);
  void SetMipLevel(int32_t Value);
  void ClearKey() { Key.clear(); }
};

// "Shadow: " and the thirteen values separated by ":".
std::u16string BuildShadowKey(const TShadowParams& Params);
// The cached key (built when empty) + ":" + SourceKey.
std::u16string GetShadowResourceKey(TShadowParams& Params);
// Reads a key back; unreadable fields take 0 (SourceAlpha 255, GradientKind
// 8), missing ones stay as they were; everything after the thirteenth ":" is
// the source key. Key is emptied.
void ParseShadowKey(const std::u16string& Text, TShadowParams& Params);
// Scales the rectangle (at the origin) and margins so the padded area is
// about 40,000 pixels. Answers false, changing nothing, when the padded area
// is not a positive finite number (there is no shadow then).
bool NormaliseShadowParams(TShadowParams& Params);
// Halves Width and Height while above 700,000 pixels or 10,000 per side;
// Level counts the halvings, the result is 2^Level. Sizes that are not finite
// are left alone (level 0).
float ReduceShadowSize(float& Width, float& Height, int32_t& Level);
inline float ReduceShadowSize(float& Width, float& Height) {
  int32_t level;
  return ReduceShadowSize(Width, Height, level);
}

// How the show asks for an image by resource name (the file accessor's
// LoadImage): a new image reference, or nil.
using TShadowImageLoader = std::function<TImage*(const std::u16string& Name)>;

// What the shadow needs of the draw manager.
struct TImageDrawParams {
  float Opacity = 100;  // percent
  uint8_t ColorFlag = 0;
  uint8_t Color[3] = {0, 0, 0};  // red, green, blue
};
inline constexpr TImageDrawParams DefaultImageDrawParams{};

class IShadowDrawer {
 public:
  virtual ~IShadowDrawer() = default;
  virtual void PrepareImageTexture(TImage* Image, const TImageDrawParams& Params) = 0;
  virtual void DrawImage(TImage* Image, T3DPoint Origin, TFloatPoint Offset, T3DPoint XScale, T3DPoint YScale,
                         const TImageDrawParams& Params) = 0;
};

class TShadow : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TShadow)
  void Dispose() override;
  bool Matches(TShadowParams& Other);
  void PrepareTexture(IShadowDrawer* Drawer);
  // Colour is red, green, blue.
  void Draw(IShadowDrawer* Drawer, T3DPoint Origin, TFloatPoint Offset, T3DPoint XAxis, T3DPoint YAxis,
            float Distance, float Angle, float Opacity, const uint8_t Color[3]);

  TShadowParams Params;
  bool Normalised = false;
  TImage* Image = nullptr;
  float DistanceScale = 1;
};

TShadow* CreateShadow(TImage* Source, const std::u16string& SourceKey, const TShadowParams& Params, float SizeFactor,
                      const TShadowImageLoader& Loader);
// Nil when the parameters cannot be normalised (no area).
TShadow* CreateNormalisedShadow(const TShadowParams& Params, const TShadowImageLoader& Loader);

class TShadowProducer;

// Renders the image of one "Shadow: " key.
class TShadowGenerator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TShadowGenerator)
  using TProgress = std::function<void(void* Sender, bool& Abort)>;
  explicit TShadowGenerator(TProgress Progress);
  void Dispose() override;
  // A new image: a white picture whose alpha is the shadow; nil when the
  // parameters describe no area.
  TImage* GenerateShadowImage(TShadowParams& Params, const TShadowImageLoader& Loader);
  // The canvas that casts the shadow, at the reduced size (Reduction is the
  // factor); nil when the parameters describe no area.
  TSysBitmap* MakeShadowCanvas(TShadowParams& Params, const TShadowImageLoader& Loader, float& Reduction);
  TShadowProducer* Producer = nullptr;

 private:
  void CastSource(const TShadowParams& P, TSysBitmap* Level, TSysBitmap* Canvas, const TRect& Inner, float S,
                  int32_t N);
};

// ---- video clips in the project data (names compared without regard to case) ----

// The first child object block of type "VideoClip" whose "ClipGUID" is Guid.
foundation::TIniObject* FindVideoClipNode(const foundation::TIniList* List, const std::u16string& Guid);
// The first child block of type "Root", created as "Container" when missing.
foundation::TIniObject* FindRootContainer(foundation::TIniList* List);
// True when a "Video" block below List (key points neither tested nor
// entered) has that "ClipGUID"; any "Video" block when Guid is empty.
bool HasVideoWithClip(const foundation::TIniList* List, const std::u16string& Guid);
// The synch position of the first slide showing the clip; -1 when none.
double GetClipSynchPosition(const foundation::TIniFile* Project, const std::u16string& Guid);
std::u16string MakeNumberedKey(int32_t Number, const std::u16string& Text);
std::u16string ExtractSecondKeyField(const std::u16string& Text);

// Every pixel black, alpha from First to Second along the kind's direction (0..8).
void FillShadowGradient(TSysBitmap* Canvas, void* Sender, uint8_t First, uint8_t Second, uint8_t Kind);

}  // namespace imaging
