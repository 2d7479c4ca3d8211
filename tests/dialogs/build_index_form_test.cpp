#include "engine/dialogs/build_index_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/dialogs/orv_dialog_hooks.h"
#include "tests/dialogs/qt_test_support.h"

namespace orv {
namespace {

TEST(FormBuildIndexTest, HasItsLayout) {
  TFormBuildIndex form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Building indexes..."));
  EXPECT_TRUE(form.lbTable->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(form.gauge->parent(), &form);
  EXPECT_EQ(form.gauge->geometry(), QRect(46, 49, 162, 27));
  EXPECT_EQ(form.gauge->Color1(), 0xFFFFFFu);
  EXPECT_EQ(form.gauge->Color2(), 0xFF0000u);
  EXPECT_EQ(form.gauge->Caption(), "0/100");
}

// Drives one table's progress callback as the data manager does and records the control hook.
class BuildIndexProgressTest : public ::testing::Test {
 protected:
  TBuildIndexProgress MakeProgress(const std::string& table, std::vector<bool>& calls) {
    return MakeOrvDialogHooks().build_index_progress(
        table, [&calls](bool enabled) { calls.push_back(enabled); });
  }

  void TearDown() override { EXPECT_EQ(TOrvBuildIndexProgress::Form(), nullptr); }
};

TEST_F(BuildIndexProgressTest, ShowsMovesAndFreesTheWindow) {
  std::vector<bool> controls;
  TBuildIndexProgress progress = MakeProgress("CARS", controls);

  progress(true, false, 0);
  QPointer<TFormBuildIndex> form = TOrvBuildIndexProgress::Form();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(form->lbTable->text(), QStringLiteral("CARS"));
  EXPECT_EQ(form->gauge->Progress(), 0);
  EXPECT_EQ(form->gauge->Caption(), "0/100");
  EXPECT_EQ(controls, std::vector<bool>{false});

  progress(false, false, 42.6);
  EXPECT_EQ(TOrvBuildIndexProgress::Form(), form);
  EXPECT_EQ(form->gauge->Progress(), 43);
  EXPECT_EQ(form->gauge->Caption(), "43/100");
  EXPECT_EQ(controls, std::vector<bool>{false});

  progress(false, true, 100);
  EXPECT_TRUE(form.isNull()) << "the window is freed at the finish";
  EXPECT_EQ(controls, (std::vector<bool>{false, true}));
}

TEST_F(BuildIndexProgressTest, ShowsTheTableNameFromCodePage1251) {
  std::vector<bool> controls;
  TBuildIndexProgress progress = MakeProgress("\xCC\xCE\xC4\xC5\xCB\xDC", controls);
  progress(true, false, 5);
  ASSERT_NE(TOrvBuildIndexProgress::Form(), nullptr);
  EXPECT_EQ(TOrvBuildIndexProgress::Form()->lbTable->text(), QStringLiteral(u"МОДЕЛЬ"));
  progress(false, true, 100);
}

TEST_F(BuildIndexProgressTest, OneWindowServesOverlappingBuilds) {
  std::vector<bool> first_controls;
  std::vector<bool> second_controls;
  TBuildIndexProgress first = MakeProgress("CARS", first_controls);
  TBuildIndexProgress second = MakeProgress("PRICE", second_controls);

  first(true, false, 10);
  TFormBuildIndex* form = TOrvBuildIndexProgress::Form();
  second(true, false, 20);
  EXPECT_EQ(TOrvBuildIndexProgress::Form(), form);
  EXPECT_EQ(form->lbTable->text(), QStringLiteral("PRICE"));
  EXPECT_EQ(form->gauge->Progress(), 20);

  first(false, true, 100);
  EXPECT_EQ(TOrvBuildIndexProgress::Form(), nullptr);
  second(false, false, 50);
  EXPECT_EQ(TOrvBuildIndexProgress::Form(), nullptr) << "an update never brings a window back";
  second(false, true, 100);
  EXPECT_EQ(first_controls, (std::vector<bool>{false, true}));
  EXPECT_EQ(second_controls, (std::vector<bool>{false, true}));
}

TEST_F(BuildIndexProgressTest, StartAndFinishInOneCall) {
  std::vector<bool> controls;
  MakeProgress("CARS", controls)(true, true, 100);
  EXPECT_EQ(controls, (std::vector<bool>{false, true}));
}

TEST_F(BuildIndexProgressTest, WorksWithoutAControlsHook) {
  TBuildIndexProgress progress = MakeOrvDialogHooks().build_index_progress("CARS", nullptr);
  progress(true, false, 0);
  EXPECT_NE(TOrvBuildIndexProgress::Form(), nullptr);
  progress(false, true, 100);
}

TEST_F(BuildIndexProgressTest, ClampsPercentsOutsideTheRange) {
  struct Case {
    double percent;
    int shown;
  };
  const Case cases[] = {
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {-5, 0},
      {99.5, 100},
      {1e300, 100},
      {std::numeric_limits<double>::infinity(), 100},
      {-std::numeric_limits<double>::infinity(), 0},
  };
  std::vector<bool> controls;
  TBuildIndexProgress progress = MakeProgress("CARS", controls);
  progress(true, false, 50);
  for (const Case& c : cases) {
    progress(false, false, c.percent);
    EXPECT_EQ(TOrvBuildIndexProgress::Form()->gauge->Progress(), c.shown) << c.percent;
  }
  progress(false, true, 100);
}

TEST_F(BuildIndexProgressTest, EveryCallHandlesPendingEvents) {
  std::vector<bool> controls;
  TBuildIndexProgress progress = MakeProgress("CARS", controls);
  for (bool finished : {false, false, true}) {
    bool handled = false;
    QObject scope;
    QTimer::singleShot(0, &scope, [&handled] { handled = true; });
    progress(!finished && controls.empty(), finished, 30);
    EXPECT_TRUE(handled) << "finished " << finished;
  }
}

}  // namespace
}  // namespace orv
