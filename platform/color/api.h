// The colour-management services the bitmap layer asks of the platform: the
// display's profile file, the folder of installed profiles and the files of
// standard colour spaces. Paths are in the internal "Z:\..." form; an empty
// answer means "none", so the caller keeps sRGB.
#pragma once

#include <cstdint>
#include <string>

namespace platform::color {

class ColorBackend {
 public:
  virtual ~ColorBackend() = default;
  // The screen's ICM profile file, or empty when the display offers none.
  virtual std::u16string monitorProfilePath() = 0;
  // The folder of installed profiles with a trailing "\", or empty.
  virtual std::u16string colorDirectory() = 0;
  // The profile file of a standard colour space, or empty when unknown.
  virtual std::u16string standardColorSpaceProfile(int32_t space) = 0;
};

// Installs a backend (nullptr: the Linux backend) and answers the previous
// one (nullptr when it was the default). Atomic; a backend must outlive every
// call that may still run through it, so the backends below are never
// destroyed.
ColorBackend* setColorBackend(ColorBackend* backend);
// The Linux backend: the display's profile from QEL_MONITOR_ICC, the
// system's ICC folder.
ColorBackend* linuxColorBackend();
// The headless backend: no display, so no profile, no folder, no files of
// standard spaces (sRGB holds whatever the machine has installed).
ColorBackend* headlessColorBackend();
// The manual backend: the display's profile is the file a test or the
// configuration names (setManualMonitorProfile; empty: none); no folder.
ColorBackend* manualColorBackend();
void setManualMonitorProfile(std::u16string path);

// The types of the optional entries the area serves ("Mscms.dll"
// GetColorDirectoryW and GetStandardColorSpaceProfileW), registered with the
// os area's optional-entry table by registerColorEntries() at start-up.
using ColorDirectoryEntry = std::u16string (*)();
using StandardColorSpaceProfileEntry = std::u16string (*)(int32_t space);
void registerColorEntries();

// The services, answered by the installed backend (the Linux one by default).
std::u16string getICMProfile();
std::u16string getColorDirectory();
std::u16string getStandardColorSpaceProfile(int32_t space);

}  // namespace platform::color
