#include "platform/api.h"

#include <array>
#include <cstdlib>
#include <memory>

#include "platform/color/api.h"
#include "platform/os/api.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/fonts/api.h"
#include "platform/gpu/api.h"
#include "platform/sound/api.h"
#include "platform/window/api.h"

namespace platform {

namespace {

void installOs(const PlatformConfig& config) {
  if (config.os == Backend::Manual) {
    os::processManualClock().set(config.manualClockStartMs);
    os::setClockBackend(os::manualClockBackend());
  } else {
    os::setClockBackend(os::linuxClockBackend());
  }
}

void installColor(const PlatformConfig& config) {
  switch (config.color) {
    case Backend::Linux:
      color::setColorBackend(color::linuxColorBackend());
      break;
    case Backend::Headless:
      color::setColorBackend(color::headlessColorBackend());
      break;
    case Backend::Manual:
      color::setManualMonitorProfile(config.manualMonitorProfile);
      color::setColorBackend(color::manualColorBackend());
      break;
  }
  color::registerColorEntries();
}

void installWindow(const PlatformConfig& config) {
  window::WindowBackend* backend = nullptr;
  if (config.window == Backend::Linux) backend = window::sdlWindowBackend();
  if (!backend) backend = window::headlessWindowBackend();
  window::setWindowBackend(backend);
}

void uninstallWindow() {
  window::WindowBackend* previous = window::setWindowBackend(nullptr);
  if (previous && previous != window::headlessWindowBackend()) previous->shutdown();
}

void installGpu(const PlatformConfig& config) {
  gpu::setGpuBackend(config.gpu == Backend::Linux ? gpu::linuxGpuBackend() : gpu::offscreenGpuBackend());
  gpu::setNativeWindowHook([](uintptr_t handle) { return window::nativeWindowOf(handle); });
}

void uninstallGpu() {
  gpu::setNativeWindowHook(nullptr);
  gpu::setGpuBackend(nullptr);
}

// The manual font backend the start-up made; kept until the next start-up or
// stop replaces it.
std::unique_ptr<fonts::FontBackend>& manualFonts() {
  static std::unique_ptr<fonts::FontBackend> backend;
  return backend;
}

void installFonts(const PlatformConfig& config) {
  if (config.fonts == Backend::Manual) {
    std::unique_ptr<fonts::FontBackend> made = fonts::createFontBackendFromFiles(config.manualFontFiles);
    fonts::setFontBackend(made.get());
    manualFonts() = std::move(made);
  } else {
    fonts::setFontBackend(fonts::linuxFontBackend());
    manualFonts().reset();
  }
}

void uninstallFonts() {
  fonts::setFontBackend(nullptr);
  manualFonts().reset();
}

void installSound(const PlatformConfig& config) {
  switch (config.sound) {
    case Backend::Linux:
      sound::setSoundBackend(sound::sdlSoundBackend());
      break;
    case Backend::Headless:
      sound::setSoundBackend(sound::noSoundBackend());
      break;
    case Backend::Manual:
      sound::setSoundBackend(sound::manualSoundBackend());
      break;
  }
  sound::registerSoundEntries();
}

void uninstallSound() { sound::setSoundBackend(nullptr); }

// The ffmpeg area loads its libraries on first use, and the acm area has one
// implementation, our own decoders: neither has a backend to choose.
void installFfmpeg(const PlatformConfig&) {}
void uninstallFfmpeg() {}
void installAcm(const PlatformConfig&) {}
void uninstallAcm() {}

void uninstallOs() { os::setClockBackend(nullptr); }
void uninstallColor() { color::setColorBackend(nullptr); }

constexpr std::array<PlatformArea, 8> kAreas = {{
    {"os", "QEL_CLOCK", &PlatformConfig::os, &installOs, &uninstallOs},
    {"color", "QEL_COLOR", &PlatformConfig::color, &installColor, &uninstallColor},
    {"window", "QEL_WINDOW", &PlatformConfig::window, &installWindow, &uninstallWindow},
    {"gpu", "QEL_GPU", &PlatformConfig::gpu, &installGpu, &uninstallGpu},
    {"fonts", "QEL_FONTS", &PlatformConfig::fonts, &installFonts, &uninstallFonts},
    {"sound", "QEL_SOUND", &PlatformConfig::sound, &installSound, &uninstallSound},
    {"ffmpeg", "QEL_FFMPEG", &PlatformConfig::ffmpeg, &installFfmpeg, &uninstallFfmpeg},
    {"acm", "QEL_ACM", &PlatformConfig::acm, &installAcm, &uninstallAcm},
}};

}  // namespace

std::span<const PlatformArea> platformAreas() { return kAreas; }

bool parseBackend(std::string_view word, Backend& out) {
  struct Word {
    std::string_view text;
    Backend backend;
  };
  static constexpr Word kWords[] = {
      {"linux", Backend::Linux},        {"real", Backend::Linux},         {"sdl", Backend::Linux},
      {"window", Backend::Linux},       {"headless", Backend::Headless},  {"offscreen", Backend::Headless},
      {"none", Backend::Headless},      {"manual", Backend::Manual},
  };
  for (const Word& w : kWords) {
    if (w.text == word) {
      out = w.backend;
      return true;
    }
  }
  return false;
}

const char* backendName(Backend backend) {
  switch (backend) {
    case Backend::Linux:
      return "linux";
    case Backend::Headless:
      return "headless";
    case Backend::Manual:
      return "manual";
  }
  return "?";
}

PlatformConfig platformConfigFromEnvironment() {
  PlatformConfig config;
  for (const PlatformArea& area : kAreas) {
    const char* value = std::getenv(area.variable);
    if (value) parseBackend(value, config.*area.choice);
  }
  return config;
}

void startPlatform(const PlatformConfig& config) {
  for (const PlatformArea& area : kAreas) area.install(config);
}

void stopPlatform() {
  for (size_t i = kAreas.size(); i-- > 0;) kAreas[i].uninstall();
}

}  // namespace platform
