// The window area of the platform layer: window classes, handles and window
// procedures, per-thread message queues (post, send, get, peek, dispatch,
// WM_QUIT), cross-thread sends that run on the receiving thread, registered
// message numbers, queue timers, message-only windows and virtual child
// windows. The core needs no display; a backend chosen at start-up attaches
// top-level windows, monitors and screen-saver inhibition (SDL2, or the
// headless backend for tests). Parts include this header only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/threads.h"

namespace platform::window {

using HWND = uintptr_t;
using HMONITOR = uintptr_t;
using HDC = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using ATOM = uint16_t;
using WNDPROC = LRESULT (*)(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
using TIMERPROC = void (*)(HWND hwnd, uint32_t message, uintptr_t id, uint32_t time);

// ---- message numbers ----
inline constexpr uint32_t WM_NULL = 0x0000, WM_CREATE = 0x0001, WM_DESTROY = 0x0002, WM_MOVE = 0x0003,
                          WM_SIZE = 0x0005, WM_ACTIVATE = 0x0006, WM_SETTEXT = 0x000C, WM_GETTEXT = 0x000D,
                          WM_GETTEXTLENGTH = 0x000E, WM_PAINT = 0x000F, WM_CLOSE = 0x0010, WM_QUIT = 0x0012,
                          WM_ERASEBKGND = 0x0014, WM_SHOWWINDOW = 0x0018, WM_CANCELMODE = 0x001F,
                          WM_SETCURSOR = 0x0020, WM_MOUSEACTIVATE = 0x0021, WM_SETFONT = 0x0030,
                          WM_GETFONT = 0x0031, WM_WINDOWPOSCHANGED = 0x0047, WM_STYLECHANGING = 0x007C,
                          WM_STYLECHANGED = 0x007D, WM_NCCREATE = 0x0081, WM_NCDESTROY = 0x0082,
                          WM_NCHITTEST = 0x0084, WM_NCACTIVATE = 0x0086, WM_KEYDOWN = 0x0100, WM_KEYUP = 0x0101,
                          WM_CHAR = 0x0102, WM_SYSKEYDOWN = 0x0104, WM_SYSKEYUP = 0x0105, WM_SYSCHAR = 0x0106,
                          WM_COMMAND = 0x0111, WM_SYSCOMMAND = 0x0112, WM_TIMER = 0x0113,
                          WM_MOUSEMOVE = 0x0200, WM_LBUTTONDOWN = 0x0201, WM_LBUTTONUP = 0x0202,
                          WM_RBUTTONDOWN = 0x0204, WM_MOUSEWHEEL = 0x020A, WM_CAPTURECHANGED = 0x0215,
                          WM_WTSSESSION_CHANGE = 0x02B1, WM_CLIPBOARDUPDATE = 0x031D, WM_USER = 0x0400;

// Window styles.
inline constexpr uint32_t WS_POPUP = 0x80000000u, WS_CHILD = 0x40000000u, WS_MINIMIZE = 0x20000000u,
                          WS_VISIBLE = 0x10000000u, WS_DISABLED = 0x08000000u, WS_CLIPSIBLINGS = 0x04000000u,
                          WS_CLIPCHILDREN = 0x02000000u, WS_MAXIMIZE = 0x01000000u, WS_CAPTION = 0x00C00000u,
                          WS_BORDER = 0x00800000u, WS_THICKFRAME = 0x00040000u, WS_OVERLAPPEDWINDOW = 0x00CF0000u;
inline constexpr uint32_t WS_EX_TOPMOST = 0x8u, WS_EX_TOOLWINDOW = 0x80u, WS_EX_LAYERED = 0x80000u;
// Class styles.
inline constexpr uint32_t CS_VREDRAW = 1, CS_HREDRAW = 2, CS_DBLCLKS = 8, CS_OWNDC = 0x20;

// Indices of get/setWindowLongPtr.
inline constexpr int GWLP_WNDPROC = -4, GWLP_HWNDPARENT = -8, GWL_STYLE = -16, GWL_EXSTYLE = -20,
                     GWLP_USERDATA = -21;

// Show commands.
inline constexpr int SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3, SW_MAXIMIZE = 3,
                     SW_SHOWNOACTIVATE = 4, SW_SHOW = 5, SW_MINIMIZE = 6, SW_SHOWMINNOACTIVE = 7, SW_SHOWNA = 8,
                     SW_RESTORE = 9, SW_SHOWDEFAULT = 10;

// setWindowPos.
inline constexpr uint32_t SWP_NOSIZE = 0x1, SWP_NOMOVE = 0x2, SWP_NOZORDER = 0x4, SWP_NOREDRAW = 0x8,
                          SWP_NOACTIVATE = 0x10, SWP_FRAMECHANGED = 0x20, SWP_SHOWWINDOW = 0x40,
                          SWP_HIDEWINDOW = 0x80;
inline constexpr HWND HWND_TOPMOST = static_cast<HWND>(-1), HWND_NOTOPMOST = static_cast<HWND>(-2);
// The window filter of getMessage/peekMessage that takes only thread messages.
inline constexpr HWND HWND_THREAD_ONLY = static_cast<HWND>(-1);

inline constexpr uint32_t PM_NOREMOVE = 0, PM_REMOVE = 1;
inline constexpr int WA_INACTIVE = 0, WA_ACTIVE = 1;
inline constexpr LRESULT HTNOWHERE = 0, HTCLIENT = 1, MA_ACTIVATE = 1;

// Last-error codes of this area (Windows numbering, platform::os::getLastError).
inline constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400, ERROR_CLASS_ALREADY_EXISTS = 1410,
                          ERROR_CLASS_DOES_NOT_EXIST = 1411, ERROR_CLASS_HAS_WINDOWS = 1412,
                          ERROR_ACCESS_DENIED_WINDOW = 5, ERROR_INVALID_THREAD_ID = 1444,
                          ERROR_NOT_ENOUGH_QUOTA = 1816, ERROR_TIMEOUT = 1460;

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
struct Point {
  int32_t x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// A queued message.
struct Msg {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  uint32_t time = 0;
  Point pt;
};

// A window class (the platform keeps its own copy).
struct WndClass {
  uint32_t style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int32_t cbClsExtra = 0, cbWndExtra = 0;
  uintptr_t hInstance = 0, hIcon = 0, hCursor = 0, hbrBackground = 0;
  std::u16string menuName;
  std::u16string className;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CreateStruct {
  void* lpCreateParams = nullptr;
  uintptr_t hInstance = 0;
  uintptr_t hMenu = 0;
  HWND hwndParent = 0;
  int32_t cy = 0, cx = 0, y = 0, x = 0;
  uint32_t style = 0;
  const char16_t* lpszName = u"";
  const char16_t* lpszClass = u"";
  uint32_t dwExStyle = 0;
};

// lParam of WM_STYLECHANGING (modifiable) and WM_STYLECHANGED.
struct StyleStruct {
  uint32_t styleOld = 0, styleNew = 0;
};

// lParam of WM_WINDOWPOSCHANGED.
struct WindowPos {
  HWND hwnd = 0, hwndInsertAfter = 0;
  int32_t x = 0, y = 0, cx = 0, cy = 0;
  uint32_t flags = 0;
};

inline constexpr uint32_t WPF_RESTORETOMAXIMIZED = 2;
struct WindowPlacement {
  uint32_t length = sizeof(WindowPlacement);
  uint32_t flags = 0;
  uint32_t showCmd = 0;
  Point ptMinPosition, ptMaxPosition;
  Rect rcNormalPosition;
};

// ---- classes ----
// An atom, or 0 with the last error set (a duplicate name: 1410). Class
// names are compared without regard to ASCII case.
ATOM registerClass(const WndClass& cls);
// Fails (1412) while windows of the class exist, 1411 for an unknown class.
bool unregisterClass(std::u16string_view className, uintptr_t hInstance);
bool getClassInfo(uintptr_t hInstance, std::u16string_view className, WndClass& out);

// ---- windows ----
// Sends WM_NCCREATE then WM_CREATE to the class procedure before it returns;
// either refusing (WM_NCCREATE 0, WM_CREATE -1) destroys the window and
// answers 0. A WS_CHILD window is a virtual child of the parent, any other
// window with a parent is owned by it. Windows belong to the calling thread.
HWND createWindowEx(uint32_t exStyle, std::u16string_view className, std::u16string_view windowName,
                    uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height, HWND parent,
                    uintptr_t menu, uintptr_t hInstance, void* param);
// On the owner thread only: WM_DESTROY, the children destroyed depth first,
// WM_NCDESTROY. Posted messages, timers and waiting sends of the window are
// dropped (the senders are answered 0 and told the send failed).
bool destroyWindow(HWND hwnd);
bool isWindow(HWND hwnd);
HWND getParent(HWND hwnd);
HWND setParent(HWND child, HWND parent);
intptr_t getWindowLongPtr(HWND hwnd, int index);
intptr_t setWindowLongPtr(HWND hwnd, int index, intptr_t value);
LRESULT callWindowProc(WNDPROC proc, HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
LRESULT defWindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
bool setWindowText(HWND hwnd, std::u16string_view text);
std::u16string getWindowText(HWND hwnd);
int32_t getWindowTextLength(HWND hwnd);
// The thread that owns the window (0 for none).
platform::os::ThreadId getWindowThreadProcessId(HWND hwnd, uint32_t* processId);

// ---- queues ----
// Appends to the queue of the window's thread (hwnd 0: the calling thread's
// queue) and wakes it; false when the window is gone or the queue closed.
bool postMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
bool postThreadMessage(platform::os::ThreadId thread, uint32_t message, WPARAM wParam, LPARAM lParam);
// The next get answers WM_QUIT with this code once the posted messages are taken.
void postQuitMessage(int32_t exitCode);
// Same thread: a direct call of the window's current procedure. Another
// thread: queued to that thread, run there while this thread waits (and
// keeps answering sends made to it); 0 with last error 1400 when the window
// or its thread goes away before it ran.
LRESULT sendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
// Like sendMessage, but returns without waiting when the window belongs to
// another thread.
bool sendNotifyMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);
// Whether the last sendMessage of this thread reached its window.
bool lastSendDelivered();
// Blocks. Answers 0 for WM_QUIT, 1 for any other message, -1 on an error
// (an invalid window filter).
int32_t getMessage(Msg& msg, HWND hwnd, uint32_t filterMin, uint32_t filterMax);
bool peekMessage(Msg& msg, HWND hwnd, uint32_t filterMin, uint32_t filterMax, uint32_t removeFlags);
bool translateMessage(const Msg& msg);
LRESULT dispatchMessage(const Msg& msg);
// A stable number from 0xC000 up per name (compared without ASCII case).
uint32_t registerWindowMessage(std::u16string_view name);
// Messages queued for the calling thread (posted ones; tests and benchmarks).
int32_t queuedMessageCount();
// Sends from other threads waiting in the calling thread's queue.
int32_t queuedSendCount();

// Queue timers: due against the os clock; each due timer yields one WM_TIMER
// (lParam = the procedure, when given) after the posted messages.
uintptr_t setTimer(HWND hwnd, uintptr_t id, uint32_t elapseMs, TIMERPROC proc);
bool killTimer(HWND hwnd, uintptr_t id);

// ---- geometry and state ----
bool getClientRect(HWND hwnd, Rect& rect);
bool getWindowRect(HWND hwnd, Rect& rect);
bool clientToScreen(HWND hwnd, Point& pt);
bool screenToClient(HWND hwnd, Point& pt);
bool setWindowPos(HWND hwnd, HWND insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags);
// Answers whether the window was visible before.
bool showWindow(HWND hwnd, int cmd);
bool isWindowVisible(HWND hwnd);
bool isIconic(HWND hwnd);
bool isZoomed(HWND hwnd);
bool getWindowPlacement(HWND hwnd, WindowPlacement& placement);
// Stores the normal rectangle and the show command; a visible window takes
// the command at once, a hidden one keeps it for its next showing.
bool setWindowPlacement(HWND hwnd, const WindowPlacement& placement);
bool enableWindow(HWND hwnd, bool enable);
bool isWindowEnabled(HWND hwnd);
HWND getActiveWindow();
HWND setActiveWindow(HWND hwnd);
HWND getForegroundWindow();
// The topmost visible top-level window containing the screen point, then the
// topmost visible virtual child under it; 0 for none.
HWND windowFromPoint(Point pt);
bool getCursorPos(Point& pt);
HWND getCapture();
HWND setCapture(HWND hwnd);
bool releaseCapture();
// High bit when the key is down, low bit the toggle (from the key table the
// backend keeps).
int16_t getKeyState(int virtualKey);
// The update area is kept as one rectangle (client coordinates): every
// invalidation is united into it, null meaning the whole client area.
bool invalidateRect(HWND hwnd, const Rect* rect, bool erase);
bool updateWindow(HWND hwnd);
bool validateRect(HWND hwnd, const Rect* rect);
// The update rectangle (empty when there is none).
bool getUpdateRect(HWND hwnd, Rect& rect);
// A paint pass: beginPaint hands out the update rectangle (rcPaint), takes
// it from the window and answers a DC over the window's back surface (0 when
// the window has none); endPaint gives the DC back.
struct PaintStruct {
  HDC hdc = 0;
  bool erase = false;
  Rect rcPaint;
};
HDC beginPaint(HWND hwnd, PaintStruct& ps);
bool endPaint(HWND hwnd, const PaintStruct& ps);

// ---- monitors, metrics, device capabilities ----
struct MonitorInfo {
  uint32_t cbSize = sizeof(MonitorInfo);
  Rect rcMonitor, rcWork;
  uint32_t dwFlags = 0;  // MONITORINFOF_PRIMARY
  std::u16string deviceName;
};
inline constexpr uint32_t MONITORINFOF_PRIMARY = 1;
// Sizes of the basic and extended records the callers ask with.
inline constexpr uint32_t MONITORINFO_SIZE = 40, MONITORINFOEX_SIZE = 72;
// Monitors in index order (the first is the primary), each with its
// rectangle clipped to clip (when given); the callback answers whether to
// go on. False when enumeration stopped early.
using MonitorEnumProc = std::function<bool(HMONITOR monitor, const Rect& rect)>;
bool enumDisplayMonitors(HDC hdc, const Rect* clip, const MonitorEnumProc& proc);
// Answers for a known monitor and a record size of at least 40 bytes; the
// device name ("\\.\DISPLAY1", ...) only for the extended size.
bool getMonitorInfo(HMONITOR monitor, MonitorInfo& info);

inline constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1, SM_CYCAPTION = 4, SM_CYMENU = 15, SM_CXFRAME = 32,
                     SM_CYFRAME = 33, SM_DBCSENABLED = 42, SM_CXMENUCHECK = 71, SM_MIDEASTENABLED = 74;
int32_t getSystemMetrics(int index);

inline constexpr uint32_t SPI_SETSCREENSAVEACTIVE = 17, SPI_GETWORKAREA = 48, SPI_SETSCREENSAVERRUNNING = 97;
// SPI_GETWORKAREA writes a Rect to param; the screen-saver settings take
// their value in uiParam.
bool systemParametersInfo(uint32_t action, uint32_t uiParam, void* param, uint32_t winIni);

inline constexpr uint32_t ES_DISPLAY_REQUIRED = 0x2, ES_CONTINUOUS = 0x80000000u;
// ES_CONTINUOUS | ES_DISPLAY_REQUIRED keeps the display on for the process
// (the inhibition ends with it); ES_CONTINUOUS alone gives it back. The
// previous state.
uint32_t setThreadExecutionState(uint32_t flags);
// Whether the screen saver is currently held off by this process, and the
// process's "saver running" flag (SPI_SETSCREENSAVERRUNNING).
bool screenSaverInhibited();
bool screenSaverRunningFlag();

inline constexpr int BITSPIXEL = 12, LOGPIXELSX = 88, LOGPIXELSY = 90, VREFRESH = 116;
// Screen device contexts: getDC(0) and createDisplayDC() measure the primary
// display (no pixels); 0 for anything else.
HDC getDC(HWND hwnd);
int releaseDC(HWND hwnd, HDC hdc);
HDC createDisplayDC();
bool deleteDC(HDC hdc);
int32_t getDeviceCaps(HDC hdc, int index);
HWND getDesktopWindow();

// ---- optional entry points (bound at run time by the Parts) ----
inline constexpr int32_t E_NOTIMPL = static_cast<int32_t>(0x80004001u);
struct OptionalEntries {
  // "DWMAPI.DLL"
  int32_t (*dwmIsCompositionEnabled)(int32_t* enabled) = nullptr;
  int32_t (*dwmSetWindowAttribute)(HWND hwnd, uint32_t attribute, const void* value, uint32_t size) = nullptr;
  // "user32.dll"
  bool (*addClipboardFormatListener)(HWND hwnd) = nullptr;
  bool (*removeClipboardFormatListener)(HWND hwnd) = nullptr;
  // "WtsApi32"
  bool (*wtsRegisterSessionNotification)(HWND hwnd, uint32_t flags) = nullptr;
  bool (*wtsUnRegisterSessionNotification)(HWND hwnd) = nullptr;
  // "USER32.DLL" monitor functions (present by default).
  bool (*enumDisplayMonitors)(HDC hdc, const Rect* clip, const MonitorEnumProc& proc) = nullptr;
  bool (*getMonitorInfo)(HMONITOR monitor, MonitorInfo& info) = nullptr;
};
// The library names the table answers for are matched without ASCII case
// and with or without ".dll". A library counts as present when one of its
// entries is.
bool optionalLibraryPresent(std::string_view library);
void* optionalEntry(std::string_view library, std::string_view entry);
// Replaces the table (tests), answering the previous one; the default table
// has composition on, no window attributes, clipboard listeners present, no
// session notifications.
OptionalEntries setOptionalEntries(const OptionalEntries& entries);
OptionalEntries defaultOptionalEntries();

// ---- backends ----
// One display of the backend.
struct MonitorDesc {
  Rect bounds, work;
  int32_t refreshHz = 60;
  int32_t bitsPerPixel = 32;
  float dpiX = 96, dpiY = 96;
};

// What a backend adds to the core: top-level windows made real, the events
// of the display turned into messages on the main thread, monitors, cursor,
// screen-saver inhibition. Every method but wake is called on the main thread
// or under no lock of the core.
class WindowBackend {
 public:
  virtual ~WindowBackend() = default;
  virtual const char* name() const = 0;
  // A top-level window was created, changed (geometry, visibility, style,
  // title, state) or destroyed; the backend reads the record through the
  // query functions of this header.
  virtual void windowCreated(HWND hwnd) = 0;
  virtual void windowChanged(HWND hwnd) = 0;
  virtual void windowDestroyed(HWND hwnd) = 0;
  // Turns pending display events into messages (main thread only, from
  // getMessage/peekMessage).
  virtual void pumpEvents() = 0;
  // The longest the main thread may wait before pumping again (INFINITE when
  // the backend delivers everything through postMessage).
  virtual uint32_t pumpIntervalMs() const = 0;
  virtual std::vector<MonitorDesc> monitors() = 0;
  virtual Point cursorPos() = 0;
  // Holds the screen saver off for this process, or gives it back.
  virtual void inhibitScreenSaver(bool inhibit) = 0;
  // Whether the display's screen saver is held off right now (as the
  // display system reports it).
  virtual bool screenSaverHeldOff() = 0;
  // The backend's own window object for a top-level window (SDL_Window* on
  // SDL), nullptr when it has none.
  virtual void* nativeWindow(HWND hwnd) = 0;
  // Ends the backend: windows released, the screen saver given back.
  virtual void shutdown() = 0;
  // The cursor to show: an IDC_ number, 0 to hide it.
  virtual void showCursor(uint32_t idc) {}
  // The desktop's clipboard text (UTF-8); false when the backend has no
  // clipboard of its own (the layer keeps the text in the process).
  virtual bool setClipboardText(const std::string& utf8) { return false; }
  virtual bool clipboardText(std::string& utf8) { return false; }
  // Best-effort display of layered content: the whole window's opacity.
  virtual void setWindowOpacity(HWND hwnd, float opacity) {}
  // Shows a top-level window's software back surface (32-bit BGRA rows,
  // top-down, pitch width * 4) after the rectangle changed was drawn into
  // it. False when it cannot be shown now (not the display's thread, a
  // minimised window, one not made yet): the layer keeps the rectangle for
  // the next release, or for backendShowBackSurface. The headless backend
  // answers true and shows nothing.
  virtual bool presentBackSurface(HWND hwnd, const uint8_t* bits, int32_t width, int32_t height, const Rect& changed) {
    return true;
  }
  // What the display shows in a top-level window right now (32-bit BGRA,
  // top-down, the drawable's size), read back for tests; false when the
  // backend cannot tell.
  virtual bool presentedPixels(HWND hwnd, int32_t& width, int32_t& height, std::vector<uint8_t>& bgra) {
    return false;
  }
};

// Installs a backend (nullptr: the headless backend) and answers the
// previous one. The start-up sequence calls this once before the first
// window; a test may swap backends between tests.
WindowBackend* setWindowBackend(WindowBackend* backend);
WindowBackend& windowBackend();
// The headless backend (one per process): windows are records, monitors
// and the cursor are injected (platform/window/headless/Window_headless.h).
WindowBackend* headlessWindowBackend();
// The SDL2 backend (one per process), or nullptr with a message on stderr
// when SDL's video cannot start (its driver follows SDL_VIDEODRIVER). Call it
// on the main thread: SDL, and so every top-level window, belongs to it.
// shutdown() releases the windows, gives the screen saver back and stops
// SDL's video; the screen saver is also given back at exit.
WindowBackend* sdlWindowBackend();

// The SDL_Window* of a top-level window as void* (nullptr when the window
// has none, for example under the headless backend or before it was shown):
// the GPU area binds its GL context to it.
void* nativeWindowOf(HWND hwnd);
// The top-level window a window lies in (itself for a top-level one).
HWND topLevelOf(HWND hwnd);

// ---- input ----
// An input event shaped like SDL's: key codes, scan codes and modifier bits
// carry SDL's values. The SDL backend makes them from SDL's events, tests
// inject them through the headless backend; deliverInput (main thread)
// turns them into the window messages.
enum class InputKind { MouseMotion, MouseButtonDown, MouseButtonUp, MouseWheel, KeyDown, KeyUp, TextInput };
struct InputEvent {
  InputKind kind = InputKind::MouseMotion;
  HWND window = 0;        // the top-level window the event belongs to
  int32_t x = 0, y = 0;   // mouse position in that window's client area
  uint8_t button = 0;     // 1 left, 2 middle, 3 right, 4 and 5 the extra buttons
  uint8_t clicks = 1;     // 2 for the second press of a double click
  float wheelY = 0;       // notches, fractions allowed
  int32_t keycode = 0;    // SDL key code
  int32_t scancode = 0;   // SDL scan code
  uint16_t mod = 0;       // SDL modifier bits (shift 0x3, ctrl 0xC0, alt 0x300, num lock 0x1000, caps 0x2000)
  bool repeat = false;
  std::string text;       // UTF-8 of a text event
};
void deliverInput(const InputEvent& event);
// The virtual-key code of an SDL key (keypad keys follow num lock); 0 when
// the key has none.
int virtualKeyOf(int32_t keycode, uint16_t mod);

inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203, WM_RBUTTONUP = 0x0205, WM_RBUTTONDBLCLK = 0x0206,
                          WM_MBUTTONDOWN = 0x0207, WM_MBUTTONUP = 0x0208, WM_MBUTTONDBLCLK = 0x0209,
                          WM_XBUTTONDOWN = 0x020B, WM_XBUTTONUP = 0x020C, WM_XBUTTONDBLCLK = 0x020D;
inline constexpr uint16_t MK_LBUTTON = 1, MK_RBUTTON = 2, MK_SHIFT = 4, MK_CONTROL = 8, MK_MBUTTON = 0x10,
                          MK_XBUTTON1 = 0x20, MK_XBUTTON2 = 0x40;

// Backends report what the window manager did: minimise, maximise and
// restore update the record, then WM_WINDOWPOSCHANGED is sent; an
// interactive resize first asks the window with WM_SIZING (lParam: the
// proposed rectangle, which the window may change) and answers the rectangle
// to apply.
void backendWindowStateChanged(HWND hwnd, bool minimized, bool maximized);
Rect backendWindowSizing(HWND hwnd, const Rect& proposedClientOnScreen);
inline constexpr uint32_t WM_SIZING = 0x0214, WMSZ_BOTTOMRIGHT = 8;

// ---- cursors ----
using HCURSOR = uintptr_t;
inline constexpr uint32_t IDC_ARROW = 32512, IDC_IBEAM = 32513, IDC_WAIT = 32514, IDC_CROSS = 32515,
                          IDC_SIZENWSE = 32642, IDC_SIZENESW = 32643, IDC_SIZEWE = 32644, IDC_SIZENS = 32645,
                          IDC_SIZEALL = 32646, IDC_HAND = 32649;
// A shared system cursor (never destroyed) for an IDC_ number; 0 for any
// other number.
HCURSOR loadSystemCursor(uint32_t idc);
// Shows the cursor (0 hides it); answers the previous one.
HCURSOR setCursor(HCURSOR cursor);
HCURSOR getCursor();
// The IDC_ number of a shared cursor (0 for none).
uint32_t cursorId(HCURSOR cursor);

// ---- layered windows ----
inline constexpr uint32_t WS_EX_TRANSPARENT = 0x20u;
// Per-pixel content of a WS_EX_LAYERED window: premultiplied 32-bit BGRA
// rows, top-down. The content is kept (tests read it); showing it is best
// effort (whole-window opacity). False without WS_EX_LAYERED.
bool updateLayeredWindow(HWND hwnd, Point dst, int32_t width, int32_t height, const uint8_t* bits, int32_t pitch);
struct LayeredContent {
  Point dst;
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bits;  // width x height x 4, top-down
};
bool layeredContent(HWND hwnd, LayeredContent& out);

// ---- surface device contexts ----
// A DC over pixels: a DIB section's memory DC (caller's memory, 24 or 32
// bits, rows bottom-up or top-down) or a window's software back surface
// (32 bits, top-down, the client size; getDC(hwnd)). Surface DCs are
// numbered from kSurfaceDCBase.
inline constexpr HDC kSurfaceDCBase = 0x7D000000;
inline constexpr uint32_t SRCCOPY = 0x00CC0020;
HDC createSurfaceDC(uint8_t* bits, int32_t width, int32_t height, int32_t bitsPerPixel, int32_t pitch,
                    bool bottomUp);
// Copies a rectangle between surface DCs (24 and 32 bits, clipped to both);
// SRCCOPY only.
bool bitBlt(HDC dst, int32_t x, int32_t y, int32_t width, int32_t height, HDC src, int32_t srcX, int32_t srcY,
            uint32_t rop);
// A copy of a window's back surface (32-bit BGRA, top-down); false when the
// window has none yet. Blits into a window's DC mark what they change; giving
// the DC back (releaseDC, endPaint) has the backend show the changed
// rectangle, so a paint pass that draws nothing leaves the window as another
// presenter (the graphics device) left it.
bool windowSurface(HWND hwnd, int32_t& width, int32_t& height, std::vector<uint8_t>& bits);
// The rectangle drawn into a window's back surface and not yet shown (empty
// when none).
Rect pendingSurfaceChange(HWND hwnd);

// ---- clipboard ----
using HGLOBAL = uintptr_t;
inline constexpr uint32_t CF_DIB = 8, CF_UNICODETEXT = 13;
inline constexpr uint32_t GMEM_MOVEABLE = 0x2, GMEM_DDESHARE = 0x2000;
// Plain heap blocks that remember their size.
HGLOBAL globalAlloc(uint32_t flags, size_t bytes);
void* globalLock(HGLOBAL mem);
bool globalUnlock(HGLOBAL mem);
HGLOBAL globalFree(HGLOBAL mem);
size_t globalSize(HGLOBAL mem);
// One open at a time, process-wide: a second open fails until the first
// closes (5).
bool openClipboard(HWND owner);
bool closeClipboard();
bool emptyClipboard();
// Takes ownership of the block. Text goes to the backend's clipboard (the
// desktop's on SDL), other formats stay in the process.
HGLOBAL setClipboardData(uint32_t format, HGLOBAL mem);
// The block stays the clipboard's (valid until the clipboard changes).
HGLOBAL getClipboardData(uint32_t format);
bool isClipboardFormatAvailable(uint32_t format);
uint32_t getClipboardSequenceNumber();
bool addClipboardFormatListener(HWND hwnd);
bool removeClipboardFormatListener(HWND hwnd);
// A backend reports that the clipboard changed outside the process: the
// sequence number moves and the listeners get WM_CLIPBOARDUPDATE.
void backendClipboardChanged();

// Read access to a window record for backends and tests.
struct WindowState {
  HWND hwnd = 0;
  HWND parent = 0;  // parent of a child, owner of a top-level window
  uint32_t style = 0, exStyle = 0;
  Rect rect;        // client rectangle: screen for top-level, parent client for a child
  bool visible = false, minimized = false, maximized = false, enabled = true, topmost = false;
  std::u16string text;
  std::u16string className;
  platform::os::ThreadId thread = 0;
};
bool windowState(HWND hwnd, WindowState& state);
// Top-level windows in creation order.
std::vector<HWND> topLevelWindows();
// A backend reports what the display did to a window: new client geometry
// (sends WM_WINDOWPOSCHANGED), close requests (WM_CLOSE), focus.
void backendWindowMoved(HWND hwnd, const Rect& clientOnScreen);
// A backend that has just made a window's display shows what was drawn into
// its back surface before and not shown yet (presentBackSurface with the
// whole surface).
void backendShowBackSurface(HWND hwnd);
void backendWindowClosing(HWND hwnd);
void backendSetKeyState(int virtualKey, bool down, bool toggled);

}  // namespace platform::window

// Native menus and system event hooks.
#include "platform/window/menus.h"
#include "platform/window/winevents.h"
