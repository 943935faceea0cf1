// Item-id lists by their bytes and the path-splitting rule of the shell
// lookup.
#include "controls/kvItemIdLists.h"

#include <gtest/gtest.h>

using controls::ItemIdListSize;

namespace {

TEST(ItemIdLists, Sizes) {
  const uint8_t empty[] = {0, 0};
  EXPECT_EQ(ItemIdListSize(empty, sizeof empty), 2u);
  EXPECT_EQ(ItemIdListSize(nullptr, 10), 0u);
  // Items of 5 and 3 bytes (counts include themselves), then the terminator.
  const uint8_t two[] = {5, 0, 'a', 'b', 'c', 3, 0, 'd', 0, 0};
  EXPECT_EQ(ItemIdListSize(two, sizeof two), 10u);
  // A count of 0x0104 read little-endian.
  std::vector<uint8_t> big(0x104 + 2, 0x55);
  big[0] = 0x04;
  big[1] = 0x01;
  big[0x104] = 0;
  big[0x105] = 0;
  EXPECT_EQ(ItemIdListSize(big.data(), big.size()), 0x106u);
  // Malformed: a count of 1, an item past the end, no terminator.
  const uint8_t one[] = {1, 0, 0, 0};
  EXPECT_EQ(ItemIdListSize(one, sizeof one), 0u);
  const uint8_t past[] = {9, 0, 'a', 0, 0};
  EXPECT_EQ(ItemIdListSize(past, sizeof past), 0u);
  EXPECT_EQ(ItemIdListSize(two, 8), 0u) << "the terminator cut off";
  EXPECT_EQ(ItemIdListSize(empty, 1), 0u);
}

TEST(ItemIdLists, Concatenation) {
  const uint8_t a[] = {4, 0, 'x', 'y', 0, 0};
  const uint8_t b[] = {3, 0, 'z', 0, 0};
  EXPECT_EQ(controls::ConcatItemIdLists(a, sizeof a, b, sizeof b),
            (std::vector<uint8_t>{4, 0, 'x', 'y', 3, 0, 'z', 0, 0}));
  EXPECT_EQ(controls::ConcatItemIdLists(nullptr, 0, b, sizeof b), (std::vector<uint8_t>{3, 0, 'z', 0, 0}));
  const uint8_t empty[] = {0, 0};
  EXPECT_EQ(controls::ConcatItemIdLists(empty, 2, empty, 2), (std::vector<uint8_t>{0, 0}));
  const uint8_t bad[] = {1, 0};
  EXPECT_TRUE(controls::ConcatItemIdLists(bad, 2, b, sizeof b).empty());
}

TEST(ItemIdLists, SplittingPaths) {
  struct Case {
    const char16_t *path, *first, *rest;
  };
  const Case cases[] = {
      {u"C:\\Shows\\talk.show", u"C:\\", u"Shows\\talk.show"},
      {u"C:\\\\Shows", u"C:\\\\", u"Shows"},
      {u"C:", u"C:", u""},
      {u"\\\\server\\share\\file", u"\\\\server", u"share\\file"},
      {u"\\lone", u"\\lone", u""},
      {u"Shows\\talk.show", u"Shows", u"talk.show"},
      {u"talk.show", u"talk.show", u""},
      {u"a\\", u"a", u""},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    std::u16string first, rest;
    controls::SplitFirstPathComponent(c.path, first, rest);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(rest, c.rest);
  }
}

}  // namespace
