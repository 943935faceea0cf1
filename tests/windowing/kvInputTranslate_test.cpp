// Translation of window input messages into form input events: mouse
// buttons and kinds, double clicks as press + double click, the wheel's
// shared accumulator, keys, eaten keys swallowing their character, and
// Alt+keypad codes (with the layer's own messages for the end-to-end case).
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "platform/os/codepages.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/kvEvents.h"
#include "windowing/kvInputTranslate.h"
#include "WindowingFixture.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

struct Ev {
  uint32_t shift;
  int32_t a, b, c, d;
  bool operator==(const Ev&) const = default;
};

TWndMessage M(uint32_t msg, uint64_t w, int64_t l) {
  TWndMessage m;
  m.Msg = msg;
  m.WParam = w;
  m.LParam = l;
  return m;
}

class Translate : public ::testing::Test {
 protected:
  void SetUp() override {
    windowing_test::StartWindowing();
    InitInputTranslate();
    ResetWheelAccumulator();
    platform::os::setAnsiCodePage(1252);
  }
  std::vector<Ev> events;
  TMouseCallback mouse = [this](uint32_t s, int32_t x, int32_t y, int32_t b, int32_t k) {
    events.push_back({s & 0x7E, x, y, b, k});
  };
  TKeyTranslateState ks;
  uint16_t eatKey = 0xFFFF;
  TKeyCallback key = [this](uint32_t s, uint16_t& k, int32_t kind) {
    events.push_back({s & 0x0E, k, kind, 0, 0});
    if (k == eatKey && kind == kkDown) k = 0;
  };
  bool Key(uint32_t msg, uint64_t w, int64_t l) { return TranslateKeyMessage(0, M(msg, w, l), key, ks, true); }
};

TEST_F(Translate, MouseMessagesGiveButtonKindAndSignedPosition) {
  const struct {
    uint32_t msg;
    int32_t button, kind;
  } table[] = {{0x200, 0, 0}, {0x201, 1, 1}, {0x202, 1, 2}, {0x204, 4, 1},
               {0x205, 4, 2}, {0x207, 5, 1}, {0x208, 5, 2}};
  const int64_t pos = (int64_t{0xFFFE} << 16) | 0x0005;  // x 5, y -2
  for (const auto& row : table) {
    events.clear();
    EXPECT_TRUE(TranslateMouseMessage(0, M(row.msg, pw::MK_LBUTTON | pw::MK_SHIFT, pos), mouse));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (Ev{ssShift | ssLeft, 5, -2, row.button, row.kind})) << row.msg;
  }
  events.clear();
  EXPECT_TRUE(TranslateMouseMessage(0, M(0x203, pw::MK_LBUTTON, 0x00070003), mouse));
  EXPECT_EQ(events, (std::vector<Ev>{{ssLeft, 3, 7, 1, 1}, {ssLeft, 3, 7, 1, 3}}));
  EXPECT_FALSE(TranslateMouseMessage(0, M(0x20A, 0, 0), mouse));
  EXPECT_FALSE(TranslateMouseMessage(0, M(0x100, 0, 0), mouse));
}

TEST_F(Translate, TheWheelAddsUpToWholeStepsOf120) {
  std::vector<int32_t> steps;
  TWheelCallback wheel = [&](uint32_t, int32_t, int32_t, int32_t s) { steps.push_back(s); };
  auto W = [](int16_t delta) { return static_cast<uint64_t>(static_cast<uint16_t>(delta)) << 16; };
  EXPECT_TRUE(TranslateWheelMessage(0, M(0x20A, W(60), 0), wheel));
  EXPECT_TRUE(steps.empty());
  TranslateWheelMessage(0, M(0x20A, W(60), 0), wheel);
  EXPECT_EQ(steps, (std::vector<int32_t>{1}));
  TranslateWheelMessage(0, M(0x20A, W(-240), 0), wheel);
  EXPECT_EQ(steps.back(), -2);
  // Remainders keep their sign.
  TranslateWheelMessage(0, M(0x20A, W(-130), 0), wheel);
  EXPECT_EQ(steps.back(), -1);
  steps.clear();
  TranslateWheelMessage(0, M(WheelRollMessage(), W(110), 0), wheel);
  EXPECT_TRUE(steps.empty()) << "-10 + 110 is 100";
  EXPECT_NE(WheelRollMessage(), 0u);
  EXPECT_FALSE(TranslateWheelMessage(0, M(0x200, 0, 0), wheel));
}

TEST_F(Translate, KeysAndAnEatenKeySwallowsItsCharacter) {
  EXPECT_TRUE(Key(0x100, 'A', 0x1E0001));
  EXPECT_TRUE(Key(0x102, 'a', 0x1E0001));
  EXPECT_TRUE(Key(0x101, 'A', static_cast<int64_t>(0xC01E0001)));
  EXPECT_EQ(events, (std::vector<Ev>{{0, 'A', kkDown, 0, 0}, {0, 'a', kkChar, 0, 0}, {0, 'A', kkUp, 0, 0}}));
  events.clear();
  eatKey = 'B';
  Key(0x100, 'B', 0x300001);
  Key(0x102, 'b', 0x300001);
  EXPECT_EQ(events.size(), 1u) << "the character of an eaten key-down is dropped";
  // A packed character (0x00FF with the character in the high word) passes.
  Key(0x100, 'B', 0x300001);
  Key(0x102, (uint64_t{0x263A} << 16) | 0xFF, 0x300001);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].a, 0x263A);
  EXPECT_FALSE(Key(0x200, 0, 0));
}

TEST_F(Translate, AltCodes) {
  const int64_t alt = int64_t{1} << 29;
  const int64_t altRelease = (int64_t{0x38} << 16) | (int64_t{1} << 31) | (int64_t{1} << 30) | 1;
  auto typeCode = [&](std::vector<uint16_t> keys) {
    events.clear();
    Key(0x104, 18, alt | 0x380001);
    for (uint16_t k : keys) {
      Key(0x104, k, alt | 1);
      Key(0x105, k, alt | static_cast<int64_t>(0xC0000001));
    }
    Key(0x101, 18, static_cast<int64_t>(0xC0380001));
    Key(0x102, 0, altRelease);
    std::vector<int32_t> chars;
    for (const Ev& e : events)
      if (e.b == kkChar) chars.push_back(e.a);
    return chars;
  };
  // Keypad with num lock on (VK_NUMPADn) and off (navigation keys).
  EXPECT_EQ(typeCode({96, 98, 99, 99}), (std::vector<int32_t>{0xE9}));   // 0233, ANSI 1252
  EXPECT_EQ(typeCode({35, 34, 45}), (std::vector<int32_t>{0xE9}));       // 130, OEM 437
  EXPECT_EQ(typeCode({97}), (std::vector<int32_t>{0x263A}));             // 1
  EXPECT_TRUE(typeCode({96}).empty());                                   // 0
  EXPECT_TRUE(typeCode({98, 101, 102}).empty());                         // 256
  EXPECT_TRUE(typeCode({98, 101, 102, 97, 97, 97, 97, 97, 97, 97}).empty()) << "no overflow";
  EXPECT_EQ(AltCodeToChar(32, true), u' ');
  EXPECT_EQ(AltCodeToChar(0, true), 0);
  // Ctrl+Alt+digit is no code: Ctrl is held in the key table.
  pw::backendSetKeyState(17, true, false);
  EXPECT_TRUE(typeCode({97, 98}).empty());
  pw::backendSetKeyState(17, false, false);
}

// The window layer's own messages for Alt, keypad 0 2 3 3, release reach the
// translator as one character.
TEST_F(Translate, LayerAltCodeEndToEnd) {
  pw::WndClass c;
  c.lpfnWndProc = &pw::defWindowProc;
  c.className = u"AltCodeWin";
  pw::registerClass(c);
  const HWND h = pw::createWindowEx(0, u"AltCodeWin", u"", pw::WS_VISIBLE, 0, 0, 50, 50, 0, 0, 0, nullptr);
  constexpr int32_t mask = 1 << 30;
  constexpr uint16_t lalt = 0x100, num = 0x1000;
  auto key = [&](pw::InputKind k, int32_t sc, uint16_t mod) {
    pw::InputEvent e;
    e.kind = k;
    e.window = h;
    e.keycode = mask | sc;
    e.scancode = sc;
    e.mod = mod;
    pw::headless().injectInput(e);
  };
  key(pw::InputKind::KeyDown, 226, lalt | num);
  for (int sc : {98, 90, 91, 91}) {
    key(pw::InputKind::KeyDown, sc, lalt | num);
    pw::InputEvent t;
    t.kind = pw::InputKind::TextInput;
    t.window = h;
    t.text = "1";
    t.mod = lalt | num;
    pw::headless().injectInput(t);
    key(pw::InputKind::KeyUp, sc, lalt | num);
  }
  key(pw::InputKind::KeyUp, 226, num);
  pw::Msg m;
  while (pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE))
    if (m.hwnd == h) Key(m.message, m.wParam, m.lParam);
  std::vector<int32_t> chars;
  for (const Ev& e : events)
    if (e.b == kkChar) chars.push_back(e.a);
  EXPECT_EQ(chars, (std::vector<int32_t>{0xE9}));
  pw::destroyWindow(h);
}

}  // namespace
