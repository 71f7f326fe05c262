#include "accounts/frmdebiteur.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "core/textutil.h"
#include "ui/fonts.h"
#include "ui/keys.h"
#include "ui/msgbox.h"
#include "ui/placement.h"

namespace kavelon {
namespace {

const QString kFillInWarning =
    QStringLiteral("Voor het verwerken van de gegevens, moeten alle velden ingevuld zijn.");
const QString kDuplicateWarning = QStringLiteral(
    "De opgegeven gegevens kunnen niet verwerkt worden,\r\n"
    "aangezien het debiteurennummer al eerder vastgelegd is.");

}  // namespace

FrmDebiteur::FrmDebiteur(AccountStore* database, QWidget* parent)
    : QDialog(parent), database_(database) {
    setObjectName(QStringLiteral("frmDebiteur"));
    UseDialogFont(this);
    UseFocusKeys(this);
    setWindowTitle(QStringLiteral("Debiteursgegevens"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(242, 119);
    BuildControls();
}

FrmDebiteur::~FrmDebiteur() {
    Form_Unload();
}

void FrmDebiteur::BuildControls() {
    lblDebiteur_ = Place<QLabel>(this, "lblDebiteur", 6, 11, 92, 13);
    lblDebiteur_->setText(QStringLiteral("Debiteurennummer:"));
    txtDebiteur_ = TextBox(this, "txtDebiteur", 102, 9, 133, 19);
    lblGebruiker_ = Place<QLabel>(this, "lblGebruiker", 6, 37, 78, 13);
    lblGebruiker_->setText(QStringLiteral("Gebruikerscode:"));
    txtGebruiker_ = TextBox(this, "txtGebruiker", 102, 35, 133, 19);
    lblWachtwoord_ = Place<QLabel>(this, "lblWachtwoord", 6, 63, 64, 13);
    lblWachtwoord_->setText(QStringLiteral("Wachtwoord:"));
    txtWachtwoord_ = TextBox(this, "txtWachtwoord", 102, 61, 133, 19);
    txtWachtwoord_->setEchoMode(QLineEdit::Password);
    cmdOK_ = PlainButton(this, "cmdOK", QStringLiteral("OK"), 78, 90, 77, 23);
    cmdCancel_ = PlainButton(this, "cmdCancel", QStringLiteral("Annuleren"), 160, 90, 77, 23);

    setTabOrder(txtDebiteur_, txtGebruiker_);
    setTabOrder(txtGebruiker_, txtWachtwoord_);
    setTabOrder(txtWachtwoord_, cmdOK_);
    setTabOrder(cmdOK_, cmdCancel_);

    connect(cmdOK_, &QPushButton::clicked, this, &FrmDebiteur::cmdOK_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmDebiteur::reject);
}

void FrmDebiteur::showEvent(QShowEvent* event) {
    if (!loadDone_) {
        loadDone_ = true;
        Form_Load();
        if (const QScreen* shown = screen())
            move(shown->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
    txtDebiteur_->setFocus();
    // Platforms without window activation (offscreen) still get an activation.
    QTimer::singleShot(0, this, &FrmDebiteur::Form_Activate);
}

void FrmDebiteur::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &FrmDebiteur::Form_Activate);
}

void FrmDebiteur::Form_Load() {
    loaded_ = false;
    QString error;
    if (IsBlank(strInput)) {
        change_ = false;
        if (!database_) return;
        const auto rows = database_->selectAll(error);
        if (!rows) {
            MsgBox::Warn(this, error);
            return;
        }
        setOpen_ = true;
        loaded_ = true;
        return;
    }
    change_ = true;
    const qsizetype slash = strInput.indexOf(u'/');
    if (slash < 0) return;
    strDebiteur_ = TrimSpaces(strInput.left(slash));
    strGebruiker_ = TrimSpaces(strInput.mid(slash + 1));
    if (!database_) return;
    const auto rows = database_->selectByNumberAndUser(strDebiteur_, strGebruiker_, error);
    if (!rows) {
        MsgBox::Warn(this, error);
        return;
    }
    if (rows->isEmpty()) return;
    row_ = rows->first();
    setOpen_ = true;
    loaded_ = true;
    txtDebiteur_->setText(row_->DebiteurenNummer);
    txtGebruiker_->setText(row_->Gebruiker);
    txtWachtwoord_->setText(row_->Wachtwoord);
}

void FrmDebiteur::Form_Activate() {
    if (!loaded_ && isVisible()) reject();
}

void FrmDebiteur::Form_Unload() {
    if (loaded_ && setOpen_) {
        setOpen_ = false;
        row_.reset();
    }
}

void FrmDebiteur::done(int result) {
    Form_Unload();
    QDialog::done(result);
}

bool FrmDebiteur::NumberTaken(const QString& number) {
    QString error;
    const auto rows = database_->selectByNumber(number, error);
    if (!rows) {
        MsgBox::Warn(this, error);
        return true;
    }
    if (rows->isEmpty()) return false;
    MsgBox::Warn(this, kDuplicateWarning);
    return true;
}

void FrmDebiteur::cmdOK_Click() {
    if (IsBlank(txtWachtwoord_->text()) || IsBlank(txtGebruiker_->text()) ||
        IsBlank(txtDebiteur_->text())) {
        MsgBox::Warn(this, kFillInWarning);
        return;
    }
    if (!database_ || !loaded_) return;
    const QString typed = txtDebiteur_->text();
    if (change_) {
        if (TrimSpaces(typed) != strDebiteur_ && NumberTaken(typed)) return;
    } else if (NumberTaken(typed)) {
        return;
    }

    Debiteur account = change_ ? *row_ : Debiteur();
    account.DebiteurenNummer = typed;
    account.Gebruiker = txtGebruiker_->text();
    account.Wachtwoord = txtWachtwoord_->text();
    QString error;
    const bool written =
        change_ ? database_->update(account, error) : database_->addNew(account, error);
    if (!written) {
        MsgBox::Warn(this, error);
        return;
    }
    accept();
}

}  // namespace kavelon
