#pragma once

#include <memory>

#include <QLockFile>
#include <QString>

namespace kavelon {

class EventPump;

// One send, fetch or delete at a time per main directory, across processes: a lock file in
// the main directory's temp folder. A lock left by a process that died is taken over.
class ActionLock {
  public:
    inline static const QString kBusyText = QStringLiteral(
        "Er is al een andere verzending of ophaalactie bezig in deze hoofddirectory.");
    static constexpr int kWaitMilliseconds = 30000;

    // The directory ends with the separator. Waits up to waitMs while letting events be
    // processed; false when the lock could not be had.
    bool acquire(const QString& directory, EventPump* pump, int waitMs = kWaitMilliseconds);
    void release();
    bool held() const { return lock_ && lock_->isLocked(); }

  private:
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace kavelon
