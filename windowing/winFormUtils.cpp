#include "windowing/winFormUtils.h"

#include <vector>

#include "foundation/kpTypes.h"
#include "imaging/kvFastDIB.h"
#include "platform/os/version.h"

namespace windowing {

namespace pw = platform::window;

pw::HCURSOR CursorForId(int32_t id) {
  static constexpr uint32_t kIds[10] = {pw::IDC_ARROW,    pw::IDC_SIZEWE,   pw::IDC_SIZENS,
                                        pw::IDC_IBEAM,    pw::IDC_HAND,     pw::IDC_CROSS,
                                        pw::IDC_SIZENESW, pw::IDC_SIZENWSE, pw::IDC_SIZEALL,
                                        pw::IDC_WAIT};
  if (id == -1) return 0;
  return pw::loadSystemCursor(id >= 0 && id <= 9 ? kIds[id] : pw::IDC_ARROW);
}

bool SetCursorById(int32_t id) {
  const pw::HCURSOR c = CursorForId(id);
  if (c == pw::getCursor() && (c != 0 || id == -1)) return true;
  if (c == 0 && id != -1) return false;
  return pw::setCursor(c) != 0;
}

void RefreshCursorUnderMouse() {
  pw::Point pt;
  if (!pw::getCursorPos(pt)) return;
  const HWND w = pw::windowFromPoint(pt);
  if (!w || pw::getWindowThreadProcessId(w, nullptr) != platform::os::currentThreadId()) return;
  const LPARAM pos = static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(pt.y)) << 16) |
                                         static_cast<uint16_t>(pt.x));
  const LRESULT hit = WindowApiClass->SendMessage(w, pw::WM_NCHITTEST, 0, pos);
  WindowApiClass->SendMessage(w, pw::WM_SETCURSOR, static_cast<WPARAM>(w), static_cast<LPARAM>(hit & 0xFFFF));
}

void PremultiplyLayeredPixel(uint8_t* p, int32_t opacity) {
  const int32_t a = p[3] * opacity / 256;
  if (a < 255) {
    p[0] = static_cast<uint8_t>(p[0] * a / 256);
    p[1] = static_cast<uint8_t>(p[1] * a / 256);
    p[2] = static_cast<uint8_t>(p[2] * a / 256);
  }
  p[3] = static_cast<uint8_t>(a);
}

bool UpdateLayeredFromBitmap(HWND wnd, imaging::TSysBitmap* bitmap, int32_t opacity, bool clickThrough) {
  if (!bitmap) return false;
  const uint32_t ex = pw::WS_EX_LAYERED | (clickThrough ? pw::WS_EX_TRANSPARENT : 0);
  // The previous value may legitimately be 0; a failed call leaves no window.
  WindowApiClass->SetWindowLongPtr(wnd, pw::GWL_EXSTYLE, static_cast<intptr_t>(ex));
  if (!pw::isWindow(wnd)) return false;
  foundation::TRef<imaging::TDibBitmap> dib =
      foundation::TRef<imaging::TDibBitmap>::Adopt(imaging::CreateDibBitmap(bitmap->Width, bitmap->Height, 32));
  if (!dib) return false;
  dib->CopyFrom(bitmap);
  const int32_t w = dib->Width, h = dib->Height;
  std::vector<uint8_t> bits(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = dib->ScanLines()[static_cast<size_t>(y)];
    for (int32_t x = 0; x < w; ++x) PremultiplyLayeredPixel(row + x * 4, opacity);
    std::copy_n(row, static_cast<size_t>(w) * 4, &bits[static_cast<size_t>(y) * static_cast<size_t>(w) * 4]);
  }
  pw::Rect r;
  if (!pw::getWindowRect(wnd, r)) return false;
  return pw::updateLayeredWindow(wnd, pw::Point{r.left, r.top}, w, h, bits.data(), w * 4);
}

bool SetDarkTitleBar(HWND wnd, bool dark) {
  platform::os::OsVersionInfo v;
  if (!platform::os::getVersionEx(v) || v.platformId != 2 || v.majorVersion < 10 || v.buildNumber < 17763)
    return false;
  const int32_t value = dark ? 1 : 0;
  return CallDwmSetWindowAttribute(wnd, 19, &value, sizeof(value)) == 0;
}

}  // namespace windowing
