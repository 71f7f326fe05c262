#pragma once

#include <optional>

#include <QDialog>
#include <QString>

#include "accounts/accountstore.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kavelon {

// The account editor: adds an account or changes one, straight into the account
// store. The caller sets strInput, runs exec() and refills its own list afterwards.
class FrmDebiteur : public QDialog {
    Q_OBJECT
  public:
    explicit FrmDebiteur(AccountStore* database, QWidget* parent = nullptr);
    ~FrmDebiteur() override;

    // "" for a new account, or a settings list entry: number, " / ", user code.
    QString strInput;

    bool loaded() const { return loaded_; }
    bool changing() const { return change_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

  private:
    void BuildControls();
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void cmdOK_Click();
    // True when the number is stored already; a failing query is reported and counts as taken.
    bool NumberTaken(const QString& number);

    AccountStore* database_;
    // The window's result set: the row being changed (change) or the rows read (add).
    std::optional<Debiteur> row_;
    bool setOpen_ = false;
    bool change_ = false;
    bool loaded_ = false;
    bool loadDone_ = false;
    QString strDebiteur_;
    QString strGebruiker_;

    QLabel* lblDebiteur_ = nullptr;
    QLineEdit* txtDebiteur_ = nullptr;
    QLabel* lblGebruiker_ = nullptr;
    QLineEdit* txtGebruiker_ = nullptr;
    QLabel* lblWachtwoord_ = nullptr;
    QLineEdit* txtWachtwoord_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace kavelon
