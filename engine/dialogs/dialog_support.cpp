#include "engine/dialogs/dialog_support.h"

#include <QApplication>
#include <QThread>

#include <cmath>

#include "platform/codepage.h"

namespace orv {

int RoundPercent(double percent) {
  const double rounded = std::nearbyint(percent);
  if (!(rounded > 0)) return 0;
  if (rounded > 100) return 100;
  return static_cast<int>(rounded);
}

QString QStringFromCp1251(std::string_view text) {
  std::u16string wide = Cp1251ToUtf16(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string Cp1251FromQString(const QString& text) {
  return Utf16ToCp1251(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
}

bool FitsCp1251(const QString& text) {
  char byte = 0;
  for (char32_t code_point : text.toUcs4()) {
    if (!UnicodeToCp1251Char(code_point, &byte)) return false;
  }
  return true;
}

bool GuiAvailable() {
  QCoreApplication* app = QCoreApplication::instance();
  return qobject_cast<QApplication*>(app) != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace orv
