#include "engine/dialogs/orv_gauge.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <string>

#include "tests/dialogs/qt_test_support.h"

namespace orv {
namespace {

using testing::Render;

constexpr TColor kRed = 0x0000FF;
constexpr TColor kGreen = 0x00FF00;

TEST(OrvGaugeTest, StartsWithItsDefaults) {
  TOrvGauge gauge;
  EXPECT_EQ(gauge.width(), 200);
  EXPECT_EQ(gauge.height(), 40);
  EXPECT_EQ(gauge.Backcolor(), 0xFFFFFFu);
  EXPECT_EQ(gauge.Color1(), 0xFFFFFFu);
  EXPECT_EQ(gauge.Color2(), 0x00FFFFu);
  EXPECT_EQ(gauge.Min(), 1);
  EXPECT_EQ(gauge.Max(), 100);
  EXPECT_EQ(gauge.Progress(), 1);
  EXPECT_EQ(gauge.Caption(), "OrvGauge");
  EXPECT_FALSE(gauge.Autocaption());
  EXPECT_EQ(gauge.GradientBitmap().size(), QSize(200, 35));
}

TEST(OrvGaugeTest, GradientBandsBlendChannelByChannel) {
  struct Case {
    int height;
    int row;
    QColor expected;
  };
  // Color1 (10, 200, 0) to Color2 (250, 0, 100). At height 40 the bitmap has 35 rows: bands 0
  // to 6 are empty, so row 0 is band 7, and row 17 is band 131: red 10 + 240 * 131 div 255,
  // green 200 - 200 * 131 div 255, blue 100 * 131 div 255. At height 261 every one of the 256
  // rows is its own band.
  const Case cases[] = {
      {40, 0, QColor(16, 195, 2)},      {40, 17, QColor(133, 98, 51)},
      {40, 34, QColor(250, 0, 100)},    {261, 0, QColor(10, 200, 0)},
      {261, 128, QColor(130, 100, 50)}, {261, 255, QColor(250, 0, 100)},
  };
  for (const Case& c : cases) {
    TOrvGauge gauge;
    gauge.SetColor1(MakeColor(10, 200, 0));
    gauge.SetColor2(MakeColor(250, 0, 100));
    gauge.resize(200, c.height);
    const QImage& bitmap = gauge.GradientBitmap();
    ASSERT_EQ(bitmap.height(), c.height - 5);
    EXPECT_EQ(bitmap.pixelColor(0, c.row), c.expected) << c.height << " row " << c.row;
    EXPECT_EQ(bitmap.pixelColor(199, c.row), c.expected) << c.height << " row " << c.row;
  }
}

TEST(OrvGaugeTest, ColourChangeRebuildsTheGradient) {
  TOrvGauge gauge;
  EXPECT_EQ(gauge.GradientBitmap().pixelColor(0, 34), QColor(255, 255, 0));
  gauge.SetColor2(kColorBlue);
  EXPECT_EQ(gauge.GradientBitmap().pixelColor(0, 34), QColor(0, 0, 255));
  gauge.SetColor1(kColorBlack);
  EXPECT_EQ(gauge.GradientBitmap().pixelColor(0, 0), QColor(0, 0, 255 * 7 / 255));
}

TEST(OrvGaugeTest, TinyGaugeHasNoGradientAndStillPaints) {
  TOrvGauge gauge;
  gauge.resize(3, 4);
  EXPECT_TRUE(gauge.GradientBitmap().isNull());
  gauge.SetProgress(100);
  EXPECT_EQ(Render(gauge).size(), QSize(3, 4));
}

// Red to green over the filled part and blue for the rest, so every pixel tells its origin.
class OrvGaugePaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gauge_.SetColor1(kRed);
    gauge_.SetColor2(kGreen);
    gauge_.SetBackcolor(kColorBlue);
  }

  TOrvGauge gauge_;
};

TEST_F(OrvGaugePaintTest, HalfwayFillsFortyNinePercentAndShowsTheCaption) {
  gauge_.SetProgress(50);
  EXPECT_EQ(gauge_.Caption(), "50/100");
  EXPECT_EQ(gauge_.Percent(), 49);
  EXPECT_EQ(gauge_.FilledWidth(), (200 - 3) * 49 / 100);

  const QImage image = Render(gauge_);
  const int bottom = image.height() - 3;
  const QColor fill = image.pixelColor(2, bottom);
  EXPECT_GT(fill.green(), 200);
  EXPECT_LT(fill.red(), 50);
  const QColor top = image.pixelColor(2, 2);
  EXPECT_GT(top.red(), 200);
  EXPECT_LT(top.green(), 50);

  int filled = 0;
  int rest = 0;
  for (int x = 2; x < image.width() - 2; ++x) {
    const QColor pixel = image.pixelColor(x, bottom);
    if (pixel == fill) {
      ++filled;
      EXPECT_EQ(rest, 0) << "gradient right of the rest at x " << x;
    } else if (pixel == QColor(0, 0, 255)) {
      ++rest;
    }
  }
  EXPECT_EQ(filled, 96);
  EXPECT_EQ(rest, 200 - 4 - 96) << "every inside column is painted";

  for (int y : {0, 1, image.height() - 2, image.height() - 1}) {
    EXPECT_EQ(image.pixelColor(100, y), QColor(Qt::black)) << "frame row " << y;
  }
  for (int x : {0, 1, image.width() - 2, image.width() - 1}) {
    EXPECT_EQ(image.pixelColor(x, 20), QColor(Qt::black)) << "frame column " << x;
  }
}

int DarkInsidePixels(const QImage& image) {
  int dark = 0;
  for (int y = 2; y < image.height() - 2; ++y) {
    for (int x = 2; x < image.width() - 2; ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (std::max({pixel.red(), pixel.green(), pixel.blue()}) < 80) ++dark;
    }
  }
  return dark;
}

TEST_F(OrvGaugePaintTest, CaptionIsDrawnOverTheBar) {
  gauge_.SetProgress(50);
  EXPECT_GT(DarkInsidePixels(Render(gauge_)), 20);
  gauge_.SetCaption("");
  EXPECT_EQ(DarkInsidePixels(Render(gauge_)), 0);
}

TEST_F(OrvGaugePaintTest, FilledColumnsFollowTheRoundedShare) {
  struct Case {
    int min;
    int max;
    int progress;
    int percent;
    int filled_columns;
  };
  const Case cases[] = {
      {1, 100, 1, 0, 0},
      {0, 4, 1, 25, 197 * 25 / 100},
      {0, 1000, 999, 100, 196},  // rounds up to full: the fill stops at the frame
      {-50, 50, 50, 100, 196},
      {0, 200, 1, 0, 0},  // half a percent rounds to even
      {0, 200, 3, 2, 197 * 2 / 100},
  };
  for (const Case& c : cases) {
    TOrvGauge gauge;
    gauge.SetColor1(kRed);
    gauge.SetColor2(kRed);
    gauge.SetMin(c.min);
    gauge.SetMax(c.max);
    gauge.SetProgress(c.progress);
    ASSERT_EQ(gauge.Progress(), c.progress);
    EXPECT_EQ(gauge.Percent(), c.percent) << c.min << ".." << c.max << " at " << c.progress;
    const QImage image = Render(gauge);
    int filled = 0;
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, image.height() - 3) == QColor(255, 0, 0)) ++filled;
    }
    EXPECT_EQ(filled, c.filled_columns) << c.min << ".." << c.max << " at " << c.progress;
  }
}

TEST(OrvGaugeTest, SetProgressIgnoresValuesOutsideTheRangeAndRepeats) {
  for (int value : {150, 101, 0, -1, 1}) {
    TOrvGauge gauge;
    gauge.SetProgress(value);
    EXPECT_EQ(gauge.Progress(), 1) << value;
    EXPECT_EQ(gauge.Caption(), "OrvGauge") << value;
  }
  TOrvGauge gauge;
  gauge.SetProgress(100);
  EXPECT_EQ(gauge.Caption(), "100/100");
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  EXPECT_EQ(gauge.Caption(), "100/100");
}

TEST(OrvGaugeTest, MinAndMaxNeverMeet) {
  TOrvGauge gauge;
  gauge.SetMin(100);
  EXPECT_EQ(gauge.Min(), 1);
  gauge.SetMin(101);
  EXPECT_EQ(gauge.Min(), 1);
  gauge.SetMax(1);
  EXPECT_EQ(gauge.Max(), 100);
  gauge.SetMax(0);
  EXPECT_EQ(gauge.Max(), 100);
  gauge.SetMin(99);
  gauge.SetMax(99);
  EXPECT_EQ(gauge.Min(), 99);
  EXPECT_EQ(gauge.Max(), 100);
  EXPECT_EQ(gauge.Percent(), 0);
}

TEST(OrvGaugeTest, MinAndMaxPullProgressIntoTheRange) {
  TOrvGauge gauge;
  gauge.SetProgress(50);
  gauge.SetMin(60);
  EXPECT_EQ(gauge.Progress(), 60);
  EXPECT_EQ(gauge.Caption(), "50/100") << "no caption rebuild without Autocaption";
  gauge.SetMax(80);
  gauge.SetMin(0);
  EXPECT_EQ(gauge.Progress(), 60);
  gauge.SetMax(40);
  EXPECT_EQ(gauge.Progress(), 40);
  EXPECT_EQ(gauge.Caption(), "50/100");
}

TEST(OrvGaugeTest, AutocaptionRebuildsTheCaptionFromTheProgress) {
  TOrvGauge gauge;
  gauge.SetProgress(50);
  gauge.SetCaption("working");
  gauge.SetAutocaption(true);
  EXPECT_EQ(gauge.Caption(), "50/100");
  gauge.SetMax(200);
  EXPECT_EQ(gauge.Caption(), "50/200");
  gauge.SetMin(60);
  EXPECT_EQ(gauge.Caption(), "60/200");
  gauge.SetAutocaption(false);
  gauge.SetMax(300);
  EXPECT_EQ(gauge.Caption(), "60/200");
}

}  // namespace
}  // namespace orv
