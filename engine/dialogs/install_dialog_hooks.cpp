#include "engine/dialogs/install_dialog_hooks.h"

#include <utility>

#include "engine/components/orvel_callbacks.h"
#include "engine/dialogs/orv_dialog_hooks.h"

namespace orv {

void InstallOrvDialogHooks() {
  TOrvDialogHooks hooks = MakeOrvDialogHooks();
  SetTablePasswordQuestion(std::move(hooks.ask_table_password));
  SetIndexProgressFactory(
      [factory = std::move(hooks.build_index_progress)](
          const std::string& table_name,
          TOrvelSetControlsEnabled set_controls_enabled) -> TOrvelIndexProgress {
        return factory(table_name, std::move(set_controls_enabled));
      });
}

}  // namespace orv
