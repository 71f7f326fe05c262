#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kavelon {

// Many files replaced durably at the cost of one flush to disk: each is written under a
// temporary name beside its place (its path + "." + six letters and digits, one a capital),
// then the data of all of them goes to disk at once, then each is renamed over its path in
// the order added, then the folders are synced. Every path names its old file or the whole
// new one, also after a crash; the data of a file is on disk before its name is.
class DurableBatch {
  public:
    DurableBatch() = default;
    DurableBatch(const DurableBatch&) = delete;
    DurableBatch& operator=(const DurableBatch&) = delete;
    ~DurableBatch();  // removes what was added and not committed

    // Writes the bytes under a temporary name beside path, every write checked. False when
    // that fails (nothing is left then); noSpace tells a full medium or quota.
    bool add(const QString& path, const QByteArray& bytes, bool* noSpace = nullptr);
    qsizetype size() const { return entries_.size(); }

    // Puts every added file in place; for each, in the order added, whether it is in place.
    // The batch is empty afterwards.
    QList<bool> commit();

  private:
    struct Entry {
        QByteArray temporary;
        QByteArray target;
        qint64 size = 0;
    };
    QList<Entry> entries_;
};

}  // namespace kavelon
