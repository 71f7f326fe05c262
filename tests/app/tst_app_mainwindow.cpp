#include <QHeaderView>
#include <QLabel>
#include <QLockFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

#include "app/frmsendicm.h"
#include "app/progressbox.h"
#include "core/browser.h"
#include "core/paths.h"
#include "messagefiles.h"
#include "ui/msgbox.h"
#include "windowtest.h"

using namespace kavelon;

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowLayoutAndTitle();
    void autoArgument_data();
    void autoArgument();
    void startupListsPendingOrders();
    void startupTicksAndSendsWithDirectSending();
    void entriesThatAreNoOrdersAreRedRowsWithoutTicks();
    void tabsShowTheirColumnsAndTexts();
    void emptyAndBlankDirectories();
    void wrongMainDirectoryWarnsOnEveryFill();
    void sortingTogglesOneSharedDirection();
    void tickAllAndUntickAll();
    void deleteAsksFirst();
    void actionFrameStates();
    void failedFolderCheckSkipsTheBody();
    void busyMainDirectorySkipsTheBody();
    void tempThatCannotHoldTheLockStillRunsTheActions();
    void nothingActsOnTheOldRowsDuringAFill();
    void escapeDoesNotCloseTheWindow();
    void makerSiteOpensOverPlainHttp();
    void closeWaitsForTheRunningAction();
    void unattendedRunWritesItsLog();
    void progressBoxShowsMarkupAsText();
    void viewWritesThePageOfTheHighlightedMessage_data();
    void viewWritesThePageOfTheHighlightedMessage();
    void viewNeedsAHighlightedRow();

  private:
    std::unique_ptr<FrmSendIcm> open(const QStringList& arguments = {"kavelon"});
    template <typename T>
    T* control(FrmSendIcm& window, const char* name) {
        return Child<T>(window, name);
    }
    QTreeWidget* list(FrmSendIcm& window) { return control<QTreeWidget>(window, "lstBerichten"); }
    QStringList column(FrmSendIcm& window, int index);
    void addOrder(const QString& folder, const QString& name, const QString& ref,
                  const QString& debNr);

    std::unique_ptr<QTemporaryDir> root_;
    QString main_;
    Settings settings_;
    QTemporaryDir runtime_;     // this user's runtime folder during the test
    QList<QStringList> sends_;  // the ticked names each send body saw
    int fetches_ = 0;
};

void MainWindowTest::initTestCase() {
    QVERIFY(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
}

void MainWindowTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    main_ = root_->path() + kPathSep;
    QVERIFY(QDir(main_).mkdir("icm"));
    settings_ = Settings();
    settings_.Directory = root_->path();
    settings_.OnlineCheck = false;
    sends_.clear();
    fetches_ = 0;
    MsgBox::clearShown();
    MsgBox::setUnattended(false);
}

void MainWindowTest::cleanup() {
    MsgBox::setUnattended(false);
}

std::unique_ptr<FrmSendIcm> MainWindowTest::open(const QStringList& arguments) {
    MainWindowParts parts;
    parts.settings = &settings_;
    parts.verzenden = [this](const QStringList& ticked, ProgressSink& progress, EventPump&) {
        sends_.append(ticked);
        progress.SchrijfVoortgang("verzonden", kBlauw, false);
    };
    parts.ophalen = [this](ProgressSink&, EventPump&) { ++fetches_; };
    auto created = std::make_unique<FrmSendIcm>(parts, arguments);
    return created;
}

QStringList MainWindowTest::column(FrmSendIcm& window, int index) {
    QStringList cells;
    QTreeWidget* l = list(window);
    for (int i = 0; i < l->topLevelItemCount(); ++i) cells.append(l->topLevelItem(i)->text(index));
    return cells;
}

void MainWindowTest::addOrder(const QString& folder, const QString& name, const QString& ref,
                              const QString& debNr) {
    QDir().mkpath(main_ + folder);
    QVERIFY(WriteMessageFile(main_ + folder + "/" + name, OrderLines(ref, debNr)));
}

void MainWindowTest::windowLayoutAndTitle() {
    auto w = open();
    QCOMPARE(
        w->windowTitle(),
        QString("Kavelon (versie %1.%2)").arg(KAVELON_VERSION_MAJOR).arg(KAVELON_VERSION_MINOR));
    QCOMPARE(w->size(), QSize(536, 496));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    const struct {
        const char* name;
        QRect geometry;
    } expected[] = {
        {"picHeader", {0, 8, 535, 117}},    {"cmdContact", {17, 77, 51, 23}},
        {"cmdActie", {263, 77, 87, 23}},    {"cmdInstellingen", {351, 77, 87, 23}},
        {"cmdSluiten", {439, 77, 87, 23}},  {"Picture1", {0, 121, 535, 341}},
        {"tabDir", {0, 0, 537, 30}},        {"picIcmTree", {0, 30, 535, 315}},
        {"lstBerichten", {0, 3, 529, 275}}, {"cmdBekijken", {2, 280, 24, 25}},
        {"cmdSelect", {26, 280, 24, 25}},   {"cmdDeselect", {50, 280, 24, 25}},
        {"cmdDelete", {74, 280, 24, 25}},   {"cmdWebOrder", {98, 280, 24, 25}},
        {"cmdRefresh", {122, 280, 24, 25}}, {"lblMelding", {158, 284, 368, 25}},
        {"rtbVoortgang", {6, 0, 525, 299}}, {"Picture2", {0, 468, 535, 27}},
        {"lblAdres2", {8, 4, 179, 13}},     {"lblNexaloom", {417, 4, 105, 13}},
    };
    for (const auto& e : expected) QCOMPARE(control<QWidget>(*w, e.name)->geometry(), e.geometry);
    QCOMPARE(control<QPushButton>(*w, "cmdContact")->parentWidget()->objectName(),
             QString("picHeader"));
    QCOMPARE(control<QToolButton>(*w, "cmdDelete")->toolTip(),
             QString("Geselecteerde berichten verwijderen"));
    QVERIFY(!control<QToolButton>(*w, "cmdRefresh")->icon().isNull());
    QVERIFY(control<QLabel>(*w, "lblAdres2")->text().startsWith("e-mail: "));
    QCOMPARE(control<QLabel>(*w, "lblNexaloom")->text(), QString("Powered by Nexaloom"));
    QTabBar* tabs = control<QTabBar>(*w, "tabDir");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(1), QString("Orderbevestigingen"));
    QVERIFY(!control<QWidget>(*w, "rtbVoortgang")->isVisibleTo(w.get()));

    // KAVELON_SCREENSHOT=file.png keeps a picture of the window to hold against the layout.
    if (qEnvironmentVariableIsSet("KAVELON_SCREENSHOT")) {
        addOrder("icm", "order 1.icm", "Bestelling week 49", "100200");
        control<QToolButton>(*w, "cmdRefresh")->click();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->grab().save(qEnvironmentVariable("KAVELON_SCREENSHOT")));
    }
}

void MainWindowTest::autoArgument_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("unattended");
    QTest::newRow("lower case") << QStringList{"kavelon", "auto"} << true;
    QTest::newRow("any case") << QStringList{"kavelon", "AuTo"} << true;
    QTest::newRow("no argument") << QStringList{"kavelon"} << false;
    QTest::newRow("space before") << QStringList{"kavelon", " auto"} << false;
    QTest::newRow("further word") << QStringList{"kavelon", "auto now"} << false;
    QTest::newRow("further argument") << QStringList{"kavelon", "auto", "nu"} << false;
    QTest::newRow("other word") << QStringList{"kavelon", "automatisch"} << false;
}

void MainWindowTest::autoArgument() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, unattended);
    QCOMPARE(FrmSendIcm::IsAutoArgument(arguments), unattended);
}

void MainWindowTest::startupListsPendingOrders() {
    addOrder("icm", "b.icm", "Ref B", " 200 ");
    addOrder("icm", "a.ICM", "Ref A", "100");
    addOrder("icm", "notes.txt", "x", "x");
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    QTreeWidget* l = list(*w);
    QCOMPARE(l->headerItem()->text(0), QString("Naam"));
    QCOMPARE(l->headerItem()->text(2), QString("Debiteurennummer"));
    QCOMPARE(l->columnWidth(0), 2000 / 15);
    QCOMPARE(l->columnWidth(1), 4000 / 15);
    QCOMPARE(l->columnWidth(2), 1600 / 15);
    QStringList names = column(*w, 0);
    names.sort();
    QCOMPARE(names, QStringList({"a.ICM", "b.icm"}));
    QVERIFY(column(*w, 2).contains("200"));
    QVERIFY(w->tickedNames().isEmpty());
    QVERIFY(sends_.isEmpty());
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             "Openstaande orders in " + main_ + "ICM" + kPathSep);
    QCOMPARE(control<QPushButton>(*w, "cmdActie")->text(), QString("Verzenden"));
    QVERIFY(control<QToolButton>(*w, "cmdBekijken")->isEnabled());
    QVERIFY(QFileInfo(main_ + "logfiles").isDir());  // the first fill creates the working folders
    QCOMPARE(settings_.Directory, main_);
}

// A pipe named like an order and a hidden order: the pipe is a red row that is never ticked
// nor sent, the hidden order a row like any other.
void MainWindowTest::entriesThatAreNoOrdersAreRedRowsWithoutTicks() {
    addOrder("icm", ".verborgen.icm", "Verborgen", "1");
    QVERIFY(mkfifo(QFile::encodeName(main_ + "icm/pijp.icm").constData(), 0600) == 0);
    settings_.IcmDirect = true;
    auto w = open();
    QCOMPARE(column(*w, 0), QStringList({".verborgen.icm", "pijp.icm"}));
    QCOMPARE(column(*w, 1), QStringList({"Verborgen", "Dit is geen gewoon bestand."}));
    QTreeWidgetItem* pipe = list(*w)->topLevelItem(1);
    QVERIFY(!(pipe->flags() & Qt::ItemIsUserCheckable));
    QCOMPARE(pipe->foreground(0).color(), QColor(Qt::red));
    QCOMPARE(w->tickedNames(), QStringList({".verborgen.icm"}));
}

void MainWindowTest::startupTicksAndSendsWithDirectSending() {
    addOrder("icm", "a.icm", "A", "1");
    addOrder("icm", "b.icm", "B", "2");
    settings_.IcmDirect = true;
    auto w = open();
    QCOMPARE(w->tickedNames().size(), 2);
    w->show();
    QTRY_COMPARE(sends_.size(), 1);
    QTRY_VERIFY(!w->FirstActivation);
    QCOMPARE(sends_.first().size(), 2);
    QCOMPARE(fetches_, 0);
    auto* actie = control<QPushButton>(*w, "cmdActie");
    QCOMPARE(actie->text(), QString("Order overzicht"));
    QVERIFY(!control<QPushButton>(*w, "cmdInstellingen")->isEnabled());
    QVERIFY(control<QWidget>(*w, "rtbVoortgang")->isVisible());

    actie->click();  // back to the lists, read again and no longer ticked
    QVERIFY(control<QWidget>(*w, "lstBerichten")->isVisible());
    QVERIFY(control<QPushButton>(*w, "cmdInstellingen")->isEnabled());
    QCOMPARE(actie->text(), QString("Verzenden"));
    QCOMPARE(list(*w)->topLevelItemCount(), 2);
    QVERIFY(w->tickedNames().isEmpty());
    QCOMPARE(sends_.size(), 1);  // later activations do not send again
}

void MainWindowTest::tabsShowTheirColumnsAndTexts() {
    QDir(main_).mkdir("icb");
    QVERIFY(WriteMessageFile(main_ + "icb/c1.icb", ConfirmationLines("R", " 9 ", "", " 777 ")));
    QStringList shortFile = {"", "Kort"};
    QVERIFY(WriteMessageFile(main_ + "icb/c2.icb", shortFile));
    addOrder("verzonden", "s.icm", "Sent", "5");
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    QTabBar* tabs = control<QTabBar>(*w, "tabDir");
    auto* actie = control<QPushButton>(*w, "cmdActie");

    tabs->setCurrentIndex(1);
    QTreeWidget* l = list(*w);
    QCOMPARE(l->columnCount(), 5);
    const QList<int> widths = {1800 / 15, 2500 / 15, 1200 / 15, 1100 / 15, 1200 / 15};
    for (int i = 0; i < 5; ++i) QCOMPARE(l->columnWidth(i), widths[i]);
    QCOMPARE(l->headerItem()->text(4), QString("Debiteurennr."));
    QCOMPARE(actie->text(), QString("Ophalen"));
    QVERIFY(actie->isVisible());
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             "Orderbevestigingen in " + main_ + "ICB" + kPathSep);
    for (int i = 0; i < l->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = l->topLevelItem(i);
        if (row->text(0) == "c1.icb") {
            QCOMPARE(row->text(2), QString("777"));
            QCOMPARE(row->text(3), QString("z.s.m."));
            QCOMPARE(row->text(4), QString("9"));
        } else {
            QCOMPARE(row->text(1), QString("Kort"));
            QCOMPARE(row->text(3), QString());  // the file ends before its date line
        }
    }

    tabs->setCurrentIndex(2);
    QCOMPARE(l->columnCount(), 3);
    QCOMPARE(column(*w, 0), QStringList({"s.icm"}));
    QVERIFY(!actie->isVisible());
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             "Verzonden orders in " + main_ + "Verzonden" + kPathSep);

    tabs->setCurrentIndex(0);
    QCOMPARE(actie->text(), QString("Verzenden"));
    QVERIFY(actie->isVisible());
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             QString("Er zijn geen openstaande orders aanwezig"));
    QVERIFY(MsgBox::shownTexts().isEmpty());
}

void MainWindowTest::emptyAndBlankDirectories() {
    auto w = open();
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             QString("Er zijn geen openstaande orders aanwezig"));
    for (const char* name : {"cmdBekijken", "cmdDelete", "cmdDeselect", "cmdSelect"})
        QVERIFY(!control<QToolButton>(*w, name)->isEnabled());
    QVERIFY(control<QToolButton>(*w, "cmdRefresh")->isEnabled());

    settings_.Directory = "  ";
    auto blank = open();
    QCOMPARE(list(*blank)->topLevelItemCount(), 0);
    QVERIFY(!control<QToolButton>(*blank, "cmdSelect")->isEnabled());
    QVERIFY(MsgBox::shownTexts().isEmpty());
}

void MainWindowTest::wrongMainDirectoryWarnsOnEveryFill() {
    settings_.Directory = main_ + "bestaat-niet";
    MsgBox::setNextAnswer(QMessageBox::Ok);
    auto w = open();
    const QString warning =
        "In het instellingenscherm is de directory '" + main_ + "bestaat-niet" + kPathSep +
        "' opgegeven\r\nals hoofddirectory. Deze directory is incorrect, pas uw instellingen aan!";
    QCOMPARE(MsgBox::shownTexts(), QStringList({warning}));
    QCOMPARE(control<QLabel>(*w, "lblMelding")->text(),
             QString("Er zijn geen openstaande orders aanwezig"));
    MsgBox::setNextAnswer(QMessageBox::Ok);
    control<QToolButton>(*w, "cmdRefresh")->click();
    QCOMPARE(MsgBox::shownTexts().size(), 2);
    QVERIFY(!QFileInfo::exists(main_ + "bestaat-niet"));
}

void MainWindowTest::sortingTogglesOneSharedDirection() {
    addOrder("icm", "b.icm", "1", "x");
    addOrder("icm", "a.icm", "3", "x");
    addOrder("icm", "c.icm", "2", "x");
    auto w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QHeaderView* header = list(*w)->header();
    auto clickHeading = [&](int section) {
        const QPoint centre(
            header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    };
    clickHeading(0);
    QCOMPARE(column(*w, 0),
             QStringList({"c.icm", "b.icm", "a.icm"}));  // the first click sorts descending
    clickHeading(0);
    QCOMPARE(column(*w, 0), QStringList({"a.icm", "b.icm", "c.icm"}));
    clickHeading(1);  // another column toggles the shared direction
    QCOMPARE(column(*w, 1), QStringList({"3", "2", "1"}));
    control<QToolButton>(*w, "cmdRefresh")->click();  // a refill keeps the sort
    QCOMPARE(column(*w, 1), QStringList({"3", "2", "1"}));
}

void MainWindowTest::tickAllAndUntickAll() {
    addOrder("icm", "a.icm", "A", "1");
    addOrder("icm", "b.icm", "B", "2");
    auto w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTRY_VERIFY(!w->FirstActivation);
    QTreeWidget* l = list(*w);
    auto* sluiten = control<QPushButton>(*w, "cmdSluiten");
    // Each of these hands the keyboard focus to the list.
    for (const char* name : {"cmdSelect", "cmdDeselect", "cmdRefresh"}) {
        sluiten->setFocus();
        QTRY_VERIFY(sluiten->hasFocus());
        control<QToolButton>(*w, name)->click();
        QVERIFY2(l->hasFocus(), name);
        if (qstrcmp(name, "cmdSelect") == 0) QCOMPARE(w->tickedNames().size(), 2);
        if (qstrcmp(name, "cmdDeselect") == 0) QVERIFY(w->tickedNames().isEmpty());
    }
    sluiten->setFocus();
    control<QTabBar>(*w, "tabDir")->setCurrentIndex(1);
    QVERIFY(l->hasFocus());
}

void MainWindowTest::deleteAsksFirst() {
    addOrder("icm", "a.icm", "A", "1");
    addOrder("icm", "b.icm", "B", "2");
    auto w = open();
    auto* remove = control<QToolButton>(*w, "cmdDelete");
    const QString question = "Weet u zeker dat u alle geselecteerde berichten wilt verwijderen?";

    MsgBox::setNextAnswer(QMessageBox::Yes);  // nothing ticked: asked all the same, nothing goes
    remove->click();
    QCOMPARE(MsgBox::shownTexts(), QStringList({question}));
    QCOMPARE(list(*w)->topLevelItemCount(), 2);

    list(*w)->findItems("a.icm", Qt::MatchExactly).first()->setCheckState(0, Qt::Checked);
    MsgBox::setNextAnswer(QMessageBox::No);
    remove->click();
    QVERIFY(QFileInfo::exists(main_ + "icm/a.icm"));

    list(*w)->findItems("a.icm", Qt::MatchExactly).first()->setCheckState(0, Qt::Checked);
    list(*w)->setCurrentItem(
        list(*w)->findItems("b.icm", Qt::MatchExactly).first());  // highlight plays no part
    MsgBox::setNextAnswer(QMessageBox::Yes);
    remove->click();
    QVERIFY(!QFileInfo::exists(main_ + "icm/a.icm"));
    QVERIFY(QFileInfo::exists(main_ + "icm/b.icm"));
    QCOMPARE(column(*w, 0), QStringList({"b.icm"}));
}

void MainWindowTest::actionFrameStates() {
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    auto* actie = control<QPushButton>(*w, "cmdActie");
    auto* instellingen = control<QPushButton>(*w, "cmdInstellingen");
    auto* sluiten = control<QPushButton>(*w, "cmdSluiten");
    bool checkedDuringAction = false;

    // While the body runs every action button is disabled and the progress view shows.
    QMetaObject::Connection c =
        connect(w->progressBox(), &ProgressBox::lineWritten, this, [&](const QString& text) {
            if (text != "verzonden") return;
            checkedDuringAction =
                !actie->isEnabled() && !instellingen->isEnabled() && !sluiten->isEnabled() &&
                !control<QWidget>(*w, "tabDir")->isVisible() && w->actionRunning();
        });
    actie->click();
    disconnect(c);
    QVERIFY(checkedDuringAction);
    QCOMPARE(w->progressBox()->lines(), QStringList({"", "verzonden"}));
    QCOMPARE(actie->text(), QString("Order overzicht"));
    QVERIFY(actie->isEnabled() && sluiten->isEnabled() && !instellingen->isEnabled());

    actie->click();
    control<QTabBar>(*w, "tabDir")->setCurrentIndex(1);
    actie->click();  // "Ophalen"
    QCOMPARE(fetches_, 1);
    QCOMPARE(actie->text(), QString("Order overzicht"));
    actie->click();
    QCOMPARE(actie->text(), QString("Ophalen"));  // back on the tab that was selected
}

void MainWindowTest::failedFolderCheckSkipsTheBody() {
    QDir(main_ + "icm").removeRecursively();
    auto w = open();
    auto* actie = control<QPushButton>(*w, "cmdActie");
    QDir(main_ + "icm").removeRecursively();  // gone again after the start-up fill made it
    actie->click();
    QVERIFY(sends_.isEmpty());
    const auto& lines = w->progressBox()->lines();
    QCOMPARE(
        lines,
        QStringList({"", "Op uw systeem is de directory '" + main_ + "icm' niet aanwezig.", ""}));
    QCOMPARE(w->progressBox()->redLineCount(), 1);
}

void MainWindowTest::busyMainDirectorySkipsTheBody() {
    QDir(main_).mkdir("temp");
    QLockFile other(main_ + "temp/kavelon.lock");
    QVERIFY(other.tryLock());
    auto w = open();
    w->setLockWait(200);
    control<QPushButton>(*w, "cmdActie")->click();
    QVERIFY(sends_.isEmpty());
    QVERIFY(w->progressBox()->lines().contains(
        "Er is al een andere verzending of ophaalactie bezig in deze hoofddirectory."));
    other.unlock();
    control<QPushButton>(*w, "cmdActie")->click();
    control<QPushButton>(*w, "cmdActie")->click();
    QCOMPARE(sends_.size(), 1);
}

// A temp that is a plain file cannot hold the lock; no other action runs, so the send and the
// delete go ahead, guarded by a lock in this user's runtime folder.
void MainWindowTest::tempThatCannotHoldTheLockStillRunsTheActions() {
    addOrder("icm", "a.icm", "A", "1");
    QFile plain(main_ + "temp");
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    auto w = open();
    w->setLockWait(200);
    list(*w)->topLevelItem(0)->setCheckState(0, Qt::Checked);
    control<QPushButton>(*w, "cmdActie")->click();
    QCOMPARE(sends_, QList<QStringList>({{"a.icm"}}));
    QCOMPARE(w->progressBox()->redLineCount(), 0);
    control<QPushButton>(*w, "cmdActie")->click();  // "Order overzicht"

    list(*w)->topLevelItem(0)->setCheckState(0, Qt::Checked);
    MsgBox::setNextAnswer(QMessageBox::Yes);
    control<QToolButton>(*w, "cmdDelete")->click();
    QVERIFY(!QFileInfo::exists(main_ + "icm/a.icm"));
    QCOMPARE(MsgBox::shownTexts().size(), 1);  // the question only
}

// With many sent orders the fill of "Verzonden orders" takes a while and lets clicks through;
// the rows ticked and highlighted on the first tab must be gone by then.
void MainWindowTest::nothingActsOnTheOldRowsDuringAFill() {
    addOrder("icm", "a.icm", "A", "1");
    addOrder("icm", "b.icm", "B", "2");
    addOrder("verzonden", "a.icm", "A", "1");  // the sent copy of an order of the same name
    for (int i = 0; i < 3000; ++i)
        QVERIFY(WriteMessageFile(main_ + QString("verzonden/s%1.icm").arg(i, 4, 10, QChar('0')),
                                 OrderLines("S", "3")));
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    QTreeWidget* l = list(*w);
    l->findItems("a.icm", Qt::MatchExactly).first()->setCheckState(0, Qt::Checked);
    l->setCurrentItem(l->findItems("b.icm", Qt::MatchExactly).first());
    QDir(main_ + "temp").removeRecursively();

    bool pressedDuringFill = false;
    int rowsDuringFill = -1;
    QTimer::singleShot(0, this, [&] {
        pressedDuringFill = w->fillRunning();
        rowsDuringFill = l->topLevelItemCount();
        MsgBox::setNextAnswer(QMessageBox::Yes);  // for a question to delete, should one come
        MsgBox::setUnattended(true);  // any other box goes to standard error, not waiting
        control<QToolButton>(*w, "cmdDelete")->click();
        control<QToolButton>(*w, "cmdBekijken")->click();
        control<QToolButton>(*w, "cmdSelect")->click();
        control<QPushButton>(*w, "cmdActie")->click();
        QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
        MsgBox::setUnattended(false);
    });
    control<QTabBar>(*w, "tabDir")->setCurrentIndex(2);

    const QStringList shown = MsgBox::shownTexts();
    // The answer for the question to delete is used up here: none should have taken it.
    MsgBox::setUnattended(true);
    const bool answerLeft = MsgBox::Ask(nullptr, QString());
    MsgBox::setUnattended(false);
    QVERIFY(pressedDuringFill);
    QVERIFY(QFileInfo::exists(main_ + "verzonden/a.icm"));
    QVERIFY(QFileInfo::exists(main_ + "icm/a.icm"));
    QVERIFY(answerLeft);
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join('|')));  // no question, no view warning
    QCOMPARE(rowsDuringFill, 0);
    QVERIFY(!QFileInfo::exists(main_ + "temp/Temp.html"));
    QVERIFY(sends_.isEmpty());
    QCOMPARE(l->topLevelItemCount(), 3001);
    QVERIFY(w->tickedNames().isEmpty());
    QVERIFY(control<QToolButton>(*w, "cmdDelete")->isEnabled());
    QVERIFY(!control<QPushButton>(*w, "cmdActie")->isVisible());

    control<QTabBar>(*w, "tabDir")->setCurrentIndex(0);  // the action button comes back
    QCOMPARE(control<QPushButton>(*w, "cmdActie")->text(), QString("Verzenden"));
    QVERIFY(control<QPushButton>(*w, "cmdActie")->isEnabled());
}

// The window ends on "Afsluiten" or the frame's close, never on Escape.
void MainWindowTest::escapeDoesNotCloseTheWindow() {
    auto w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTRY_VERIFY(!w->FirstActivation);
    QTest::keyClick(list(*w), Qt::Key_Escape);
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QVERIFY(w->isVisible());
    control<QPushButton>(*w, "cmdActie")->click();  // the progress view
    QTest::keyClick(w->progressBox(), Qt::Key_Escape);
    QVERIFY(w->isVisible());
    QVERIFY(w->close());
    QVERIFY(!w->isVisible());
}

void MainWindowTest::makerSiteOpensOverPlainHttp() {
    qunsetenv("KAVELON_MAKER_URL");
    QStringList shown;
    CompanionBrowser browser([&shown](const QString& url) {
        shown.append(url);
        return true;
    });
    browser.setProgram(root_->filePath("no-companion"));  // the desktop's browser gets it
    browser.setSocketName(root_->filePath("no-socket"));
    settings_.Directory.clear();
    MainWindowParts parts;
    parts.settings = &settings_;
    parts.browser = &browser;
    FrmSendIcm w(parts, {"kavelon"});
    QTest::mouseClick(control<QLabel>(w, "lblNexaloom"), Qt::LeftButton);
    QCOMPARE(shown, QStringList({"http://www.nexaloom.nl"}));
}

void MainWindowTest::closeWaitsForTheRunningAction() {
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    bool visibleAfterClose = false;
    connect(w->progressBox(), &ProgressBox::lineWritten, this, [&](const QString& text) {
        if (text != "verzonden") return;
        w->close();
        visibleAfterClose = w->isVisible();
    });
    control<QPushButton>(*w, "cmdActie")->click();
    QVERIFY(visibleAfterClose);
    QTRY_VERIFY(!w->isVisible());
}

void MainWindowTest::unattendedRunWritesItsLog() {
    addOrder("icm", "a.icm", "A", "1");
    auto w = open({"kavelon", "Auto"});
    QVERIFY(w->AutoMode);
    QCOMPARE(w->tickedNames().size(), 1);
    QSignalSpy finished(w.get(), &FrmSendIcm::unattendedRunFinished);
    w->show();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), 0);
    QCOMPARE(sends_.size(), 1);
    const QStringList logs = QDir(main_ + "logfiles").entryList({"Log*.txt"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QVERIFY(QRegularExpression("^Log\\d{14}\\.txt$").match(logs.first()).hasMatch());
    QFile log(main_ + "logfiles/" + logs.first());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("Logfile van Rilvost Kavelon\r"));
    QVERIFY(QRegularExpression("^Aangemaakt op: \\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\r$")
                .match(QString::fromLatin1(lines.value(1)))
                .hasMatch());
    QCOMPARE(lines.mid(2), QList<QByteArray>({"\r", "verzonden\r", "\r", ""}));
}

// A portal's message with markup and script is shown as the text it is.
void MainWindowTest::progressBoxShowsMarkupAsText() {
    ProgressBox box;
    const QString hostile =
        "<script>alert(1)</script><img src=\"file:///etc/passwd\"><b>vet</b>&amp;";
    box.SchrijfVoortgang(hostile, kRood, false);
    box.SchrijfVoortgang("<a href=\"https://example.invalid\">klik</a>", kZwart, true);
    QCOMPARE(box.toPlainText(), hostile + "\n<a href=\"https://example.invalid\">klik</a>\n");
    QVERIFY(!box.toHtml().contains("<script") && !box.toHtml().contains("<img"));
    QVERIFY(box.toHtml().contains("&lt;script&gt;"));
}

void MainWindowTest::viewWritesThePageOfTheHighlightedMessage_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("sample");
    QTest::newRow("pending order") << 0 << "icm"
                                   << "order-full.icm";
    QTest::newRow("confirmation") << 1 << "icb"
                                  << "confirmation-full.icb";
    QTest::newRow("sent order") << 2 << "verzonden"
                                << "order-full.icm";
    QTest::newRow("broken order") << 0 << "icm"
                                  << "order-broken-lines.icm";
}

void MainWindowTest::viewWritesThePageOfTheHighlightedMessage() {
    QFETCH(int, tab);
    QFETCH(QString, folder);
    QFETCH(QString, sample);
    QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    const QString samples = QStringLiteral(KAVELON_TEST_DATA "/pages/");
    QDir(main_).mkdir(folder);
    QVERIFY(QFile::copy(samples + sample, main_ + folder + "/" + sample));
    auto w = open();
    w->show();
    QTRY_VERIFY(!w->FirstActivation);
    control<QTabBar>(*w, "tabDir")->setCurrentIndex(tab);
    QTreeWidget* l = list(*w);
    QCOMPARE(l->topLevelItemCount(), 1);
    l->setCurrentItem(l->topLevelItem(0));
    QDir(main_ + "temp").removeRecursively();  // the view makes its folder again
    const QPoint row = l->visualItemRect(l->topLevelItem(0)).center();
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, row);

    QFile page(main_ + "temp/Temp.html");
    QVERIFY(page.open(QIODevice::ReadOnly));
    QFile golden(samples + QFileInfo(sample).completeBaseName() + ".html");
    QVERIFY(golden.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), golden.readAll());
    QLocale::setDefault(QLocale::system());
}

void MainWindowTest::viewNeedsAHighlightedRow() {
    addOrder("icm", "a.icm", "A", "1");
    auto w = open();
    MsgBox::setNextAnswer(QMessageBox::Ok);
    control<QToolButton>(*w, "cmdBekijken")->click();
    QCOMPARE(MsgBox::shownTexts(),
             QStringList({"Selecteer eerst een order die weergegeven moet worden!"}));
    QVERIFY(!QFileInfo::exists(main_ + "temp/Temp.html"));
}

QTEST_MAIN(MainWindowTest)
#include "tst_app_mainwindow.moc"
