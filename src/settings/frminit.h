#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QString>

#include "core/settings.h"
#include "settings/systemproxy.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kavelon {

class AccountStore;

// Makes the system proxy source that rule R2 reads when chkUseIeProxy is ticked.
using SystemProxyFactory = std::function<std::unique_ptr<SystemProxySource>()>;

// The source of this system. Inline, so that only a caller that uses it needs
// systemproxy.cpp.
inline SystemProxyFactory DefaultSystemProxyFactory() {
    return [] { return MakeSystemProxySource(); };
}

// The settings window, shown modally from the main window. It edits the ten
// settings in memory, writes them to the settings store on "OK" and maintains the accounts
// through the account editor. After "OK" with a changed main directory it creates the working
// folders and runs directoryChanged (the main window's tabDir_Click).
class FrmInit : public QDialog {
    Q_OBJECT
  public:
    FrmInit(Settings& settings, AccountStore* database, std::function<void()> directoryChanged,
            SystemProxyFactory systemProxy = DefaultSystemProxyFactory(),
            QWidget* parent = nullptr);
    ~FrmInit() override;

    void FillDebiteur();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    void BuildToelichting();
    void BuildInstellingen();
    void BuildProxy();
    void Form_Load();
    void ApplyR1();
    void chkUseIeProxy_Click();
    QString SelectedRowText() const;
    void cmdAdd_Click();
    void cmdUpdate_Click();
    void cmdDelete_Click();
    void cmdDir_Click();
    void cmdOK_Click();
    void EditAccount(const QString& input);

    Settings& settings_;
    AccountStore* database_;
    std::function<void()> directoryChanged_;
    SystemProxyFactory systemProxy_;
    bool centred_ = false;

    QGroupBox* Frame1_ = nullptr;
    QLabel* lblToelichting_ = nullptr;
    QLabel* Label3_ = nullptr;
    QLabel* lblLetOp_ = nullptr;

    QGroupBox* frmInstellingen_ = nullptr;
    QLabel* Label1_ = nullptr;
    QListWidget* lstDebiteur_ = nullptr;
    QPushButton* cmdAdd_ = nullptr;
    QPushButton* cmdUpdate_ = nullptr;
    QPushButton* cmdDelete_ = nullptr;
    QLabel* lblDirectory_ = nullptr;
    QLineEdit* txtDirectory_ = nullptr;
    QPushButton* cmdDir_ = nullptr;
    QCheckBox* chkDirect_ = nullptr;
    QLabel* lblDirect_ = nullptr;
    QCheckBox* chkOnline_ = nullptr;
    QLabel* Label4_ = nullptr;

    QGroupBox* frameProxy_ = nullptr;
    QCheckBox* chkUseProxy_ = nullptr;
    QLabel* lblUseProxy_ = nullptr;
    QCheckBox* chkUseIeProxy_ = nullptr;
    QLabel* lblUseIeProxy_ = nullptr;
    QLabel* lblProxyAdres_ = nullptr;
    QLineEdit* txtProxyAdres_ = nullptr;
    QLabel* lblProxyPoort_ = nullptr;
    QLineEdit* txtProxyPoort_ = nullptr;
    QLabel* lblProxyUsername_ = nullptr;
    QLineEdit* txtProxyUsername_ = nullptr;
    QLabel* lblProxyPassword_ = nullptr;
    QLineEdit* txtProxyPassword_ = nullptr;
    QCheckBox* chkUseNtlm_ = nullptr;

    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace kavelon
