// The start-up as a whole: after the player's start-up every hook is filled
// and every chain of fallbacks ends at its default; each library started on
// its own fills its hooks exactly as the whole start-up does; a stop puts
// the hooks back so that the next start is a clean one.
#include "player/Startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <typeinfo>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/MusicGeneral.h"
#include "audio/MusicTypes.h"
#include "audio/Startup.h"
#include "container/Startup.h"
#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "foundation/Startup.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvRegistry.h"
#include "foundation/kvStream.h"
#include "foundation/kvUTF8.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvFastDIB.h"
#include "imaging/kvIconUtils.h"
#include "imaging/kvImage.h"
#include "imaging/kvPixelFormat.h"
#include "platform/os/resources.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DCore.h"
#include "render3d/Dev3DEffects2.h"
#include "render3d/Startup.h"
#include "showmodel/Startup.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlide.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "text/GdiDynamicFunctions.h"
#include "text/Startup.h"
#include "text/kvTextServices.h"
#include "text/kvTextVectorizer.h"
#include "transitions/Startup.h"
#include "transitions/kvRandom.h"
#include "video/FFMpegDll2.h"
#include "video/Startup.h"
#include "video/kvVideoSource.h"
#include "windowing/Startup.h"
#include "windowing/kvApplication.h"
#include "windowing/kvClipbrd.h"
#include "windowing/kvHooks.h"
#include "windowing/kvWndAPI.h"

// The clips of tests/fixtures/media, compiled in (tests/video/CMakeLists.txt).
void qel_register_resources_qel_video_test_media();

namespace {

// A function hook by its address, an object by its class (each start makes
// a new one); empty when unset.
template <class F>
std::string Address(F f) {
  if (!f) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%p", reinterpret_cast<const void*>(f));
  return text;
}
template <class T>
std::string ClassOf(T* object) {
  return object ? typeid(*object).name() : std::string();
}

// A hook as the library that fills it, its name and its value.
struct Probe {
  const char* Library;
  const char* Name;
  std::function<std::string()> Value;
};

const std::vector<Probe>& Probes() {
  static const std::vector<Probe> probes = {
      {"foundation", "ReadFile", [] { return Address(foundation::ReadFile); }},
      {"foundation", "WriteFile", [] { return Address(foundation::WriteFile); }},
      {"foundation", "FileApiClass", [] { return ClassOf(foundation::FileApiClass); }},
      {"foundation", "CreateRegistryObject", [] { return Address(foundation::CreateRegistryObject); }},
      {"imaging", "PixelFormatHook", [] { return Address(imaging::PixelFormatHook); }},
      {"imaging", "ConverterHook", [] { return Address(imaging::ConverterHook); }},
      {"imaging", "DefBitmapClass", [] { return Address(imaging::DefBitmapClass); }},
      {"imaging", "BlendRows", [] { return Address(imaging::BlendRows); }},
      {"imaging", "IconUtils", [] { return ClassOf(imaging::GetIconUtils()); }},
      {"text", "FontUtils", [] { return ClassOf(text::FontUtils()); }},
      {"text", "GdiFontUnicodeCharsHook", [] { return Address(text::GdiFontUnicodeCharsHook); }},
      {"text", "GlyphABCWidthsHook", [] { return Address(text::GlyphABCWidthsHook); }},
      {"text", "CreateVectorizer", [] { return Address(text::CreateVectorizer); }},
      {"container", "CreateColorTransformHook", [] { return Address(imaging::CreateColorTransformHook); }},
      {"container", "PlaceholderProducerHook", [] { return Address(container::PlaceholderProducerHook); }},
      {"decoders", "FirstImageLoader",
       [] { return imaging::ImageLoaders().empty() ? std::string() : Address(imaging::ImageLoaders().front().Loader); }},
      {"decoders", "LastImageLoader",
       [] { return imaging::ImageLoaders().empty() ? std::string() : Address(imaging::ImageLoaders().back().Loader); }},
      {"windowing", "WindowApiClass", [] { return ClassOf(windowing::WindowApiClass); }},
      {"windowing", "HookManager", [] { return ClassOf(windowing::HookManager); }},
      {"windowing", "ApplicationFactory", [] { return Address(windowing::ApplicationFactory); }},
      {"windowing", "TimerFactory", [] { return Address(windowing::TimerFactory); }},
      {"windowing", "Clipboard", [] { return ClassOf(windowing::Clipboard); }},
      {"transitions", "RandomGeneratorFactory", [] { return Address(transitions::RandomGeneratorFactory); }},
      {"render3d", "EngineFactory", [] { return Address(render3d::GetEngineFactory()); }},
      {"video", "VideoSourceFactory", [] { return Address(video::VideoSourceFactory); }},
      {"video", "VideoFileFilter", [] { return Address(video::VideoFileFilter); }},
      {"showmodel", "CreateObjectHook", [] { return Address(showmodel::CreateObjectHook); }},
      {"showmodel", "FindMainImageHook", [] { return Address(showmodel::FindMainImageHook); }},
      {"showmodel", "CreateModHook", [] { return Address(showmodel::CreateModHook); }},
      {"showmodel", "CreateQelSourceHook", [] { return Address(container::CreateQelSourceHook); }},
      {"showmodel", "FilterChainApplier", [] { return Address(render3d::GetFilterChainApplier()); }},
      {"showmodel", "DrawThroughMaskHook", [] { return Address(showmodel::DrawThroughMaskHook); }},
      {"showmodel", "PreloadTransitionHook", [] { return Address(showmodel::TQelSlide::PreloadTransitionHook); }},
      {"showmodel", "SlideEffectHook", [] { return Address(render3d::GetSlideEffectHook()); }},
      {"showmodel", "SlideOfItem", [] { return Address(showmodel::TRealSlideFilter::SlideOfItem); }},
      {"showmodel", "ItemOfSlide", [] { return Address(showmodel::TRealSlideFilter::ItemOfSlide); }},
      {"audio", "StreamWrapper", [] { return ClassOf(audio::StreamWrapper); }},
      {"audio", "DetectFormatHook", [] { return Address(audio::DetectFormatHook); }},
      {"audio", "CreateConverterHook", [] { return Address(audio::CreateConverterHook); }},
      {"audio", "MediaInfoHook", [] { return Address(audio::MediaInfoHook); }},
      {"audio", "IsVirtualNameHook", [] { return Address(audio::IsVirtualNameHook); }},
      {"audio", "ConverterByNameHook", [] { return Address(audio::ConverterByNameHook); }},
      {"audio", "CreateDeviceHook", [] { return Address(audio::CreateDeviceHook); }},
      {"audio", "CreatePlayerHook", [] { return Address(audio::CreatePlayerHook); }},
      {"player", "EmbeddedTableDecodedHook", [] { return Address(container::EmbeddedTableDecodedHook); }},
      {"player", "ShowPlayCheckHook", [] { return Address(container::ShowPlayCheckHook); }},
  };
  return probes;
}

struct Library {
  const char* Name;
  void (*Start)();
  void (*Stop)();
};

const Library kLibraries[] = {
    {"foundation", foundation::StartFoundation, foundation::StopFoundation},
    {"imaging", imaging::StartImaging, imaging::StopImaging},
    {"text", text::StartText, text::StopText},
    {"container", container::StartContainer, container::StopContainer},
    {"decoders", decoders::StartDecoders, decoders::StopDecoders},
    {"windowing", windowing::StartWindowing, windowing::StopWindowing},
    {"transitions", transitions::StartTransitions, transitions::StopTransitions},
    {"render3d", render3d::StartRender3D, render3d::StopRender3D},
    {"video", video::StartVideo, video::StopVideo},
    {"showmodel", showmodel::StartShowModel, showmodel::StopShowModel},
    {"audio", audio::StartAudio, audio::StopAudio},
    {"player", player::StartPlayer, player::StopPlayer},
};

using Snapshot = std::map<std::string, std::string>;

Snapshot HooksOf(const std::string& library) {
  Snapshot s;
  for (const Probe& p : Probes())
    if (library == p.Library) s[p.Name] = p.Value();
  return s;
}

std::vector<std::u16string> LoaderExtensions() {
  std::vector<std::u16string> all;
  for (const auto& item : imaging::ImageLoaders())
    for (const auto& e : item.Extensions) all.push_back(e);
  return all;
}

foundation::TMemoryStream* MediaStream(const std::u16string& name) {
  auto bytes = platform::os::findResource(10, name);
  auto* s = new foundation::TMemoryStream();
  if (bytes && !bytes->empty()) s->WriteBuf(bytes->data(), static_cast<int32_t>(bytes->size()));
  s->SetPosition(0);
  return s;
}

class Startup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qel_register_resources_qel_video_test_media();
    video::FFMpegLibraryFolder.clear();
  }
  void TearDown() override { player::StopPlayer(); }
};

TEST_F(Startup, TheFullStartFillsEveryHook) {
  player::StartPlayer();
  for (const Probe& p : Probes()) EXPECT_NE(p.Value(), "") << p.Library << " " << p.Name;
  // The loaders of every picture kind, each registered once.
  const auto extensions = LoaderExtensions();
  for (const char16_t* ext : {u".kvgfx", u".bmp", u".jpg", u".png", u".mp3", u".gif", u".gif_first_frame"})
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), ext), extensions.end()) << foundation::UnicodeToUTF8(ext);
  EXPECT_EQ(imaging::ImageLoaders().size(), 8u);
}

TEST_F(Startup, EveryChainOfFallbacksEndsAtItsDefault) {
  player::StartPlayer();
  // Bitmaps: the DIB, the system bitmap and the direct bitmap are all made
  // through the head of the chain.
  for (imaging::TBitmapClass cls : {imaging::TDibBitmap::StaticClass(), imaging::TSysBitmap::StaticClass(),
                                    imaging::TDirectBitmap::StaticClass()}) {
    auto b = foundation::TRef<imaging::TBitmap>::Adopt(
        imaging::DefBitmapClass(4, 2, imaging::pfR8G8B8, cls, nullptr, {}));
    ASSERT_TRUE(b) << cls->Name;
    EXPECT_TRUE(imaging::ClassInheritsFrom(b->GetClass(), cls)) << cls->Name;
  }
  // Objects: the video and mask units pass every other kind on to the
  // factory of the object unit; a code no unit knows comes back empty.
  auto props = foundation::MakeRef<showmodel::TQelObjectProps>();
  const std::pair<uint8_t, std::function<bool(showmodel::TQelObject*)>> kinds[] = {
      {showmodel::otBox, [](auto* o) { return dynamic_cast<showmodel::TQelBox*>(o) != nullptr; }},
      {showmodel::otImage, [](auto* o) { return dynamic_cast<showmodel::TQelImage*>(o) != nullptr; }},
      {showmodel::otVideo, [](auto* o) { return dynamic_cast<showmodel::TQelVideo*>(o) != nullptr; }},
      {showmodel::otViewPort, [](auto* o) { return dynamic_cast<showmodel::TQelViewPort*>(o) != nullptr; }},
  };
  for (const auto& [code, isKind] : kinds) {
    auto o = foundation::TRef<showmodel::TQelObject>::Adopt(showmodel::CreateObjectHook(code, nullptr, props.Get()));
    EXPECT_TRUE(o && isKind(o.Get())) << int(code);
  }
  EXPECT_EQ(showmodel::CreateObjectHook(0, nullptr, props.Get()), nullptr);
  // Video: GIFs to the GIF source, everything else to the FFmpeg source.
  foundation::TRef<video::TFrameSource> clip = foundation::TRef<video::TFrameSource>::Adopt(
      video::CreateVideoSource(MediaStream(u"mpeg4.mp4"), true, u"clip.mp4", false, false));
  ASSERT_TRUE(clip);
  EXPECT_EQ(clip->Params.Codec, u"MPEG4");
}

TEST_F(Startup, EachLibraryOnItsOwnFillsItsHooksAsTheFullStartDoes) {
  std::map<std::string, Snapshot> alone;
  for (const Library& l : kLibraries) {
    l.Start();
    alone[l.Name] = HooksOf(l.Name);
    l.Stop();
  }
  player::StartPlayer();
  for (const Library& l : kLibraries) {
    SCOPED_TRACE(l.Name);
    const Snapshot full = HooksOf(l.Name);
    EXPECT_FALSE(full.empty());
    for (const auto& [name, value] : full) EXPECT_EQ(alone[l.Name][name], value) << name;
  }
}

TEST_F(Startup, AStopEmptiesTheHooksItFilledAndAStartAfterItFillsThemAgain) {
  player::StartPlayer();
  const size_t loaders = imaging::ImageLoaders().size();
  player::StopPlayer();
  EXPECT_TRUE(imaging::ImageLoaders().empty());
  EXPECT_EQ(video::VideoSourceFactory, nullptr);
  EXPECT_EQ(audio::CreateConverterHook, nullptr);
  EXPECT_EQ(container::EmbeddedTableDecodedHook, nullptr);
  EXPECT_EQ(container::ShowPlayCheckHook, nullptr);
  EXPECT_EQ(render3d::GetEngineFactory(), nullptr);
  player::StartPlayer();
  EXPECT_EQ(imaging::ImageLoaders().size(), loaders);
  for (const Probe& p : Probes()) EXPECT_NE(p.Value(), "") << p.Library << " " << p.Name;
}

}  // namespace
