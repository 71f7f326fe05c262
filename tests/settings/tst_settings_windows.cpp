#include <functional>
#include <memory>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "accounts/accountstore.h"
#include "app/frmsendicm.h"
#include "core/paths.h"
#include "core/settings.h"
#include "messagefiles.h"
#include "settings/frminit.h"
#include "settings/frmpathopen.h"
#include "ui/msgbox.h"
#include "unwritable.h"
#include "windowtest.h"

using namespace kavelon;

namespace {

const QString kNoDirectory =
    QStringLiteral("Voor het verzenden van ICM-orders moet een hoofddirectory opgegeven zijn!");
const QString kSelectToChange =
    QStringLiteral("Selecteer eerst het debiteurennummer dat u wilt wijzigen");
const QString kSelectToDelete =
    QStringLiteral("Selecteer eerst het debiteurennummer dat u wilt verwijderen");

// A system proxy source with fixed answers.
class FixedProxy : public SystemProxySource {
  public:
    FixedProxy(int enable, std::string server) : enable_(enable), server_(std::move(server)) {}
    int ProxyEnable() override { return enable_; }
    std::string ProxyServer() override { return server_; }

  private:
    int enable_;
    std::string server_;
};

// Runs act on the modal window with this name as soon as it is shown.
void WhenShown(const QString& name, std::function<void(QWidget&)> act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [name, act, tries, weak = std::weak_ptr<std::function<void()>>(poll)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == name && modal->isVisible()) {
            act(*modal);
            return;
        }
        if (++*tries > 500) qFatal("window %s was not shown", qPrintable(name));
        if (auto again = weak.lock()) QTimer::singleShot(10, *again);
    };
    // Keeps the poll alive until the test ends.
    static QList<std::shared_ptr<std::function<void()>>> keep;
    keep.append(poll);
    QTimer::singleShot(0, *poll);
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Creates dir and the folders named below it, and makes dir the current directory.
bool MakeCurrent(const QString& dir, const QStringList& below = {}) {
    for (const QString& folder : below)
        if (!QDir().mkpath(dir + '/' + folder)) return false;
    return QDir().mkpath(dir) && QDir::setCurrent(dir);
}

}  // namespace

class SettingsWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    // frmInit
    void layout();
    void openingShowsTheSettingsAndAccounts();
    void ruleR1AtOpening_data();
    void ruleR1AtOpening();
    void ruleR1OnClick_data();
    void ruleR1OnClick();
    void ruleR2_data();
    void ruleR2();
    void okWritesTheTenSettings();
    void directoryChange_data();
    void directoryChange();
    void blankDirectoryIsRefused_data();
    void blankDirectoryIsRefused();
    void cancelWritesNothing();
    void proxyOffWithExplorerTickIsStoredAndReopened();
    void changeAndDeleteNeedASelection();
    void deleteRemovesTheAccountWithoutAQuestion();
    void addReloadsTheListEvenAfterCancel();
    void addAndChangeThroughTheEditor();
    void failingAccountQueryIsReported();
    void failingDeleteIsReported();
    void browseButtonOpensThePicker();
    void changedDirectoryRefreshesTheMainWindow();
    void enterPressesOnlyTheFocusedButton();
    void textsLongerThanQtsDefaultLimitAreKept();

    // FrmPathOpen
    void pickerLayout();
    void pickerOpensAtTheCurrentDirectory();
    void pickerGivesTheOpenedNotTheHighlightedDirectory();
    void pickerDoubleClickOpens();
    void pickerRootIsNotDoubled();
    void pickerCancelLeavesTheField();
    void pickerVolumes();
    void pickerVolumeNotReady();
    void pickerEnterPressesOnlyTheFocusedButton();

  private:
    std::unique_ptr<FrmInit> open(std::function<void()> changed = {});
    // Opens the window with a callback that counts the directory changes it reports.
    std::unique_ptr<FrmInit> openCounting(int& changes) {
        return open([&changes] { ++changes; });
    }
    void addAccount(const QString& number, const QString& user);
    QStringList rows(FrmInit& w);
    QStringList storedNumbers();
    QString storeFile() const { return SettingsStore().fileName(); }
    QString stored(const QString& key) const {
        return QSettings(storeFile(), QSettings::IniFormat).value("Local/" + key).toString();
    }
    QCheckBox* check(QWidget& w, const char* name) { return Child<QCheckBox>(w, name); }
    QLineEdit* edit(QWidget& w, const char* name) { return Child<QLineEdit>(w, name); }
    void press(QWidget& w, const char* name) { Child<QPushButton>(w, name)->click(); }
    // The directory the picker shows as opened.
    QString shownDirectory(QWidget& picker) {
        return Child<QLabel>(picker, "lblDirectory")->text();
    }
    // Presses Openen on the picker and gives what it wrote into its field.
    QString openedInto(QWidget& picker, const QLineEdit& field) {
        press(picker, "cmdFileOpen");
        return field.text();
    }
    // The canonical path of the temporary folder.
    QString base() const { return QDir(files_->path()).canonicalPath(); }
    // Gives the control the focus and presses the key on it.
    void key(QWidget& w, const char* name, Qt::Key pressed) {
        QWidget* control = Child(w, name);
        control->setFocus();
        QTest::keyClick(control, pressed);
    }

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QTemporaryDir> files_;
    std::unique_ptr<AccountStore> store_;
    Settings settings_;
    int proxyEnable_ = 0;
    std::string proxyServer_;
    int proxyReads_ = 0;
    QString startDir_;
};

void SettingsWindowsTest::init() {
    home_ = std::make_unique<QTemporaryDir>();
    files_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid() && files_->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home_->path());
    store_ = std::make_unique<AccountStore>();
    QString error;
    QVERIFY2(store_->open(files_->filePath(kAccountFileName), error), qPrintable(error));
    settings_ = Settings();
    settings_.Directory = "/gegevens/rilvost/";
    settings_.ProxyAdres = "mem.proxy";
    settings_.ProxyPort = "3128";
    settings_.ProxyUser = "jan";
    settings_.ProxyToegang = "geheim";
    proxyEnable_ = 1;
    proxyServer_ = "sys.proxy:8080";
    proxyReads_ = 0;
    startDir_ = QDir::currentPath();
    MsgBox::setUnattended(true);
    MsgBox::clearShown();
}

void SettingsWindowsTest::cleanup() {
    QDir::setCurrent(startDir_);
    store_.reset();
    files_.reset();
    home_.reset();
}

std::unique_ptr<FrmInit> SettingsWindowsTest::open(std::function<void()> changed) {
    auto factory = [this]() -> std::unique_ptr<SystemProxySource> {
        ++proxyReads_;
        return std::make_unique<FixedProxy>(proxyEnable_, proxyServer_);
    };
    auto w = std::make_unique<FrmInit>(settings_, store_.get(), std::move(changed), factory);
    w->show();
    QCoreApplication::processEvents();
    return w;
}

void SettingsWindowsTest::addAccount(const QString& number, const QString& user) {
    Debiteur row{0, number, user, "pw"};
    QString error;
    QVERIFY2(store_->addNew(row, error), qPrintable(error));
}

QStringList SettingsWindowsTest::rows(FrmInit& w) {
    QStringList texts;
    auto* list = Child<QListWidget>(w, "lstDebiteur");
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

QStringList SettingsWindowsTest::storedNumbers() {
    QString error;
    QStringList numbers;
    const auto all = store_->selectAll(error);
    for (const Debiteur& row : all.value_or(QList<Debiteur>())) numbers << row.DebiteurenNummer;
    return numbers;
}

// ---- frmInit

void SettingsWindowsTest::layout() {
    auto w = open();
    QCOMPARE(w->objectName(), QString("frmInit"));
    QCOMPARE(w->windowTitle(), QString());
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(!(w->windowFlags() & Qt::WindowMinMaxButtonsHint));

    const struct {
        const char* name;
        const char* text;
    } texts[] = {
        {"lblToelichting",
         "Voor het kunnen verzenden van een ICM-order naar Rilvost dient u eerst uw "
         "inloggegevens en de ICM directory op te gegeven."},
        {"Label3", "Let op:"},
        {"lblLetOp",
         "In het veld Hoofddirectory dient u de volledige padnaam van de Rilvost hoofddirectory "
         "op te geven. Bijvoorbeeld C:\\Rilvost"},
        {"Label1", "Debiteursgegevens:"},
        {"lblDirectory", "Hoofddirectory:"},
        {"lblDirect", "ICM-orders direct verzenden"},
        {"Label4", "Internet verbinding controleren"},
        {"lblUseProxy", "Een proxyserver voor het LAN-netwerk gebruiken."},
        {"lblUseIeProxy", "Instellingen van Internet Explorer gebruiken."},
        {"lblProxyAdres", "Adres:"},
        {"lblProxyPoort", "Poort:"},
        {"lblProxyUsername", "Gebruiker:"},
        {"lblProxyPassword", "Wachtwoord:"},
    };
    for (const auto& t : texts) QCOMPARE(Child<QLabel>(*w, t.name)->text(), QString(t.text));
    QVERIFY(Child<QLabel>(*w, "Label3")->font().bold());

    const struct {
        const char* name;
        const char* heading;
        bool big;
    } groups[] = {{"Frame1", "Toelichting", true},
                  {"frmInstellingen", "Instellingen", true},
                  {"frameProxy", "Proxyserver", false}};
    for (const auto& g : groups) {
        auto* group = Child<QGroupBox>(*w, g.name);
        QCOMPARE(group->title(), QString(g.heading));
        if (g.big) {
            QCOMPARE(group->font().pointSize(), 12);
            QVERIFY(group->font().bold());
        }
    }
    QCOMPARE(Child<QLabel>(*w, "lblToelichting")->parentWidget()->objectName(), QString("Frame1"));
    QCOMPARE(Child<QLabel>(*w, "lblToelichting")->font().pointSize(), w->font().pointSize());
    QCOMPARE(edit(*w, "txtDirectory")->parentWidget()->objectName(), QString("frmInstellingen"));
    QCOMPARE(edit(*w, "txtProxyAdres")->parentWidget()->objectName(), QString("frameProxy"));

    const struct {
        const char* name;
        const char* text;
    } buttons[] = {{"cmdAdd", "Toevoegen"}, {"cmdUpdate", "Wijzigen"}, {"cmdDelete", "Verwijderen"},
                   {"cmdDir", "..."},       {"cmdOK", "OK"},           {"cmdCancel", "Annuleren"}};
    for (const auto& b : buttons) QCOMPARE(Child<QPushButton>(*w, b.name)->text(), QString(b.text));
    QCOMPARE(Child<QPushButton>(*w, "cmdDir")->toolTip(), QString("Bladeren"));

    for (const char* name : {"chkDirect", "chkOnline", "chkUseProxy", "chkUseIeProxy"})
        QCOMPARE(check(*w, name)->text(), QString());
    QCOMPARE(check(*w, "chkUseNtlm")->text(), QString("Gebruik ISA-Server / NTLM"));
    QCOMPARE(edit(*w, "txtProxyPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(edit(*w, "txtProxyUsername")->echoMode(), QLineEdit::Normal);
    QCOMPARE(Child<QListWidget>(*w, "lstDebiteur")->selectionMode(),
             QAbstractItemView::SingleSelection);

    settings_.ProxyUsed = true;  // every control enabled, so the whole chain is visited
    w = open();
    QCOMPARE(QApplication::focusWidget(), edit(*w, "txtDirectory"));
    QCOMPARE(TabChain(edit(*w, "txtDirectory")),
             QStringList({"txtDirectory", "chkDirect", "chkOnline", "chkUseProxy", "chkUseIeProxy",
                          "txtProxyAdres", "txtProxyPoort", "txtProxyUsername", "txtProxyPassword",
                          "cmdOK", "cmdCancel", "lstDebiteur", "cmdAdd", "cmdUpdate", "cmdDelete",
                          "chkUseNtlm", "cmdDir"}));
}

void SettingsWindowsTest::openingShowsTheSettingsAndAccounts() {
    addAccount("30", "x");
    addAccount("1001", "abc");
    addAccount("200", "");
    settings_.IcmDirect = true;
    settings_.OnlineCheck = false;
    settings_.ProxyExplorer = true;
    settings_.ProxyNtlm = true;
    auto w = open();
    QCOMPARE(rows(*w), QStringList({"1001 / abc", "200 / ", "30 / x"}));
    QCOMPARE(edit(*w, "txtDirectory")->text(), settings_.Directory);
    const std::pair<const char*, bool> ticks[] = {{"chkDirect", true},
                                                  {"chkOnline", false},
                                                  {"chkUseProxy", false},
                                                  {"chkUseIeProxy", true},
                                                  {"chkUseNtlm", true}};
    for (const auto& [name, ticked] : ticks) QCOMPARE(check(*w, name)->isChecked(), ticked);
    // Even with the explorer box ticked the fields show the stored values.
    const std::pair<const char*, const char*> fields[] = {{"txtProxyAdres", "mem.proxy"},
                                                          {"txtProxyPoort", "3128"},
                                                          {"txtProxyUsername", "jan"},
                                                          {"txtProxyPassword", "geheim"}};
    for (const auto& [name, text] : fields) QCOMPARE(edit(*w, name)->text(), QString(text));
    QCOMPARE(proxyReads_, 0);
    QCOMPARE(MsgBox::shownTexts(), QStringList());
}

namespace {

// The controls whose enabled state R1 and R2 set, in this order.
const char* const kProxyControls[] = {
    "chkUseProxy",      "lblUseProxy",      "chkUseIeProxy", "lblUseIeProxy",    "lblProxyAdres",
    "txtProxyAdres",    "lblProxyPoort",    "txtProxyPoort", "lblProxyUsername", "txtProxyUsername",
    "lblProxyPassword", "txtProxyPassword", "chkUseNtlm"};

// "1" for an enabled control, "0" for a disabled one, in the order of kProxyControls.
QString EnabledStates(QWidget& w) {
    QString states;
    for (const char* name : kProxyControls)
        states += Child<QWidget>(w, name)->isEnabled() ? u'1' : u'0';
    return states;
}

// What EnabledStates gives in each case, a box or label and its field a pair.
// clang-format off
//                                                    UsePrx IE   Adres Poort User Pass Ntlm
// The proxy off: only the two proxy boxes can be used.
const QString kProxyOff          = QStringLiteral("11"  "00" "00"  "00"  "00" "00" "0");
// The proxy on: every control.
const QString kProxyOn           = QStringLiteral("11"  "11" "11"  "11"  "11" "11" "1");
// Proxy on, explorer box ticked at opening: the Adres and Poort fields are off.
const QString kProxyFromExplorer = QStringLiteral("11"  "11" "10"  "10"  "11" "11" "1");
// The explorer box ticked by a click: the Adres and Poort fields and labels are off.
const QString kProxyFromSystem   = QStringLiteral("11"  "11" "00"  "00"  "11" "11" "1");
// clang-format on

// The columns of the R1 tests: the stored proxy ticks and the states that follow.
void AddProxyStateColumns() {
    QTest::addColumn<bool>("proxyUsed");
    QTest::addColumn<bool>("proxyExplorer");
    QTest::addColumn<QString>("states");
}

}  // namespace

void SettingsWindowsTest::ruleR1AtOpening_data() {
    AddProxyStateColumns();
    QTest::newRow("no proxy") << false << false << kProxyOff;
    QTest::newRow("no proxy, explorer ticked") << false << true << kProxyOff;
    QTest::newRow("proxy") << true << false << kProxyOn;
    QTest::newRow("proxy from explorer") << true << true << kProxyFromExplorer;
}

void SettingsWindowsTest::ruleR1AtOpening() {
    QFETCH(bool, proxyUsed);
    QFETCH(bool, proxyExplorer);
    QFETCH(QString, states);
    settings_.ProxyUsed = proxyUsed;
    settings_.ProxyExplorer = proxyExplorer;
    auto w = open();
    QCOMPARE(EnabledStates(*w), states);
    QCOMPARE(check(*w, "chkUseIeProxy")->isChecked(),
             proxyExplorer);  // a disabled box keeps its tick
    QCOMPARE(edit(*w, "txtProxyAdres")->text(), QString("mem.proxy"));
}

void SettingsWindowsTest::ruleR1OnClick_data() {
    AddProxyStateColumns();
    QTest::newRow("proxy switched off") << true << false << kProxyOff;
    QTest::newRow("proxy switched off, explorer ticked") << true << true << kProxyOff;
    QTest::newRow("proxy switched on") << false << false << kProxyOn;
    QTest::newRow("proxy switched on, explorer ticked") << false << true << kProxyFromExplorer;
}

void SettingsWindowsTest::ruleR1OnClick() {
    QFETCH(bool, proxyUsed);
    QFETCH(bool, proxyExplorer);
    QFETCH(QString, states);
    settings_.ProxyUsed = proxyUsed;
    settings_.ProxyExplorer = proxyExplorer;
    auto w = open();
    edit(*w, "txtProxyUsername")->setText("getypt");
    QTest::mouseClick(check(*w, "chkUseProxy"), Qt::LeftButton);
    QCOMPARE(check(*w, "chkUseProxy")->isChecked(), !proxyUsed);
    QCOMPARE(EnabledStates(*w), states);
    // No value changes.
    QCOMPARE(check(*w, "chkUseIeProxy")->isChecked(), proxyExplorer);
    QCOMPARE(edit(*w, "txtProxyAdres")->text(), QString("mem.proxy"));
    QCOMPARE(edit(*w, "txtProxyUsername")->text(), QString("getypt"));
    QCOMPARE(proxyReads_, 0);
}

void SettingsWindowsTest::ruleR2_data() {
    QTest::addColumn<int>("enable");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("adres");
    QTest::addColumn<QString>("poort");
    const auto row = [](const char* tag, int enable, const char* server, const char* adres,
                        const char* poort) {
        QTest::newRow(tag) << enable << QString(server) << QString(adres) << QString(poort);
    };
    row("system proxy on", 1, "sys.proxy:8080", "sys.proxy", "8080");
    row("any number but 0 is on", -7, "sys.proxy:8080", "sys.proxy", "8080");
    row("system proxy off", 0, "sys.proxy:8080", "", "");
    row("on without server", 1, "", "", "");
    row("host without port", 1, "sys.proxy", "sys.proxy", "");
    row("split at the first colon", 1, "http=a:1;https=b:2", "http=a", "1;https=b:2");
}

void SettingsWindowsTest::ruleR2() {
    QFETCH(int, enable);
    QFETCH(QString, server);
    QFETCH(QString, adres);
    QFETCH(QString, poort);
    proxyEnable_ = enable;
    proxyServer_ = server.toStdString();
    settings_.ProxyUsed = true;
    auto w = open();
    edit(*w, "txtProxyAdres")->setText("getypt.proxy");
    edit(*w, "txtProxyPoort")->setText("99");

    QTest::mouseClick(check(*w, "chkUseIeProxy"), Qt::LeftButton);
    QVERIFY(check(*w, "chkUseIeProxy")->isChecked());
    QCOMPARE(proxyReads_, 1);
    QCOMPARE(edit(*w, "txtProxyAdres")->text(), adres);
    QCOMPARE(edit(*w, "txtProxyPoort")->text(), poort);
    QCOMPARE(EnabledStates(*w), kProxyFromSystem);

    // Unticking brings back the values in memory, not those typed before.
    QTest::mouseClick(check(*w, "chkUseIeProxy"), Qt::LeftButton);
    QVERIFY(!check(*w, "chkUseIeProxy")->isChecked());
    QCOMPARE(proxyReads_, 1);
    QCOMPARE(edit(*w, "txtProxyAdres")->text(), QString("mem.proxy"));
    QCOMPARE(edit(*w, "txtProxyPoort")->text(), QString("3128"));
    QCOMPARE(EnabledStates(*w), kProxyOn);
}

void SettingsWindowsTest::okWritesTheTenSettings() {
    settings_.OnlineCheck = false;
    int changes = 0;
    auto w = openCounting(changes);
    edit(*w, "txtDirectory")->setText(files_->path());
    check(*w, "chkDirect")->click();
    check(*w, "chkOnline")->click();
    check(*w, "chkUseProxy")->click();
    edit(*w, "txtProxyAdres")->setText(" proxy.example.nl ");
    edit(*w, "txtProxyPoort")->setText("geen nummer");
    check(*w, "chkUseIeProxy")->click();  // the fields are now from the system
    edit(*w, "txtProxyUsername")->setText("Piet, de Boer");
    edit(*w, "txtProxyPassword")->setText("p=w;rd#1");
    check(*w, "chkUseNtlm")->click();
    check(*w, "chkUseProxy")->click();  // off again: disabled fields are saved all the same
    QVERIFY(!QFile::exists(storeFile()));

    press(*w, "cmdOK");
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Accepted));
    QCOMPARE(MsgBox::shownTexts(), QStringList());
    QVERIFY(QFile::exists(storeFile()));
    const std::pair<const char*, QString> values[] = {
        {"Directory", files_->path()}, {"IcmDirect", "1"},
        {"OnlineCheck", "1"},          {"ProxyUsed", "0"},
        {"ProxyExplorer", "1"},        {"ProxyAdres", "sys.proxy"},
        {"ProxyPort", "8080"},         {"ProxyUser", "Piet, de Boer"},
        {"ProxyToegang", "p=w;rd#1"},  {"ProxyNtlm", "1"}};
    for (const auto& [key, value] : values) QCOMPARE(stored(key), value);
    QCOMPARE(QSettings(storeFile(), QSettings::IniFormat).childGroups(), QStringList("Local"));
    QCOMPARE(QSettings(storeFile(), QSettings::IniFormat).allKeys().size(), 10);

    // Memory holds the same values; the changed directory got its separator and folders.
    QCOMPARE(settings_.Directory, files_->path() + kPathSep);
    QVERIFY(settings_.IcmDirect && settings_.OnlineCheck && !settings_.ProxyUsed &&
            settings_.ProxyExplorer && settings_.ProxyNtlm);
    QCOMPARE(settings_.ProxyAdres, QString("sys.proxy"));
    QCOMPARE(settings_.ProxyPort, QString("8080"));
    QCOMPARE(settings_.ProxyUser, QString("Piet, de Boer"));
    QCOMPARE(settings_.ProxyToegang, QString("p=w;rd#1"));
    QCOMPARE(changes, 1);
    for (const char* folder : {"icm", "icb", "temp", "verzonden", "logfiles"})
        QVERIFY2(QFileInfo(files_->filePath(folder)).isDir(), folder);
    QCOMPARE(ReadSettings(SettingsStore()).ProxyNtlm, true);
}

void SettingsWindowsTest::directoryChange_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("inMemory");
    const QString dir = "/gegevens/rilvost/";
    QTest::newRow("same directory") << dir << false << dir;
    QTest::newRow("letter case only") << "/Gegevens/rilvost/" << true << "/Gegevens/rilvost/";
    QTest::newRow("without the separator") << "/gegevens/rilvost" << true << dir;
    QTest::newRow("spaces around it") << " /gegevens/rilvost/ " << true << " /gegevens/rilvost/ /";
}

void SettingsWindowsTest::directoryChange() {
    QFETCH(QString, typed);
    QFETCH(bool, changed);
    QFETCH(QString, inMemory);
    int changes = 0;
    auto w = openCounting(changes);
    edit(*w, "txtDirectory")->setText(typed);
    press(*w, "cmdOK");
    QVERIFY(!w->isVisible());
    QCOMPARE(changes, changed ? 1 : 0);
    QCOMPARE(stored("Directory"), typed);  // stored exactly as typed
    QCOMPARE(settings_.Directory, inMemory);
}

void SettingsWindowsTest::blankDirectoryIsRefused_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << "";
    QTest::newRow("spaces only") << "   ";
}

void SettingsWindowsTest::blankDirectoryIsRefused() {
    QFETCH(QString, typed);
    int changes = 0;
    auto w = openCounting(changes);
    edit(*w, "txtDirectory")->setText(typed);
    check(*w, "chkDirect")->click();
    press(*w, "cmdOK");
    QCOMPARE(MsgBox::shownTexts(), QStringList(kNoDirectory));
    QVERIFY(w->isVisible());
    QVERIFY(!QFile::exists(storeFile()));
    QCOMPARE(settings_.Directory, QString("/gegevens/rilvost/"));
    QVERIFY(!settings_.IcmDirect);
    QCOMPARE(changes, 0);
}

void SettingsWindowsTest::cancelWritesNothing() {
    int changes = 0;
    const Settings before = settings_;
    for (bool closeBox : {false, true}) {
        auto w = openCounting(changes);
        edit(*w, "txtDirectory")->setText(files_->path());
        check(*w, "chkDirect")->click();
        check(*w, "chkUseProxy")->click();
        edit(*w, "txtProxyPoort")->setText("1");
        if (closeBox)
            w->close();
        else
            press(*w, "cmdCancel");
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
    }
    QVERIFY(!QFile::exists(storeFile()));
    QCOMPARE(changes, 0);
    QCOMPARE(settings_.Directory, before.Directory);
    QCOMPARE(settings_.IcmDirect, before.IcmDirect);
    QCOMPARE(settings_.ProxyUsed, before.ProxyUsed);
    QCOMPARE(settings_.ProxyPort, before.ProxyPort);
    QVERIFY(!QFileInfo::exists(files_->filePath("icm")));
}

void SettingsWindowsTest::proxyOffWithExplorerTickIsStoredAndReopened() {
    settings_.ProxyUsed = true;
    settings_.ProxyExplorer = true;
    auto w = open();
    check(*w, "chkUseProxy")->click();
    QVERIFY(check(*w, "chkUseIeProxy")->isChecked());
    QVERIFY(!check(*w, "chkUseIeProxy")->isEnabled());
    press(*w, "cmdOK");
    QCOMPARE(stored("ProxyUsed"), QString("0"));
    QCOMPARE(stored("ProxyExplorer"), QString("1"));
    settings_ = ReadSettings(SettingsStore());
    w = open();
    QCOMPARE(EnabledStates(*w), kProxyOff);
}

void SettingsWindowsTest::changeAndDeleteNeedASelection() {
    addAccount("1001", "abc");
    auto w = open();
    press(*w, "cmdUpdate");
    press(*w, "cmdDelete");
    QCOMPARE(MsgBox::shownTexts(), QStringList({kSelectToChange, kSelectToDelete}));
    QCOMPARE(rows(*w), QStringList("1001 / abc"));
    QCOMPARE(storedNumbers(), QStringList("1001"));
}

void SettingsWindowsTest::deleteRemovesTheAccountWithoutAQuestion() {
    addAccount("1001", "abc");
    addAccount("2002", "x/y");
    addAccount("3003", "def");
    auto w = open();
    auto* list = Child<QListWidget>(*w, "lstDebiteur");
    list->setCurrentRow(1);
    QCOMPARE(list->selectedItems().first()->text(), QString("2002 / x/y"));
    // The row is added to the table behind the window's back: the list is not reloaded.
    addAccount("4004", "ghi");
    press(*w, "cmdDelete");
    QCOMPARE(MsgBox::shownTexts(), QStringList());
    QCOMPARE(rows(*w), QStringList({"1001 / abc", "3003 / def"}));
    QCOMPARE(storedNumbers(), QStringList({"1001", "3003", "4004"}));
    press(*w, "cmdCancel");
    QCOMPARE(storedNumbers(),
             QStringList({"1001", "3003", "4004"}));  // Annuleren brings nothing back
}

void SettingsWindowsTest::addReloadsTheListEvenAfterCancel() {
    addAccount("1001", "abc");
    auto w = open();
    Child<QListWidget>(*w, "lstDebiteur")->setCurrentRow(0);
    addAccount("0999", "nieuw");
    bool editorEmpty = false;
    WhenShown("frmDebiteur", [&](QWidget& editor) {
        editorEmpty = edit(editor, "txtDebiteur")->text().isEmpty();
        press(editor, "cmdCancel");
    });
    press(*w, "cmdAdd");
    QVERIFY(editorEmpty);
    QCOMPARE(rows(*w), QStringList({"0999 / nieuw", "1001 / abc"}));
    QVERIFY(Child<QListWidget>(*w, "lstDebiteur")->selectedItems().isEmpty());
}

void SettingsWindowsTest::addAndChangeThroughTheEditor() {
    addAccount("1001", "abc");
    auto w = open();
    WhenShown("frmDebiteur", [&](QWidget& editor) {
        edit(editor, "txtDebiteur")->setText("2002");
        edit(editor, "txtGebruiker")->setText("def");
        edit(editor, "txtWachtwoord")->setText("pw2");
        press(editor, "cmdOK");
    });
    press(*w, "cmdAdd");
    QCOMPARE(rows(*w), QStringList({"1001 / abc", "2002 / def"}));

    Child<QListWidget>(*w, "lstDebiteur")->setCurrentRow(0);
    QString shownNumber;
    WhenShown("frmDebiteur", [&](QWidget& editor) {
        shownNumber = edit(editor, "txtDebiteur")->text();
        edit(editor, "txtGebruiker")->setText("abc/2");
        press(editor, "cmdOK");
    });
    press(*w, "cmdUpdate");
    QCOMPARE(shownNumber, QString("1001"));
    QCOMPARE(rows(*w), QStringList({"1001 / abc/2", "2002 / def"}));
    QCOMPARE(MsgBox::shownTexts(), QStringList());
}

void SettingsWindowsTest::failingAccountQueryIsReported() {
    AccountStore closed;  // never opened: its statements fail with the store's own text
    FrmInit w(settings_, &closed, {}, {});
    QCOMPARE(MsgBox::shownTexts(), QStringList("Het accountbestand is niet geopend."));
    QCOMPARE(Child<QListWidget>(w, "lstDebiteur")->count(), 0);
}

void SettingsWindowsTest::failingDeleteIsReported() {
    addAccount("1001", "abc");
    auto w = open();
    Child<QListWidget>(*w, "lstDebiteur")->setCurrentRow(0);
    // The store cannot write its journal beside the file: the delete statement fails.
    UnwritableFolder locked(files_->path());
    if (!locked.active()) QSKIP("this file system cannot refuse new entries");
    press(*w, "cmdDelete");
    QCOMPARE(MsgBox::shownTexts().size(), 1);
    QVERIFY2(
        MsgBox::shownTexts().first().startsWith("De opdracht op het accountbestand is mislukt"),
        qPrintable(MsgBox::shownTexts().first()));
    QCOMPARE(rows(*w), QStringList("1001 / abc"));  // the list still shows what the table holds
}

void SettingsWindowsTest::browseButtonOpensThePicker() {
    QVERIFY(MakeCurrent(files_->filePath("rilvost")));
    auto w = open();
    WhenShown("FrmPathOpen", [&](QWidget& picker) { press(picker, "cmdFileOpen"); });
    press(*w, "cmdDir");
    QCOMPARE(edit(*w, "txtDirectory")->text(),
             Native(QDir(files_->filePath("rilvost")).canonicalPath()) + kPathSep);
    QVERIFY(w->isVisible());
    QVERIFY(!QFile::exists(storeFile()));  // stored only on OK
}

void SettingsWindowsTest::changedDirectoryRefreshesTheMainWindow() {
    const QString oldDir = files_->filePath("oud") + kPathSep;
    const QString newDir = files_->filePath("nieuw");
    QVERIFY(QDir().mkpath(oldDir + "icm"));
    QVERIFY(QDir().mkpath(newDir));  // its working folders are created by OK
    settings_.Directory = oldDir;
    settings_.OnlineCheck = false;
    // Wired as the program does: "Instellingen" opens frmInit, which refreshes the main window.
    FrmSendIcm* mainWindow = nullptr;
    int refreshes = 0;
    MainWindowParts parts;
    parts.settings = &settings_;
    parts.database = store_.get();
    parts.openSettings = [this, &mainWindow, &refreshes] {
        FrmInit settingsWindow(
            settings_, store_.get(),
            [&] {
                ++refreshes;
                mainWindow->tabDir_Click();
            },
            [] { return std::make_unique<FixedProxy>(0, ""); }, mainWindow);
        settingsWindow.exec();
    };
    FrmSendIcm main(parts, {"kavelon"});
    mainWindow = &main;
    auto* list = Child<QTreeWidget>(main, "lstBerichten");
    QCOMPARE(list->topLevelItemCount(), 0);

    // OK with the same directory: no refresh.
    WhenShown("frmInit", [&](QWidget& w) { press(w, "cmdOK"); });
    press(main, "cmdInstellingen");
    QCOMPARE(refreshes, 0);

    WhenShown("frmInit", [&](QWidget& w) {
        edit(w, "txtDirectory")->setText(newDir);
        // An order that the new directory's icm folder holds by the time the list is read.
        QVERIFY(QDir().mkpath(newDir + "/icm"));
        QVERIFY(WriteMessageFile(newDir + "/icm/order1.icm", OrderLines("ref1", "1001")));
        press(w, "cmdOK");
    });
    press(main, "cmdInstellingen");
    QCOMPARE(refreshes, 1);
    QCOMPARE(settings_.Directory, newDir + kPathSep);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QString("order1.icm"));
    QVERIFY(QFileInfo(newDir + "/verzonden").isDir());
    QCOMPARE(ReadSettings(SettingsStore()).Directory, newDir);
}

// ---- FrmPathOpen

void SettingsWindowsTest::pickerLayout() {
    QLineEdit field;
    FrmPathOpen picker(&field);
    picker.show();
    QCOMPARE(picker.objectName(), QString("FrmPathOpen"));
    QCOMPARE(picker.windowTitle(), QString("Openen"));
    QCOMPARE(picker.minimumSize(), picker.maximumSize());
    QVERIFY(picker.windowFlags() & Qt::Tool);
    QCOMPARE(Child<QLabel>(picker, "Label4")->text(), QString("Directory:"));
    QVERIFY(Child<QLabel>(picker, "Label4")->font().bold());
    QCOMPARE(Child<QLabel>(picker, "Label3")->text(), QString("Drives:"));
    QCOMPARE(Child<QPushButton>(picker, "cmdFileOpen")->text(), QString("&Openen"));
    QCOMPARE(Child<QPushButton>(picker, "cmdFileCancel")->text(), QString("&Annuleren"));
    auto* dir1 = Child<QTreeWidget>(picker, "Dir1");
    QCOMPARE(TabChain(dir1), QStringList({"Dir1", "Drive1", "cmdFileOpen", "cmdFileCancel"}));
    QCOMPARE(picker.focusWidget(), dir1);
}

void SettingsWindowsTest::pickerOpensAtTheCurrentDirectory() {
    const QString a = base() + "/a";
    QVERIFY(MakeCurrent(a, {"b", "c"}));
    QLineEdit field;
    field.setText("/elders/");  // the picker does not start there
    FrmPathOpen picker(&field);
    QCOMPARE(shownDirectory(picker), Native(a));
    QCOMPARE(picker.path(), Native(a));
    // Dir1: the path from the top down to a, then a's subdirectories.
    auto* dir1 = Child<QTreeWidget>(picker, "Dir1");
    QTreeWidgetItem* current = dir1->currentItem();
    QVERIFY(current);
    QCOMPARE(current->text(0), QString("a"));
    QCOMPARE(current->childCount(), 2);
    QCOMPARE(current->child(0)->text(0), QString("b"));
    QCOMPARE(current->child(1)->text(0), QString("c"));
    QTreeWidgetItem* top = current;
    while (top->parent()) top = top->parent();
    QCOMPARE(top->text(0), Native(QDir::rootPath()));
    // Drive1 shows the volume of a.
    QCOMPARE(Child<QComboBox>(picker, "Drive1")->currentText(), Native(QStorageInfo(a).rootPath()));
    QCOMPARE(openedInto(picker, field), Native(a) + kPathSep);
}

void SettingsWindowsTest::pickerGivesTheOpenedNotTheHighlightedDirectory() {
    const QString a = base() + "/a";
    QVERIFY(MakeCurrent(a, {"b/d"}));
    QLineEdit field;
    {
        FrmPathOpen picker(&field);
        picker.show();
        auto* dir1 = Child<QTreeWidget>(picker, "Dir1");
        QTreeWidgetItem* b = dir1->currentItem()->child(0);
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, dir1->visualItemRect(b).center());
        QCOMPARE(dir1->currentItem(), b);  // highlighted, not opened
        QCOMPARE(shownDirectory(picker), Native(a));
        QCOMPARE(openedInto(picker, field), Native(a) + kPathSep);
    }
    {
        FrmPathOpen picker(&field);
        picker.show();
        auto* dir1 = Child<QTreeWidget>(picker, "Dir1");
        dir1->setFocus();
        dir1->setCurrentItem(dir1->currentItem()->child(0));
        QTest::keyClick(dir1, Qt::Key_Return);
        QVERIFY(picker.isVisible());  // Enter opens the entry, it does not press a button
        QCOMPARE(shownDirectory(picker), Native(a + "/b"));
        QCOMPARE(dir1->currentItem()->text(0), QString("b"));
        QCOMPARE(dir1->currentItem()->child(0)->text(0), QString("d"));
        // Enter on an entry above goes back up.
        dir1->setCurrentItem(dir1->currentItem()->parent());
        QTest::keyClick(dir1, Qt::Key_Enter);
        QCOMPARE(picker.path(), Native(a));
        dir1->setCurrentItem(dir1->currentItem()->child(0));
        QTest::keyClick(dir1, Qt::Key_Return);
        QCOMPARE(openedInto(picker, field), Native(a + "/b") + kPathSep);
    }
}

void SettingsWindowsTest::pickerDoubleClickOpens() {
    const QString a = base() + "/a";
    QVERIFY(MakeCurrent(a, {"met spatie"}));
    QLineEdit field;
    FrmPathOpen picker(&field);
    picker.show();
    auto* dir1 = Child<QTreeWidget>(picker, "Dir1");
    QTreeWidgetItem* sub = dir1->currentItem()->child(0);
    const QPoint at = dir1->visualItemRect(sub).center();
    // As a person double-clicks: a click, then the second press that makes it double.
    QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(shownDirectory(picker), Native(a));
    QTest::mouseDClick(dir1->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(shownDirectory(picker), Native(a + "/met spatie"));
    QCOMPARE(openedInto(picker, field), Native(a + "/met spatie") + kPathSep);
}

void SettingsWindowsTest::pickerRootIsNotDoubled() {
    QLineEdit field;
    FrmPathOpen picker(&field);
    QVERIFY(picker.setPath(QDir::rootPath()));
    QCOMPARE(shownDirectory(picker), Native(QDir::rootPath()));
    QCOMPARE(openedInto(picker, field), Native(QDir::rootPath()));
    QVERIFY(field.text().endsWith(kPathSep));
    QVERIFY(!field.text().endsWith(kPathSep + kPathSep));
}

void SettingsWindowsTest::pickerCancelLeavesTheField() {
    QVERIFY(MakeCurrent(files_->filePath("a"), {"b"}));
    QLineEdit field;
    field.setText(" zoals het was");
    FrmPathOpen picker(&field);
    picker.show();
    QVERIFY(picker.setPath(files_->filePath("a/b")));
    press(picker, "cmdFileCancel");
    QVERIFY(!picker.isVisible());
    QCOMPARE(field.text(), QString(" zoals het was"));
}

void SettingsWindowsTest::pickerVolumes() {
    const QStringList volumes = MountedVolumePaths();
    QVERIFY(!volumes.isEmpty());
    QCOMPARE(volumes.first(), QDir::rootPath());
    QCOMPARE(volumes.size(), QSet<QString>(volumes.begin(), volumes.end()).size());

    // A volume that can be read: Dir1 switches to it and Drive1 follows Dir1.
    QVERIFY(QDir().mkpath(base() + "/vol/x"));
    QVERIFY(MakeCurrent(base() + "/a"));
    QLineEdit field;
    FrmPathOpen picker(&field);
    picker.setVolumes({QDir::rootPath(), base() + "/vol"});
    auto* drive1 = Child<QComboBox>(picker, "Drive1");
    QCOMPARE(drive1->currentIndex(), 0);
    drive1->setCurrentIndex(1);
    QCOMPARE(picker.path(), Native(base() + "/vol"));
    QCOMPARE(shownDirectory(picker), Native(base() + "/vol"));
    QVERIFY(picker.setPath(base() + "/vol/x"));
    QCOMPARE(drive1->currentIndex(), 1);
    QVERIFY(picker.setPath(base() + "/a"));
    QCOMPARE(drive1->currentIndex(), 0);
    QCOMPARE(MsgBox::shownTexts(), QStringList());
}

void SettingsWindowsTest::pickerVolumeNotReady() {
    QVERIFY(MakeCurrent(base() + "/a"));
    QLineEdit field;
    FrmPathOpen picker(&field);
    picker.setVolumes({QDir::rootPath(), base() + "/weg"});  // a mount point that cannot be read
    auto* drive1 = Child<QComboBox>(picker, "Drive1");
    drive1->setCurrentIndex(1);
    QCOMPARE(MsgBox::shownTexts(),
             QStringList("Station " + Native(base() + "/weg") + " niet gereed"));
    QCOMPARE(drive1->currentIndex(), 0);
    QCOMPARE(picker.path(), Native(base() + "/a"));
    QCOMPARE(shownDirectory(picker), Native(base() + "/a"));
    QCOMPARE(openedInto(picker, field), Native(base() + "/a") + kPathSep);
}

void SettingsWindowsTest::enterPressesOnlyTheFocusedButton() {
    auto w = open();
    for (const char* name : {"txtDirectory", "chkDirect", "lstDebiteur"}) {
        key(*w, name, Qt::Key_Return);
        key(*w, name, Qt::Key_Escape);
    }
    key(*w, "cmdOK", Qt::Key_Escape);
    QVERIFY(w->isVisible());
    QVERIFY(!QFile::exists(storeFile()));

    bool editorShown = false;
    WhenShown("frmDebiteur", [&](QWidget& editor) {
        editorShown = true;
        key(editor, "cmdCancel", Qt::Key_Return);
    });
    key(*w, "cmdAdd", Qt::Key_Return);
    QVERIFY(editorShown);
    QVERIFY(w->isVisible());

    key(*w, "cmdOK", Qt::Key_Enter);
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Accepted));
    QCOMPARE(stored("Directory"), settings_.Directory);

    auto again = open();
    key(*again, "cmdCancel", Qt::Key_Return);
    QVERIFY(!again->isVisible());
    QCOMPARE(again->result(), int(QDialog::Rejected));
}

void SettingsWindowsTest::textsLongerThanQtsDefaultLimitAreKept() {
    settings_.Directory = "/" + QString(40000, u'd') + "/";
    auto w = open();
    const QString adres = QString(33000, u'a');
    const QString user = QString(50000, u'u');
    const QString password = QString(45000, u'p') + u'!';
    edit(*w, "txtProxyAdres")->setText(adres);
    edit(*w, "txtProxyUsername")->setText(user);
    edit(*w, "txtProxyPassword")->setText(password);
    press(*w, "cmdOK");
    QCOMPARE(w->result(), int(QDialog::Accepted));

    const Settings read = ReadSettings(SettingsStore());
    QCOMPARE(read.Directory.size(), 40002);
    QVERIFY(read.Directory == settings_.Directory);
    QCOMPARE(read.ProxyAdres.size(), adres.size());
    QVERIFY(read.ProxyAdres == adres && settings_.ProxyAdres == adres);
    QVERIFY(read.ProxyUser == user && settings_.ProxyUser == user);
    QVERIFY(read.ProxyToegang == password && settings_.ProxyToegang == password);
}

void SettingsWindowsTest::pickerEnterPressesOnlyTheFocusedButton() {
    QVERIFY(QDir::setCurrent(base()));
    QLineEdit field;
    field.setText("zoals het was");
    {
        FrmPathOpen picker(&field);
        picker.show();
        key(picker, "Drive1", Qt::Key_Return);
        key(picker, "Drive1", Qt::Key_Escape);
        key(picker, "cmdFileOpen", Qt::Key_Escape);
        QVERIFY(picker.isVisible());
        key(picker, "cmdFileCancel", Qt::Key_Return);
        QVERIFY(!picker.isVisible());
        QCOMPARE(field.text(), QString("zoals het was"));
    }
    FrmPathOpen picker(&field);
    picker.show();
    key(picker, "cmdFileOpen", Qt::Key_Enter);
    QVERIFY(!picker.isVisible());
    QCOMPARE(field.text(), Native(base()) + kPathSep);
}

QTEST_MAIN(SettingsWindowsTest)
#include "tst_settings_windows.moc"
