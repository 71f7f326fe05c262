#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <signal.h>

#include <memory>

#include "accounts/accountstore.h"
#include "app/frmsendicm.h"
#include "core/browser.h"
#include "portal/frmweborder.h"
#include "portal/weborders.h"
#include "ui/msgbox.h"
#include "windowtest.h"

using namespace kavelon;

// The order history window and the main window's web buttons with a real account file and
// the real kavelon-browser on a socket of its own, whose windows report their addresses.
class WebOrderTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signInAddress_data();
    void signInAddress();
    void listsAccountsAndWaits();
    void okWithoutChoiceWarns_data();
    void okWithoutChoiceWarns();
    void chosenAccountOpens_data();
    void chosenAccountOpens();
    void mainWindowOpensPages();
    void oneAccountSignsInAtPortal();

  private:
    void AddAccounts(const QList<QStringList>& accounts);
    QList<BrowserWindowState> Windows();
    BrowserWindowState Shared();

    QTemporaryDir dir_;
    int run_ = 0;
    std::unique_ptr<AccountStore> store_;
    std::unique_ptr<CompanionBrowser> browser_;
    QStringList fallbackCalls_;
    QList<qint64> pids_;
};

namespace {

// Nothing listens here: pages fail at once, but every window still reports its address.
const QString kPortal = QStringLiteral("https://127.0.0.1:9");

bool ProcessGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) == 'Z';
}

QUrl SignInUrl(const QString& query) {
    return BrowserUrl(kPortal + QStringLiteral("/nl/authenticate/directlogin.aspx?") + query +
                      QStringLiteral("&returnurl=/orderstatus"));
}

// The widget that Tab moves to from this one.
QWidget* NextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    return next;
}

}  // namespace

void WebOrderTest::initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("KAVELON_SITE_URL", "https://www.example.nl/");
    qputenv("KAVELON_MAKER_URL", "https://maker.example.nl");
}

void WebOrderTest::init() {
    qputenv("KAVELON_PORTAL_URL", kPortal.toUtf8());
    store_ = std::make_unique<AccountStore>();
    QString error;
    QVERIFY2(store_->open(dir_.filePath(QStringLiteral("run%1.kvd").arg(++run_)), error),
             qPrintable(error));
    fallbackCalls_.clear();
    browser_ = std::make_unique<CompanionBrowser>([this](const QString& url) {
        fallbackCalls_.append(url);
        return true;
    });
    browser_->setProgram(QStringLiteral(KAVELON_BROWSER_PATH));
    browser_->setSocketName(dir_.filePath(QStringLiteral("socket-%1").arg(run_)));
    MsgBox::clearShown();
}

void WebOrderTest::cleanup() {
    Windows();  // remembers the running companion
    browser_->Quit();
    for (const qint64 pid : std::as_const(pids_))
        if (!QTest::qWaitFor([pid] { return ProcessGone(pid); }, 10000))
            ::kill(pid_t(pid), SIGKILL);
    pids_.clear();
    store_.reset();
    QVERIFY(fallbackCalls_.isEmpty());  // every page went to the companion
}

void WebOrderTest::AddAccounts(const QList<QStringList>& accounts) {
    for (const QStringList& values : accounts) {
        Debiteur account{0, values.at(0), values.at(1), values.at(2)};
        QString error;
        QVERIFY2(store_->addNew(account, error), qPrintable(error));
    }
}

QList<BrowserWindowState> WebOrderTest::Windows() {
    const std::optional<CompanionStatus> status = browser_->Status();
    if (!status) return {};
    if (!pids_.contains(status->pid)) pids_.append(status->pid);
    return status->windows;
}

BrowserWindowState WebOrderTest::Shared() {
    for (const BrowserWindowState& window : Windows())
        if (window.shared) return window;
    return {};
}

void WebOrderTest::signInAddress_data() {
    QTest::addColumn<QStringList>("account");
    QTest::addColumn<QString>("query");
    QTest::newRow("plain") << QStringList{"100-200", "demo", "demo"}
                           << "customerid=100-200&username=demo&pwd=demo";
    QTest::newRow("ampersand and plus") << QStringList{"300400", "winkel", "p&ss+w0rd"}
                                        << "customerid=300400&username=winkel&pwd=p%26ss%2Bw0rd";
    QTest::newRow("query signs") << QStringList{"12?3", "a=b", "x#y z%"}
                                 << "customerid=12%3F3&username=a%3Db&pwd=x%23y%20z%25";
    QTest::newRow("accents, euro, tab")
        << QStringList{"1", "jöns", "€\t1"} << "customerid=1&username=j%F6ns&pwd=%80%091";
    QTest::newRow("other signs unchanged")
        << QStringList{"12/34", "user.name@shop", "!$'()*,/:;~"}
        << "customerid=12/34&username=user.name@shop&pwd=!$'()*,/:;~";
    QTest::newRow("empty") << QStringList{"", "", ""} << "customerid=&username=&pwd=";
}

void WebOrderTest::signInAddress() {
    QFETCH(QStringList, account);
    QFETCH(QString, query);
    qputenv("KAVELON_PORTAL_URL", "https://portal.example.nl:8443/");
    QCOMPARE(DirectLoginAddress(account.at(0), account.at(1), account.at(2)),
             "https://portal.example.nl:8443/nl/authenticate/directlogin.aspx?" + query +
                 "&returnurl=/orderstatus");
}

void WebOrderTest::listsAccountsAndWaits() {
    AddAccounts({{"300400", "winkel", "p&ss+w0rd"}, {"100-200", "demo", "demo"}});
    FrmWebOrder form(store_.get(), browser_.get());
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Selecteer debiteur"));
    QCOMPARE(form.size(), QSize(195, 150));
    QCOMPARE(Child(form, "lstDebiteur")->geometry(), QRect(6, 39, 184, 82));
    QCOMPARE(Child(form, "cmdOK")->geometry(), QRect(45, 126, 70, 22));
    auto* list = Child<QListWidget>(form, "lstDebiteur");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), QStringLiteral("300400 / winkel"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("100-200 / demo"));
    QVERIFY(list->selectedItems().isEmpty());

    // Tab order cmdOK, cmdCancel, lstDebiteur; no default or cancel button.
    QCOMPARE(form.focusWidget(), Child(form, "cmdOK"));
    QCOMPARE(NextTabStop(Child(form, "cmdOK")), Child(form, "cmdCancel"));
    QCOMPARE(NextTabStop(Child(form, "cmdCancel")), list);
    QCOMPARE(NextTabStop(list), Child(form, "cmdOK"));
    QVERIFY(QTest::qWaitForWindowActive(&form));
    list->setFocus();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_Escape);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->item(1)).center());
    QCoreApplication::processEvents();
    QVERIFY(form.isVisible());

    Child<QPushButton>(form, "cmdCancel")->click();
    QVERIFY(!form.isVisible());
    QVERIFY(!browser_->Status());
}

void WebOrderTest::okWithoutChoiceWarns_data() {
    QTest::addColumn<int>("accounts");
    QTest::newRow("no account") << 0;
    QTest::newRow("several, none chosen") << 3;
}

void WebOrderTest::okWithoutChoiceWarns() {
    QFETCH(int, accounts);
    for (int i = 0; i < accounts; ++i) AddAccounts({{QString::number(i), "u", "p"}});
    FrmWebOrder form(store_.get(), browser_.get());
    form.show();
    MsgBox::setNextAnswer(QMessageBox::Ok);
    Child<QPushButton>(form, "cmdOK")->click();
    QCOMPARE(MsgBox::shownTexts(), QStringList{"Selecteer een debiteurennummer"});
    QVERIFY(form.isVisible());
    QVERIFY(!browser_->Status());
}

void WebOrderTest::chosenAccountOpens_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("query");
    QTest::newRow("second account") << 1 << "customerid=300400&username=winkel&pwd=p%26ss%2Bw0rd";
    QTest::newRow("user code with slash") << 2 << "customerid=500&username=bak%20/%20ker&pwd=x%23y";
    // The entry is cut at the number's own "/": the listed account is taken.
    QTest::newRow("number with slash") << 3 << "customerid=7/8&username=z&pwd=q";
}

void WebOrderTest::chosenAccountOpens() {
    QFETCH(int, row);
    QFETCH(QString, query);
    AddAccounts({{"100-200", "demo", "demo"},
                 {"300400", "winkel", "p&ss+w0rd"},
                 {"500", "bak / ker", "x#y"},
                 {"7/8", "z", "q"}});
    FrmWebOrder form(store_.get(), browser_.get());
    form.show();
    Child<QListWidget>(form, "lstDebiteur")->setCurrentRow(row);
    QTest::keyClick(Child(form, "cmdOK"), Qt::Key_Return);  // Enter presses the focused button
    QVERIFY(!form.isVisible());
    QCOMPARE(Windows().size(), 1);
    QCOMPARE(Shared().requested, SignInUrl(query));
}

void WebOrderTest::mainWindowOpensPages() {
    AddAccounts({{"100-200", "demo", "de mo"}});
    QTemporaryDir root;
    Settings settings;
    settings.Directory = root.path();
    settings.OnlineCheck = false;
    MainWindowParts parts;
    parts.settings = &settings;
    parts.browser = browser_.get();
    parts.database = store_.get();
    FrmSendIcm window(parts, {QStringLiteral("kavelon")});
    window.show();

    // The modal choice window closes by itself with its one account.
    bool returned = false;
    QTimer::singleShot(0, this, [&] {
        Child<QToolButton>(window, "cmdWebOrder")->click();
        returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 30000);
    const QUrl signIn = SignInUrl("customerid=100-200&username=demo&pwd=de%20mo");
    QCOMPARE(Shared().requested, signIn);

    // Each press opens one more window of its own; the shared one keeps its page.
    Child<QPushButton>(window, "cmdContact")->click();
    Child<QPushButton>(window, "cmdContact")->click();
    QTest::mouseClick(Child(window, "lblNexaloom"), Qt::LeftButton);
    const QList<BrowserWindowState> windows = Windows();
    QCOMPARE(windows.size(), 4);
    QCOMPARE(windows.at(1).requested, QUrl("https://www.example.nl/contact"));
    QCOMPARE(windows.at(2).requested, QUrl("https://www.example.nl/contact"));
    QCOMPARE(windows.at(3).requested, QUrl("https://maker.example.nl"));
    QCOMPARE(Shared().requested, signIn);
}

void WebOrderTest::oneAccountSignsInAtPortal() {
    QTemporaryDir state;
    QProcess portal;
    portal.start(QStringLiteral(KAVELON_PORTAL_PROGRAM),
                 {"--port", "0", "--state", state.path(), "--idle-exit-ms", "120000"});
    QVERIFY(portal.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += portal.readAllStandardOutput()).count('\n') >= 3, 60000);
    const QByteArray url = out.split('\n').at(0).mid(qstrlen("KAVELON_PORTAL_URL="));
    QVERIFY(url.startsWith("https://127.0.0.1:"));
    qputenv("KAVELON_PORTAL_URL", url);

    // One of the sandbox's own accounts, with signs that the address must carry intact.
    AddAccounts({{"300400", "winkel", "p&ss+w0rd"}});
    FrmWebOrder form(store_.get(), browser_.get());
    form.show();
    QTRY_VERIFY(!form.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Orderstatus 300400"), 60000);
    QCOMPARE(Shared().url.path(), QStringLiteral("/orderstatus"));
    portal.terminate();
    QVERIFY(portal.waitForFinished(30000));
}

QTEST_MAIN(WebOrderTest)
#include "tst_portal_weborder.moc"
