#include "engine/dialogs/build_index_form.h"

#include <QApplication>

#include <utility>

namespace orv {

namespace {

constexpr int kClientWidth = 254;
constexpr int kClientHeight = 100;

// One window serves every table: a build that starts while another shows it takes it over.
// Never freed at exit: deleting a widget after the application is gone would crash.
TFormBuildIndex* build_index_form = nullptr;

}  // namespace

TFormBuildIndex::TFormBuildIndex(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Building indexes..."));
  setFixedSize(kClientWidth, kClientHeight);

  lbTable = new QLabel(this);
  lbTable->setObjectName(QStringLiteral("lbTable"));
  lbTable->setAlignment(Qt::AlignCenter);
  lbTable->setGeometry(8, 16, kClientWidth - 16, 20);

  gauge = new TOrvGauge(this);
  gauge->setObjectName(QStringLiteral("gauge"));
  gauge->setGeometry(46, 49, 162, 27);
  gauge->SetColor1(kColorWhite);
  gauge->SetColor2(kColorBlue);
  // The gauge shows a percentage: from 1 a build just started would keep the default caption
  // and every value would be drawn one percent short.
  gauge->SetMin(0);
  gauge->SetProgress(0);
}

TOrvBuildIndexProgress::TOrvBuildIndexProgress(std::string table_name,
                                               TSetControlsEnabled set_controls_enabled)
    : table_name_(std::move(table_name)), set_controls_enabled_(std::move(set_controls_enabled)) {}

TFormBuildIndex* TOrvBuildIndexProgress::Form() {
  return build_index_form;
}

void TOrvBuildIndexProgress::operator()(bool starting, bool finished, double percent) const {
  const bool gui = GuiAvailable();
  if (gui) QCoreApplication::processEvents();
  const int rounded = RoundPercent(percent);
  if (starting) {
    if (set_controls_enabled_) set_controls_enabled_(false);
    if (gui) {
      if (build_index_form == nullptr) build_index_form = new TFormBuildIndex();
      build_index_form->lbTable->setText(QStringFromCp1251(table_name_));
      build_index_form->gauge->SetProgress(rounded);
      build_index_form->show();
    }
  } else if (build_index_form != nullptr && gui) {
    build_index_form->gauge->SetProgress(rounded);
  }
  if (finished) {
    if (build_index_form != nullptr && gui) {
      build_index_form->gauge->SetProgress(rounded);
      delete std::exchange(build_index_form, nullptr);
    }
    if (set_controls_enabled_) set_controls_enabled_(true);
  }
}

}  // namespace orv
