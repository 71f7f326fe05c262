#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;

namespace kavelon {

// The directory picker. Dir1 lists the path from the volume's root down to the
// current directory, then the current directory's subdirectories; a double click or Enter
// opens the highlighted entry. Drive1 lists the mounted volumes (the root first) in place of
// drive letters. "&Openen" writes the opened directory, ending in kPathSep, into the given
// field; "&Annuleren" writes nothing.
class FrmPathOpen : public QDialog {
    Q_OBJECT
  public:
    explicit FrmPathOpen(QLineEdit* txtDirectory, QWidget* parent = nullptr);
    ~FrmPathOpen() override;

    // The current directory of Dir1 (the one opened, not the highlighted entry), in native form.
    QString path() const;
    // Makes a directory the current one of Dir1; false (nothing changes) when it cannot be read.
    bool setPath(const QString& directory);
    // The entries of Drive1: the mount points offered. By default the mounted volumes.
    void setVolumes(const QStringList& mountPoints);
    QStringList volumes() const { return volumes_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    void FillDir1();
    void Dir1_Change();
    void OpenHighlighted();
    void Drive1_Change(int index);
    void SelectDriveOfPath();
    void cmdFileOpen_Click();

    QLineEdit* txtDirectory_;
    QString path_;  // the directory shown, cleaned, with "/" separators
    QStringList volumes_;
    bool centred_ = false;

    QLabel* Label4_ = nullptr;
    QLabel* lblDirectory_ = nullptr;
    QTreeWidget* Dir1_ = nullptr;
    QLabel* Label3_ = nullptr;
    QComboBox* Drive1_ = nullptr;
    QPushButton* cmdFileOpen_ = nullptr;
    QPushButton* cmdFileCancel_ = nullptr;
};

// The mounted volumes that Drive1 offers: their mount points, the root first, then the others
// in text order.
QStringList MountedVolumePaths();

}  // namespace kavelon
