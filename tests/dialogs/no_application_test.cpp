#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/orvel_callbacks.h"
#include "engine/dialogs/build_index_form.h"
#include "engine/dialogs/install_dialog_hooks.h"
#include "engine/dialogs/orv_dialog_hooks.h"

namespace orv {
namespace {

// A process without a widget application (a server, a tool) must not abort in the dialogs.
TEST(DialogsWithoutApplicationTest, QuestionDeclinesAndProgressOnlyTogglesControls) {
  const TOrvDialogHooks hooks = MakeOrvDialogHooks();
  std::string password = "old";
  EXPECT_FALSE(hooks.ask_table_password("PRICE", password));
  EXPECT_EQ(password, "old");

  std::vector<bool> controls;
  TBuildIndexProgress progress = hooks.build_index_progress(
      "CARS", [&controls](bool enabled) { controls.push_back(enabled); });
  progress(true, false, 0);
  EXPECT_EQ(TOrvBuildIndexProgress::Form(), nullptr);
  progress(false, false, 50);
  progress(false, true, 100);
  EXPECT_EQ(controls, (std::vector<bool>{false, true}));
}

// The engine core reaches the dialogs only through its callback slots.
TEST(DialogsWithoutApplicationTest, InstalledHooksFillTheEngineSlots) {
  InstallOrvDialogHooks();
  ASSERT_TRUE(TablePasswordQuestion());
  ASSERT_TRUE(IndexProgressFactory());
  std::string password = "old";
  EXPECT_FALSE(TablePasswordQuestion()("PRICE", password));
  EXPECT_EQ(password, "old");

  std::vector<bool> controls;
  TOrvelIndexProgress progress =
      IndexProgressFactory()("CARS", [&controls](bool enabled) { controls.push_back(enabled); });
  progress(true, false, 0);
  progress(false, true, 100);
  EXPECT_EQ(controls, (std::vector<bool>{false, true}));
  SetTablePasswordQuestion({});
  SetIndexProgressFactory({});
}

}  // namespace
}  // namespace orv
