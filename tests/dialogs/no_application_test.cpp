#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/dialogs/build_index_form.h"
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

}  // namespace
}  // namespace orv
