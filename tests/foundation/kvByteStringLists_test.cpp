#include "foundation/kvByteStringLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"

using namespace foundation;

namespace {

TByteString B(std::string_view s) { return TByteString::FromBytes(s); }

std::vector<std::string> Items(const TCommaList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.GetCount(); ++i) out.emplace_back(list.GetByteString(i).View());
  return out;
}

std::vector<std::string> Lines(const TByteString& text) {
  std::vector<std::string> out;
  int start = 0, length = 0;
  if (!ByteStringFirstLine(text, start, length)) return out;
  do out.emplace_back(text.View().substr(static_cast<size_t>(start), static_cast<size_t>(length)));
  while (ByteStringNextLine(text, start, length));
  return out;
}

}  // namespace

TEST(CommaList, SplitsAndReadsItems) {
  TCommaList list;
  list.Split(B("10,20,30"), ',');
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetInt(1, 0), 20);
  EXPECT_EQ(list.GetInt(3, -1), -1);
  EXPECT_EQ(list.GetInt(-1, -1), -1);
  EXPECT_EQ(list.GetSeparator(1), 5);
  EXPECT_EQ(list.GetSeparator(2), -1);

  list.Split(B(""), ',');
  EXPECT_EQ(list.GetCount(), 0);
  int start = 9, length = 9;
  EXPECT_FALSE(list.GetItemRange(0, start, length));
  EXPECT_EQ(length, 0);

  list.Split(B("whole"), ',');
  EXPECT_EQ(Items(list), std::vector<std::string>{"whole"});

  list.Split(B("1,,3"), ',');
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_FALSE(list.GetItemRange(1, start, length));
  EXPECT_EQ(list.GetString(1), u"");
  EXPECT_EQ(list.GetInt(1, 7), 7);
  EXPECT_TRUE(list.GetByteString(1).IsEmpty());
  EXPECT_FALSE(list.GetItemRange(5, start, length));
  EXPECT_EQ(start, 4);
  EXPECT_FALSE(list.GetItemRange(-2, start, length));
  EXPECT_EQ(start, 0);

  list.Split(B(" 2.5;2.5 ;x;caf\xC3\xA9;"), ';');
  EXPECT_EQ(list.GetFloat(0, -1), 2.5);
  EXPECT_EQ(list.GetFloat(1, -1), -1);
  EXPECT_EQ(list.GetFloat(2, -1), -1);
  EXPECT_EQ(list.GetString(3), u"caf\u00E9");
  EXPECT_EQ(list.GetCount(), 5);  // the empty item after the last separator
}

TEST(CommaList, PackedAndArrayFormsReadTheSame) {
  // Five separators below 63 stay packed.
  TCommaList five;
  five.Split(B("a,b,c,d,e,f"), ',');
  EXPECT_LT(five.Separators, 0);
  EXPECT_EQ(CommaListPackedCount(static_cast<uint32_t>(five.Separators)), 5);
  EXPECT_EQ(Items(five), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));

  // A sixth moves them all into the array.
  TCommaList six;
  six.Split(B("a,b,c,d,e,f,g"), ',');
  EXPECT_EQ(six.Separators, 6);
  EXPECT_EQ(Items(six), (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));

  // So does one at position 63 or beyond.
  const std::string longItem(63, 'x');
  TCommaList far;
  far.Split(B("a," + longItem + ",b"), ',');
  EXPECT_EQ(far.Separators, 2);
  EXPECT_EQ(Items(far), (std::vector<std::string>{"a", longItem, "b"}));
  std::string at62(62, 'y');
  far.Split(B(at62 + ",z"), ',');
  EXPECT_LT(far.Separators, 0);
  EXPECT_EQ(far.GetSeparator(0), 62);

  // The array grows past its first 8 entries.
  std::string many;
  for (int i = 0; i < 40; ++i) many += std::to_string(i) + ",";
  TCommaList big;
  big.Split(B(many), ',');
  EXPECT_EQ(big.GetCount(), 41);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(big.GetInt(i, -1), i);
}

TEST(CommaList, SplitFromAndUnicode) {
  TCommaList list;
  list.SplitFrom(B("key=1,2"), 3, ',');
  EXPECT_EQ(Items(list), (std::vector<std::string>{"key", "1", "2"}));
  list.SplitFrom(B("1,2"), -1, ',');
  EXPECT_EQ(list.GetCount(), 2);
  list.SplitFrom(B("1,2"), 3, ',');
  EXPECT_EQ(list.GetCount(), 1);  // nothing recorded
  list.SplitUnicode(u"\u00E9,\U0001F600", ',');
  EXPECT_EQ(list.GetString(0), u"\u00E9");
  EXPECT_EQ(list.GetString(1), u"\U0001F600");
}

TEST(ByteStringList, GrowsAndReads) {
  TByteStringList list;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(list.Add(B(std::to_string(i))), i);
  EXPECT_EQ(list.GetCount(), 20);
  EXPECT_EQ(list.Items.size(), 32u);
  EXPECT_EQ(list.Get(19).View(), "19");
  EXPECT_TRUE(list.Get(20).IsEmpty());
  EXPECT_EQ(list.AddSlot(), 20);
  EXPECT_TRUE(list.Get(20).IsEmpty());
  list.SetCount(2);
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_TRUE(list.Items[5].IsEmpty());  // released, not kept
}

TEST(PListParser, KeysInDeclaredOrder) {
  TPListParser parser;
  parser.AddKey(u"name", 0);
  parser.AddKey(u"id", 1);
  parser.AddKey(u"type", 2);
  parser.AddKey(u"range", 3);
  TByteStringList values;
  values.Add(B("stale"));
  EXPECT_EQ(parser.Parse(values, B("name=a; id=3"), '=', ';'), 2);
  EXPECT_EQ(values.GetCount(), 4);
  EXPECT_EQ(values.Get(0).View(), "a");
  EXPECT_EQ(values.Get(1).View(), "3");
  EXPECT_TRUE(values.Get(2).IsEmpty());

  EXPECT_LT(parser.Parse(values, B("id=3; name=a"), '=', ';'), 0);
  EXPECT_TRUE(values.Get(0).IsEmpty());  // cleared before parsing
  EXPECT_EQ(parser.Parse(values, B("id=3; name=a"), '=', ';'), ~6);
  EXPECT_LT(parser.Parse(values, B("name=a;  "), '=', ';'), 0);
  EXPECT_EQ(parser.Parse(values, B("name=a;  "), '=', ';'), ~9);
  EXPECT_EQ(parser.Parse(values, B(" NAME = x y ;type=;TYPE=t;type=u ; range\t= 1,2 "), '=', ';'), 5);
  EXPECT_EQ(values.Get(0).View(), "x y");
  EXPECT_EQ(values.Get(2).View(), "u");  // the later value wins
  EXPECT_EQ(values.Get(3).View(), "1,2");
  EXPECT_EQ(parser.Parse(values, B("name"), '=', ';'), ~0);
  EXPECT_EQ(parser.Parse(values, B("other=1"), '=', ';'), ~0);
  EXPECT_EQ(parser.Parse(values, B(""), '=', ';'), 0);
}

TEST(PListParser, SlotArray) {
  TPListParser parser;
  parser.AddKey(u"a", 0);
  parser.AddKey(u"b", 3);  // skips slots 1 and 2
  parser.AddKey(u"c", 4);
  EXPECT_EQ(parser.SlotCount(), 5);
  TByteStringList values;
  EXPECT_EQ(parser.Parse(values, B("a=1;b=2;c=3"), '=', ';'), 3);
  EXPECT_EQ(values.GetCount(), 5);
  EXPECT_EQ(values.Get(0).View(), "1");
  EXPECT_EQ(values.Get(3).View(), "2");
  EXPECT_EQ(values.Get(4).View(), "3");
  EXPECT_THROW(parser.AddKey(u"d", 4), EAssertionFailed);

  TPListParser plain;
  plain.AddKey(u"a", 0);
  EXPECT_THROW(plain.AddKey(u"b", 0), EAssertionFailed);
  EXPECT_EQ(plain.SlotCount(), 1);
}

TEST(ByteStringLines, Stepping) {
  EXPECT_EQ(Lines(B("one\r\ntwo\r\nthree")), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(Lines(B("a\n\nb")), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Lines(B("a\n\rb\r\rc")), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(Lines(B("a\r\n")), (std::vector<std::string>{"a", ""}));
  EXPECT_TRUE(Lines(B("")).empty());
  int length = 5;
  EXPECT_FALSE(ByteStringFirstLine(B("abc"), 3, length));
  EXPECT_EQ(length, 0);
  int start = 0;
  length = 1;  // a line that ends inside text, not at a break
  EXPECT_THROW(ByteStringNextLine(B("abc"), start, length), EAssertionFailed);
}
