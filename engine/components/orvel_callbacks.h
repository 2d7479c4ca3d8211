#pragma once

#include <functional>
#include <string>

// Where the application plugs the engine's small dialogs in (it installs them from
// MakeOrvDialogHooks()), so that the engine core needs no widget toolkit. Unset slots mean no
// dialog: the question is answered "cancel" and index builds show nothing.

namespace orv {

// Asks for the password of an encrypted table opened at design time. True stores the answer
// (8-bit text) in password; false is a cancel.
using TOrvelPasswordQuestion =
    std::function<bool(const std::string& table_name, std::string& password)>;

// One index build's progress: starting on the first call, finished on the last, percent 0..100.
using TOrvelIndexProgress = std::function<void(bool starting, bool finished, double percent)>;
// Enables (true) or disables (false) the controls of the datasets on the table being indexed.
using TOrvelSetControlsEnabled = std::function<void(bool enabled)>;
// Makes the progress callback of one table's index builds; set_controls_enabled may be empty.
using TOrvelIndexProgressFactory = std::function<TOrvelIndexProgress(
    const std::string& table_name, TOrvelSetControlsEnabled set_controls_enabled)>;

void SetTablePasswordQuestion(TOrvelPasswordQuestion question);
const TOrvelPasswordQuestion& TablePasswordQuestion();

void SetIndexProgressFactory(TOrvelIndexProgressFactory factory);
const TOrvelIndexProgressFactory& IndexProgressFactory();

}  // namespace orv
