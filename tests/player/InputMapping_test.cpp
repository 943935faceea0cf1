#include "player/InputMapping.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/player/PlayerTestIni.h"
#include "windowing/kvEvents.h"
#include "windowing/kvInputTranslate.h"

using foundation::MakeRef;
using foundation::TRef;
using player::TInputMappingClass;
using player::TPlayerAction;
using playertest::IniOf;
using windowing::kkDown;
using windowing::kkUp;

namespace {

TRef<TInputMappingClass> Mapping(const std::string& text) {
  auto ini = IniOf(text);
  return MakeRef<TInputMappingClass>(ini.Get());
}

struct KeyCase {
  uint32_t shift;
  int32_t key;
  int32_t kind;
  int32_t code;  // 0: no binding
  int32_t argument;
};

void ExpectKeys(TInputMappingClass* m, const std::vector<KeyCase>& cases) {
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "shift " << c.shift << " key " << c.key << " kind " << c.kind);
    player::TKeyMap* k = m->FindKey(c.shift, c.key, c.kind);
    if (c.code == 0) {
      EXPECT_EQ(k, nullptr);
    } else {
      ASSERT_NE(k, nullptr);
      EXPECT_EQ(k->Action.Code, c.code);
      EXPECT_EQ(k->Action.Argument, c.argument);
    }
  }
}

constexpr uint32_t kWin = windowing::ssWin, kShift = windowing::ssShift, kAlt = windowing::ssAlt,
                   kCtrl = windowing::ssCtrl;

}  // namespace

TEST(InputMapping, DefaultKeyTable) {
  auto m = Mapping("[Main]\n[Times]\nopt_slidescount=7\n");
  ExpectKeys(m.Get(), {
                          {0, 27, kkDown, 1, 0},   {0, 32, kkDown, 5, 0},   {0, 19, kkDown, 5, 0},
                          {kCtrl, 80, kkDown, 5, 0}, {0, 80, kkDown, 0, 0}, {kCtrl | kShift, 80, kkDown, 0, 0},
                          {0, 179, kkDown, 5, 0},  {0, 178, kkDown, 13, 0}, {0, 37, kkDown, 2, 0},
                          {0, 33, kkDown, 2, 0},   {0, 38, kkDown, 2, 0},   {0, 166, kkDown, 2, 0},
                          {0, 177, kkDown, 2, 0},  {0, 39, kkDown, 3, 0},   {0, 34, kkDown, 3, 0},
                          {0, 40, kkDown, 3, 0},   {0, 167, kkDown, 3, 0},  {0, 176, kkDown, 3, 0},
                          {0, 36, kkDown, 7, 0},   {0, 35, kkDown, 7, 7},   {0, 112, kkDown, 4, 0},
                          {0, 65, kkDown, 0, 0},   {0, 13, kkDown, 0, 0},
                      });
}

TEST(InputMapping, ModifiersKindsAndCodesOutsideTheTable) {
  auto m = Mapping("");
  ExpectKeys(m.Get(), {
                          {kShift, 39, kkDown, 0, 0},        // Shift is outside the required value
                          {kWin, 39, kkDown, 3, 0},          // the Windows key is ignored
                          {kWin | kCtrl, 80, kkDown, 5, 0},  // still exactly Ctrl among Shift, Alt, Ctrl
                          {kAlt, 39, kkDown, 0, 0},
                          {kCtrl, 39, kkDown, 0, 0},
                          {0, 39, kkUp, 0, 0},  // releases are not bound
                          {0, 27, windowing::kkChar, 0, 0},
                          {0, 35, kkDown, 7, 0},  // End without a slide count: 0
                          {0, 256, kkDown, 0, 0},
                          {0, 100000, kkDown, 0, 0},
                          {0, -1, kkDown, 0, 0},
                          {0, -256 + 27, kkDown, 0, 0},
                          {0, INT32_MIN, kkDown, 0, 0},
                      });
}

TEST(InputMapping, ControlKeysOffAndF1Locked) {
  auto noControl = Mapping("[Main]\nopt_synchpermitcontrol=0\n[Times]\nopt_slidescount=3\n");
  EXPECT_FALSE(noControl->PermitControl);
  ExpectKeys(noControl.Get(), {{0, 27, kkDown, 1, 0},
                               {0, 112, kkDown, 4, 0},
                               {0, 32, kkDown, 0, 0},
                               {0, 39, kkDown, 0, 0},
                               {0, 37, kkDown, 0, 0},
                               {0, 36, kkDown, 0, 0},
                               {0, 35, kkDown, 0, 0},
                               {kCtrl, 80, kkDown, 0, 0},
                               {0, 178, kkDown, 0, 0}});
  auto locked = Mapping("[Main]\nopt_lockf1=1\n");
  ExpectKeys(locked.Get(), {{0, 112, kkDown, 0, 0}, {0, 27, kkDown, 1, 0}, {0, 39, kkDown, 3, 0}});
}

TEST(InputMapping, MouseLabels) {
  struct Case {
    std::u16string label;
    int32_t code, argument;
  };
  const Case cases[] = {{u"Exit", 1, 0},  {u"Next slide", 3, 0},  {u"Prev. slide", 2, 0}, {u"Help", 4, 0},
                        {u"Pause", 5, 0}, {u"Go to first", 7, 0}, {u"next slide", 0, 0},  {u"Next slide ", 0, 0},
                        {u"Prev slide", 0, 0}, {u"", 0, 0}};
  for (const Case& c : cases) {
    const TPlayerAction a = player::MouseLabelAction(c.label);
    EXPECT_EQ(a.Code, c.code) << std::string(c.label.begin(), c.label.end());
    EXPECT_EQ(a.Argument, c.argument);
  }
}

TEST(InputMapping, MouseButtonsActOnRelease) {
  auto m = Mapping("[main]\nopt_leftmouse=Next slide\nopt_rightmouse=Prev. slide\nopt_dblclick=Pause\n");
  EXPECT_FALSE(m->MoveDetector);
  struct Case {
    int32_t button, kind, code;
  };
  using namespace windowing;
  const Case cases[] = {{mbLeft, mkRelease, 3},    {mbLeft, mkPress, 0},       {mbLeft, mkMove, 0},
                        {mbRight, mkRelease, 2},   {mbRight, mkPress, 0},      {mbLeft, mkDoubleClick, 5},
                        {mbRight, mkDoubleClick, 0}, {mbMiddle, mkRelease, 0}, {mbNone, mkMove, 0}};
  for (const Case& c : cases) {
    TPlayerAction a;
    a.Code = 99;
    m->MouseAction(a, 0, 10, 10, c.button, c.kind);
    EXPECT_EQ(a.Code, c.code) << c.button << "/" << c.kind;
  }
  // Nothing chosen: no button acts.
  auto plain = Mapping("");
  TPlayerAction a;
  plain->MouseAction(a, 0, 0, 0, mbLeft, mkRelease);
  EXPECT_EQ(a.Code, 0);
  plain->MouseAction(a, 0, 0, 0, mbLeft, mkDoubleClick);
  EXPECT_EQ(a.Code, 0);
}

TEST(InputMapping, ScreenSaverEndsOnAnyKeyClickOrRealMove) {
  auto m = Mapping("[Main]\nopt_ssaver=1\nopt_leftmouse=Next slide\n");
  ASSERT_TRUE(m->ScreenSaver);
  ASSERT_TRUE(m->MoveDetector);
  for (int32_t key : {27, 65, 39, 300, -5})
    for (int32_t kind : {kkDown, kkUp}) {
      player::TKeyMap* k = m->FindKey(kAlt, key, kind);
      ASSERT_NE(k, nullptr) << key;
      EXPECT_EQ(k->Action.Code, 1);
    }
  using namespace windowing;
  TPlayerAction a;
  m->MouseAction(a, 0, 400, 300, mbNone, mkMove);  // the first point
  EXPECT_EQ(a.Code, 0);
  m->MouseAction(a, 0, 403, 302, mbNone, mkMove);  // 5: jitter
  EXPECT_EQ(a.Code, 0);
  m->MouseAction(a, 0, 2147483647, 2147483647, mbNone, mkMove);  // the pointer left: no position
  EXPECT_EQ(a.Code, 0);
  m->MouseAction(a, ssLeft, 400, 300, mbLeft, mkPress);  // a button held
  EXPECT_EQ(a.Code, 1);
  m->MouseAction(a, 0, 406, 300, mbNone, mkMove);  // 6
  EXPECT_EQ(a.Code, 1);
}

TEST(InputMapping, ExitOnMoveWithoutScreenSaver) {
  auto m = Mapping("[Main]\nopt_exitonmove=1\nopt_leftmouse=Help\n");
  EXPECT_FALSE(m->ScreenSaver);
  ASSERT_TRUE(m->MoveDetector);
  ExpectKeys(m.Get(), {{0, 65, kkDown, 0, 0}, {0, 39, kkDown, 3, 0}});
  using namespace windowing;
  TPlayerAction a;
  m->MouseAction(a, ssLeft, 10, 10, mbLeft, mkPress);
  EXPECT_EQ(a.Code, 0);
  m->MouseAction(a, 0, 12, 12, mbLeft, mkRelease);
  EXPECT_EQ(a.Code, 4);
  m->MouseAction(a, 0, 30, 12, mbNone, mkMove);
  EXPECT_EQ(a.Code, 1);
}

TEST(InputMapping, WheelSeeksOrStepsSlides) {
  auto m = Mapping("");
  EXPECT_TRUE(m->WheelEnabled);
  struct Case {
    uint32_t shift;
    int32_t delta;
    int64_t position;
    int32_t code, argument;
  };
  const Case cases[] = {
      {0, 1, 5000, 19, 4300},       // away from the user: 700 ms back per notch
      {0, -2, 5000, 19, 6400},      // toward the user: forward
      {0, 1, 600, 0, 0},            // before the start: nothing
      {0, 1, 700, 19, 0},           // exactly to the start
      {kCtrl, -1, 5000, 3, 0},      // next slide
      {kCtrl, 3, 5000, 2, 0},       // previous slide
      {kCtrl | kShift, 1, 5000, 19, 4300},  // not exactly Ctrl
      {kCtrl | kWin, 1, 5000, 19, 4300},
      {0, -4000000, 0, 19, 2147483647},  // far forward: capped, never wrapped
      {0, 0, 5000, 0, 0},
  };
  for (const Case& c : cases) {
    TPlayerAction a;
    m->WheelAction(a, c.shift, c.delta, c.position);
    EXPECT_EQ(a.Code, c.code) << c.shift << " " << c.delta << " " << c.position;
    EXPECT_EQ(a.Argument, c.argument) << c.shift << " " << c.delta << " " << c.position;
  }
  auto locked = Mapping("[Main]\nopt_lockwheel=1\n");
  TPlayerAction a;
  locked->WheelAction(a, kCtrl, -1, 5000);
  EXPECT_EQ(a.Code, 0);
  locked->WheelAction(a, 0, 1, 5000);
  EXPECT_EQ(a.Code, 0);
}
