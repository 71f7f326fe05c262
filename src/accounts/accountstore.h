#pragma once

#include <memory>
#include <optional>

#include <QList>
#include <QString>

class QSqlQuery;

namespace kavelon {

// The name of the account file.
inline const QString kAccountFileName = QStringLiteral("Kavelon.kvd");

// One customer account: a row of table Debiteur.
struct Debiteur {
    qint64 rowId = 0;  // set by the store; identifies the row for AccountStore::update
    QString DebiteurenNummer;
    QString Gebruiker;
    QString Wachtwoord;
};

// Where the account file is: Kavelon.kvd in the program's folder; when no file is there, an
// existing one in the per-user data folder; otherwise the program's folder when a file can be
// created in it, else the data folder.
QString ResolveAccountFilePath(const QString& programFolder, const QString& dataFolder);

// True when programFolder is installedFolder, the folder the build installs the program into;
// both are compared as canonical paths, so a link to the folder counts too.
bool IsInstalledProgramFolder(const QString& programFolder, const QString& installedFolder);

// Where an installed program keeps the account file: Kavelon.kvd in the data folder, never
// beside itself. On the first start, when the data folder holds none yet, an account file left
// beside the program by an older copy is copied there (a consistent snapshot, owner-only); the
// old file is left as it is.
QString InstalledAccountFilePath(const QString& programFolder, const QString& dataFolder);

// The account file of the running program, in its AppDataLocation when it runs installed, else
// by ResolveAccountFilePath.
QString DefaultAccountFilePath();

// The number with a dash after its third character: "123456" gives "123-456", "12" gives "12-".
QString DashedCustomerNumber(const QString& number);

// The account file: an SQLite file with table Debiteur. Values are stored and compared as
// given, never trimmed; numbers and users compare without regard to letter case (ASCII).
// Every operation reports a failure through its result and a Dutch text in error.
// A store belongs to the thread that made it; destroy it before the application object.
class AccountStore {
  public:
    AccountStore();
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Opens the file shared, read-write. A missing file is created (owner-only) with an empty
    // table; an existing file that is no account file is refused and left untouched.
    bool open(const QString& filePath, QString& error);
    bool isOpen() const;
    QString filePath() const;

    // All rows in the order they were added.
    std::optional<QList<Debiteur>> selectAll(QString& error) const;
    // All rows, ascending by number compared as text.
    std::optional<QList<Debiteur>> selectAllByNumber(QString& error) const;
    // The rows with this number (at most one, as numbers are unique).
    std::optional<QList<Debiteur>> selectByNumber(const QString& number, QString& error) const;
    std::optional<QList<Debiteur>> selectByNumberAndUser(const QString& number, const QString& user,
                                                         QString& error) const;
    // The account for an order: the number as given, else DashedCustomerNumber(number).
    std::optional<QList<Debiteur>> selectForOrder(const QString& number, QString& error) const;

    // Adds the row and sets its rowId; refuses a number that is already stored.
    bool addNew(Debiteur& account, QString& error);
    // Writes the three values into the row with account.rowId.
    bool update(const Debiteur& account, QString& error);
    // Deletes every row with this number; no such row is no failure.
    bool deleteByNumber(const QString& number, QString& error);

  private:
    void close();
    std::optional<QList<Debiteur>> select(const QString& sql, const QList<QString>& values,
                                          QString& error) const;
    std::optional<QList<Debiteur>> selectPreparedByNumber(const QString& number,
                                                          QString& error) const;
    bool refuseTakenNumber(const QString& number, std::optional<qint64> ownRowId,
                           QString& error) const;

    QString connectionName_;
    QString filePath_;
    // The send looks up an account for every order: its statement is prepared once.
    mutable std::unique_ptr<QSqlQuery> numberLookup_;
};

// Opens the account file at DefaultAccountFilePath(), creating it on a fresh installation.
bool OpenDebiteurDatabase(AccountStore& store, QString& error);

}  // namespace kavelon
