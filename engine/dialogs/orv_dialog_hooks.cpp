#include "engine/dialogs/orv_dialog_hooks.h"

#include <utility>

#include "engine/dialogs/build_index_form.h"
#include "engine/dialogs/password_dialog.h"

namespace orv {

TOrvDialogHooks MakeOrvDialogHooks() {
  TOrvDialogHooks hooks;
  hooks.build_index_progress = [](const std::string& table_name,
                                  TSetControlsEnabled set_controls_enabled) -> TBuildIndexProgress {
    return TOrvBuildIndexProgress(table_name, std::move(set_controls_enabled));
  };
  hooks.ask_table_password = &AskTablePassword;
  return hooks;
}

}  // namespace orv
