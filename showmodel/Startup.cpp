#include "showmodel/Startup.h"

#include "container/Startup.h"
#include "decoders/Startup.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "render3d/Startup.h"
#include "showmodel/kvCalcUtils.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "text/Startup.h"
#include "transitions/Startup.h"
#include "video/Startup.h"

namespace showmodel {

namespace {

// The object factory is a chain: the object unit installs the factory of
// every kind, the mask and video units chain in front of it, each falling
// back to what it found.
constexpr foundation::TStartupStep kSteps[] = {
    // Checks the tables of object types and key-frame parameters.
    {"KeyFrames", InitKeyFrames, nullptr},
    {"ObjectFilters", InitObjectFilters, DoneObjectFilters},
    // CreateObjectHook and FindMainImageHook, the grade-filter applier.
    {"QelObjects", InitQelObjects, nullptr},
    // The filter-chain applier, the effect-slide links, the mask drawing.
    {"Qel3DDrawer", InitQel3DDrawer, DoneQel3DDrawer},
    // The container's CreateQelSourceHook.
    {"QelSource", InitQelSource, nullptr},
    {"CalcUtils", nullptr, DoneCalcUtils},
    {"ObjectMods", InitObjectMods, nullptr},
    {"ViewPorts", InitViewPorts, DoneViewPorts},
    {"QelVideo", InitQelVideo, DoneQelVideo},
    // The slide's transition preload and the renderer's slide-effect hook.
    {"SlideEffects", InitSlideEffects, nullptr},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {
    &foundation::FoundationStartup,   &imaging::ImagingStartup, &text::TextStartup,
    &container::ContainerStartup,     &decoders::DecodersStartup, &transitions::TransitionsStartup,
    &render3d::Render3DStartup,       &video::VideoStartup};

}  // namespace

foundation::TLibraryStartup& ShowModelStartup() {
  static foundation::TLibraryStartup startup{"showmodel", kNeeds, kSteps};
  return startup;
}

void StartShowModel() { foundation::StartLibrary(ShowModelStartup()); }
void StopShowModel() { foundation::StopLibrary(ShowModelStartup()); }

}  // namespace showmodel
