#include "core/actionlock.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>

#include "core/paths.h"
#include "core/progress.h"
#include "core/textutil.h"
#include "core/workdirs.h"

namespace kavelon {
namespace {

constexpr int kPollMilliseconds = 50;

bool RenewedWithin(const QString& path, qint64 milliseconds) {
    const QDateTime renewed = QFileInfo(path).lastModified();
    return renewed.isValid() && renewed.msecsTo(QDateTime::currentDateTimeUtc()) <= milliseconds;
}

// A lock of another computer cannot be checked by its process id: it is stale once its
// holder has not renewed it for the stale time. Removes such a lock; true when it did.
bool TakeOverUnrenewed(QLockFile& lock) {
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program)) return false;
    if (host.isEmpty() || host == QSysInfo::machineHostName()) return false;
    if (RenewedWithin(lock.fileName(), ActionLock::kStaleMilliseconds)) return false;
    // One remover at a time, and only the lock that was found stale.
    QLockFile remover(lock.fileName() + QStringLiteral(".rmlock"));
    if (!remover.tryLock(0)) return false;
    if (RenewedWithin(lock.fileName(), ActionLock::kStaleMilliseconds)) return false;
    return lock.removeStaleLockFile();
}

}  // namespace

ActionLock::ActionLock() : renewal_(std::make_unique<QTimer>()) {
    renewal_->setInterval(kRenewMilliseconds);
    QObject::connect(renewal_.get(), &QTimer::timeout, [this] { Renew(); });
}

ActionLock::~ActionLock() {
    release();
}

void ActionLock::setRenewInterval(int milliseconds) {
    renewal_->setInterval(milliseconds);
}

QString ActionLock::RuntimeLockPath(const QString& directory) {
    QString canonical = QFileInfo(directory).canonicalFilePath();
    if (canonical.isEmpty()) canonical = QFileInfo(directory).absoluteFilePath();
    const QByteArray key =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    return QDir(runtime).filePath(QStringLiteral("kavelon-%1.lock").arg(QLatin1String(key)));
}

bool ActionLock::acquire(const QString& directory, EventPump* pump, int waitMs) {
    release();
    const QString folder = directory + kFolderTemp;
    if (!DirExists(folder)) QDir().mkdir(folder);
    const QDeadlineTimer deadline(waitMs);
    Outcome outcome = TryLockFile(folder + kPathSep + QStringLiteral("kavelon.lock"), pump, waitMs);
    if (outcome == Outcome::Unusable)
        outcome = TryLockFile(RuntimeLockPath(directory), pump, int(deadline.remainingTime()));
    if (outcome == Outcome::Held) renewal_->start();
    return outcome != Outcome::Busy;
}

ActionLock::Outcome ActionLock::TryLockFile(const QString& path, EventPump* pump, int waitMs) {
    lock_ = std::make_unique<QLockFile>(path);
    // On this computer a lock is stale only when its process has died, never by its age.
    lock_->setStaleLockTime(0);
    const QDeadlineTimer deadline(qMax(waitMs, 0));
    for (;;) {
        if (lock_->tryLock(kPollMilliseconds)) return Outcome::Held;
        if (lock_->error() != QLockFile::LockFailedError) {
            lock_.reset();
            return Outcome::Unusable;
        }
        if (TakeOverUnrenewed(*lock_)) continue;
        if (deadline.hasExpired()) break;
        if (pump) pump->ProcessPendingEvents();
    }
    lock_.reset();
    return Outcome::Busy;
}

void ActionLock::Renew() {
    if (!held()) return;
    QFile file(lock_->fileName());
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}

void ActionLock::release() {
    if (renewal_) renewal_->stop();
    if (lock_) lock_->unlock();
    lock_.reset();
}

}  // namespace kavelon
