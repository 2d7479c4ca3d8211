#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstddef>
#include <string>

namespace orv {

// The "Table authentication" dialog. OK stores what was typed in Pass into the password it was
// made for and closes; Cancel leaves that password alone.
class TPassDialog : public QDialog {
 public:
  // The table layer keeps passwords in 255 bytes of code page 1251: one byte a character.
  static constexpr std::size_t kMaxPasswordLength = 255;

  explicit TPassDialog(std::string& password, QWidget* parent = nullptr);

  QLabel* lbName;
  QLabel* lbPassword;
  QLineEdit* Pass;
  QPushButton* cbOk;
  QPushButton* cbCancel;

 private:
  void cbOkClick();

  std::string& password_;
};

// Asks for the password of table_name (8-bit text) in a modal TPassDialog. True when the user
// confirmed; password then holds the answer in code page 1251. False, with password unchanged,
// on Cancel or when no widget application runs on this thread.
bool AskTablePassword(const std::string& table_name, std::string& password);

}  // namespace orv
