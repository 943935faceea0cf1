// Slide texts: the raster scale (largest key-frame scale, parent's on-screen
// height, the size limits and hostile scales) and the macro values of a
// text's slide.
#include "showmodel/kvQelText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/showmodel/ObjectFixture.h"

namespace {

using namespace objtest;

double MaxScaleOf(const std::string& keyPoints) {
  kftest::Loaded l("object T: Text\nGUID={T}\n" + keyPoints + "end\n", TObjectTimes{4000, 0, 0});
  return MaxKeyFrameScale(l.Props.Get());
}

TEST(TextRaster, LargestScaleComesFromTheKeyFramesThatScale) {
  EXPECT_EQ(MaxScaleOf("object K0: KeyPoint\nTime=0\nScaleX=50\nScaleY=-400\nend\n"
                       "object K1: KeyPoint\nTime=100\nScaleX=120\nScaleY=80\nend\n"
                       "object K2: KeyPoint\nTime=200\nOpacity=10\nend\n"),
            400);
  // No key frame animates the Scale group: the group's default, never 0.
  EXPECT_EQ(MaxScaleOf("object K0: KeyPoint\nTime=0\nOpacity=50\nend\n"), 100);
  EXPECT_EQ(MaxScaleOf(""), 100);
}

TEST(TextRaster, ScaleFollowsTheOnScreenHeightAndIsHalvedToTheLimits) {
  // 400 % of a parent 600 pixels high, text 20 pixels high at scale 1: 120,
  // but 12000 x 2400 pixels exceed the area, so 60 (7.2 million pixels).
  EXPECT_DOUBLE_EQ(TextRasterScale(400, 600, 100, 20), 60);
  EXPECT_DOUBLE_EQ(TextRasterScale(100, 600, 100, 20), 30);  // 3000 x 600 fits
  // 120 x 1000 = 120,000 pixels wide: halved to 30 by the side limit, then
  // to 15 by the area (30000 x 600 is 18 million pixels).
  EXPECT_DOUBLE_EQ(TextRasterScale(400, 600, 1000, 20), 15);
  // 5000 x 3000 at scale 1: 15 million pixels, halved once by area.
  EXPECT_DOUBLE_EQ(LimitRasterScale(1, 5000, 3000), 0.5);
  EXPECT_DOUBLE_EQ(LimitRasterScale(2, 100, 100), 2);
}

TEST(TextRaster, HostileScalesCountAsOneAndNeverLoopForever) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_DOUBLE_EQ(TextRasterScale(0, 600, 100, 20), 1);    // nothing measured yet
  EXPECT_DOUBLE_EQ(TextRasterScale(inf, 600, 100, 20), 1);  // an infinite key-frame scale
  EXPECT_DOUBLE_EQ(TextRasterScale(nan, 600, 100, 20), 1);
  EXPECT_DOUBLE_EQ(TextRasterScale(100, 600, 100, 0), 1);   // a text without height
  EXPECT_DOUBLE_EQ(TextRasterScale(-100, 600, 100, 20), 1);
  const double huge = TextRasterScale(1e300, 1e300, 100, 20);
  EXPECT_TRUE(std::isfinite(huge) && huge > 0 && huge * 100 <= 30000);
  // A text whose size is not finite ends the halving too.
  const double r = LimitRasterScale(5, inf, 20);
  EXPECT_TRUE(r >= 0 && std::isfinite(r));
}

TEST(TextMacroContext, SlideNumbersAndTheMainPictureOfTheSlide) {
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("Trip/main.fake", 64, 48, 1));
  SlideFixture g("object Photo: Image\nGUID={P}\nImageName=" + pic + "\nImageIndex=0\n"
                 "object K: KeyPoint\nTime=0\nend\nend\n"
                 "object Box: Box\nGUID={B}\nSize=10,10\nend\n");
  g.Build();
  g.Slide->Host->SlideCount = 9;
  g.At(0);
  TMacroContext c = MakeMacroContext(g.Find("Box"));
  EXPECT_EQ(c.SlideIndex, 0);
  EXPECT_EQ(c.SlideCount, 9);
  EXPECT_TRUE(c.HasMainImage);
  EXPECT_TRUE(c.MainIsImage);
  EXPECT_EQ(Utf8(c.MainName), pic);
  EXPECT_EQ(c.MainWidth, 64);
  EXPECT_EQ(c.MainHeight, 48);
  EXPECT_EQ(MacroValue(c, u"<%SlideIndex%>"), u"1");
  EXPECT_EQ(MacroValue(c, u"<%MainImg.Width%>"), u"64");
  SlideFixture none("object Box: Box\nGUID={B}\nSize=10,10\nend\n");
  none.Build();
  TMacroContext n = MakeMacroContext(none.Find("Box"));
  EXPECT_FALSE(n.HasMainImage);
  EXPECT_EQ(MacroValue(n, u"<%MainImg.PathNameExt%>"), u"");
}

}  // namespace
