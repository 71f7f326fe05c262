#include "settings/frminit.h"

#include <initializer_list>
#include <iterator>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "accounts/accountstore.h"
#include "accounts/frmdebiteur.h"
#include "core/textutil.h"
#include "core/workdirs.h"
#include "settings/frmpathopen.h"
#include "ui/fonts.h"
#include "ui/keys.h"
#include "ui/msgbox.h"
#include "ui/placement.h"

namespace kavelon {
namespace {

const QString kNoDirectory =
    QStringLiteral("Voor het verzenden van ICM-orders moet een hoofddirectory opgegeven zijn!");
const QString kSelectToChange =
    QStringLiteral("Selecteer eerst het debiteurennummer dat u wilt wijzigen");
const QString kSelectToDelete =
    QStringLiteral("Selecteer eerst het debiteurennummer dat u wilt verwijderen");
const QString kNoDatabase = QStringLiteral("Het accountbestand is niet geopend.");

QLabel* Caption(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                int h = 13) {
    auto* label = Place<QLabel>(parent, name, x, y, w, h);
    label->setText(text);
    return label;
}

// A check box without text of its own; its text is the label beside it.
QCheckBox* Box(QWidget* parent, const char* name, int x, int y, const QLabel* label) {
    auto* box = Place<QCheckBox>(parent, name, x, y, 16, 16);
    box->setAccessibleName(label->text());
    return box;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& heading, int x, int y, int w,
                 int h, bool bigHeading) {
    auto* group = Place<QGroupBox>(parent, name, x, y, w, h);
    group->setTitle(heading);
    if (bigHeading) {
        QFont big = group->font();
        big.setPointSize(12);
        big.setBold(true);
        group->setFont(big);
    }
    return group;
}

// The controls of a group keep the window's font, whatever the group's heading uses.
void KeepWindowFont(QWidget* group, const QFont& font) {
    QFont normal = font;  // every attribute set explicitly, so nothing comes from the group
    if (font.pointSize() > 0)
        normal.setPointSize(font.pointSize());
    else
        normal.setPixelSize(font.pixelSize());
    normal.setWeight(font.weight());
    normal.setFamilies(font.families());
    for (QWidget* child : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        child->setFont(normal);
}

}  // namespace

FrmInit::FrmInit(Settings& settings, AccountStore* database, std::function<void()> directoryChanged,
                 SystemProxyFactory systemProxy, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      database_(database),
      directoryChanged_(std::move(directoryChanged)),
      systemProxy_(std::move(systemProxy)) {
    setObjectName(QStringLiteral("frmInit"));
    UseDialogFont(this);
    UseFocusKeys(this);
    setWindowTitle(QString());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(481, 507);
    BuildControls();
    Form_Load();
}

FrmInit::~FrmInit() = default;

void FrmInit::BuildControls() {
    BuildToelichting();
    BuildInstellingen();
    BuildProxy();
    cmdOK_ = PlainButton(this, "cmdOK", QStringLiteral("OK"), 316, 476, 77, 23);
    cmdCancel_ = PlainButton(this, "cmdCancel", QStringLiteral("Annuleren"), 396, 476, 77, 23);
    for (QGroupBox* group : {Frame1_, frmInstellingen_, frameProxy_}) KeepWindowFont(group, font());
    QFont bold = Label3_->font();
    bold.setBold(true);
    Label3_->setFont(bold);

    QWidget* order[] = {
        txtDirectory_,  chkDirect_,     chkOnline_,        chkUseProxy_,      chkUseIeProxy_,
        txtProxyAdres_, txtProxyPoort_, txtProxyUsername_, txtProxyPassword_, cmdOK_,
        cmdCancel_,     lstDebiteur_,   cmdAdd_,           cmdUpdate_,        cmdDelete_,
        chkUseNtlm_,    cmdDir_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(chkUseProxy_, &QCheckBox::clicked, this, &FrmInit::ApplyR1);
    connect(chkUseIeProxy_, &QCheckBox::clicked, this, &FrmInit::chkUseIeProxy_Click);
    connect(cmdAdd_, &QPushButton::clicked, this, &FrmInit::cmdAdd_Click);
    connect(cmdUpdate_, &QPushButton::clicked, this, &FrmInit::cmdUpdate_Click);
    connect(cmdDelete_, &QPushButton::clicked, this, &FrmInit::cmdDelete_Click);
    connect(cmdDir_, &QPushButton::clicked, this, &FrmInit::cmdDir_Click);
    connect(cmdOK_, &QPushButton::clicked, this, &FrmInit::cmdOK_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmInit::reject);
}

void FrmInit::BuildToelichting() {
    Frame1_ = Group(this, "Frame1", QStringLiteral("Toelichting"), 8, 4, 465, 112, true);
    lblToelichting_ = Caption(Frame1_, "lblToelichting",
                              QStringLiteral("Voor het kunnen verzenden van een ICM-order naar "
                                             "Rilvost dient u eerst uw inloggegevens en de ICM "
                                             "directory op te gegeven."),
                              12, 28, 441, 28);
    Label3_ = Caption(Frame1_, "Label3", QStringLiteral("Let op:"), 12, 60, 441);
    lblLetOp_ = Caption(Frame1_, "lblLetOp",
                        QStringLiteral("In het veld Hoofddirectory dient u de volledige padnaam "
                                       "van de Rilvost hoofddirectory op te geven. Bijvoorbeeld "
                                       "C:\\Rilvost"),
                        12, 76, 441, 28);
    for (QLabel* label : {lblToelichting_, lblLetOp_}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
}

void FrmInit::BuildInstellingen() {
    frmInstellingen_ =
        Group(this, "frmInstellingen", QStringLiteral("Instellingen"), 8, 120, 465, 176, true);
    QWidget* g = frmInstellingen_;
    Label1_ = Caption(g, "Label1", QStringLiteral("Debiteursgegevens:"), 10, 30, 108);
    lstDebiteur_ = Place<QListWidget>(g, "lstDebiteur", 120, 28, 246, 73);
    lstDebiteur_->setSelectionMode(QAbstractItemView::SingleSelection);
    cmdAdd_ = PlainButton(g, "cmdAdd", QStringLiteral("Toevoegen"), 372, 28, 81, 23);
    cmdUpdate_ = PlainButton(g, "cmdUpdate", QStringLiteral("Wijzigen"), 372, 53, 81, 23);
    cmdDelete_ = PlainButton(g, "cmdDelete", QStringLiteral("Verwijderen"), 372, 78, 81, 23);
    lblDirectory_ = Caption(g, "lblDirectory", QStringLiteral("Hoofddirectory:"), 12, 113, 100);
    txtDirectory_ = TextBox(g, "txtDirectory", 116, 110, 310, 20);
    cmdDir_ = PlainButton(g, "cmdDir", QStringLiteral("..."), 430, 109, 23, 22);
    cmdDir_->setToolTip(QStringLiteral("Bladeren"));
    lblDirect_ =
        Caption(g, "lblDirect", QStringLiteral("ICM-orders direct verzenden"), 136, 139, 300);
    chkDirect_ = Box(g, "chkDirect", 116, 137, lblDirect_);
    Label4_ =
        Caption(g, "Label4", QStringLiteral("Internet verbinding controleren"), 136, 157, 300);
    chkOnline_ = Box(g, "chkOnline", 116, 155, Label4_);
}

void FrmInit::BuildProxy() {
    frameProxy_ = Group(this, "frameProxy", QStringLiteral("Proxyserver"), 8, 300, 465, 168, false);
    QWidget* g = frameProxy_;
    lblUseProxy_ =
        Caption(g, "lblUseProxy", QStringLiteral("Een proxyserver voor het LAN-netwerk gebruiken."),
                32, 23, 420);
    chkUseProxy_ = Box(g, "chkUseProxy", 12, 21, lblUseProxy_);
    lblUseIeProxy_ =
        Caption(g, "lblUseIeProxy", QStringLiteral("Instellingen van Internet Explorer gebruiken."),
                32, 43, 420);
    chkUseIeProxy_ = Box(g, "chkUseIeProxy", 12, 41, lblUseIeProxy_);
    lblProxyAdres_ = Caption(g, "lblProxyAdres", QStringLiteral("Adres:"), 12, 69, 70);
    txtProxyAdres_ = TextBox(g, "txtProxyAdres", 86, 66, 240, 20);
    lblProxyPoort_ = Caption(g, "lblProxyPoort", QStringLiteral("Poort:"), 334, 69, 40);
    txtProxyPoort_ = TextBox(g, "txtProxyPoort", 378, 66, 75, 20);
    lblProxyUsername_ = Caption(g, "lblProxyUsername", QStringLiteral("Gebruiker:"), 12, 95, 70);
    txtProxyUsername_ = TextBox(g, "txtProxyUsername", 86, 92, 240, 20);
    lblProxyPassword_ = Caption(g, "lblProxyPassword", QStringLiteral("Wachtwoord:"), 12, 121, 70);
    txtProxyPassword_ = TextBox(g, "txtProxyPassword", 86, 118, 240, 20);
    txtProxyPassword_->setEchoMode(QLineEdit::Password);
    chkUseNtlm_ = Place<QCheckBox>(g, "chkUseNtlm", 86, 142, 240, 17);
    chkUseNtlm_->setText(QStringLiteral("Gebruik ISA-Server / NTLM"));
}

void FrmInit::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (const QScreen* shown = screen())
            move(shown->availableGeometry().center() - rect().center());
        txtDirectory_->setFocus();
    }
    QDialog::showEvent(event);
}

void FrmInit::Form_Load() {
    FillDebiteur();
    txtDirectory_->setText(settings_.Directory);
    chkDirect_->setChecked(settings_.IcmDirect);
    chkOnline_->setChecked(settings_.OnlineCheck);
    chkUseProxy_->setChecked(settings_.ProxyUsed);
    chkUseIeProxy_->setChecked(settings_.ProxyExplorer);
    txtProxyAdres_->setText(settings_.ProxyAdres);
    txtProxyPoort_->setText(settings_.ProxyPort);
    txtProxyUsername_->setText(settings_.ProxyUser);
    txtProxyPassword_->setText(settings_.ProxyToegang);
    chkUseNtlm_->setChecked(settings_.ProxyNtlm);
    ApplyR1();
}

void FrmInit::ApplyR1() {
    const bool p = chkUseProxy_->isChecked();
    const bool i = chkUseIeProxy_->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{
             chkUseIeProxy_, lblUseIeProxy_, lblProxyAdres_, lblProxyPoort_, lblProxyUsername_,
             lblProxyPassword_, txtProxyUsername_, txtProxyPassword_, chkUseNtlm_})
        control->setEnabled(p);
    txtProxyAdres_->setEnabled(p && !i);
    txtProxyPoort_->setEnabled(p && !i);
}

void FrmInit::chkUseIeProxy_Click() {
    const bool ticked = chkUseIeProxy_->isChecked();
    if (ticked) {
        QString adres;
        QString poort;
        std::unique_ptr<SystemProxySource> source;
        try {
            if (systemProxy_) source = systemProxy_();
        } catch (...) {
            source.reset();  // no source counts as a system proxy that is off
        }
        if (source && GetIeProxyEnable(*source) != 0) {
            adres = QString::fromStdString(GetIeProxyAdres(*source));
            poort = QString::fromStdString(GetIeProxyPoort(*source));
        }
        txtProxyAdres_->setText(adres);
        txtProxyPoort_->setText(poort);
    } else {
        txtProxyAdres_->setText(settings_.ProxyAdres);
        txtProxyPoort_->setText(settings_.ProxyPort);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{txtProxyAdres_, txtProxyPoort_,
                                                            lblProxyAdres_, lblProxyPoort_})
        control->setEnabled(!ticked);
}

void FrmInit::FillDebiteur() {
    lstDebiteur_->clear();
    if (!database_) {
        MsgBox::Warn(this, kNoDatabase);
        return;
    }
    QString error;
    const auto rows = database_->selectAllByNumber(error);
    if (!rows) {
        MsgBox::Warn(this, error);
        return;
    }
    QStringList entries;
    entries.reserve(rows->size());
    for (const Debiteur& row : *rows)
        entries.append(row.DebiteurenNummer + QStringLiteral(" / ") + row.Gebruiker);
    lstDebiteur_->addItems(entries);
}

QString FrmInit::SelectedRowText() const {
    const QList<QListWidgetItem*> selected = lstDebiteur_->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void FrmInit::EditAccount(const QString& input) {
    {
        FrmDebiteur editor(database_, this);
        editor.strInput = input;
        editor.exec();
    }
    FillDebiteur();
}

void FrmInit::cmdAdd_Click() {
    EditAccount(QString());
}

void FrmInit::cmdUpdate_Click() {
    const QString text = SelectedRowText();
    if (IsBlank(text)) {
        MsgBox::Warn(this, kSelectToChange);
        return;
    }
    EditAccount(text);
}

void FrmInit::cmdDelete_Click() {
    const QString text = SelectedRowText();
    if (IsBlank(text)) {
        MsgBox::Warn(this, kSelectToDelete);
        return;
    }
    const qsizetype slash = text.indexOf(u'/');
    if (slash < 0) return;
    const QString number = TrimSpaces(text.left(slash));
    if (!database_) {
        MsgBox::Warn(this, kNoDatabase);
        return;
    }
    QString error;
    if (!database_->deleteByNumber(number, error)) {
        MsgBox::Warn(this, error);
        return;
    }
    delete lstDebiteur_->selectedItems().first();
}

void FrmInit::cmdDir_Click() {
    FrmPathOpen picker(txtDirectory_, this);
    picker.exec();
}

void FrmInit::cmdOK_Click() {
    if (IsBlank(txtDirectory_->text())) {
        MsgBox::Warn(this, kNoDirectory, QStringLiteral("ICM instellingen"));
        return;
    }
    const bool directoryChanged = txtDirectory_->text() != settings_.Directory;

    Settings s;
    s.Directory = txtDirectory_->text();
    s.IcmDirect = chkDirect_->isChecked();
    s.OnlineCheck = chkOnline_->isChecked();
    s.ProxyUsed = chkUseProxy_->isChecked();
    s.ProxyExplorer = chkUseIeProxy_->isChecked();
    s.ProxyAdres = txtProxyAdres_->text();
    s.ProxyPort = txtProxyPoort_->text();
    s.ProxyUser = txtProxyUsername_->text();
    s.ProxyToegang = txtProxyPassword_->text();
    s.ProxyNtlm = chkUseNtlm_->isChecked();
    SettingsStore store;
    WriteSettings(store, s);
    settings_ = s;
    accept();

    if (directoryChanged) {
        CreateWorkDirs(settings_.Directory);
        if (directoryChanged_) directoryChanged_();
    }
}

}  // namespace kavelon
