#include "programs/talvo-updater/dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "programs/talvo-updater/qt_text.h"
#include "resources/resource_ids.h"

namespace talvo::qt {

AgreementDialog::AgreementDialog(QWidget* parent, LanguageIndex language)
    : QDialog(parent),
      text_(new QPlainTextEdit(this)),
      accept_(new QRadioButton(Text(kIdsAccept, language), this)),
      decline_(new QRadioButton(Text(kIdsDecline, language), this)),
      ok_(new QPushButton(Text(kIdsOk, language), this)),
      cancel_(new QPushButton(Text(kIdsCancel, language), this)) {
    setWindowTitle(Text(kIdsAgreementCaption, language));
    setWindowIcon(ApplicationIcon());

    text_->setReadOnly(true);
    text_->setPlainText(AgreementText(language));
    text_->moveCursor(QTextCursor::Start);
    text_->setAccessibleName(windowTitle());
    // About 80 columns by 20 lines of the text's font, whatever the scale.
    const QFontMetrics metrics(text_->font());
    text_->setMinimumSize(metrics.averageCharWidth() * 80, metrics.lineSpacing() * 20);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(ok_, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel_, QDialogButtonBox::RejectRole);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(accept_, &QRadioButton::toggled, this, [this](bool on) { Choose(on); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addWidget(accept_);
    layout->addWidget(decline_);
    layout->addWidget(buttons);

    decline_->setChecked(true);
    Choose(false);
    text_->setFocus();
}

void AgreementDialog::Choose(bool accepted) {
    ok_->setEnabled(accepted);
    // The default button answers Enter: OK only once accepted.
    ok_->setAutoDefault(accepted);
    ok_->setDefault(accepted);
    cancel_->setAutoDefault(!accepted);
    cancel_->setDefault(!accepted);
}

QMessageBox* MakeMessageBox(QWidget* parent, QMessageBox::Icon icon, int textId, bool withCancel,
                            LanguageIndex language) {
    auto* box = new QMessageBox(icon, ProductTitle(language), Text(textId, language),
                                QMessageBox::NoButton, parent);
    QPushButton* ok = box->addButton(Text(kIdsOk, language), QMessageBox::AcceptRole);
    if (withCancel) {
        QPushButton* cancel = box->addButton(Text(kIdsCancel, language), QMessageBox::RejectRole);
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
    } else {
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    return box;
}

void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, int textId, LanguageIndex language) {
    QMessageBox* box = MakeMessageBox(parent, icon, textId, false, language);
    box->exec();
    delete box;
}

void ShowAboutBox(QWidget* parent, const AppData& app) {
    QDialog about(parent);
    about.setWindowTitle(Text(kIdsAboutCaption, app.languageIndex));
    auto* icon = new QLabel(&about);
    icon->setPixmap(ApplicationIcon().pixmap(48, 48));
    auto* line = new QLabel(QString::fromStdU16String(FormatAboutLine(app)), &about);
    line->setTextFormat(Qt::PlainText);
    auto* buttons = new QDialogButtonBox(&about);
    QPushButton* ok =
        buttons->addButton(Text(kIdsOk, app.languageIndex), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &about, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(icon->fontMetrics().averageCharWidth() * 2);
    row->addWidget(line, 1);
    auto* layout = new QVBoxLayout(&about);
    layout->addLayout(row);
    layout->addWidget(buttons);
    about.exec();
}

QIcon ApplicationIcon() {
    // The theme's icon where the package installed it; the carried one
    // otherwise (a build run from its tree).
    return QIcon::fromTheme(QStringLiteral("talvo-updater"), QIcon(QStringLiteral(":/talvo.ico")));
}

}  // namespace talvo::qt
