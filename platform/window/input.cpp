// Input events (SDL-shaped) into window messages: mouse messages go to the
// capture window or the topmost visible child under the point, in its client
// coordinates; the wheel to the focused window with the screen position;
// keys to the focused window with virtual-key codes and the key data word;
// characters after the key that made them.
#include <cmath>
#include <mutex>

#include "platform/window/Utf.h"
#include "platform/window/api.h"

namespace platform::window {

namespace {

constexpr int32_t kScancodeMask = 1 << 30;
constexpr int32_t Sc(int32_t scancode) { return scancode | kScancodeMask; }

constexpr uint16_t KMOD_SHIFT = 0x0003, KMOD_CTRL = 0x00C0, KMOD_ALT = 0x0300, KMOD_NUM = 0x1000;
constexpr int VK_BACK = 8, VK_TAB = 9, VK_CLEAR = 12, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17, VK_MENU = 18,
              VK_PAUSE = 19, VK_CAPITAL = 20, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
              VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40, VK_INSERT = 45,
              VK_DELETE = 46, VK_LWIN = 91, VK_RWIN = 92, VK_APPS = 93, VK_NUMPAD0 = 96, VK_MULTIPLY = 106,
              VK_ADD = 107, VK_SUBTRACT = 109, VK_DECIMAL = 110, VK_DIVIDE = 111, VK_F1 = 112, VK_F10 = 121,
              VK_NUMLOCK = 144, VK_SCROLL = 145, VK_LSHIFT = 160, VK_RSHIFT = 161, VK_LCONTROL = 162,
              VK_RCONTROL = 163, VK_LMENU = 164, VK_RMENU = 165;

struct KeyRow {
  int32_t keycode;
  int vk;
};
// Keys whose code is not their character.
constexpr KeyRow kKeys[] = {
    {8, VK_BACK}, {9, VK_TAB}, {13, VK_RETURN}, {27, VK_ESCAPE}, {32, VK_SPACE}, {127, VK_DELETE},
    {Sc(57), VK_CAPITAL}, {Sc(71), VK_SCROLL}, {Sc(72), VK_PAUSE}, {Sc(73), VK_INSERT}, {Sc(74), VK_HOME},
    {Sc(75), VK_PRIOR}, {Sc(77), VK_END}, {Sc(78), VK_NEXT}, {Sc(79), VK_RIGHT}, {Sc(80), VK_LEFT},
    {Sc(81), VK_DOWN}, {Sc(82), VK_UP}, {Sc(83), VK_NUMLOCK}, {Sc(84), VK_DIVIDE}, {Sc(85), VK_MULTIPLY},
    {Sc(86), VK_SUBTRACT}, {Sc(87), VK_ADD}, {Sc(88), VK_RETURN}, {Sc(101), VK_APPS}, {Sc(156), VK_CLEAR},
    {Sc(224), VK_CONTROL}, {Sc(225), VK_SHIFT}, {Sc(226), VK_MENU}, {Sc(227), VK_LWIN}, {Sc(228), VK_CONTROL},
    {Sc(229), VK_SHIFT}, {Sc(230), VK_MENU}, {Sc(231), VK_RWIN}, {Sc(270), 166}, {Sc(271), 167},
    {Sc(258), 176}, {Sc(259), 177}, {Sc(260), 178}, {Sc(261), 179},
    {';', 186}, {'=', 187}, {',', 188}, {'-', 189}, {'.', 190}, {'/', 191}, {'`', 192},
    {'[', 219}, {'\\', 220}, {']', 221}, {'\'', 222},
};

// Keypad 1-9, 0 and the point without num lock: the navigation keys.
constexpr int kKeypadNav[11] = {VK_END, VK_DOWN, VK_NEXT, VK_LEFT, VK_CLEAR, VK_RIGHT, VK_HOME, VK_UP, VK_PRIOR,
                                VK_INSERT, VK_DELETE};

// Set-1 scan codes of SDL scan codes (0: none); bit 8 marks an extended key.
int Set1Of(int32_t sc) {
  static const int letters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                  0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  if (sc >= 4 && sc <= 29) return letters[sc - 4];
  if (sc >= 30 && sc <= 39) return 0x02 + (sc - 30);  // 1..9, 0
  if (sc >= 58 && sc <= 67) return 0x3B + (sc - 58);  // F1..F10
  switch (sc) {
    case 40: return 0x1C;          // Enter
    case 41: return 0x01;          // Esc
    case 42: return 0x0E;          // Backspace
    case 43: return 0x0F;          // Tab
    case 44: return 0x39;          // Space
    case 68: return 0x57;          // F11
    case 69: return 0x58;          // F12
    case 73: return 0x152;         // Insert
    case 74: return 0x147;         // Home
    case 75: return 0x149;         // Page Up
    case 76: return 0x153;         // Delete
    case 77: return 0x14F;         // End
    case 78: return 0x151;         // Page Down
    case 79: return 0x14D;         // Right
    case 80: return 0x14B;         // Left
    case 81: return 0x150;         // Down
    case 82: return 0x148;         // Up
    case 88: return 0x11C;         // keypad Enter
    case 89: return 0x4F;          // keypad 1
    case 90: return 0x50;
    case 91: return 0x51;
    case 92: return 0x4B;
    case 93: return 0x4C;
    case 94: return 0x4D;
    case 95: return 0x47;
    case 96: return 0x48;
    case 97: return 0x49;          // keypad 9
    case 98: return 0x52;          // keypad 0
    case 99: return 0x53;          // keypad point
    case 224: return 0x1D;         // left Ctrl
    case 225: return 0x2A;         // left Shift
    case 226: return 0x38;         // left Alt
    case 228: return 0x11D;        // right Ctrl
    case 229: return 0x36;         // right Shift
    case 230: return 0x138;        // right Alt
    default: return 0;
  }
}

struct InputState {
  std::mutex m;
  uint16_t buttons = 0;  // MK_ button bits
  float wheelRest = 0;   // fractions of a notch not yet sent
  bool keyDown[256] = {};
  // The key data of the last key-down: the characters SDL reports as text
  // for it carry the same word (bit 29 with Alt, so they become WM_SYSCHAR).
  bool haveKeyData = false;
  LPARAM lastKeyData = 1;
  bool lastKeySys = false;
  // Text of a keypad key typed with Alt alone is part of an Alt code.
  bool suppressText = false;
  // Alt+keypad code entry: Alt pressed alone, then keypad digits.
  bool altEntry = false;
  int altDigits = 0;
  uint32_t altCode = 0;
};
InputState& state() {
  static InputState* s = new InputState;
  return *s;
}

LPARAM PointParam(int32_t x, int32_t y) {
  return static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                             static_cast<uint16_t>(x));
}

uint16_t ModFlags(uint16_t mod) {
  uint16_t f = 0;
  if (mod & KMOD_SHIFT) f |= MK_SHIFT;
  if (mod & KMOD_CTRL) f |= MK_CONTROL;
  return f;
}

uint16_t ButtonBit(uint8_t button) {
  switch (button) {
    case 1: return MK_LBUTTON;
    case 2: return MK_MBUTTON;
    case 3: return MK_RBUTTON;
    case 4: return MK_XBUTTON1;
    case 5: return MK_XBUTTON2;
    default: return 0;
  }
}

// The window under a point of a top-level window's client area, descending
// into visible children; the capture takes everything.
HWND MouseTarget(HWND top, Point client, Point& targetClient) {
  HWND target = getCapture();
  Point screen = client;
  clientToScreen(top, screen);
  if (!target) {
    target = top;
    HWND w = windowFromPoint(screen);
    if (w && topLevelOf(w) == top) target = w;
  }
  targetClient = screen;
  screenToClient(target, targetClient);
  return target;
}

bool UsesDoubleClicks(HWND hwnd) {
  WindowState s;
  WndClass cls;
  return windowState(hwnd, s) && getClassInfo(0, s.className, cls) && (cls.style & CS_DBLCLKS);
}

// A character message carries the key data of its key-down and is a
// WM_SYSCHAR when that key-down was a system key (Alt without Ctrl).
void PostChars(HWND target, std::u16string_view units, LPARAM data, bool sys) {
  for (char16_t u : units) postMessage(target, sys ? WM_SYSCHAR : WM_CHAR, u, data);
}

// Keypad digits by SDL scan code (1..9 are 89..97, 0 is 98), whatever num
// lock says; -1 for any other key.
int KeypadDigit(int32_t scancode) {
  if (scancode >= 89 && scancode <= 97) return scancode - 88;
  if (scancode == 98) return 0;
  return -1;
}

constexpr uint16_t KMOD_GUI = 0x0C00;
bool AltAlone(uint16_t mod) { return (mod & KMOD_ALT) && !(mod & (KMOD_SHIFT | KMOD_CTRL | KMOD_GUI)); }


}  // namespace

int virtualKeyOf(int32_t keycode, uint16_t mod) {
  if (keycode >= 'a' && keycode <= 'z') return keycode - 32;
  if (keycode >= '0' && keycode <= '9') return keycode;
  if (keycode >= Sc(58) && keycode <= Sc(69)) return VK_F1 + (keycode - Sc(58));     // F1-F12
  if (keycode >= Sc(104) && keycode <= Sc(115)) return VK_F1 + 12 + (keycode - Sc(104));  // F13-F24
  if (keycode >= Sc(89) && keycode <= Sc(99)) {
    const int i = keycode - Sc(89);  // keypad 1..9, 0, point
    if (mod & KMOD_NUM) return i == 10 ? VK_DECIMAL : i == 9 ? VK_NUMPAD0 : VK_NUMPAD0 + 1 + i;
    return kKeypadNav[i];
  }
  for (const KeyRow& r : kKeys)
    if (r.keycode == keycode) return r.vk;
  return 0;
}

void deliverInput(const InputEvent& e) {
  InputState& st = state();
  if (!isWindow(e.window)) return;
  switch (e.kind) {
    case InputKind::MouseMotion:
    case InputKind::MouseButtonDown:
    case InputKind::MouseButtonUp: {
      Point local;
      const HWND target = MouseTarget(e.window, Point{e.x, e.y}, local);
      if (!isWindowEnabled(target)) return;
      uint16_t buttons;
      {
        std::lock_guard<std::mutex> lock(st.m);
        if (e.kind == InputKind::MouseButtonDown) st.buttons |= ButtonBit(e.button);
        if (e.kind == InputKind::MouseButtonUp) st.buttons &= static_cast<uint16_t>(~ButtonBit(e.button));
        buttons = st.buttons;
      }
      const WPARAM flags = buttons | ModFlags(e.mod);
      if (e.kind == InputKind::MouseMotion) {
        postMessage(target, WM_MOUSEMOVE, flags, PointParam(local.x, local.y));
        return;
      }
      const bool down = e.kind == InputKind::MouseButtonDown;
      const bool dbl = down && e.clicks == 2 && UsesDoubleClicks(target);
      uint32_t msg;
      WPARAM wp = flags;
      switch (e.button) {
        case 1: msg = down ? (dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN) : WM_LBUTTONUP; break;
        case 2: msg = down ? (dbl ? WM_MBUTTONDBLCLK : WM_MBUTTONDOWN) : WM_MBUTTONUP; break;
        case 3: msg = down ? (dbl ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN) : WM_RBUTTONUP; break;
        case 4:
        case 5:
          msg = down ? (dbl ? WM_XBUTTONDBLCLK : WM_XBUTTONDOWN) : WM_XBUTTONUP;
          wp |= static_cast<WPARAM>(e.button - 3) << 16;
          break;
        default: return;
      }
      // A press on an inactive window asks it first; MA_NOACTIVATE (3) keeps
      // the activation where it is.
      if (down && getActiveWindow() != e.window) {
        const LRESULT answer = sendMessage(e.window, WM_MOUSEACTIVATE, e.window,
                                           static_cast<LPARAM>(HTCLIENT | (static_cast<LPARAM>(msg) << 16)));
        if (answer != 3) setActiveWindow(e.window);
      }
      postMessage(target, msg, wp, PointParam(local.x, local.y));
      return;
    }
    case InputKind::MouseWheel: {
      int notches120;
      uint16_t buttons;
      {
        std::lock_guard<std::mutex> lock(st.m);
        const float total = st.wheelRest + e.wheelY * 120.0f;
        notches120 = static_cast<int>(std::trunc(total));
        st.wheelRest = total - static_cast<float>(notches120);
        buttons = st.buttons;
      }
      if (notches120 == 0) return;
      Point screen{e.x, e.y};
      clientToScreen(e.window, screen);
      const WPARAM wp = (static_cast<WPARAM>(static_cast<uint16_t>(static_cast<int16_t>(notches120))) << 16) |
                        static_cast<uint16_t>(buttons | ModFlags(e.mod));
      postMessage(e.window, WM_MOUSEWHEEL, wp, PointParam(screen.x, screen.y));
      return;
    }
    case InputKind::KeyDown:
    case InputKind::KeyUp: {
      const bool down = e.kind == InputKind::KeyDown;
      const int vk = virtualKeyOf(e.keycode, e.mod);
      if (vk == 0) return;
      bool wasDown;
      {
        std::lock_guard<std::mutex> lock(st.m);
        wasDown = st.keyDown[vk];
        st.keyDown[vk] = down;
      }
      // The key table of getKeyState, generic and sided entries.
      const bool toggledBefore = getKeyState(vk) & 1;
      const bool toggles = vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL;
      backendSetKeyState(vk, down, toggles && down && !wasDown ? !toggledBefore : toggledBefore);
      const int32_t sc = e.scancode;
      if (sc == 224 || sc == 228) backendSetKeyState(sc == 224 ? VK_LCONTROL : VK_RCONTROL, down, false);
      if (sc == 225 || sc == 229) backendSetKeyState(sc == 225 ? VK_LSHIFT : VK_RSHIFT, down, false);
      if (sc == 226 || sc == 230) backendSetKeyState(sc == 226 ? VK_LMENU : VK_RMENU, down, false);
      const bool alt = (e.mod & KMOD_ALT) != 0;
      const bool sys = (alt && !(e.mod & KMOD_CTRL)) || vk == VK_F10;
      const int set1 = Set1Of(sc);
      LPARAM data = 1 | (static_cast<LPARAM>(set1 & 0xFF) << 16);
      if (set1 & 0x100) data |= LPARAM{1} << 24;
      if (alt) data |= LPARAM{1} << 29;
      if (!down || wasDown || e.repeat) data |= LPARAM{1} << 30;
      if (!down) data |= LPARAM{1} << 31;
      const uint32_t msg = sys ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
      // Alt+keypad codes: Alt pressed alone starts an entry, keypad digits
      // with Alt alone extend it, any other key ends it; releasing Alt
      // after digits gives the code's character (scan code of Alt, key-up
      // bits, context bit clear: a WM_CHAR).
      const int digit = KeypadDigit(sc);
      bool altRelease = false;
      uint32_t altCode = 0;
      {
        std::lock_guard<std::mutex> lock(st.m);
        if (down) {
          if (vk == VK_MENU) {
            if (!wasDown) {
              st.altEntry = !(e.mod & (KMOD_SHIFT | KMOD_CTRL | KMOD_GUI));
              st.altDigits = 0;
              st.altCode = 0;
            }
          } else if (digit >= 0 && st.altEntry && AltAlone(e.mod)) {
            st.altCode = st.altCode * 10 + static_cast<uint32_t>(digit);
            ++st.altDigits;
          } else if (vk != VK_SHIFT && vk != VK_CONTROL) {
            st.altEntry = false;
          }
          st.haveKeyData = true;
          st.lastKeyData = data;
          st.lastKeySys = sys;
          st.suppressText = digit >= 0 && AltAlone(e.mod);
        } else {
          if (vk == VK_MENU && st.altEntry && st.altDigits > 0) {
            altRelease = true;
            altCode = st.altCode;
          }
          if (vk == VK_MENU) st.altEntry = false;
          st.haveKeyData = false;
          st.suppressText = false;
        }
      }
      postMessage(e.window, msg, static_cast<WPARAM>(vk), data);
      if (altRelease) {
        const LPARAM charData = 1 | (LPARAM{0x38} << 16) | (LPARAM{1} << 30) | (LPARAM{1} << 31);
        postMessage(e.window, WM_CHAR, static_cast<WPARAM>(altCode & 0xFFFF), charData);
      }
      if (!down) return;
      // Characters SDL does not report as text.
      char16_t ch = 0;
      if (vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE) ch = static_cast<char16_t>(vk);
      if ((e.mod & KMOD_CTRL) && !alt && vk >= 'A' && vk <= 'Z') ch = static_cast<char16_t>(vk - 'A' + 1);
      if (ch) PostChars(e.window, std::u16string(1, ch), data, sys);
      return;
    }
    case InputKind::TextInput: {
      LPARAM data;
      bool sys;
      {
        std::lock_guard<std::mutex> lock(st.m);
        if (st.suppressText) return;
        // Text without a key-down (an input method) takes the Alt state of
        // the event.
        const bool alt = (e.mod & KMOD_ALT) && !(e.mod & KMOD_CTRL);
        data = st.haveKeyData ? st.lastKeyData : (alt ? 1 | (LPARAM{1} << 29) : 1);
        sys = st.haveKeyData ? st.lastKeySys : alt;
      }
      PostChars(e.window, utf::Utf16Of(e.text), data, sys);
      return;
    }
  }
}

}  // namespace platform::window
