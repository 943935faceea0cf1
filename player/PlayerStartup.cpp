#include "player/PlayerStartup.h"

#include <vector>

#include "container/kvQelLoader2.h"
#include "decoders/SysGfxLoader.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvStream.h"
#include "imaging/kvColorProfile.h"
#include "showmodel/kvQelSource2.h"

namespace player {

namespace {

foundation::TCommand* FindSwitch(foundation::TCommandsStorage* Commands, const std::u16string& Name) {
  return Commands ? Commands->FindCommand(Name) : foundation::FindCommandLineSwitch(Name);
}

bool EmbeddedTableDecoded(imaging::TImage* Image) {
  auto* store = dynamic_cast<decoders::TGfxBitmapStore*>(Image ? Image->Store : nullptr);
  if (!store) return true;  // another loader's picture: decoded when it exists
  Image->GetBitmap();       // converted images decode on first use
  return store->Image && store->Image->Decoded;
}

// A show plays when its source can be made and has slides and a length;
// a source that refuses its time table gives its own reason.
std::u16string ShowPlayError(container::TQelShowLocator* Locator) {
  try {
    showmodel::TQelSource* source = Locator->GetSource();
    if (!source) return u"The show cannot be read";
    return source->PlayError();
  } catch (const foundation::Exception& e) {
    return e.Message();
  }
}

}  // namespace

void InstallShowPlayCheck() { container::ShowPlayCheckHook = ShowPlayError; }

void RemoveShowPlayCheck() {
  if (container::ShowPlayCheckHook == ShowPlayError) container::ShowPlayCheckHook = nullptr;
}

void InstallEmbeddedTableCheck() { container::EmbeddedTableDecodedHook = EmbeddedTableDecoded; }

void RemoveEmbeddedTableCheck() {
  if (container::EmbeddedTableDecodedHook == EmbeddedTableDecoded) container::EmbeddedTableDecodedHook = nullptr;
}

void SetupColorProfile(foundation::TCommandsStorage* Commands) {
  std::u16string monitor;
  imaging::GetMonitorColorProfilePath(monitor, 0);
  container::SetMonitorProfilePath(monitor);
  if (FindSwitch(Commands, u"noicc")) {
    container::SetNoColorManagement(true);
    return;
  }
  foundation::TCommand* icc = FindSwitch(Commands, u"icc");
  if (!icc) return;
  std::u16string name = icc->GetCount() > 0 && icc->GetItem(0) ? icc->GetItem(0)->Text : std::u16string();
  if (name.empty() || foundation::SameText(name, u"auto")) name = monitor;
  if (foundation::SameText(name, u"sRGB")) {
    container::SetCommandLineProfile(imaging::SRGBColorProfile, false);
  } else if (foundation::SameText(name, u"AdobeRGB")) {
    container::SetCommandLineProfile(imaging::AdobeRGBColorProfile, false);
  } else if (foundation::SameText(name, u"RaderAZO")) {
    container::SetCommandLineProfile(imaging::RaderAZOColorProfile, false);
  } else if (name.empty() || !foundation::FileExists(name)) {
    container::SetCommandLineProfile(nullptr, false);
  } else {
    std::vector<uint8_t> bytes;
    imaging::TColorProfile* profile = nullptr;
    try {
      if (foundation::ReadFileBytes(name, bytes))
        profile = imaging::CreateColorProfile(bytes, foundation::ExtractFileName(name));
    } catch (const foundation::Exception&) {
      profile = nullptr;  // unreadable: sRGB below
    }
    if (profile)
      container::SetCommandLineProfile(profile, true);
    else
      container::SetCommandLineProfile(imaging::SRGBColorProfile, false);
  }
}

std::u16string LocateShowFile(const std::u16string& ExeName) {
  const std::u16string previewProject = container::PreviewProjectName();
  if (!previewProject.empty() && foundation::SameFileName(ExeName, container::PreviewExeName())) return ExeName;
  const std::u16string ext = foundation::ExtractFileExt(ExeName);
  if (foundation::SameText(ext, u".exe")) return ExeName;
  if (ext == u".app") {
    const std::u16string data = foundation::IncludeTrailingBackslash(ExeName) + u"Contents\\Resources\\slideshow.dat";
    if (foundation::FileExists(data)) return data;
    return foundation::ChangeFileExt(ExeName, u".qlshow");
  }
  return ExeName;
}

}  // namespace player
