#include "app/frmsendicm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

#include "app/progressbox.h"
#include "core/browser.h"
#include "core/logfile.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "core/workdirs.h"
#include "messages/orderpage.h"
#include "portal/exchange.h"
#include "portal/frmweborder.h"
#include "portal/weborders.h"
#include "ui/artwork.h"
#include "ui/fonts.h"
#include "ui/msgbox.h"
#include "ui/placement.h"
#include "version.h"

namespace kavelon {
namespace {

constexpr int kTwipsPerPixel = 15;
constexpr qint64 kPumpIntervalMs = 15;
const QString kVerzenden = QStringLiteral("Verzenden");
const QString kOphalen = QStringLiteral("Ophalen");
const QString kOrderOverzicht = QStringLiteral("Order overzicht");

// Counts the fills under way while it lives.
struct FillScope {
    explicit FillScope(int& count) : count_(count) { ++count_; }
    ~FillScope() { --count_; }
    int& count_;
};

// Shows the wait pointer for the whole program while it lives.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

QToolButton* PictureButton(QWidget* parent, const char* name, ButtonPicture picture,
                           const QString& tip, int x) {
    auto* button = Place<QToolButton>(parent, name, x, 280, 24, 25);
    button->setIcon(ButtonIcon(picture));
    button->setToolTip(tip);
    button->setAutoRaise(false);
    return button;
}

// Makes a label clickable: a left click released on it runs the action.
class ClickFilter : public QObject {
  public:
    ClickFilter(QWidget* target, std::function<void()> action)
        : QObject(target), action_(std::move(action)) {
        target->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonRelease)
            return QObject::eventFilter(watched, event);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* widget = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            widget->rect().contains(mouse->position().toPoint()))
            action_();
        return true;
    }

  private:
    std::function<void()> action_;
};

// The status line of the list; a long main directory is cut at its start, so that the
// folder's name stays visible.
void ShowStatus(QLabel* status, MessageTab tab, const QString& text) {
    const QString& keep = LayoutOf(tab).statusWithRows;
    const qsizetype path = text.startsWith(keep) ? keep.size() : text.size();
    ShowPathText(status, text.left(path), text.mid(path));
}

// A row for an entry named like a message that is not read: in red, without a tick box.
QTreeWidgetItem* RefusedRow(const ListedMessage& row) {
    auto* item = new QTreeWidgetItem(QStringList{row.name, row.refusal});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    for (int column = 0; column < 2; ++column) item->setForeground(column, QColor(Qt::red));
    item->setToolTip(0, row.refusal);
    return item;
}

}  // namespace

void AttachPortal(MainWindowParts& parts, PortalClient& client) {
    Settings* settings = parts.settings;
    AccountStore* database = parts.database;
    // Answers kept by an interrupted fetch come first: they are older than any new one.
    parts.verzenden = [settings, database, &client](const QStringList& ticked,
                                                    ProgressSink& progress, EventPump& pump) {
        PortalExchange exchange(settings->Directory, database, client, progress, pump);
        exchange.VerwerkBewaardeAntwoorden();
        exchange.SendBody(ticked);
    };
    parts.ophalen = [settings, database, &client](ProgressSink& progress, EventPump& pump) {
        PortalExchange exchange(settings->Directory, database, client, progress, pump);
        exchange.VerwerkBewaardeAntwoorden();
        exchange.FetchBody();
    };
    parts.bewaardeAntwoorden = [settings, database, &client](ProgressSink& progress,
                                                             EventPump& pump) {
        PortalExchange(settings->Directory, database, client, progress, pump)
            .VerwerkBewaardeAntwoorden();
    };
}

FrmSendIcm::FrmSendIcm(MainWindowParts parts, const QStringList& arguments, QWidget* parent)
    : QDialog(parent), parts_(std::move(parts)), settings_(*parts_.settings) {
    setObjectName(QStringLiteral("frmSendIcm"));
    FirstActivation = true;
    setWindowTitle(QStringLiteral("Kavelon (versie %1.%2)").arg(kVersionMajor).arg(kVersionMinor));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(536, 496);
    UseDialogFont(this);
    BuildControls();
    if (IsAutoArgument(arguments)) {
        AutoMode = true;
        settings_.IcmDirect = true;
        MsgBox::setUnattended(true);
        // Nobody sees the box of a run without a screen: its lines only go to the log.
        rtbVoortgang_->setLinesOnly(QGuiApplication::platformName() == QLatin1String("offscreen"));
    }
    GetIcmFiles();
}

FrmSendIcm::~FrmSendIcm() = default;

// The arguments after the program's name must be the one word "auto", in any letter case.
bool FrmSendIcm::IsAutoArgument(const QStringList& arguments) {
    return arguments.size() == 2 && arguments.at(1).toLower() == QStringLiteral("auto");
}

void FrmSendIcm::BuildControls() {
    BuildHeader();
    auto* picture1 = Place<QWidget>(this, "Picture1", 0, 121, 535, 341);
    BuildLists(picture1);
    rtbVoortgang_ = Place<ProgressBox>(picture1, "rtbVoortgang", 6, 0, 525, 299);
    rtbVoortgang_->hide();
    BuildFooter();
}

void FrmSendIcm::BuildHeader() {
    picHeader_ = Place<QLabel>(this, "picHeader", 0, 8, 535, 117);
    picHeader_->setPixmap(HeaderBanner(picHeader_->size()));
    cmdContact_ = PlainButton(picHeader_, "cmdContact", QStringLiteral("Contact"), 17, 77, 51, 23);
    cmdActie_ = PlainButton(picHeader_, "cmdActie", kVerzenden, 263, 77, 87, 23);
    cmdInstellingen_ =
        PlainButton(picHeader_, "cmdInstellingen", QStringLiteral("Instellingen"), 351, 77, 87, 23);
    cmdSluiten_ =
        PlainButton(picHeader_, "cmdSluiten", QStringLiteral("Afsluiten"), 439, 77, 87, 23);
    connect(cmdActie_, &QPushButton::clicked, this, &FrmSendIcm::cmdActie_Click);
    connect(cmdSluiten_, &QPushButton::clicked, this, &FrmSendIcm::close);
    connect(cmdContact_, &QPushButton::clicked, this, [this] {
        if (parts_.browser) parts_.browser->OpenInNewWindow(ContactAddress());
    });
    connect(cmdInstellingen_, &QPushButton::clicked, this, [this] {
        if (parts_.openSettings) parts_.openSettings();
    });
}

void FrmSendIcm::BuildLists(QWidget* picture1) {
    tabDir_ = Place<QTabBar>(picture1, "tabDir", 0, 0, 537, 30);
    tabDir_->setExpanding(false);
    tabDir_->setDrawBase(false);
    for (const char* caption : {"Openstaande orders", "Orderbevestigingen", "Verzonden orders"})
        tabDir_->addTab(QString::fromUtf8(caption));
    connect(tabDir_, &QTabBar::currentChanged, this, &FrmSendIcm::tabDir_Click);

    picIcmTree_ = Place<QWidget>(picture1, "picIcmTree", 0, 30, 535, 315);
    auto* line1 = Place<QFrame>(picIcmTree_, "Line1", 0, 0, 535, 2);
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    lstBerichten_ = Place<QTreeWidget>(picIcmTree_, "lstBerichten", 0, 3, 529, 275);
    lstBerichten_->setRootIsDecorated(false);
    lstBerichten_->setUniformRowHeights(true);
    lstBerichten_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstBerichten_->setAllColumnsShowFocus(true);
    lstBerichten_->header()->setSectionsClickable(true);
    lstBerichten_->header()->setStretchLastSection(false);
    connect(lstBerichten_->header(), &QHeaderView::sectionClicked, this,
            &FrmSendIcm::lstBerichten_ColumnClick);
    connect(lstBerichten_, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (cmdBekijken_->isEnabled()) cmdBekijken_Click();
    });

    cmdBekijken_ = PictureButton(picIcmTree_, "cmdBekijken", ButtonPicture::Bekijken,
                                 QStringLiteral("Bericht bekijken"), 2);
    cmdSelect_ = PictureButton(picIcmTree_, "cmdSelect", ButtonPicture::Select,
                               QStringLiteral("Alle berichten selecteren"), 26);
    cmdDeselect_ = PictureButton(picIcmTree_, "cmdDeselect", ButtonPicture::Deselect,
                                 QStringLiteral("Alle berichten deselecteren"), 50);
    cmdDelete_ = PictureButton(picIcmTree_, "cmdDelete", ButtonPicture::Delete,
                               QStringLiteral("Geselecteerde berichten verwijderen"), 74);
    cmdWebOrder_ = PictureButton(picIcmTree_, "cmdWebOrder", ButtonPicture::WebOrder,
                                 QStringLiteral("Online orderhistorie bekijken"), 98);
    cmdRefresh_ = PictureButton(picIcmTree_, "cmdRefresh", ButtonPicture::Refresh,
                                QStringLiteral("Scherm vernieuwen"), 122);
    lblMelding_ = Place<QLabel>(picIcmTree_, "lblMelding", 158, 284, 368, 25);
    lblMelding_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(cmdBekijken_, &QToolButton::clicked, this, &FrmSendIcm::cmdBekijken_Click);
    connect(cmdSelect_, &QToolButton::clicked, this, [this] { SetAllTicks(true); });
    connect(cmdDeselect_, &QToolButton::clicked, this, [this] { SetAllTicks(false); });
    connect(cmdRefresh_, &QToolButton::clicked, this, &FrmSendIcm::cmdRefresh_Click);
    connect(cmdDelete_, &QToolButton::clicked, this, &FrmSendIcm::cmdDelete_Click);
    connect(cmdWebOrder_, &QToolButton::clicked, this, [this] {
        lstBerichten_->setFocus();
        FrmWebOrder(parts_.database, parts_.browser, this).exec();
    });
}

void FrmSendIcm::BuildFooter() {
    auto* picture2 = Place<QLabel>(this, "Picture2", 0, 468, 535, 27);
    picture2->setPixmap(FooterStrip(picture2->size()));
    lblAdres2_ = Place<QLabel>(picture2, "lblAdres2", 8, 4, 179, 13);
    lblAdres2_->setText(QStringLiteral("e-mail: verkoop@rilvost.nl"));
    lblNexaloom_ = Place<QLabel>(picture2, "lblNexaloom", 417, 4, 105, 13);
    lblNexaloom_->setText(QStringLiteral("Powered by Nexaloom"));
    lblNexaloom_->setCursor(Qt::PointingHandCursor);
    new ClickFilter(lblNexaloom_, [this] {
        if (parts_.browser) parts_.browser->OpenInNewWindow(MakerAddress());
    });
}

// ---- activation, dispatch and the action frame

void FrmSendIcm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Platforms without window activation (offscreen, unattended) still get a first activation.
    if (!activationStarted_) QTimer::singleShot(0, this, &FrmSendIcm::Activated);
}

void FrmSendIcm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activationStarted_)
        QTimer::singleShot(0, this, &FrmSendIcm::Activated);
}

void FrmSendIcm::Activated() {
    if (activationStarted_) return;
    activationStarted_ = true;
    QCoreApplication::processEvents();
    if (FirstActivation) {
        if (AutoMode) ReserveLogSpace(settings_.Directory);
        if (settings_.IcmDirect || AutoMode)
            cmdActie_Click();
        else
            StoreKeptAnswers();
        SelectTab(MessageTab::Openstaand);
    }
    FirstActivation = false;
}

// Quietly: what cannot be stored now stays kept, and the next fetch reports it.
void FrmSendIcm::StoreKeptAnswers() {
    struct Quiet : ProgressSink {
        void SchrijfVoortgang(const QString&, int, bool) override {}
    } quiet;
    if (!parts_.bewaardeAntwoorden || IsBlank(settings_.Directory)) return;
    EnsureTrailingSeparator(settings_.Directory);
    if (!DirExists(settings_.Directory + kFolderIcb)) return;
    if (!lock_.acquire(settings_.Directory, this, 0)) return;  // another action does it
    parts_.bewaardeAntwoorden(quiet, *this);
    lock_.release();
}

void FrmSendIcm::cmdActie_Click() {
    const QString caption = cmdActie_->text();
    if (caption == kVerzenden)
        RunAction(true);
    else if (caption == kOphalen)
        RunAction(false);
    else if (caption == kOrderOverzicht)
        ShowIcmOrders();
    else
        return;
    if (AutoMode) FinishUnattendedRun();
}

void FrmSendIcm::RunAction(bool send) {
    actionRunning_ = true;
    cmdActie_->setEnabled(false);
    cmdInstellingen_->setEnabled(false);
    cmdSluiten_->setEnabled(false);
    tabDir_->hide();
    picIcmTree_->hide();
    rtbVoortgang_->Empty();
    SchrijfVoortgang(QString(), kZwart, false);
    rtbVoortgang_->show();
    QCoreApplication::processEvents();

    if (!settings_.OnlineCheck || IsOnline()) {
        WaitCursor wait;
        EnsureTrailingSeparator(settings_.Directory);
        if (!InlogControle(settings_.Directory, *rtbVoortgang_))
            SchrijfVoortgang(QString(), kZwart, false);
        else
            RunActionBody(send);
    } else {
        SchrijfVoortgang(send ? QStringLiteral("Voor het verzenden van de ICM-berichten moet u "
                                               "verbonden zijn met het Internet.")
                              : QStringLiteral("Voor het ophalen van de ICB-berichten moet u "
                                               "verbonden zijn met het Internet."),
                         kRood, false);
        SchrijfVoortgang(QString(), kZwart, false);
    }

    cmdActie_->setText(kOrderOverzicht);
    cmdActie_->setEnabled(true);
    cmdInstellingen_->setEnabled(false);
    cmdSluiten_->setEnabled(true);
    actionRunning_ = false;
    emit actionFinished();
    if (closePending_) QTimer::singleShot(0, this, &FrmSendIcm::close);
}

void FrmSendIcm::RunActionBody(bool send) {
    if (!lock_.acquire(settings_.Directory, this, lockWaitMs_)) {
        SchrijfVoortgang(ActionLock::kBusyText, kRood, false);
        std::fprintf(stderr, "%s\n", qPrintable(ActionLock::kBusyText));
        return;
    }
    if (send && parts_.verzenden) parts_.verzenden(tickedNames(), *rtbVoortgang_, *this);
    if (!send && parts_.ophalen) parts_.ophalen(*rtbVoortgang_, *this);
    lock_.release();
}

void FrmSendIcm::FinishUnattendedRun() {
    int status = rtbVoortgang_->redLineCount() > 0 ? 1 : 0;
    if (!WriteLogFile(settings_.Directory, rtbVoortgang_->lines(), nullptr)) {
        std::fprintf(stderr, "Het logbestand kon niet worden geschreven in de map '%s'.\n",
                     qPrintable(settings_.Directory + kFolderLogfiles));
        status = 2;
    }
    emit unattendedRunFinished(status);
}

void FrmSendIcm::SchrijfVoortgang(const QString& text, int colour, bool bold) {
    rtbVoortgang_->SchrijfVoortgang(text, colour, bold);
}

void FrmSendIcm::ProcessPendingEvents() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastPump_ < kPumpIntervalMs) return;
    lastPump_ = now;
    QCoreApplication::processEvents();
}

void FrmSendIcm::closeEvent(QCloseEvent* event) {
    if (actionRunning_) {
        closePending_ = true;  // the window closes once the action has finished
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// Escape does nothing: the window closes only on "Afsluiten" or the frame's close.
void FrmSendIcm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel) || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// The frame's close ends here: during an action the window closes afterwards.
void FrmSendIcm::reject() {
    if (actionRunning_) {
        closePending_ = true;
        return;
    }
    QDialog::reject();
}

// ---- tabs and lists

MessageTab FrmSendIcm::currentTab() const {
    return static_cast<MessageTab>(tabDir_->currentIndex() + 1);
}

void FrmSendIcm::SelectTab(MessageTab tab) {
    const QSignalBlocker blocker(tabDir_);
    tabDir_->setCurrentIndex(static_cast<int>(tab) - 1);
}

void FrmSendIcm::tabDir_Click() {
    const MessageTab tab = currentTab();
    SelectTab(tab);
    if (!FillList(tab)) return;  // another tab was chosen during the fill and has taken over
    lstBerichten_->setFocus();
}

void FrmSendIcm::ShowActionButton(MessageTab tab) {
    if (tab == MessageTab::Verzonden) {
        cmdActie_->setEnabled(false);
        cmdActie_->hide();
        return;
    }
    cmdActie_->setText(tab == MessageTab::Openstaand ? kVerzenden : kOphalen);
    cmdActie_->setEnabled(true);
    cmdActie_->show();
}

void FrmSendIcm::ShowIcmOrders() {
    picIcmTree_->show();
    tabDir_->show();
    rtbVoortgang_->hide();
    cmdActie_->setText(kVerzenden);
    cmdInstellingen_->setEnabled(true);
    tabDir_Click();
}

void FrmSendIcm::GetIcmFiles() {
    FillList(MessageTab::Openstaand);
}
void FrmSendIcm::GetIcbFiles() {
    FillList(MessageTab::Bevestigingen);
}
void FrmSendIcm::GetVerzondenFiles() {
    FillList(MessageTab::Verzonden);
}

// Events are processed while the files are read, so the old rows go first: nothing may act on
// rows of another folder meanwhile. The new rows come in one go once all files are read.
bool FrmSendIcm::FillList(MessageTab tab) {
    CreateWorkDirs(settings_.Directory);
    const int generation = ++fillGeneration_;
    const FillScope scope(fillsRunning_);
    lstBerichten_->clear();
    SetListButtons(false);
    cmdActie_->setEnabled(false);
    Listing listing;
    if (!IsBlank(settings_.Directory)) {
        EnsureTrailingSeparator(settings_.Directory);
        if (!DirExists(settings_.Directory + LayoutOf(tab).folder)) {
            MsgBox::Warn(this,
                         QStringLiteral("In het instellingenscherm is de directory '") +
                             settings_.Directory +
                             QStringLiteral("' opgegeven\r\nals hoofddirectory. Deze directory is "
                                            "incorrect, pas uw instellingen aan!"));
        } else {
            listing = ListMessages(settings_.Directory, tab, this);
        }
    }
    if (generation != fillGeneration_) return false;  // a fill started meanwhile has taken over
    ShowRows(tab, listing);
    ShowActionButton(tab);
    return true;
}

void FrmSendIcm::ShowRows(MessageTab tab, const Listing& listing) {
    const TabLayout& layout = LayoutOf(tab);
    lstBerichten_->clear();
    QStringList captions;
    for (const ListColumn& column : layout.columns) captions.append(column.caption);
    lstBerichten_->setColumnCount(captions.size());
    lstBerichten_->setHeaderLabels(captions);
    for (int i = 0; i < layout.columns.size(); ++i)
        lstBerichten_->setColumnWidth(i, layout.columns[i].twips / kTwipsPerPixel);

    const bool setTicks = FirstActivation && layout.tickAtStartUp && settings_.IcmDirect;
    QList<QTreeWidgetItem*> items;
    items.reserve(listing.rows.size());
    for (const ListedMessage& row : listing.rows) {
        if (!row.refusal.isEmpty()) {
            items.append(RefusedRow(row));
            continue;
        }
        auto* item = new QTreeWidgetItem(QStringList(row.name) + CellsOf(tab, row.info));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, setTicks ? Qt::Checked : Qt::Unchecked);
        items.append(item);
    }
    lstBerichten_->addTopLevelItems(items);
    ApplySort();

    const bool hasRows = !items.isEmpty();
    ShowStatus(lblMelding_, tab, StatusText(settings_.Directory, tab, hasRows));
    SetListButtons(hasRows);
}

void FrmSendIcm::SetListButtons(bool enabled) {
    for (QToolButton* button : {cmdBekijken_, cmdDelete_, cmdDeselect_, cmdSelect_})
        button->setEnabled(enabled);
}

void FrmSendIcm::lstBerichten_ColumnClick(int column) {
    sortColumn_ = column;
    sortOrder_ = sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortEnabled_ = true;
    ApplySort();
}

void FrmSendIcm::ApplySort() {
    lstBerichten_->header()->setSortIndicatorShown(sortEnabled_);
    if (!sortEnabled_) return;
    lstBerichten_->header()->setSortIndicator(sortColumn_, sortOrder_);
    lstBerichten_->sortItems(sortColumn_, sortOrder_);
}

void FrmSendIcm::SetAllTicks(bool ticked) {
    for (int i = 0; i < lstBerichten_->topLevelItemCount(); ++i)
        lstBerichten_->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    lstBerichten_->setFocus();
}

QStringList FrmSendIcm::tickedNames() const {
    QStringList names;
    for (int i = 0; i < lstBerichten_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lstBerichten_->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) names.append(item->text(0));
    }
    return names;
}

void FrmSendIcm::cmdRefresh_Click() {
    FillList(currentTab());
    lstBerichten_->setFocus();
}

void FrmSendIcm::cmdDelete_Click() {
    if (!MsgBox::Ask(
            this,
            QStringLiteral("Weet u zeker dat u alle geselecteerde berichten wilt verwijderen?")))
        return;
    if (lock_.acquire(settings_.Directory, this, lockWaitMs_)) {
        for (const QString& name : tickedNames())
            VerwijderFile(settings_.Directory, currentTab(), name);
        lock_.release();
    } else {
        MsgBox::Warn(this, ActionLock::kBusyText);
    }
    cmdRefresh_Click();
}

// ---- the order view

bool FrmSendIcm::CheckTempDir() {
    const QString folder = settings_.Directory + kFolderTemp;
    if (DirExists(folder) || QDir().mkdir(folder)) return true;
    MsgBox::Warn(this,
                 QStringLiteral("Voor het kunnen bekijken van een ICM-order moet de directory '") +
                     settings_.Directory + QStringLiteral("temp' aanwezig zijn."));
    return false;
}

void FrmSendIcm::cmdBekijken_Click() {
    lstBerichten_->setFocus();
    if (!CheckTempDir()) return;
    const QList<QTreeWidgetItem*> highlighted = lstBerichten_->selectedItems();
    if (highlighted.isEmpty()) {
        MsgBox::Warn(this,
                     QStringLiteral("Selecteer eerst een order die weergegeven moet worden!"));
        return;
    }
    const MessageTab tab = currentTab();
    const QString path = FolderOf(settings_.Directory, tab) + highlighted.first()->text(0);
    const QString page =
        tab == MessageTab::Bevestigingen ? CreateIcbHtml(path) : CreateIcmHtml(path);
    QString pagePath;
    if (!WritePageFile(settings_.Directory, page, &pagePath)) {
        MsgBox::Warn(this, QStringLiteral("Het bestand '") + settings_.Directory + kFolderTemp +
                               kPathSep + QStringLiteral("Temp.html' kan niet worden geschreven."));
        return;
    }
    if (parts_.browser) parts_.browser->OpenInBrowser(pagePath);
}

}  // namespace kavelon
