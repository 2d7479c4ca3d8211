#include "engine/dialogs/password_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>
#include <QTimer>

#include <functional>
#include <string>

#include "engine/dialogs/orv_dialog_hooks.h"
#include "tests/dialogs/qt_test_support.h"

namespace orv {
namespace {

using testing::PressKey;
using testing::TypeText;

TEST(PassDialogTest, HasItsLayout) {
  std::string password;
  TPassDialog dialog(password);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Table authentication"));
  EXPECT_EQ(dialog.size(), QSize(216, 118));
  EXPECT_TRUE(dialog.lbName->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(dialog.lbPassword->text(), QStringLiteral("Password:"));
  EXPECT_EQ(dialog.Pass->echoMode(), QLineEdit::Password);
  EXPECT_EQ(
      dialog.Pass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, dialog.Pass),
      '*');
  EXPECT_EQ(dialog.cbOk->text(), QStringLiteral("OK"));
  EXPECT_TRUE(dialog.cbOk->isDefault());
  EXPECT_EQ(dialog.cbCancel->text(), QStringLiteral("Cancel"));
}

enum class Answer { kOkButton, kEnterKey, kCancelButton, kEscapeKey };

// Answers the dialog that AskTablePassword is about to run modally: it blocks until then.
void AnswerWhenShown(const QString& typed, Answer answer, QString* seen_name) {
  QTimer::singleShot(0, [=] {
    auto* dialog = dynamic_cast<TPassDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr) << "no password dialog is up";
    *seen_name = dialog->lbName->text();
    EXPECT_TRUE(dialog->Pass->text().isEmpty()) << "the edit starts empty";
    TypeText(dialog->Pass, typed);
    switch (answer) {
      case Answer::kOkButton:
        dialog->cbOk->click();
        break;
      case Answer::kEnterKey:
        PressKey(dialog->Pass, Qt::Key_Return);
        break;
      case Answer::kCancelButton:
        dialog->cbCancel->click();
        break;
      case Answer::kEscapeKey:
        PressKey(dialog->Pass, Qt::Key_Escape);
        break;
    }
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the answer did not close the dialog";
      dialog->reject();
    }
  });
}

TEST(AskTablePasswordTest, StoresTheAnswerOnlyWhenConfirmed) {
  struct Case {
    const char* label;
    QString typed;
    Answer answer;
    bool confirmed;
    std::string stored;
  };
  const Case cases[] = {
      {"ok", QStringLiteral("secret"), Answer::kOkButton, true, "secret"},
      {"enter presses OK", QStringLiteral("secret"), Answer::kEnterKey, true, "secret"},
      {"empty answer", QString(), Answer::kOkButton, true, ""},
      {"cancel", QStringLiteral("secret"), Answer::kCancelButton, false, "old"},
      {"escape", QStringLiteral("secret"), Answer::kEscapeKey, false, "old"},
      {"longest", QString(300, QLatin1Char('a')), Answer::kOkButton, true, std::string(255, 'a')},
      {"cyrillic", QStringLiteral(u"пароль"), Answer::kOkButton, true, "\xEF\xE0\xF0\xEE\xEB\xFC"},
      {"not in the code page", QStringLiteral(u"п中\U0001F600x"), Answer::kOkButton, true, "\xEFx"},
  };
  const TOrvDialogHooks hooks = MakeOrvDialogHooks();
  for (const Case& c : cases) {
    std::string password = "old";
    QString seen_name;
    AnswerWhenShown(c.typed, c.answer, &seen_name);
    EXPECT_EQ(hooks.ask_table_password("\xD6\xC5\xCD\xC0", password), c.confirmed) << c.label;
    EXPECT_EQ(password, c.stored) << c.label;
    EXPECT_EQ(seen_name, QStringLiteral(u"ЦЕНА")) << c.label;
  }
}

TEST(AskTablePasswordTest, AsksAgainWithAnEmptyEdit) {
  std::string password;
  QString seen_name;
  AnswerWhenShown(QStringLiteral("first"), Answer::kOkButton, &seen_name);
  ASSERT_TRUE(AskTablePassword("PRICE", password));
  AnswerWhenShown(QStringLiteral("second"), Answer::kOkButton, &seen_name);
  ASSERT_TRUE(AskTablePassword("PRICE", password));
  EXPECT_EQ(password, "second");
  EXPECT_EQ(seen_name, QStringLiteral("PRICE"));
}

}  // namespace
}  // namespace orv
