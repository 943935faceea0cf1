// The start-up of the whole platform layer: one call installs every area's
// backend from one configuration. Areas cannot see this header (it sits
// above them); programs and tests call it first, before any other start-up.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>
#include <string_view>

namespace platform {

// The backend an area runs on. An area without a backend of some kind takes
// the nearest one it has (documented per field below).
enum class Backend : uint8_t {
  Linux,     // the real one (the default)
  Headless,  // no display, no devices: deterministic answers for tests and servers
  Manual,    // driven by a test: virtual time, fixed answers
};

// One choice per area, plus the settings particular backends need. An area
// added to the layer adds its field here, with its row in platformAreas().
struct PlatformConfig {
  // os: the clock. Manual installs the process's manual clock at
  // manualClockStartMs; Headless is the Linux clock.
  Backend os = Backend::Linux;
  // color: Headless answers no display profile and no profile folder;
  // Manual answers manualMonitorProfile (internal path; empty: none).
  Backend color = Backend::Linux;
  // window: Linux is SDL2 (its driver follows SDL_VIDEODRIVER; headless with
  // a message when SDL's video cannot start); Manual is Headless, whose
  // monitors, cursor and input a test injects.
  Backend window = Backend::Linux;
  // gpu: Linux presents into the window layer's windows; Headless and
  // Manual render off screen only (Present counts).
  Backend gpu = Backend::Linux;
  // fonts: Linux and Headless use the system's fonts (no display needed);
  // Manual knows only manualFontFiles (empty: no fonts at all).
  Backend fonts = Backend::Linux;
  // sound: Linux is SDL2 audio (its driver follows SDL_AUDIODRIVER);
  // Headless ("none") has no device, so the show runs silently on the tick
  // clock; Manual is the manual mixer tests advance.
  Backend sound = Backend::Linux;
  // ffmpeg: every backend is the system's FFmpeg libraries, loaded on first use.
  Backend ffmpeg = Backend::Linux;
  // acm: every backend is our own ADPCM decoders.
  Backend acm = Backend::Linux;

  uint64_t manualClockStartMs = 0;
  std::u16string manualMonitorProfile;
  std::vector<std::string> manualFontFiles;
};

// One row per area, in the order the areas start.
struct PlatformArea {
  const char* name;                  // the folder: "os", "color", ...
  const char* variable;              // the environment variable choosing its backend
  Backend PlatformConfig::*choice;   // its field of the configuration
  void (*install)(const PlatformConfig& config);
  void (*uninstall)();               // back to the area's default (set<X>Backend(nullptr))
};
std::span<const PlatformArea> platformAreas();

// A backend word of the environment: "linux", "real", "sdl", "window" (the
// real backends), "headless", "offscreen", "none", "manual". False, out
// unchanged, for any other word.
bool parseBackend(std::string_view word, Backend& out);
const char* backendName(Backend backend);

// The configuration the environment asks for: each area's variable
// (QEL_CLOCK, QEL_COLOR, ...); unset or unknown words keep the default.
PlatformConfig platformConfigFromEnvironment();

// Installs every area's backend, in the order of platformAreas(). Called once
// by the program's main before any thread starts, and by tests; calling it
// again replaces the backends (nothing may run through the old ones then).
void startPlatform(const PlatformConfig& config);
// Installs each area's default again (the state before startPlatform), in
// reverse order.
void stopPlatform();

}  // namespace platform
