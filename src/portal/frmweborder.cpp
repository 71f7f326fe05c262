#include "portal/frmweborder.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "core/browser.h"
#include "core/textutil.h"
#include "portal/weborders.h"
#include "ui/fonts.h"
#include "ui/keys.h"
#include "ui/msgbox.h"
#include "ui/placement.h"

namespace kavelon {

FrmWebOrder::FrmWebOrder(AccountStore* database, Browser* browser, QWidget* parent)
    : QDialog(parent), database_(database), browser_(browser) {
    setObjectName(QStringLiteral("frmWebOrder"));
    setWindowTitle(QStringLiteral("Selecteer debiteur"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(195, 150);
    UseDialogFont(this);
    UseFocusKeys(this);
    BuildControls();
    Form_Load();
}

FrmWebOrder::~FrmWebOrder() = default;

void FrmWebOrder::BuildControls() {
    Label1_ = Place<QLabel>(this, "Label1", 6, 6, 185, 37);
    Label1_->setText(
        QStringLiteral("Selecteer het debiteurennummer waarvan u de weborders wilt bekijken."));
    Label1_->setWordWrap(true);
    Label1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lstDebiteur_ = Place<QListWidget>(this, "lstDebiteur", 6, 39, 184, 82);
    lstDebiteur_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstDebiteur_->setSortingEnabled(false);
    cmdOK_ = PlainButton(this, "cmdOK", QStringLiteral("OK"), 45, 126, 70, 22);
    cmdCancel_ = PlainButton(this, "cmdCancel", QStringLiteral("Annuleren"), 120, 126, 70, 22);
    connect(cmdOK_, &QPushButton::clicked, this, &FrmWebOrder::cmdOK_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmWebOrder::reject);
    setTabOrder(cmdOK_, cmdCancel_);
    setTabOrder(cmdCancel_, lstDebiteur_);
    cmdOK_->setFocus();
}

// Lists every account; the values of the last one are remembered.
void FrmWebOrder::Form_Load() {
    intCount_ = 0;
    if (!database_) return;
    QString error;
    const std::optional<QList<Debiteur>> rows = database_->selectAll(error);
    if (!rows) {
        MsgBox::Warn(this, error);
        return;
    }
    for (const Debiteur& row : *rows) {
        strDebNr_ = row.DebiteurenNummer;
        strGebruiker_ = row.Gebruiker;
        strWachtwoord_ = row.Wachtwoord;
        lstDebiteur_->addItem(AccountEntry(row));
        listed_.append(row);
        ++intCount_;
    }
}

void FrmWebOrder::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* shown = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->availableGeometry().center());
        move(frame.topLeft());
    }
    // Platforms without window activation (offscreen) still get one.
    if (!activated_) QTimer::singleShot(0, this, &FrmWebOrder::Activated);
}

void FrmWebOrder::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activated_)
        QTimer::singleShot(0, this, &FrmWebOrder::Activated);
}

// With a single account there is nothing to choose.
void FrmWebOrder::Activated() {
    if (activated_ || !isVisible()) return;
    activated_ = true;
    if (intCount_ == 1) ShowWebOrders();
}

void FrmWebOrder::cmdOK_Click() {
    const QList<QListWidgetItem*> selected = lstDebiteur_->selectedItems();
    const QString entry = selected.isEmpty() ? QString() : selected.first()->text();
    if (IsBlank(entry)) {
        MsgBox::Warn(this, QStringLiteral("Selecteer een debiteurennummer"));
        return;
    }
    if (!TakeAccount(lstDebiteur_->row(selected.first()))) return;
    ShowWebOrders();
}

bool FrmWebOrder::TakeAccount(int row) {
    const std::optional<QString> number = NumberFromEntry(lstDebiteur_->item(row)->text());
    if (!number || !database_) return false;
    strDebNr_ = *number;
    QString error;
    const std::optional<QList<Debiteur>> rows = database_->selectByNumber(*number, error);
    if (!rows) {
        MsgBox::Warn(this, error);
        return false;
    }
    if (!rows->isEmpty()) {
        strGebruiker_ = rows->first().Gebruiker;
        strWachtwoord_ = rows->first().Wachtwoord;
        return true;
    }
    // A number with "/" in it is cut in its entry: the listed row itself is meant.
    const Debiteur& listed = listed_.at(row);
    strDebNr_ = listed.DebiteurenNummer;
    strGebruiker_ = listed.Gebruiker;
    strWachtwoord_ = listed.Wachtwoord;
    return true;
}

void FrmWebOrder::ShowWebOrders() {
    if (browser_)
        browser_->OpenInBrowser(DirectLoginAddress(strDebNr_, strGebruiker_, strWachtwoord_));
    accept();
}

}  // namespace kavelon
