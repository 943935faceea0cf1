// Window input messages into the platform-neutral input events of forms:
// mouse messages into (shift state, X, Y, button, kind), wheel messages into
// whole steps of 120, key and character messages into key-down, key-up and
// character events, with characters typed as Alt plus a decimal code on the
// numeric keypad composed here. Main thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "windowing/kvWndAPI.h"

namespace windowing {

// Mouse buttons and kinds of mouse events.
enum : int32_t { mbNone = 0, mbLeft = 1, mbRight = 4, mbMiddle = 5 };
enum : int32_t { mkMove = 0, mkPress = 1, mkRelease = 2, mkDoubleClick = 3 };
// Key event kinds.
enum : int32_t { kkUp = 0, kkDown = 1, kkChar = 2 };

struct TKeyTranslateState {
  int32_t Code = 0;
  int32_t Mode = 0;  // 0 idle, 1 Alt alone, 2 code started with 0, 3 code started with another digit
  int32_t LastKind = 0;
  bool LastEaten = false;
};

using TMouseCallback = std::function<void(uint32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind)>;
using TWheelCallback = std::function<void(uint32_t shift, int32_t x, int32_t y, int32_t steps)>;
using TKeyCallback = std::function<void(uint32_t shift, uint16_t& key, int32_t kind)>;

bool TranslateMouseMessage(HWND wnd, const TWndMessage& msg, const TMouseCallback& callback);
bool TranslateWheelMessage(HWND wnd, const TWndMessage& msg, const TWheelCallback& callback);
bool TranslateKeyMessage(HWND wnd, const TWndMessage& msg, const TKeyCallback& callback, TKeyTranslateState& state,
                         bool wideChars);
uint32_t KeyboardCodePage();
char16_t AltCodeToChar(int32_t code, bool ansi);
// The registered "MSWHEEL_ROLLMSG" (0 before InitInputTranslate).
uint32_t WheelRollMessage();
// Unit start: registers "MSWHEEL_ROLLMSG". Tests reset the wheel
// accumulator with ResetWheelAccumulator.
void InitInputTranslate();
void ResetWheelAccumulator();

}  // namespace windowing
