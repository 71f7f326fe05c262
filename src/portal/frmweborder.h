#pragma once

#include <QDialog>
#include <QList>

#include "accounts/accountstore.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace kavelon {

class Browser;

// "Selecteer debiteur": picks the account whose online order history opens in the shared
// browser window, signed in. With exactly one account it opens that one at once.
class FrmWebOrder : public QDialog {
    Q_OBJECT
  public:
    FrmWebOrder(AccountStore* database, Browser* browser, QWidget* parent = nullptr);
    ~FrmWebOrder() override;

    // Opens the order history of the remembered account and closes the window.
    void ShowWebOrders();
    // How many accounts the list holds.
    qint16 count() const { return intCount_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildControls();
    void Form_Load();
    void Activated();
    void cmdOK_Click();
    // Remembers the account of the entry in this row, looked up by its number.
    bool TakeAccount(int row);

    AccountStore* database_;
    Browser* browser_;
    QString strDebNr_;
    QString strGebruiker_;
    QString strWachtwoord_;
    qint16 intCount_ = 0;
    QList<Debiteur> listed_;  // the accounts in list order
    bool activated_ = false;

    QLabel* Label1_ = nullptr;
    QListWidget* lstDebiteur_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace kavelon
