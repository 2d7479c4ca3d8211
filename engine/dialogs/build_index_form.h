#pragma once

#include <QDialog>
#include <QLabel>

#include <string>

#include "engine/dialogs/orv_dialog_hooks.h"
#include "engine/dialogs/orv_gauge.h"

namespace orv {

// The "Building indexes..." window: the table's name over a gauge of the percent done.
class TFormBuildIndex : public QDialog {
 public:
  explicit TFormBuildIndex(QWidget* parent = nullptr);

  QLabel* lbTable;
  TOrvGauge* gauge;
};

// Shows one table's index builds in the process's single "Building indexes..." window: the first
// call (starting) disables the dataset's controls and shows the window without blocking, later
// calls move its gauge, and the last (finished) frees it and enables the controls again. Every
// call lets the application handle its pending events.
class TOrvBuildIndexProgress {
 public:
  TOrvBuildIndexProgress(std::string table_name, TSetControlsEnabled set_controls_enabled);

  void operator()(bool starting, bool finished, double percent) const;

  // The window while a build shows it; nullptr otherwise.
  static TFormBuildIndex* Form();

 private:
  std::string table_name_;
  TSetControlsEnabled set_controls_enabled_;
};

}  // namespace orv
