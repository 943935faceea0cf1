// Cursors, layered content and the clipboard of the window area: shared
// system cursors by IDC_ number, per-pixel content kept for layered windows,
// and a clipboard with one open at a time, text through the backend and
// other formats in the process.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/os/errors.h"
#include "platform/window/Utf.h"
#include "platform/window/api.h"

namespace platform::window {

namespace {

using utf::Utf16Of;
using utf::Utf8Of;

constexpr uint32_t kCursorIds[] = {IDC_ARROW,    IDC_IBEAM,    IDC_WAIT,    IDC_CROSS,   IDC_SIZENWSE,
                                   IDC_SIZENESW, IDC_SIZEWE,   IDC_SIZENS,  IDC_SIZEALL, IDC_HAND};
constexpr HCURSOR kCursorBase = 0xC0000;

struct Services {
  std::mutex m;
  HCURSOR cursor = kCursorBase + IDC_ARROW;
  std::unordered_map<HWND, LayeredContent> layered;
  // Clipboard.
  std::unordered_map<HGLOBAL, std::vector<uint8_t>> blocks;
  HGLOBAL nextBlock = 0x6000010;
  bool open = false;
  std::unordered_map<uint32_t, HGLOBAL> formats;  // format -> block owned by the clipboard
  HGLOBAL textBlock = 0;                          // the block answered for the backend's text
  std::string localText;
  bool hasLocalText = false;
  uint32_t sequence = 1;
  std::vector<HWND> listeners;
};
Services& sv() {
  static Services* s = new Services;
  return *s;
}



HGLOBAL AllocLocked(Services& s, size_t bytes) {
  const HGLOBAL h = s.nextBlock;
  s.nextBlock += 0x10;
  s.blocks[h] = std::vector<uint8_t>(bytes);
  return h;
}

void FreeLocked(Services& s, HGLOBAL h) {
  if (h) s.blocks.erase(h);
}

void AnnounceChange() {
  std::vector<HWND> listeners;
  {
    std::lock_guard<std::mutex> lock(sv().m);
    ++sv().sequence;
    listeners = sv().listeners;
  }
  for (HWND h : listeners) postMessage(h, WM_CLIPBOARDUPDATE, 0, 0);
}

}  // namespace

// ---- cursors ----

HCURSOR loadSystemCursor(uint32_t idc) {
  for (uint32_t id : kCursorIds)
    if (id == idc) return kCursorBase + idc;
  return 0;
}

uint32_t cursorId(HCURSOR cursor) {
  if (cursor <= kCursorBase) return 0;
  const uint32_t id = static_cast<uint32_t>(cursor - kCursorBase);
  return loadSystemCursor(id) ? id : 0;
}

HCURSOR setCursor(HCURSOR cursor) {
  HCURSOR previous;
  {
    std::lock_guard<std::mutex> lock(sv().m);
    previous = sv().cursor;
    sv().cursor = cursorId(cursor) ? cursor : 0;
  }
  windowBackend().showCursor(cursorId(cursor));
  return previous;
}

HCURSOR getCursor() {
  std::lock_guard<std::mutex> lock(sv().m);
  return sv().cursor;
}

// ---- layered content ----

bool updateLayeredWindow(HWND hwnd, Point dst, int32_t width, int32_t height, const uint8_t* bits, int32_t pitch) {
  WindowState st;
  if (!windowState(hwnd, st)) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (!(st.exStyle & WS_EX_LAYERED) || width < 0 || height < 0 || (!bits && width > 0 && height > 0) ||
      pitch < width * 4) {
    platform::os::setLastError(87);
    return false;
  }
  LayeredContent c;
  c.dst = dst;
  c.width = width;
  c.height = height;
  c.bits.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  uint32_t maxAlpha = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = bits + static_cast<size_t>(y) * static_cast<size_t>(pitch);
    std::memcpy(&c.bits[static_cast<size_t>(y) * static_cast<size_t>(width) * 4], row,
                static_cast<size_t>(width) * 4);
    for (int32_t x = 0; x < width; ++x) maxAlpha = std::max<uint32_t>(maxAlpha, row[x * 4 + 3]);
  }
  {
    std::lock_guard<std::mutex> lock(sv().m);
    sv().layered[hwnd] = std::move(c);
  }
  // Per-pixel alpha cannot be shown: the window takes the strongest alpha
  // of its content as a whole.
  windowBackend().setWindowOpacity(hwnd, static_cast<float>(maxAlpha) / 255.0f);
  return true;
}

bool layeredContent(HWND hwnd, LayeredContent& out) {
  std::lock_guard<std::mutex> lock(sv().m);
  auto it = sv().layered.find(hwnd);
  if (it == sv().layered.end()) return false;
  out = it->second;
  return true;
}

// ---- global memory ----

HGLOBAL globalAlloc(uint32_t, size_t bytes) {
  std::lock_guard<std::mutex> lock(sv().m);
  return AllocLocked(sv(), bytes);
}

void* globalLock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(sv().m);
  auto it = sv().blocks.find(mem);
  if (it == sv().blocks.end()) return nullptr;
  // A zero-size block still answers an address.
  if (it->second.empty()) it->second.reserve(1);
  return it->second.data();
}

bool globalUnlock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(sv().m);
  return sv().blocks.count(mem) != 0;
}

HGLOBAL globalFree(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(sv().m);
  if (!sv().blocks.count(mem)) return mem;
  FreeLocked(sv(), mem);
  return 0;
}

size_t globalSize(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(sv().m);
  auto it = sv().blocks.find(mem);
  return it == sv().blocks.end() ? 0 : it->second.size();
}

// ---- clipboard ----

bool openClipboard(HWND) {
  std::lock_guard<std::mutex> lock(sv().m);
  if (sv().open) {
    platform::os::setLastError(5);
    return false;
  }
  sv().open = true;
  return true;
}

bool closeClipboard() {
  std::lock_guard<std::mutex> lock(sv().m);
  if (!sv().open) return false;
  sv().open = false;
  return true;
}

bool emptyClipboard() {
  {
    std::lock_guard<std::mutex> lock(sv().m);
    Services& s = sv();
    if (!s.open) {
      platform::os::setLastError(1418);  // clipboard not open
      return false;
    }
    for (auto& [f, h] : s.formats) FreeLocked(s, h);
    s.formats.clear();
    s.hasLocalText = false;
    s.localText.clear();
  }
  windowBackend().setClipboardText(std::string());
  AnnounceChange();
  return true;
}

HGLOBAL setClipboardData(uint32_t format, HGLOBAL mem) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(sv().m);
    Services& s = sv();
    if (!s.open || !s.blocks.count(mem)) {
      platform::os::setLastError(s.open ? 6 : 1418);
      return 0;
    }
    if (format == CF_UNICODETEXT) {
      const std::vector<uint8_t>& b = s.blocks[mem];
      const auto* units = reinterpret_cast<const char16_t*>(b.data());
      size_t n = 0;
      while (n < b.size() / 2 && units[n] != 0) ++n;
      text = Utf8Of(units, n);
      FreeLocked(s, mem);
      s.localText = text;
      s.hasLocalText = true;
    } else {
      auto it = s.formats.find(format);
      if (it != s.formats.end() && it->second != mem) FreeLocked(s, it->second);
      s.formats[format] = mem;
    }
  }
  if (format == CF_UNICODETEXT) windowBackend().setClipboardText(text);
  AnnounceChange();
  return mem;
}

HGLOBAL getClipboardData(uint32_t format) {
  std::string text;
  bool fromBackend = false;
  if (format == CF_UNICODETEXT) fromBackend = windowBackend().clipboardText(text);
  std::lock_guard<std::mutex> lock(sv().m);
  Services& s = sv();
  if (!s.open) {
    platform::os::setLastError(1418);
    return 0;
  }
  if (format == CF_UNICODETEXT) {
    if (!fromBackend) {
      if (!s.hasLocalText) return 0;
      text = s.localText;
    }
    if (fromBackend && text.empty()) return 0;
    const std::u16string units = Utf16Of(text);
    FreeLocked(s, s.textBlock);
    s.textBlock = AllocLocked(s, (units.size() + 1) * 2);
    std::memcpy(s.blocks[s.textBlock].data(), units.c_str(), (units.size() + 1) * 2);
    return s.textBlock;
  }
  auto it = s.formats.find(format);
  return it == s.formats.end() ? 0 : it->second;
}

bool isClipboardFormatAvailable(uint32_t format) {
  if (format == CF_UNICODETEXT) {
    std::string text;
    if (windowBackend().clipboardText(text)) return !text.empty();
    std::lock_guard<std::mutex> lock(sv().m);
    return sv().hasLocalText;
  }
  std::lock_guard<std::mutex> lock(sv().m);
  return sv().formats.count(format) != 0;
}

uint32_t getClipboardSequenceNumber() {
  std::lock_guard<std::mutex> lock(sv().m);
  return sv().sequence;
}

bool addClipboardFormatListener(HWND hwnd) {
  if (!isWindow(hwnd)) return false;
  std::lock_guard<std::mutex> lock(sv().m);
  if (std::find(sv().listeners.begin(), sv().listeners.end(), hwnd) == sv().listeners.end())
    sv().listeners.push_back(hwnd);
  return true;
}

bool removeClipboardFormatListener(HWND hwnd) {
  std::lock_guard<std::mutex> lock(sv().m);
  auto it = std::find(sv().listeners.begin(), sv().listeners.end(), hwnd);
  if (it == sv().listeners.end()) return false;
  sv().listeners.erase(it);
  return true;
}

void backendClipboardChanged() { AnnounceChange(); }

}  // namespace platform::window

// ---- surface device contexts ----

namespace platform::window {

namespace {

struct Surface {
  uint8_t* bits = nullptr;
  int32_t width = 0, height = 0, bpp = 32, pitch = 0;
  bool bottomUp = false;
  HWND window = 0;  // a window's back surface
  uint8_t* Row(int32_t y) const {
    return bits + static_cast<ptrdiff_t>(bottomUp ? height - 1 - y : y) * pitch;
  }
};

struct Surfaces {
  std::mutex m;
  std::unordered_map<HDC, Surface> dcs;
  HDC next = kSurfaceDCBase + 1;
  std::unordered_map<HWND, std::vector<uint8_t>> backs;  // window back surfaces
  std::unordered_map<HWND, std::pair<int32_t, int32_t>> backSize;
  std::unordered_map<HWND, Rect> changed;  // drawn into a back surface, not shown yet
};

void Unite(Rect& into, const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  if (into.right <= into.left || into.bottom <= into.top) {
    into = r;
    return;
  }
  into = Rect{std::min(into.left, r.left), std::min(into.top, r.top), std::max(into.right, r.right),
              std::max(into.bottom, r.bottom)};
}
Surfaces& sf() {
  static Surfaces* s = new Surfaces;
  return *s;
}

}  // namespace

HDC createSurfaceDC(uint8_t* bits, int32_t width, int32_t height, int32_t bpp, int32_t pitch, bool bottomUp) {
  if (!bits || width <= 0 || height <= 0 || (bpp != 24 && bpp != 32) || pitch < width * (bpp / 8)) {
    platform::os::setLastError(87);
    return 0;
  }
  std::lock_guard<std::mutex> lock(sf().m);
  const HDC h = sf().next++;
  sf().dcs[h] = Surface{bits, width, height, bpp, pitch, bottomUp, 0};
  return h;
}

HDC windowSurfaceDC(HWND hwnd) {
  Rect r;
  if (!getClientRect(hwnd, r)) return 0;
  const int32_t w = std::max(1, r.right - r.left), h = std::max(1, r.bottom - r.top);
  std::lock_guard<std::mutex> lock(sf().m);
  std::vector<uint8_t>& back = sf().backs[hwnd];
  auto& size = sf().backSize[hwnd];
  if (size.first != w || size.second != h) {
    back.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    size = {w, h};
    // DCs still open over the old surface would write into freed memory:
    // they draw into the new one.
    for (auto& [dc, open] : sf().dcs)
      if (open.window == hwnd) open = Surface{back.data(), w, h, 32, w * 4, false, hwnd};
  }
  const HDC dc = sf().next++;
  sf().dcs[dc] = Surface{back.data(), w, h, 32, w * 4, false, hwnd};
  return dc;
}

namespace {

// Has the backend show what was drawn into a top-level window's back surface
// and not shown yet (the whole surface when all is set). Nothing drawn,
// nothing shown: a window the graphics device presents into keeps its
// picture. The back surface cannot be resized or freed while the lock is
// held, so the backend reads it in place.
void PresentLocked(HWND hwnd, bool all) {
  auto c = sf().changed.find(hwnd);
  auto b = sf().backs.find(hwnd);
  if (b == sf().backs.end() || c == sf().changed.end()) return;
  const auto size = sf().backSize[hwnd];
  const Rect whole{0, 0, size.first, size.second};
  if (windowBackend().presentBackSurface(hwnd, b->second.data(), size.first, size.second, all ? whole : c->second))
    sf().changed.erase(c);
}

}  // namespace

bool releaseSurfaceDC(HDC hdc) {
  HWND hwnd = 0;
  {
    std::lock_guard<std::mutex> lock(sf().m);
    auto it = sf().dcs.find(hdc);
    if (it == sf().dcs.end() || !it->second.window) return false;
    hwnd = it->second.window;
    sf().dcs.erase(it);
  }
  // Only top-level windows have a display of their own; a child's back
  // surface is its own (tests read it).
  if (topLevelOf(hwnd) != hwnd) return true;
  std::lock_guard<std::mutex> lock(sf().m);
  PresentLocked(hwnd, false);
  return true;
}

void dropWindowSurface(HWND hwnd) {
  std::lock_guard<std::mutex> lock(sf().m);
  // DCs still open over it stop working (blits into them fail) rather than
  // write into freed memory.
  std::erase_if(sf().dcs, [&](const auto& e) { return e.second.window == hwnd; });
  sf().backs.erase(hwnd);
  sf().backSize.erase(hwnd);
  sf().changed.erase(hwnd);
}

void backendShowBackSurface(HWND hwnd) {
  std::lock_guard<std::mutex> lock(sf().m);
  PresentLocked(hwnd, true);
}

Rect pendingSurfaceChange(HWND hwnd) {
  std::lock_guard<std::mutex> lock(sf().m);
  auto c = sf().changed.find(hwnd);
  return c == sf().changed.end() ? Rect{} : c->second;
}

bool deleteSurfaceDC(HDC hdc) {
  std::lock_guard<std::mutex> lock(sf().m);
  return sf().dcs.erase(hdc) != 0;
}

int32_t surfaceBitsPerPixel(HDC hdc) {
  std::lock_guard<std::mutex> lock(sf().m);
  auto it = sf().dcs.find(hdc);
  return it == sf().dcs.end() ? 0 : it->second.bpp;
}

bool bitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, uint32_t rop) {
  std::lock_guard<std::mutex> lock(sf().m);
  auto d = sf().dcs.find(dst), s = sf().dcs.find(src);
  if (rop != SRCCOPY || d == sf().dcs.end() || s == sf().dcs.end()) {
    platform::os::setLastError(87);
    return false;
  }
  const Surface& D = d->second;
  const Surface& S = s->second;
  // Clip against both surfaces, moving the source with the destination.
  if (x < 0) { sx -= x; w += x; x = 0; }
  if (y < 0) { sy -= y; h += y; y = 0; }
  if (sx < 0) { x -= sx; w += sx; sx = 0; }
  if (sy < 0) { y -= sy; h += sy; sy = 0; }
  w = std::min({w, D.width - x, S.width - sx});
  h = std::min({h, D.height - y, S.height - sy});
  if (w <= 0 || h <= 0) return true;
  if (D.window) Unite(sf().changed[D.window], Rect{x, y, x + w, y + h});
  const int32_t db = D.bpp / 8, sb = S.bpp / 8;
  for (int32_t row = 0; row < h; ++row) {
    uint8_t* dp = D.Row(y + row) + x * db;
    const uint8_t* sp = S.Row(sy + row) + sx * sb;
    if (db == sb) {
      std::memmove(dp, sp, static_cast<size_t>(w) * static_cast<size_t>(db));
      continue;
    }
    for (int32_t i = 0; i < w; ++i) {
      dp[i * db] = sp[i * sb];
      dp[i * db + 1] = sp[i * sb + 1];
      dp[i * db + 2] = sp[i * sb + 2];
      if (db == 4) dp[i * db + 3] = 255;  // 24-bit sources are opaque
    }
  }
  return true;
}

bool windowSurface(HWND hwnd, int32_t& width, int32_t& height, std::vector<uint8_t>& bits) {
  std::lock_guard<std::mutex> lock(sf().m);
  auto it = sf().backs.find(hwnd);
  if (it == sf().backs.end()) return false;
  width = sf().backSize[hwnd].first;
  height = sf().backSize[hwnd].second;
  bits = it->second;
  return true;
}

}  // namespace platform::window
