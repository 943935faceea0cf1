#include "windowing/kvInputTranslate.h"

#include "platform/os/codepages.h"
#include "windowing/kvEvents.h"

namespace windowing {

namespace pw = platform::window;

namespace {

uint32_t g_rollMessage = 0;
// One accumulator for every window, as the system's wheel messages come
// one window at a time.
int32_t g_wheelAccumulator = 0;

constexpr uint32_t WM_KEYDOWN = 0x100, WM_KEYUP = 0x101, WM_CHAR = 0x102, WM_SYSKEYDOWN = 0x104,
                   WM_SYSKEYUP = 0x105, WM_SYSCHAR = 0x106, WM_MOUSEMOVE = 0x200, WM_MBUTTONDBLCLK = 0x209,
                   WM_MOUSEWHEEL = 0x20A;
constexpr uint16_t VK_MENU = 18;

constexpr char16_t kGlyphs[32] = {u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
                                  u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B',
                                  u'\u263C', u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7',
                                  u'\u25AC', u'\u21A8', u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F',
                                  u'\u2194', u'\u25B2', u'\u25BC', u' '};

int16_t Lo(uint64_t v) { return static_cast<int16_t>(v & 0xFFFF); }
int16_t Hi(uint64_t v) { return static_cast<int16_t>((v >> 16) & 0xFFFF); }

// The digit of a numeric-keypad key, with num lock off or on; -1 otherwise.
int32_t KeypadDigit(uint16_t vk) {
  switch (vk) {
    case 45: return 0;  // Insert
    case 35: return 1;  // End
    case 40: return 2;  // Down
    case 34: return 3;  // Next
    case 37: return 4;  // Left
    case 12: return 5;  // Clear
    case 39: return 6;  // Right
    case 36: return 7;  // Home
    case 38: return 8;  // Up
    case 33: return 9;  // Prior
    default: return vk >= 96 && vk <= 105 ? vk - 96 : -1;
  }
}

char16_t CharToWide(uint32_t value, uint32_t codePage) {
  if (value >= 256) return static_cast<char16_t>(value);
  const char b = static_cast<char>(value);
  char16_t out = 0;
  constexpr uint32_t MB_USEGLYPHCHARS = 4;
  if (platform::os::multiByteToWideChar(codePage, MB_USEGLYPHCHARS, &b, 1, &out, 1) != 1) return 0;
  return out;
}

}  // namespace

uint32_t WheelRollMessage() { return g_rollMessage; }
void InitInputTranslate() {
  if (!g_rollMessage) g_rollMessage = WindowApiClass->RegisterWindowMessage(u"MSWHEEL_ROLLMSG");
}
void ResetWheelAccumulator() { g_wheelAccumulator = 0; }

bool TranslateMouseMessage(HWND, const TWndMessage& msg, const TMouseCallback& callback) {
  if (msg.Msg < WM_MOUSEMOVE || msg.Msg > WM_MBUTTONDBLCLK) return false;
  static constexpr int32_t kButton[10] = {mbNone, mbLeft, mbLeft, mbLeft, mbRight,
                                          mbRight, mbRight, mbMiddle, mbMiddle, mbMiddle};
  static constexpr int32_t kKind[10] = {mkMove, mkPress, mkRelease, mkDoubleClick, mkPress,
                                        mkRelease, mkDoubleClick, mkPress, mkRelease, mkDoubleClick};
  const uint32_t i = msg.Msg - WM_MOUSEMOVE;
  const uint32_t shift = ShiftStateFromWheelFlags(static_cast<pw::WPARAM>(msg.WParam));
  const int32_t x = Lo(static_cast<uint64_t>(msg.LParam)), y = Hi(static_cast<uint64_t>(msg.LParam));
  if (kKind[i] == mkDoubleClick) callback(shift, x, y, kButton[i], mkPress);
  callback(shift, x, y, kButton[i], kKind[i]);
  return true;
}

bool TranslateWheelMessage(HWND wnd, const TWndMessage& msg, const TWheelCallback& callback) {
  if (msg.Msg != WM_MOUSEWHEEL && (g_rollMessage == 0 || msg.Msg != g_rollMessage)) return false;
  pw::Point pt{Lo(static_cast<uint64_t>(msg.LParam)), Hi(static_cast<uint64_t>(msg.LParam))};
  if (wnd) pw::screenToClient(wnd, pt);
  g_wheelAccumulator += Hi(msg.WParam);
  if (g_wheelAccumulator >= 120 || g_wheelAccumulator <= -120) {
    const int32_t steps = g_wheelAccumulator / 120;
    g_wheelAccumulator -= steps * 120;
    callback(ShiftStateFromMouseFlags(static_cast<uint16_t>(msg.WParam & 0xFFFF)), pt.x, pt.y, steps);
  }
  return true;
}

bool TranslateKeyMessage(HWND, const TWndMessage& msg, const TKeyCallback& callback, TKeyTranslateState& state,
                         bool wideChars) {
  const auto lp = static_cast<pw::LPARAM>(msg.LParam);
  auto deliver = [&](uint16_t key, int32_t kind) {
    const uint32_t shift = ShiftStateFromKeyData(lp);
    uint16_t k = key;
    callback(shift, k, kind);
    state.LastKind = kind;
    state.LastEaten = k == 0;
    return shift;
  };
  switch (msg.Msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      const auto vk = static_cast<uint16_t>(msg.WParam & 0xFFFF);
      const uint32_t shift = deliver(vk, kkDown);
      if (!state.LastEaten && (shift & 0x7F) == ssAlt) {
        const int32_t digit = KeypadDigit(vk);
        if (vk == VK_MENU) {
          state.Mode = 1;
          state.Code = 0;
        } else if (digit >= 0) {
          if (state.Mode == 1) state.Mode = digit == 0 ? 2 : 3;
          // A code too long for any character stops growing (no overflow).
          if (state.Code < 100000) state.Code = state.Code * 10 + digit;
        } else {
          state.Mode = 0;
        }
      }
      return true;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: deliver(static_cast<uint16_t>(msg.WParam & 0xFFFF), kkUp); return true;
    case WM_CHAR:
    case WM_SYSCHAR: {
      if (((lp >> 16) & 0xFF) == 0x38 && (lp & (pw::LPARAM{1} << 31))) {
        if (state.Mode == 2 || state.Mode == 3) {
          const char16_t c = AltCodeToChar(state.Code, state.Mode == 2);
          if (c >= 32) deliver(c, kkChar);
        }
        state.Mode = 0;
        return true;
      }
      const uint16_t lo = static_cast<uint16_t>(msg.WParam & 0xFFFF);
      const uint16_t hi = static_cast<uint16_t>((msg.WParam >> 16) & 0xFFFF);
      const bool packed = wideChars && lo == 0x00FF && hi != 0;
      if (state.LastKind == kkDown && state.LastEaten && !packed) return true;
      if (wideChars)
        deliver(packed ? hi : lo, kkChar);
      else
        deliver(CharToWide(lo, KeyboardCodePage()), kkChar);
      return true;
    }
    default: return false;
  }
}

uint32_t KeyboardCodePage() {
  // The layer has one keyboard layout, whose code page is the ANSI page.
  return platform::os::getACP();
}

char16_t AltCodeToChar(int32_t code, bool ansi) {
  if (code >= 1 && code <= 32) return kGlyphs[code - 1];
  if (code >= 33 && code <= 255)
    return CharToWide(static_cast<uint32_t>(code), ansi ? KeyboardCodePage() : platform::os::getOEMCP());
  return 0;
}

}  // namespace windowing
