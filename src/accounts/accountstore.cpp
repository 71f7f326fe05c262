#include "accounts/accountstore.h"

#include <atomic>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>
#include <QVariant>

#include "version.h"

namespace kavelon {
namespace {

const QString kDriver = QStringLiteral("QSQLITE");
// The first 16 bytes of every SQLite file; SQLite itself takes an empty file as a database.
const QByteArray kSqliteHeader("SQLite format 3\0", 16);
constexpr int kBusyTimeoutMs = 5000;
constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

const QString kCreateTable = QStringLiteral(
    "CREATE TABLE Debiteur (DebiteurenNummer TEXT NOT NULL COLLATE NOCASE UNIQUE, "
    "Gebruiker TEXT NOT NULL COLLATE NOCASE, Wachtwoord TEXT NOT NULL)");
const QString kSelect =
    QStringLiteral("SELECT rowid, DebiteurenNummer, Gebruiker, Wachtwoord FROM Debiteur");
// Each comparison names its collation, so a file made elsewhere compares the same way.
const QString kWhereNumber = QStringLiteral(" WHERE DebiteurenNummer = ? COLLATE NOCASE");

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString OpenFailure(const QString& path, const QString& reason) {
    return QStringLiteral("Het accountbestand '%1' kan niet worden geopend: %2")
        .arg(Shown(path), reason);
}

QString CreateFailure(const QString& path, const QString& reason) {
    return QStringLiteral("Het accountbestand '%1' kan niet worden aangemaakt: %2")
        .arg(Shown(path), reason);
}

QString NotAnAccountFile(const QString& path) {
    return QStringLiteral("Het bestand '%1' is geen Kavelon-accountbestand.").arg(Shown(path));
}

QString StatementFailure(const QSqlError& sqlError) {
    return QStringLiteral("De opdracht op het accountbestand is mislukt: %1").arg(sqlError.text());
}

// A null text would be bound as NULL; the store keeps it as an empty text.
QVariant TextValue(const QString& value) {
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

const QString kNotOpen = QStringLiteral("Het accountbestand is niet geopend.");

// Prepares and runs a statement with its values bound in order.
bool Run(QSqlQuery& query, const QString& sql, const QVariantList& values, QString& error) {
    if (!query.prepare(sql)) {
        error = StatementFailure(query.lastError());
        return false;
    }
    for (const QVariant& value : values) query.addBindValue(value);
    if (query.exec()) return true;
    error = StatementFailure(query.lastError());
    return false;
}

QString NewConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("kavelon-accounts-%1").arg(++counter);
}

// Opens an SQLite file that exists; the URI mode keeps SQLite from creating one.
bool OpenConnection(const QString& name, const QString& path, bool readOnly, QString& error) {
    QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, name);
    const QString mode = readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw");
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + mode);
    QString options =
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (readOnly) options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (db.open()) return true;
    error = OpenFailure(path, db.lastError().text());
    return false;
}

void RemoveConnection(const QString& name) {
    if (!QSqlDatabase::contains(name)) return;
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

// Tells whether the schema of an open file holds table Debiteur with the columns the store
// reads. Only reads.
bool HasAccountTable(const QString& name, const QString& path, QString& error) {
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = "
                                   "'Debiteur' COLLATE NOCASE"))) {
        error = OpenFailure(path, query.lastError().text());
        return false;
    }
    if (!query.next()) {
        error = query.lastError().isValid() ? OpenFailure(path, query.lastError().text())
                                            : NotAnAccountFile(path);
        return false;
    }
    query.finish();
    // Compiling the store's own query proves the columns (and the rowid) are there.
    if (!query.prepare(kSelect + QStringLiteral(" LIMIT 0"))) {
        error = NotAnAccountFile(path);
        return false;
    }
    return true;
}

// Checks an existing file without writing to it.
bool CheckAccountFile(const QString& path, QString& error) {
    if (!QFileInfo(path).isFile()) {
        error = NotAnAccountFile(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = OpenFailure(path, file.errorString());
        return false;
    }
    if (file.read(kSqliteHeader.size()) != kSqliteHeader) {
        error = NotAnAccountFile(path);
        return false;
    }
    file.close();

    const QString name = NewConnectionName() + QStringLiteral("-check");
    const bool ok = OpenConnection(name, path, true, error) && HasAccountTable(name, path, error);
    RemoveConnection(name);
    return ok;
}

// Creates the empty file owner-only before SQLite writes anything into it.
bool CreateOwnerOnlyFile(const QString& path, QString& error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = CreateFailure(
            path, QStringLiteral("de map '%1' kan niet worden gemaakt.").arg(Shown(folder)));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly)) {
        error = CreateFailure(path, file.errorString());
        return false;
    }
    file.close();
    // A strict umask may have taken the owner's write bit.
    file.setPermissions(kOwnerOnly);
    return true;
}

// True when a file can be created in the folder; a real attempt, as permission bits and ACLs
// do not tell for every system.
bool CanCreateFileIn(const QString& folder) {
    if (!QFileInfo(folder).isDir()) return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("Kavelon-XXXXXX.tmp")));
    return probe.open();
}

// Copies an account file through SQLite, so the copy is consistent even while another program
// writes the original, which is only read. The copy is made under a name of its own and gets
// its final name only when complete; when another start got there first, that copy stays.
void CopyAccountFile(const QString& from, const QString& to) {
    QString error;
    if (!CheckAccountFile(from, error) || !QDir().mkpath(QFileInfo(to).absolutePath())) return;
    // An empty owner-only file, which SQLite fills.
    QTemporaryFile partial(to + QStringLiteral("-XXXXXX.tmp"));
    if (!partial.open()) return;
    partial.close();
    const QString name = NewConnectionName() + QStringLiteral("-copy");
    if (OpenConnection(name, from, true, error)) {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (Run(query, QStringLiteral("VACUUM INTO ?"), {partial.fileName()}, error) &&
            QFile::rename(partial.fileName(), to))
            partial.setAutoRemove(false);
    }
    RemoveConnection(name);
}

}  // namespace

QString ResolveAccountFilePath(const QString& programFolder, const QString& dataFolder) {
    const QString besideProgram = QDir(programFolder).filePath(kAccountFileName);
    if (QFileInfo::exists(besideProgram) || dataFolder.isEmpty()) return besideProgram;
    const QString inDataFolder = QDir(dataFolder).filePath(kAccountFileName);
    if (QFileInfo::exists(inDataFolder)) return inDataFolder;
    return CanCreateFileIn(programFolder) ? besideProgram : inDataFolder;
}

bool IsInstalledProgramFolder(const QString& programFolder, const QString& installedFolder) {
    const QString canonical = QFileInfo(programFolder).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(installedFolder).canonicalFilePath();
}

QString InstalledAccountFilePath(const QString& programFolder, const QString& dataFolder) {
    const QString inDataFolder = QDir(dataFolder).filePath(kAccountFileName);
    const QString besideProgram = QDir(programFolder).filePath(kAccountFileName);
    if (!QFileInfo::exists(inDataFolder) && QFileInfo::exists(besideProgram))
        CopyAccountFile(besideProgram, inDataFolder);
    return inDataFolder;
}

QString DefaultAccountFilePath() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (IsInstalledProgramFolder(programFolder, QString::fromUtf8(kInstalledProgramFolder)))
        return InstalledAccountFilePath(programFolder, dataFolder);
    return ResolveAccountFilePath(programFolder, dataFolder);
}

QString DashedCustomerNumber(const QString& number) {
    return number.left(3) + u'-' + number.mid(3);
}

AccountStore::AccountStore() : connectionName_(NewConnectionName()) {}

AccountStore::~AccountStore() {
    close();
}

void AccountStore::close() {
    numberLookup_.reset();
    RemoveConnection(connectionName_);
    filePath_.clear();
}

bool AccountStore::open(const QString& filePath, QString& error) {
    close();
    const QString path = QFileInfo(filePath).absoluteFilePath();
    const bool fresh = !QFileInfo::exists(path);
    if (fresh) {
        if (!CreateOwnerOnlyFile(path, error)) return false;
    } else if (!CheckAccountFile(path, error)) {
        return false;
    }

    if (!OpenConnection(connectionName_, path, false, error)) {
        close();
        if (fresh) QFile::remove(path);
        return false;
    }
    if (fresh) {
        bool created = false;
        {
            QSqlQuery query(QSqlDatabase::database(connectionName_, false));
            created = query.exec(kCreateTable);
            if (!created) error = CreateFailure(path, query.lastError().text());
        }
        if (!created) {
            close();
            // The file is ours and holds nothing; left behind it would be refused next time.
            QFile::remove(path);
            return false;
        }
    }
    filePath_ = path;
    return true;
}

bool AccountStore::isOpen() const {
    return !filePath_.isEmpty();
}

QString AccountStore::filePath() const {
    return filePath_;
}

namespace {

// The rows of a query that has run; none at all when the read stops halfway.
std::optional<QList<Debiteur>> RowsOf(QSqlQuery& query, QString& error) {
    QList<Debiteur> rows;
    while (query.next()) {
        rows.append(Debiteur{query.value(0).toLongLong(), query.value(1).toString(),
                             query.value(2).toString(), query.value(3).toString()});
    }
    const QSqlError failure = query.lastError();
    query.finish();
    if (failure.isValid()) {
        error = StatementFailure(failure);
        return std::nullopt;
    }
    return rows;
}

}  // namespace

std::optional<QList<Debiteur>> AccountStore::select(const QString& sql,
                                                    const QList<QString>& values,
                                                    QString& error) const {
    if (!isOpen()) {
        error = kNotOpen;
        return std::nullopt;
    }
    QVariantList bound;
    for (const QString& value : values) bound.append(TextValue(value));
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    query.setForwardOnly(true);
    if (!Run(query, sql, bound, error)) return std::nullopt;
    return RowsOf(query, error);
}

std::optional<QList<Debiteur>> AccountStore::selectPreparedByNumber(const QString& number,
                                                                    QString& error) const {
    if (!isOpen()) {
        error = kNotOpen;
        return std::nullopt;
    }
    if (!numberLookup_) {
        auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(connectionName_, false));
        query->setForwardOnly(true);
        if (!query->prepare(kSelect + kWhereNumber + QStringLiteral(" ORDER BY rowid"))) {
            error = StatementFailure(query->lastError());
            return std::nullopt;
        }
        numberLookup_ = std::move(query);
    }
    numberLookup_->bindValue(0, TextValue(number));
    if (!numberLookup_->exec()) {
        error = StatementFailure(numberLookup_->lastError());
        numberLookup_->finish();
        return std::nullopt;
    }
    return RowsOf(*numberLookup_, error);
}

std::optional<QList<Debiteur>> AccountStore::selectAll(QString& error) const {
    return select(kSelect + QStringLiteral(" ORDER BY rowid"), {}, error);
}

std::optional<QList<Debiteur>> AccountStore::selectAllByNumber(QString& error) const {
    return select(kSelect + QStringLiteral(" ORDER BY DebiteurenNummer COLLATE NOCASE, rowid"), {},
                  error);
}

std::optional<QList<Debiteur>> AccountStore::selectByNumber(const QString& number,
                                                            QString& error) const {
    return select(kSelect + kWhereNumber + QStringLiteral(" ORDER BY rowid"), {number}, error);
}

std::optional<QList<Debiteur>> AccountStore::selectByNumberAndUser(const QString& number,
                                                                   const QString& user,
                                                                   QString& error) const {
    return select(
        kSelect + kWhereNumber + QStringLiteral(" AND Gebruiker = ? COLLATE NOCASE ORDER BY rowid"),
        {number, user}, error);
}

std::optional<QList<Debiteur>> AccountStore::selectForOrder(const QString& number,
                                                            QString& error) const {
    std::optional<QList<Debiteur>> rows = selectPreparedByNumber(number, error);
    if (!rows || !rows->isEmpty()) return rows;
    return selectPreparedByNumber(DashedCustomerNumber(number), error);
}

// Fails when another row than ownRowId has the number. The unique index refuses it too; this
// gives the user a clear text.
bool AccountStore::refuseTakenNumber(const QString& number, std::optional<qint64> ownRowId,
                                     QString& error) const {
    const std::optional<QList<Debiteur>> rows = selectByNumber(number, error);
    if (!rows) return false;
    for (const Debiteur& row : *rows) {
        if (row.rowId != ownRowId) {
            error = QStringLiteral("Debiteurennummer '%1' bestaat al.").arg(number);
            return false;
        }
    }
    return true;
}

bool AccountStore::addNew(Debiteur& account, QString& error) {
    if (!refuseTakenNumber(account.DebiteurenNummer, std::nullopt, error)) return false;
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    if (!Run(query,
             QStringLiteral("INSERT INTO Debiteur (DebiteurenNummer, Gebruiker, Wachtwoord) "
                            "VALUES (?, ?, ?)"),
             {TextValue(account.DebiteurenNummer), TextValue(account.Gebruiker),
              TextValue(account.Wachtwoord)},
             error)) {
        return false;
    }
    account.rowId = query.lastInsertId().toLongLong();
    return true;
}

bool AccountStore::update(const Debiteur& account, QString& error) {
    if (!refuseTakenNumber(account.DebiteurenNummer, account.rowId, error)) return false;
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    if (!Run(query,
             QStringLiteral("UPDATE Debiteur SET DebiteurenNummer = ?, Gebruiker = ?, "
                            "Wachtwoord = ? WHERE rowid = ?"),
             {TextValue(account.DebiteurenNummer), TextValue(account.Gebruiker),
              TextValue(account.Wachtwoord), account.rowId},
             error)) {
        return false;
    }
    if (query.numRowsAffected() != 1) {
        error = QStringLiteral("Het te wijzigen account bestaat niet meer.");
        return false;
    }
    return true;
}

bool AccountStore::deleteByNumber(const QString& number, QString& error) {
    if (!isOpen()) {
        error = kNotOpen;
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(connectionName_, false));
    return Run(query, QStringLiteral("DELETE FROM Debiteur") + kWhereNumber, {TextValue(number)},
               error);
}

bool OpenDebiteurDatabase(AccountStore& store, QString& error) {
    return store.open(DefaultAccountFilePath(), error);
}

}  // namespace kavelon
