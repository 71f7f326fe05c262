#include "core/actionlock.h"

#include <QDeadlineTimer>
#include <QDir>

#include "core/paths.h"
#include "core/progress.h"
#include "core/workdirs.h"

namespace kavelon {
namespace {
constexpr int kPollMilliseconds = 50;
}

bool ActionLock::acquire(const QString& directory, EventPump* pump, int waitMs) {
    release();
    const QString folder = directory + kFolderTemp;
    QDir().mkdir(folder);
    lock_ = std::make_unique<QLockFile>(folder + kPathSep + QStringLiteral("kavelon.lock"));
    // An action may take long: only a dead owner makes the lock stale, never its age.
    lock_->setStaleLockTime(0);
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (lock_->tryLock(kPollMilliseconds)) return true;
        if (lock_->error() != QLockFile::LockFailedError || deadline.hasExpired()) break;
        if (pump) pump->ProcessPendingEvents();
    }
    lock_.reset();
    return false;
}

void ActionLock::release() {
    if (lock_) lock_->unlock();
    lock_.reset();
}

}  // namespace kavelon
