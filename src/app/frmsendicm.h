#pragma once

#include <functional>

#include <QDialog>

#include "core/actionlock.h"
#include "core/progress.h"
#include "core/settings.h"
#include "messages/messagelist.h"

class QLabel;
class QPushButton;
class QTabBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kavelon {

class AccountStore;
class Browser;
class ProgressBox;

// What the main window runs and opens; the parts that come from other windows and from the
// portal are plugged in here, so the window is tested with the real core.
struct MainWindowParts {
    Settings* settings = nullptr;        // the ten settings in memory, shared by all windows
    Browser* browser = nullptr;          // the shared browser window
    AccountStore* database = nullptr;    // the open account database
    std::function<void()> openSettings;  // shows the settings window modally
    // The bodies of the send and the fetch action, run inside the action frame; the send
    // gets the names of the ticked rows in list order.
    std::function<void(const QStringList&, ProgressSink&, EventPump&)> verzenden;
    std::function<void(ProgressSink&, EventPump&)> ophalen;
    // Stores what answers kept by an interrupted or partly failed fetch still hold; run at
    // the start of the window when no action starts by itself.
    std::function<void(ProgressSink&, EventPump&)> bewaardeAntwoorden;
};

// The main window: three tabs of message lists and the progress view of an action.
class PortalClient;

// Runs the send and fetch bodies of the window through the portal client.
void AttachPortal(MainWindowParts& parts, PortalClient& client);

class FrmSendIcm : public QDialog, public EventPump {
    Q_OBJECT
  public:
    FrmSendIcm(MainWindowParts parts, const QStringList& arguments, QWidget* parent = nullptr);
    ~FrmSendIcm() override;

    static bool IsAutoArgument(const QStringList& arguments);

    bool FirstActivation = true;
    bool AutoMode = false;

    void GetIcmFiles();
    void GetIcbFiles();
    void GetVerzondenFiles();
    void tabDir_Click();
    void ShowIcmOrders();
    void SchrijfVoortgang(const QString& text, int colour, bool bold);
    void ProcessPendingEvents() override;

    MessageTab currentTab() const;
    bool actionRunning() const { return actionRunning_; }
    bool fillRunning() const { return fillsRunning_ > 0; }
    // The names of the ticked rows, in list order.
    QStringList tickedNames() const;
    ProgressBox* progressBox() const { return rtbVoortgang_; }
    // How long an action waits for another one in the same main directory to finish.
    void setLockWait(int milliseconds) { lockWaitMs_ = milliseconds; }

  signals:
    void actionFinished();
    // An unattended run has written its log: 0 no red line, 1 red lines, 2 no log written.
    void unattendedRunFinished(int exitStatus);

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

  private:
    void BuildControls();
    void BuildHeader();
    void BuildLists(QWidget* picture1);
    void BuildFooter();
    void Activated();
    void StoreKeptAnswers();
    void cmdActie_Click();
    void RunAction(bool send);
    void RunActionBody(bool send);
    void FinishUnattendedRun();
    bool FillList(MessageTab tab);
    void ShowRows(MessageTab tab, const Listing& listing);
    void ShowActionButton(MessageTab tab);
    void SetListButtons(bool enabled);
    void lstBerichten_ColumnClick(int column);
    void ApplySort();
    void SetAllTicks(bool ticked);
    void cmdRefresh_Click();
    void cmdDelete_Click();
    void cmdBekijken_Click();
    bool CheckTempDir();
    void SelectTab(MessageTab tab);

    MainWindowParts parts_;
    Settings& settings_;

    QLabel* picHeader_ = nullptr;
    QPushButton* cmdContact_ = nullptr;
    QPushButton* cmdActie_ = nullptr;
    QPushButton* cmdInstellingen_ = nullptr;
    QPushButton* cmdSluiten_ = nullptr;
    QTabBar* tabDir_ = nullptr;
    QWidget* picIcmTree_ = nullptr;
    QTreeWidget* lstBerichten_ = nullptr;
    QToolButton* cmdBekijken_ = nullptr;
    QToolButton* cmdSelect_ = nullptr;
    QToolButton* cmdDeselect_ = nullptr;
    QToolButton* cmdDelete_ = nullptr;
    QToolButton* cmdWebOrder_ = nullptr;
    QToolButton* cmdRefresh_ = nullptr;
    QLabel* lblMelding_ = nullptr;
    ProgressBox* rtbVoortgang_ = nullptr;
    QLabel* lblAdres2_ = nullptr;
    QLabel* lblNexaloom_ = nullptr;

    int sortColumn_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool sortEnabled_ = false;
    int fillGeneration_ = 0;
    int fillsRunning_ = 0;
    bool activationStarted_ = false;
    bool actionRunning_ = false;
    bool closePending_ = false;
    qint64 lastPump_ = 0;
    ActionLock lock_;
    int lockWaitMs_ = ActionLock::kWaitMilliseconds;
};

}  // namespace kavelon
