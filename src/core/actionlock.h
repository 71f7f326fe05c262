#pragma once

#include <memory>

#include <QLockFile>
#include <QString>

class QTimer;

namespace kavelon {

class EventPump;

// One send, fetch or delete at a time per main directory, across processes: a lock file in
// the main directory's temp folder. A lock left by a process of this computer that died is
// taken over at once; a lock of another computer once it has not been renewed for a while.
// The holder renews its lock from the event loop while it holds it. When temp cannot hold a
// lock at all (missing, a plain file, read-only), the lock is taken in the per-user runtime
// folder instead, so at least this computer is guarded.
class ActionLock {
  public:
    inline static const QString kBusyText = QStringLiteral(
        "Er is al een andere verzending of ophaalactie bezig in deze hoofddirectory.");
    static constexpr int kWaitMilliseconds = 30000;
    static constexpr int kRenewMilliseconds = 60 * 1000;
    static constexpr qint64 kStaleMilliseconds = 10 * 60 * 1000;

    ActionLock();
    ~ActionLock();

    // The directory ends with the separator. Waits up to waitMs while letting events be
    // processed. False only when another living program holds the lock; true also when no
    // place on this computer can hold a lock at all (the action then runs unguarded).
    bool acquire(const QString& directory, EventPump* pump, int waitMs = kWaitMilliseconds);
    void release();
    bool held() const { return lock_ && lock_->isLocked(); }
    // The lock file held, empty when none.
    QString fileName() const { return held() ? lock_->fileName() : QString(); }
    // How often a held lock is renewed (tests shorten it).
    void setRenewInterval(int milliseconds);

    // The lock file of a main directory in the per-user runtime folder, named after the
    // directory's canonical path.
    static QString RuntimeLockPath(const QString& directory);

  private:
    enum class Outcome { Held, Busy, Unusable };
    Outcome TryLockFile(const QString& path, EventPump* pump, int waitMs);
    void Renew();

    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QTimer> renewal_;
};

}  // namespace kavelon
