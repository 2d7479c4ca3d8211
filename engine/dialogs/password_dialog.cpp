#include "engine/dialogs/password_dialog.h"

#include <QGuiApplication>
#include <QScreen>
#include <QValidator>

#include <utility>

#include "engine/dialogs/dialog_support.h"

namespace orv {

namespace {

constexpr int kClientWidth = 216;
constexpr int kClientHeight = 118;

// Refuses characters code page 1251 has no byte for: stored as '?', they would make different
// passwords equal without the user knowing.
class TCp1251Validator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return FitsCp1251(input) ? Acceptable : Invalid;
  }
};

}  // namespace

TPassDialog::TPassDialog(std::string& password, QWidget* parent)
    : QDialog(parent), password_(password) {
  setWindowTitle(QStringLiteral("Table authentication"));
  setFixedSize(kClientWidth, kClientHeight);

  lbName = new QLabel(this);
  lbName->setObjectName(QStringLiteral("lbName"));
  lbName->setAlignment(Qt::AlignCenter);
  lbName->setGeometry(8, 8, kClientWidth - 16, 20);

  lbPassword = new QLabel(QStringLiteral("Password:"), this);
  lbPassword->setGeometry(8, 36, kClientWidth - 16, 18);

  Pass = new QLineEdit(this);
  Pass->setObjectName(QStringLiteral("Pass"));
  Pass->setEchoMode(QLineEdit::Password);
  Pass->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
  Pass->setMaxLength(static_cast<int>(kMaxPasswordLength));
  Pass->setValidator(new TCp1251Validator(Pass));
  Pass->setGeometry(8, 54, kClientWidth - 16, 22);
  lbPassword->setBuddy(Pass);

  cbOk = new QPushButton(QStringLiteral("OK"), this);
  cbOk->setObjectName(QStringLiteral("cbOk"));
  cbOk->setDefault(true);
  cbOk->setGeometry(24, 86, 80, 25);

  cbCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cbCancel->setObjectName(QStringLiteral("cbCancel"));
  cbCancel->setGeometry(kClientWidth - 24 - 80, 86, 80, 25);

  connect(cbOk, &QPushButton::clicked, this, [this] { cbOkClick(); });
  connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPassDialog::cbOkClick() {
  std::string text = Cp1251FromQString(Pass->text());
  if (text.size() > kMaxPasswordLength) text.resize(kMaxPasswordLength);
  password_ = std::move(text);
  accept();
}

bool AskTablePassword(const std::string& table_name, std::string& password) {
  if (!GuiAvailable()) return false;
  TPassDialog dialog(password);
  dialog.Pass->clear();
  dialog.lbName->setText(QStringFromCp1251(table_name));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = dialog.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    dialog.move(frame.topLeft());
  }
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace orv
