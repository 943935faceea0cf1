// Frames of a show, from bytes: the target packs a show from the input,
// opens it as the player does (refusing a show the player cannot start) and
// draws frames at a handful of show times of its first slides through the
// draw controller on the recording renderer (no GPU), so the slide
// selection, key-frame evaluation, object placement, text layout and the
// transitions' draw filters run for every input.
//
// Input layout: tests/support/ShowFrames.h (byte 0 flags: target size,
// cover mode, no waiting for video frames; the project text; entries after
// "\n==>" as in show_open). tests/player/ShowFrames_test.cpp writes the
// seeds.
//
// What must hold for any input: no crash, no hang, no read outside a buffer,
// no object left alive; a show either opens and draws, or is refused with a
// reason. Projects that name files outside the show (a drive, a rooted,
// shared or ".." path) are skipped: a video read from the disk could be a
// device that never ends. (A packed show's macros name its own entries.)
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "fuzz/FuzzSupport.h"
#include "player/Startup.h"
#include "player/PlayerStartup.h"
#include "render3d/Dev3DScreen.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/PinnedFonts.h"
#include "tests/support/RecordingRenderer.h"
#include "tests/support/ShowFrames.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"
#include "video/GifVideoSource.h"

using fuzzing::Check;

namespace {

std::string gRoot;  // the private folder, POSIX form
render3d_test::TRecordingEngine* gEngine = nullptr;

void RemoveRoot() {
  std::error_code ec;
  if (!gRoot.empty()) std::filesystem::remove_all(gRoot, ec);
}

render3d::T3DEngine* MakeEngine() {
  gEngine->_AddRef();
  return gEngine;
}

// Names in a project that could leave the show's own files.
bool StaysInShow(const std::string& project) {
  std::string lower;
  for (char c : project) lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  for (const char* bad : {":\\", ":/", "..", "\\\\", "//"})
    if (lower.find(bad) != std::string::npos) return false;
  return true;
}

class Frames : public testsupport::ShowFrames {
  void AfterFrame(render3d::T3DScreen* screen) override {
    if (auto* r = dynamic_cast<render3d_test::TRecordingRenderer*>(screen->Renderer)) r->Calls.clear();
    gEngine->Made.clear();  // not owned: renderers a lost device dropped are gone
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Faces pinned to the test fonts, so inputs replay alike on every machine.
  static testsupport::ScopedFontBackend fonts;
  player::StartPlayer();
  text::GlobalFontCache()->SetCacheId(u"local");
  gEngine = new render3d_test::TRecordingEngine();
  render3d::SetEngineFactory(&MakeEngine);
  char tmpl[] = "/tmp/qel-frames-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  gRoot = tmpl;
  std::atexit(RemoveRoot);
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  if (size < 2) return 0;
  const testsupport::ShowBytes show = testsupport::DecodeShow(data, size);
  if (!StaysInShow(show.project)) return 0;
  bool inside = true;
  for (const auto& e : show.entries) inside = inside && StaysInShow(e.name);
  if (!inside) return 0;

  testsupport::ContainerBuilder b;
  testsupport::ContainerEntry project;
  project.name = "Project.qel";
  project.data = show.project;
  project.method = 1;
  b.Add(project);
  for (const auto& e : show.entries) b.Add(e);
  b.WriteFile(gRoot + "/show", std::string(16, '\xCC'));

  Frames frames;
  const testsupport::ShowFramesReport r = frames.Run(gRoot + "/show", show.flags);
  Check(r.Opened || !r.Error.empty());
  Check(r.FramesDrawn <= r.FramesSelected);

  // Globals an opened show sets are put back, so the next input starts alike.
  container::SetCurrentShowLocator(nullptr);
  container::SetStoreRoots({}, -1);
  container::InstallPathAliases({});
  imaging::SetDisplayColorProfile(nullptr, false);
  return 0;
}
