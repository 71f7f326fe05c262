#include "settings/frmpathopen.h"

#include <algorithm>

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>

#include "core/paths.h"
#include "ui/fonts.h"
#include "ui/keys.h"
#include "ui/msgbox.h"
#include "ui/placement.h"

namespace kavelon {
namespace {

constexpr int kPathRole = Qt::UserRole;

// A path in the form the window keeps: absolute, cleaned, "/" separators.
QString Clean(const QString& path) {
    return QDir::cleanPath(QDir::fromNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

bool IsReadableDirectory(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isDir() && info.isReadable() && info.isExecutable();
}

// True when path is mountPoint or lies below it.
bool IsBelow(const QString& path, const QString& mountPoint) {
    if (path == mountPoint) return true;
    const QString base = mountPoint.endsWith(u'/') ? mountPoint : mountPoint + u'/';
    return path.startsWith(base);
}

// The top of the tree: "/" on Unix, the drive root ("C:/") on Windows.
QString TreeRoot(const QString& path) {
    if (path.startsWith(u'/')) return QStringLiteral("/");
    const qsizetype slash = path.indexOf(u'/');
    return slash < 0 ? path + u'/' : path.left(slash + 1);
}

}  // namespace

QStringList MountedVolumePaths() {
    QStringList paths;
    const QString root = QDir::rootPath();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString mountPoint = Clean(volume.rootPath());
        if (!paths.contains(mountPoint)) paths.append(mountPoint);
    }
    std::sort(paths.begin(), paths.end(), [&root](const QString& a, const QString& b) {
        if ((a == root) != (b == root)) return a == root;
        return a < b;
    });
    if (!paths.contains(root)) paths.prepend(root);
    return paths;
}

FrmPathOpen::FrmPathOpen(QLineEdit* txtDirectory, QWidget* parent)
    : QDialog(parent), txtDirectory_(txtDirectory) {
    setObjectName(QStringLiteral("FrmPathOpen"));
    UseDialogFont(this);
    UseFocusKeys(this);
    setWindowTitle(QStringLiteral("Openen"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(346, 272);
    BuildControls();
    setVolumes(MountedVolumePaths());
    // Opening: Dir1 at the process's current directory, Drive1 at its volume.
    if (!setPath(QDir::currentPath())) {
        path_ = Clean(QDir::currentPath());
        FillDir1();
        Dir1_Change();
    }
}

FrmPathOpen::~FrmPathOpen() = default;

QString FrmPathOpen::path() const {
    return QDir::toNativeSeparators(path_);
}

void FrmPathOpen::BuildControls() {
    Label4_ = Place<QLabel>(this, "Label4", 8, 8, 80, 13);
    QFont bold = Label4_->font();
    bold.setBold(true);
    Label4_->setFont(bold);
    Label4_->setText(QStringLiteral("Directory:"));
    lblDirectory_ = Place<QLabel>(this, "lblDirectory", 8, 24, 241, 13);
    Dir1_ = Place<QTreeWidget>(this, "Dir1", 8, 42, 241, 177);
    Dir1_->setHeaderHidden(true);
    Dir1_->setColumnCount(1);
    Dir1_->setRootIsDecorated(false);
    Dir1_->setItemsExpandable(false);
    Dir1_->setExpandsOnDoubleClick(false);
    Dir1_->setIndentation(12);
    Dir1_->setSelectionMode(QAbstractItemView::SingleSelection);
    Dir1_->installEventFilter(this);
    Label3_ = Place<QLabel>(this, "Label3", 8, 226, 60, 13);
    Label3_->setText(QStringLiteral("Drives:"));
    Drive1_ = Place<QComboBox>(this, "Drive1", 8, 242, 241, 21);
    cmdFileOpen_ = PlainButton(this, "cmdFileOpen", QStringLiteral("&Openen"), 257, 8, 81, 23);
    cmdFileCancel_ =
        PlainButton(this, "cmdFileCancel", QStringLiteral("&Annuleren"), 257, 36, 81, 23);

    setTabOrder(Dir1_, Drive1_);
    setTabOrder(Drive1_, cmdFileOpen_);
    setTabOrder(cmdFileOpen_, cmdFileCancel_);

    connect(Dir1_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { setPath(item->data(0, kPathRole).toString()); });
    connect(Drive1_, &QComboBox::currentIndexChanged, this, &FrmPathOpen::Drive1_Change);
    connect(cmdFileOpen_, &QPushButton::clicked, this, &FrmPathOpen::cmdFileOpen_Click);
    connect(cmdFileCancel_, &QPushButton::clicked, this, &FrmPathOpen::reject);
}

void FrmPathOpen::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (const QScreen* shown = screen())
            move(shown->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
    Dir1_->setFocus();
}

void FrmPathOpen::setVolumes(const QStringList& mountPoints) {
    volumes_.clear();
    for (const QString& mountPoint : mountPoints) volumes_.append(Clean(mountPoint));
    const QSignalBlocker blocker(Drive1_);
    Drive1_->clear();
    for (const QString& mountPoint : volumes_)
        Drive1_->addItem(QDir::toNativeSeparators(mountPoint));
    SelectDriveOfPath();
}

bool FrmPathOpen::setPath(const QString& directory) {
    if (directory.isEmpty() || !IsReadableDirectory(directory)) return false;
    path_ = Clean(directory);
    FillDir1();
    Dir1_Change();
    return true;
}

void FrmPathOpen::FillDir1() {
    Dir1_->clear();
    if (path_.isEmpty()) return;
    const QStyle* look = style();
    const QIcon open = look->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = look->standardIcon(QStyle::SP_DirClosedIcon);

    // The path from the top of the tree down to the current directory.
    const QString root = TreeRoot(path_);
    auto* item = new QTreeWidgetItem(QStringList(QDir::toNativeSeparators(root)));
    item->setData(0, kPathRole, root);
    item->setIcon(0, open);
    Dir1_->addTopLevelItem(item);
    QString walked = root;
    const QStringList parts = path_.mid(root.size()).split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        walked = walked.endsWith(u'/') ? walked + part : walked + u'/' + part;
        auto* child = new QTreeWidgetItem(item, QStringList(part));
        child->setData(0, kPathRole, walked);
        child->setIcon(0, open);
        item = child;
    }
    QTreeWidgetItem* current = item;
    // Its subdirectories.
    const QStringList subdirectories =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    const QString base = path_.endsWith(u'/') ? path_ : path_ + u'/';
    for (const QString& name : subdirectories) {
        auto* child = new QTreeWidgetItem(current, QStringList(name));
        child->setData(0, kPathRole, base + name);
        child->setIcon(0, closed);
    }
    Dir1_->expandAll();
    Dir1_->setCurrentItem(current);
    Dir1_->scrollToItem(current);
}

void FrmPathOpen::Dir1_Change() {
    // Sized to its text, but no wider than the list below it: a long path loses its start.
    lblDirectory_->resize(Dir1_->width(), lblDirectory_->height());
    ShowPathText(lblDirectory_, QString(), QDir::toNativeSeparators(path_));
    lblDirectory_->adjustSize();
    SelectDriveOfPath();
}

void FrmPathOpen::OpenHighlighted() {
    const QTreeWidgetItem* highlighted = Dir1_->currentItem();
    if (highlighted) setPath(highlighted->data(0, kPathRole).toString());
}

bool FrmPathOpen::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Dir1_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenHighlighted();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmPathOpen::Drive1_Change(int index) {
    if (index < 0 || index >= volumes_.size()) return;
    if (setPath(volumes_.at(index))) return;
    MsgBox::Tell(this, QStringLiteral("Station ") + Drive1_->itemText(index) +
                           QStringLiteral(" niet gereed"));
    SelectDriveOfPath();
}

void FrmPathOpen::SelectDriveOfPath() {
    int best = -1;
    for (int i = 0; i < volumes_.size(); ++i) {
        if (!IsBelow(path_, volumes_.at(i))) continue;
        if (best < 0 || volumes_.at(i).size() > volumes_.at(best).size()) best = i;
    }
    const QSignalBlocker blocker(Drive1_);
    Drive1_->setCurrentIndex(best);
}

void FrmPathOpen::cmdFileOpen_Click() {
    if (!lblDirectory_->text().isEmpty() && txtDirectory_) {
        QString chosen = QDir::toNativeSeparators(path_);
        if (!chosen.endsWith(kPathSep)) chosen += kPathSep;
        txtDirectory_->setText(chosen);
    }
    accept();
}

}  // namespace kavelon
