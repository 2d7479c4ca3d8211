#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

#include <memory>

namespace orv::testing {

// The widget application of one test program, made before its first test and freed after the
// last. Without a platform chosen by the caller the tests draw off-screen.
class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "dialogs_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Types text into widget one character at a time, as key presses would.
inline void TypeText(QWidget* widget, const QString& text) {
  for (char32_t code_point : text.toUcs4()) {
    const QString character = QString::fromUcs4(&code_point, 1);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, character);
    QApplication::sendEvent(widget, &release);
  }
}

inline void PressKey(QWidget* widget, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

inline QImage Render(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QColor Pixel(const QImage& image, int x, int y) {
  return image.pixelColor(x, y);
}

}  // namespace orv::testing
