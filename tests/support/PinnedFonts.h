// The font files the text tests pin their faces to (Debian packages
// fonts-liberation2, fonts-dejavu-core, fonts-wqy-microhei, fonts-symbola,
// fonts-freefont-ttf), and a scope that installs a font backend knowing only
// them, so widths and fallback order do not move between machines.
#pragma once

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/fonts/api.h"

namespace testsupport {

inline const std::string kLiberationSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
inline const std::string kLiberationSansBold = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";
inline const std::string kLiberationSansItalic = "/usr/share/fonts/truetype/liberation2/LiberationSans-Italic.ttf";
inline const std::string kLiberationSerif = "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf";
inline const std::string kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::string kWqyMicroHei = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
inline const std::string kSymbola = "/usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf";
inline const std::string kFreeSans = "/usr/share/fonts/truetype/freefont/FreeSans.ttf";

inline std::vector<std::string> PinnedFontFiles() {
  return {kLiberationSans, kLiberationSansBold, kLiberationSansItalic, kLiberationSerif, kDejaVuSans,
          kWqyMicroHei,    kSymbola,            kFreeSans};
}

inline bool PinnedFontsInstalled() {
  for (const auto& f : PinnedFontFiles())
    if (access(f.c_str(), R_OK) != 0) return false;
  return true;
}

// Installs a backend over the given files for the scope.
class ScopedFontBackend {
 public:
  explicit ScopedFontBackend(const std::vector<std::string>& files = PinnedFontFiles())
      : backend_(platform::fonts::createFontBackendFromFiles(files)) {
    previous_ = platform::fonts::setFontBackend(backend_.get());
  }
  ~ScopedFontBackend() { platform::fonts::setFontBackend(previous_); }
  platform::fonts::FontBackend* get() const { return backend_.get(); }

 private:
  std::unique_ptr<platform::fonts::FontBackend> backend_;
  platform::fonts::FontBackend* previous_ = nullptr;
};

}  // namespace testsupport

// Fails a test loudly when the fonts are missing (the test command installs
// them); for GoogleTest programs, which include gtest first.
#define QEL_REQUIRE_PINNED_FONTS() ASSERT_TRUE(testsupport::PinnedFontsInstalled()) << "run tools/install-deps.sh"
