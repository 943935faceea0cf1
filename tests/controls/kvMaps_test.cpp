#include "controls/kvMaps.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/DisposalProbe.h"

namespace {

using controls::TObjMap;
using foundation::TByteString;
using foundation::TRef;
using Probe = testsupport::TDisposalProbe<int>;

TByteString B(const std::string& s) { return TByteString::FromBytes(s); }

TRef<foundation::TRefObject> P(int* disposed, int value) {
  return TRef<foundation::TRefObject>::Adopt(new Probe(disposed, value));
}

int ValueOf(foundation::TRefObject* o) { return o ? static_cast<Probe*>(o)->Value : -1; }

TEST(ObjMap, The33rdNameGrowsTheArrayAndEveryNameIsStillFound) {
  int disposed = 0;
  TObjMap map;
  EXPECT_EQ(map.Length(), 33);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(map.Add(B("name" + std::to_string(i)), P(&disposed, i)), i + 1);
  EXPECT_EQ(map.Length(), 33);
  map.Add(B("name32"), P(&disposed, 32));
  EXPECT_EQ(map.Length(), 65);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(ValueOf(map.Find(B("name" + std::to_string(i)), false)), i) << i;
  // Another 32 names: the next growth doubles again (2 * 65 - 1).
  for (int i = 33; i < 65; ++i) map.Add(B("name" + std::to_string(i)), P(&disposed, i));
  EXPECT_EQ(map.Length(), 129);
  for (int i = 0; i < 65; ++i) EXPECT_EQ(ValueOf(map.Find(B("NAME" + std::to_string(i)), true)), i) << i;
  EXPECT_EQ(map.Find(B("name65"), false), nullptr);
  map.Clear();
  EXPECT_EQ(disposed, 65);
  EXPECT_EQ(map.Find(B("name1"), false), nullptr);
}

TEST(ObjMap, NamesDifferingInCaseAreDistinctAndTheNewestWins) {
  int disposed = 0;
  TObjMap map;
  map.Add(B("Button"), P(&disposed, 1));
  map.Add(B("button"), P(&disposed, 2));
  EXPECT_EQ(ValueOf(map.Find(B("Button"), false)), 1);
  EXPECT_EQ(ValueOf(map.Find(B("button"), false)), 2);
  EXPECT_EQ(ValueOf(map.Find(B("BUTTON"), true)), 2);
  EXPECT_EQ(map.Find(B("BUTTON"), false), nullptr);
  // A name added again is found before its older entry.
  map.Add(B("Button"), P(&disposed, 3));
  EXPECT_EQ(ValueOf(map.Find(B("Button"), false)), 3);
  EXPECT_EQ(map.Count(), 3);
  EXPECT_EQ(disposed, 0);
}

TEST(ObjMap, EmptyAndUnicodeNames) {
  int disposed = 0;
  TObjMap map;
  EXPECT_EQ(map.Find(B(""), true), nullptr);
  map.Add(B("\xC3\x84pfel"), P(&disposed, 7));  // "Äpfel"
  EXPECT_EQ(ValueOf(map.Find(B("\xC3\xA4PFEL"), true)), 7);
  EXPECT_EQ(map.Find(B("\xC3\xA4pfel"), false), nullptr);
}

}  // namespace
