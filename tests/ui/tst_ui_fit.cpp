#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "accounts/accountstore.h"
#include "accounts/frmdebiteur.h"
#include "app/frmsendicm.h"
#include "core/paths.h"
#include "messagefiles.h"
#include "portal/frmweborder.h"
#include "settings/frminit.h"
#include "settings/frmpathopen.h"
#include "ui/msgbox.h"
#include "windowtest.h"

using namespace kavelon;

namespace {

// Where a control's text does not fit, one line each: window/control, text, need and room.
class Misfits {
  public:
    explicit Misfits(QWidget& window) : window_(window.objectName()) {}

    void check(const QWidget* control, const QString& text, QSize need, QSize room) {
        if (need.width() <= room.width() && need.height() <= room.height()) return;
        const QString name = control->objectName().isEmpty()
                                 ? control->parentWidget()->objectName() + QStringLiteral("/header")
                                 : control->objectName();
        lines_ << QStringLiteral("%1/%2 \"%3\" needs %4 x %5, has %6 x %7 (%8)")
                      .arg(window_, name, text)
                      .arg(need.width())
                      .arg(need.height())
                      .arg(room.width())
                      .arg(room.height())
                      .arg(QFontInfo(control->font()).family());
    }
    const QStringList& lines() const { return lines_; }

  private:
    QString window_;
    QStringList lines_;
};

void CheckLabel(Misfits& misfits, const QLabel* label) {
    if (label->text().isEmpty()) return;
    const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                      -label->margin(), -label->margin());
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = label->fontMetrics().boundingRect(room, flags, label->text());
    misfits.check(label, label->text(), need.size(), room.size());
}

// A button needs its caption plus the margin and frame its style draws around it.
void CheckButton(Misfits& misfits, const QPushButton* button) {
    if (button->text().isEmpty()) return;
    const QStyle* style = button->style();
    const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    misfits.check(button, button->text(), text + QSize(margin + 2 * frame, 2 * frame),
                  button->size());
}

void CheckCheckBox(Misfits& misfits, const QCheckBox* box) {
    if (box->text().isEmpty()) return;
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    misfits.check(box, box->text(), box->fontMetrics().size(Qt::TextShowMnemonic, box->text()),
                  room.size());
}

void CheckGroup(Misfits& misfits, const QGroupBox* group) {
    if (group->title().isEmpty()) return;
    const QSize text = group->fontMetrics().size(Qt::TextShowMnemonic, group->title());
    misfits.check(group, group->title(), text, group->size());
}

// The tabs size to their captions; together they must fit the strip.
void CheckTabs(Misfits& misfits, const QTabBar* bar) {
    for (int i = 0; i < bar->count(); ++i) {
        const QRect tab = bar->tabRect(i);
        misfits.check(bar, bar->tabText(i), QSize(tab.right() + 1, tab.height()), bar->size());
    }
}

void CheckHeader(Misfits& misfits, const QHeaderView* header) {
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const QAbstractItemModel* model = header->model();
    for (int i = 0; i < header->count(); ++i) {
        const QString caption = model->headerData(i, Qt::Horizontal).toString();
        const QSize text = header->fontMetrics().size(0, caption);
        misfits.check(header, caption, text + QSize(2 * margin, 0),
                      QSize(header->sectionSize(i), header->height()));
    }
}

// Every label, button, check box, group heading, tab and column header of the window.
QStringList MisfitsOf(QWidget& window) {
    Misfits misfits(window);
    for (const QLabel* label : window.findChildren<QLabel*>()) CheckLabel(misfits, label);
    for (const QPushButton* button : window.findChildren<QPushButton*>())
        CheckButton(misfits, button);
    for (const QCheckBox* box : window.findChildren<QCheckBox*>()) CheckCheckBox(misfits, box);
    for (const QGroupBox* group : window.findChildren<QGroupBox*>()) CheckGroup(misfits, group);
    for (const QTabBar* bar : window.findChildren<QTabBar*>()) CheckTabs(misfits, bar);
    for (const QHeaderView* header : window.findChildren<QHeaderView*>())
        if (header->orientation() == Qt::Horizontal && !header->isHidden())
            CheckHeader(misfits, header);
    // With KAVELON_GRAB_DIR set, each window checked is saved there as a picture to look at.
    const QString grabs = qEnvironmentVariable("KAVELON_GRAB_DIR");
    if (!grabs.isEmpty())
        window.grab().save(QDir(grabs).filePath(window.objectName() + QStringLiteral(".png")));
    return misfits.lines();
}

}  // namespace

class WindowFitTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void narrowFontWhereInstalled();
    void mainWindowTextsFit();
    void statusLineElidesALongPathAtItsStart();
    void settingsWindowTextsFit();
    void accountEditorTextsFit();
    void pickerTextsFit();
    void pickerShowsALongPathByItsEnd();
    void webOrderTextsFit();

  private:
    std::unique_ptr<FrmSendIcm> openMainWindow(const QString& directory);
    void addAccount(const QString& number, const QString& user);

    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<AccountStore> store_;
    Settings settings_;
};

void WindowFitTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root_->path());
    store_ = std::make_unique<AccountStore>();
    QString error;
    QVERIFY2(store_->open(root_->filePath(kAccountFileName), error), qPrintable(error));
    settings_ = Settings();
    settings_.OnlineCheck = false;
    MsgBox::setUnattended(true);
    MsgBox::clearShown();
}

void WindowFitTest::cleanup() {
    store_.reset();
    root_.reset();
}

void WindowFitTest::addAccount(const QString& number, const QString& user) {
    Debiteur row{0, number, user, "pw"};
    QString error;
    QVERIFY2(store_->addNew(row, error), qPrintable(error));
}

// The main window on this main directory, with a message in each of its three folders.
std::unique_ptr<FrmSendIcm> WindowFitTest::openMainWindow(const QString& directory) {
    settings_.Directory = directory;
    const QString main = directory + kPathSep;
    for (const char* folder : {"icm", "icb", "verzonden"}) QDir().mkpath(main + folder);
    WriteMessageFile(main + "icm/a.icm", OrderLines("ref", "1001"));
    WriteMessageFile(main + "verzonden/b.icm", OrderLines("ref", "1001"));
    WriteMessageFile(main + "icb/c.icb", ConfirmationLines("ref", "1001", "01-02-2026", "77"));
    MainWindowParts parts;
    parts.settings = &settings_;
    auto window = std::make_unique<FrmSendIcm>(parts, QStringList{"kavelon"});
    window->show();
    if (!QTest::qWaitFor([&window] { return !window->FirstActivation; })) qFatal("not activated");
    return window;
}

// The windows use Liberation Sans exactly when it is installed; the fallback run has no such font.
void WindowFitTest::narrowFontWhereInstalled() {
    FrmDebiteur w(store_.get());
    const bool installed = QFontDatabase::families().contains("Liberation Sans");
    QCOMPARE(QFontInfo(w.font()).family() == "Liberation Sans", installed);
    QCOMPARE(QFontInfo(Child(w, "lblDebiteur")->font()).family(), QFontInfo(w.font()).family());
}

void WindowFitTest::mainWindowTextsFit() {
    auto w = openMainWindow(root_->path());
    QStringList misfits;
    auto* tabs = Child<QTabBar>(*w, "tabDir");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        misfits << MisfitsOf(*w);
    }
    tabs->setCurrentIndex(0);
    Child<QPushButton>(*w, "cmdActie")->click();  // the progress view: "Order overzicht"
    QCOMPARE(Child<QPushButton>(*w, "cmdActie")->text(), QString("Order overzicht"));
    misfits << MisfitsOf(*w);
    misfits.removeDuplicates();
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join('\n')));
}

void WindowFitTest::statusLineElidesALongPathAtItsStart() {
    const QString deep = root_->path() + "/een/heel/diep/genest/pad/naar/de/hoofddirectory/rilvost";
    auto w = openMainWindow(deep);
    auto* status = Child<QLabel>(*w, "lblMelding");
    Child<QTabBar>(*w, "tabDir")->setCurrentIndex(2);
    const QString whole = "Verzonden orders in " + deep + kPathSep + "Verzonden" + kPathSep;
    QCOMPARE(status->toolTip(), whole);
    QVERIFY2(status->text().startsWith("Verzonden orders in ..."), qPrintable(status->text()));
    QVERIFY2(status->text().endsWith("/rilvost/Verzonden/"), qPrintable(status->text()));
    QVERIFY2(MisfitsOf(*w).isEmpty(), qPrintable(MisfitsOf(*w).join('\n')));

    // A path that fits is shown whole.
    const QString shallow = root_->path() + "/r";
    auto s = openMainWindow(shallow);
    Child<QTabBar>(*s, "tabDir")->setCurrentIndex(2);
    QCOMPARE(Child<QLabel>(*s, "lblMelding")->text(),
             "Verzonden orders in " + shallow + kPathSep + "Verzonden" + kPathSep);
}

void WindowFitTest::settingsWindowTextsFit() {
    addAccount("1001", "jan");
    FrmInit w(settings_, store_.get(), {});
    w.show();
    QVERIFY2(MisfitsOf(w).isEmpty(), qPrintable(MisfitsOf(w).join('\n')));
}

void WindowFitTest::accountEditorTextsFit() {
    FrmDebiteur w(store_.get());
    w.show();
    QVERIFY2(MisfitsOf(w).isEmpty(), qPrintable(MisfitsOf(w).join('\n')));
}

void WindowFitTest::pickerTextsFit() {
    QLineEdit field;
    FrmPathOpen w(&field);
    w.show();
    QVERIFY2(MisfitsOf(w).isEmpty(), qPrintable(MisfitsOf(w).join('\n')));
}

void WindowFitTest::pickerShowsALongPathByItsEnd() {
    const QString deep = root_->path() + "/een/heel/diep/genest/pad/naar/de/hoofddirectory/rilvost";
    QVERIFY(QDir().mkpath(deep));
    QLineEdit field;
    FrmPathOpen w(&field);
    w.show();
    QVERIFY(w.setPath(deep));
    auto* shown = Child<QLabel>(w, "lblDirectory");
    QVERIFY2(shown->text().startsWith("...") && shown->text().endsWith("/hoofddirectory/rilvost"),
             qPrintable(shown->text()));
    QVERIFY(shown->geometry().right() <= Child(w, "Dir1")->geometry().right());
    QCOMPARE(shown->toolTip(), deep);
    QVERIFY2(MisfitsOf(w).isEmpty(), qPrintable(MisfitsOf(w).join('\n')));
    Child<QPushButton>(w, "cmdFileOpen")->click();
    QCOMPARE(field.text(), deep + kPathSep);  // the whole path, whatever the label shows
}

void WindowFitTest::webOrderTextsFit() {
    addAccount("1001", "jan");
    addAccount("1002", "piet");
    FrmWebOrder w(store_.get(), nullptr);
    w.show();
    QVERIFY2(MisfitsOf(w).isEmpty(), qPrintable(MisfitsOf(w).join('\n')));
}

QTEST_MAIN(WindowFitTest)
#include "tst_ui_fit.moc"
