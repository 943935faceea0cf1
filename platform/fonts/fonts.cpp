#include <atomic>

#include "platform/fonts/api.h"

namespace platform::fonts {

namespace {
std::atomic<FontBackend*> g_backend{nullptr};
}  // namespace

FontBackend* setFontBackend(FontBackend* backend) { return g_backend.exchange(backend); }

FontBackend* fontBackend() {
  FontBackend* b = g_backend.load(std::memory_order_acquire);
  return b ? b : linuxFontBackend();
}

FontHandle createFont(const FontRequest& request) { return fontBackend()->createFont(request); }
int32_t screenDpi() { return fontBackend()->screenDpi(); }

}  // namespace platform::fonts
