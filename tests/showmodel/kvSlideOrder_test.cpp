// Slide index to section, with and without a shared order table.
#include "showmodel/kvSlideOrder.h"

#include <gtest/gtest.h>

#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using foundation::TIniFile;

TEST(SlideOrder, WithoutAProjectPathSlideIIsSectionIPlusOne) {
  auto ini = kftest::ParseIni("[Main]\n[Times]\nopt_slidescount=2\n[Slide1]\n[Slide2]\n[Slide3]\n");
  const int32_t tables = showmodel::SlideOrderTableCount();
  EXPECT_EQ(showmodel::GetSlideSection(ini.Get(), 0), TIniFile::FindSection(ini.Get(), u"Slide1"));
  EXPECT_EQ(showmodel::GetSlideSection(ini.Get(), 2), TIniFile::FindSection(ini.Get(), u"Slide3"));
  EXPECT_EQ(showmodel::GetSlideSection(ini.Get(), 3), nullptr);
  EXPECT_EQ(showmodel::GetSlideSection(ini.Get(), -1), nullptr);
  EXPECT_EQ(showmodel::SlideOrderTableCount(), tables);
  EXPECT_THROW(showmodel::GetSlideSection(nullptr, 0), foundation::EAssertionFailed);
}

TEST(SlideOrder, ProjectsWithOnePathShareATableThatGrowsOnDemand) {
  const char* text = "[Main]\nProjectFilePath=C:\\Shows\\Order.qel\n[Times]\nopt_slidescount=10\n[Slide1]\n[Slide13]\n";
  auto a = kftest::ParseIni(text);
  auto b = kftest::ParseIni(text);
  const int32_t tables = showmodel::SlideOrderTableCount();
  EXPECT_EQ(showmodel::GetSlideSection(a.Get(), 0), TIniFile::FindSection(a.Get(), u"Slide1"));
  EXPECT_EQ(showmodel::SlideOrderTableCount(), tables + 1);
  EXPECT_EQ(showmodel::SlideOrderLength(u"C:\\Shows\\Order.qel"), 10);
  EXPECT_EQ(showmodel::GetSlideSection(b.Get(), 12), TIniFile::FindSection(b.Get(), u"Slide13"));
  EXPECT_EQ(showmodel::SlideOrderTableCount(), tables + 1);  // one table for both
  EXPECT_EQ(showmodel::SlideOrderLength(u"C:\\Shows\\Order.qel"), 13);
  EXPECT_EQ(showmodel::GetSlideSection(a.Get(), 11), nullptr);
  // A far index is answered without growing the table to it.
  EXPECT_EQ(showmodel::GetSlideSection(a.Get(), 2000000000), nullptr);
  EXPECT_EQ(showmodel::SlideOrderLength(u"C:\\Shows\\Order.qel"), 13);
}

}  // namespace
