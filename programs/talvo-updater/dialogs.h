// The small windows around the main window: the agreement, the about box and
// the program's message boxes. Every text comes from the catalogue in the
// run's language; every box carries the product title as its caption.
#pragma once

#include <QDialog>
#include <QMessageBox>

#include "shell/app_data.h"
#include "shell/language.h"

class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace talvo::qt {

// The agreement: its text, "accept" and "don't accept" (the latter chosen at
// first), OK and Cancel. OK can be pressed only while "accept" is chosen,
// and only then is it the default button: Enter, Esc and the close box end
// the dialog declined. exec() gives Accepted only through OK.
class AgreementDialog final : public QDialog {
  public:
    AgreementDialog(QWidget* parent, LanguageIndex language);

    QPlainTextEdit* TextArea() const { return text_; }
    QRadioButton* AcceptButton() const { return accept_; }
    QRadioButton* DeclineButton() const { return decline_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    void Choose(bool accepted);

    QPlainTextEdit* text_;
    QRadioButton* accept_;
    QRadioButton* decline_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

// A message box of the program with the catalogue's OK (599) and, when
// asked, Cancel (601), which is then the default and the escape button.
// The caller owns it.
QMessageBox* MakeMessageBox(QWidget* parent, QMessageBox::Icon icon, int textId, bool withCancel,
                            LanguageIndex language);
// Shows such a box with OK alone and waits for it.
void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, int textId, LanguageIndex language);

// The about box: the application icon, "<name>  Version <m>.<n><b>" and OK.
void ShowAboutBox(QWidget* parent, const AppData& app);

// The application icon (carried in the program).
QIcon ApplicationIcon();

}  // namespace talvo::qt
