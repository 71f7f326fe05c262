#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

// Makes a real folder refuse new entries, also for root (who ignores permission bits):
// as root the folder is marked immutable. Undone when the guard goes.
class UnwritableFolder {
  public:
    explicit UnwritableFolder(QString path) : path_(std::move(path)) {
        if (geteuid() != 0) {
            saved_ = QFile::permissions(path_);
            active_ = QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner);
        } else {
            active_ = QProcess::execute("chattr", {"+i", path_}) == 0;
            immutable_ = active_;
        }
    }
    ~UnwritableFolder() {
        if (immutable_)
            QProcess::execute("chattr", {"-i", path_});
        else if (active_)
            QFile::setPermissions(path_, saved_);
    }
    // False where this file system cannot refuse entries to root (tmpfs, say).
    bool active() const { return active_; }

  private:
    QString path_;
    QFile::Permissions saved_;
    bool active_ = false;
    bool immutable_ = false;
};
