#pragma once

#include <functional>
#include <string>

// The engine's dialogs as plain callbacks, so that the engine core can show them without
// depending on the widget toolkit. Table names and passwords are 8-bit text (code page 1251).

namespace orv {

// One index build's progress: called with starting on the first call and finished on the last;
// percent is the share done, 0 to 100.
using TBuildIndexProgress = std::function<void(bool starting, bool finished, double percent)>;

// Enables (true) or disables (false) the controls bound to the dataset whose table is indexed.
using TSetControlsEnabled = std::function<void(bool enabled)>;

// Makes the progress callback of one table's index builds. set_controls_enabled may be empty.
using TBuildIndexProgressFactory = std::function<TBuildIndexProgress(
    const std::string& table_name, TSetControlsEnabled set_controls_enabled)>;

// Asks the user for the password of an encrypted table. Returns true and stores the answer (at
// most 255 characters) in password when the user confirms; false leaves password unchanged.
using TTablePasswordQuestion =
    std::function<bool(const std::string& table_name, std::string& password)>;

struct TOrvDialogHooks {
  TBuildIndexProgressFactory build_index_progress;
  TTablePasswordQuestion ask_table_password;
};

// The "Building indexes..." window and the "Table authentication" dialog; defined by the
// orv_dialogs library. Without a running widget application (or off its thread) the progress
// callback only toggles the controls and the question answers false.
TOrvDialogHooks MakeOrvDialogHooks();

}  // namespace orv
