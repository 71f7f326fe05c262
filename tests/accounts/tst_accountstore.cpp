#include <optional>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "accounts/accountstore.h"
#include "filebytes.h"

using namespace kavelon;

namespace {

Debiteur Account(const QString& number, const QString& user = QStringLiteral("jan"),
                 const QString& password = QStringLiteral("geheim")) {
    return Debiteur{0, number, user, password};
}

QStringList Numbers(const std::optional<QList<Debiteur>>& rows) {
    QStringList numbers;
    if (rows) {
        for (const Debiteur& row : *rows) numbers << row.DebiteurenNummer;
    }
    return numbers;
}

// Opens the store on the file and adds accounts with these numbers, in this order.
bool OpenWith(AccountStore& store, const QString& file, const QStringList& numbers) {
    QString error;
    bool ok = store.open(file, error);
    for (const QString& number : numbers) {
        Debiteur account = Account(number);
        ok = ok && store.addNew(account, error);
    }
    if (!ok) qWarning("%s", qPrintable(error));
    return ok;
}

// Makes an SQLite file the way another program would.
bool MakeSqliteFile(const QString& path, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "elsewhere");
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString& statement : statements) ok = ok && query.exec(statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("elsewhere"));
    return ok;
}

// While alive, root obeys file permissions like any user: the capability that overrides them
// leaves the effective set and comes back afterwards. Other users obey them anyway.
class ObeyFilePermissions {
  public:
    ObeyFilePermissions() {
        if (geteuid() != 0) {
            active_ = true;
            return;
        }
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
        dropped_ = active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~ObeyFilePermissions() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }
    bool active() const { return active_; }

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
    bool dropped_ = false;
};

}  // namespace

class TestAccountStore : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        dir_.emplace();
        QVERIFY(dir_->isValid());
        file_ = dir_->filePath(kAccountFileName);
    }
    void cleanup() { dir_.reset(); }

    void freshFileIsOwnerOnlyAndEmpty() {
        const QString file = dir_->filePath(QStringLiteral("new folder #1 %20/Kavelon.kvd"));
        AccountStore store;
        QString error;
        QVERIFY(OpenWith(store, file, {}));
        struct stat info {};
        QCOMPARE(stat(QFile::encodeName(file).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QVERIFY(Contents(file).startsWith(QByteArray("SQLite format 3\0", 16)));
        QVERIFY(store.selectAll(error).value().isEmpty());
        QVERIFY(store.selectForOrder(QStringLiteral("123456"), error).value().isEmpty());
    }

    void rowsSurviveReopenAndStoresStaySeparate() {
        {
            AccountStore store;
            QVERIFY(OpenWith(store, file_, {"100"}));
        }
        AccountStore reopened, other;
        QVERIFY(OpenWith(reopened, file_, {}));
        QVERIFY(OpenWith(other, dir_->filePath(QStringLiteral("other.kvd")), {"200"}));
        QString error;
        const std::optional<QList<Debiteur>> rows = reopened.selectAll(error);
        QCOMPARE(Numbers(rows), QStringList{"100"});
        QCOMPARE(rows->first().Gebruiker, QStringLiteral("jan"));
        QCOMPARE(rows->first().Wachtwoord, QStringLiteral("geheim"));
        QCOMPARE(Numbers(other.selectAll(error)), QStringList{"200"});
    }

    void insertionOrderAndNumberOrder() {
        AccountStore store;
        QVERIFY(OpenWith(store, file_, {"b10", "A2", "a1", "9", "10"}));
        QString error;
        QCOMPARE(Numbers(store.selectAll(error)), QStringList({"b10", "A2", "a1", "9", "10"}));
        // Text order without regard to case: "10" before "9".
        QCOMPARE(Numbers(store.selectAllByNumber(error)),
                 QStringList({"10", "9", "a1", "A2", "b10"}));
        // A row added after a delete still comes last.
        QVERIFY(store.deleteByNumber(QStringLiteral("A2"), error));
        Debiteur account = Account(QStringLiteral("0"));
        QVERIFY2(store.addNew(account, error), qPrintable(error));
        QCOMPARE(Numbers(store.selectAll(error)), QStringList({"b10", "a1", "9", "10", "0"}));
    }

    void numbersAndUsersCompareWithoutCase() {
        AccountStore store;
        QVERIFY(OpenWith(store, file_, {"abc", "def"}));
        QString error;
        std::optional<QList<Debiteur>> found = store.selectByNumberAndUser("aBc", "JAN", error);
        QCOMPARE(Numbers(found), QStringList{"abc"});
        QVERIFY(store.selectByNumberAndUser("abc", "Piet", error).value().isEmpty());

        Debiteur duplicate = Account(QStringLiteral("ABC"));
        QVERIFY(!store.addNew(duplicate, error));
        QVERIFY(error.contains(QStringLiteral("bestaat al")));
        Debiteur def = store.selectByNumber("DEF", error).value().first();
        def.DebiteurenNummer = QStringLiteral("Abc");
        QVERIFY(!store.update(def, error));

        // A row may change the case of its own number.
        Debiteur abc = found->first();
        abc.DebiteurenNummer = QStringLiteral("ABC");
        abc.Wachtwoord = QStringLiteral("nieuw");
        QVERIFY2(store.update(abc, error), qPrintable(error));
        found = store.selectByNumber("abc", error);
        QCOMPARE(Numbers(found), QStringList{"ABC"});
        QCOMPARE(found->first().Wachtwoord, QStringLiteral("nieuw"));

        QVERIFY2(store.deleteByNumber(QStringLiteral("DEF"), error), qPrintable(error));
        QVERIFY2(store.deleteByNumber(QStringLiteral("onbekend"), error), qPrintable(error));
        QCOMPARE(Numbers(store.selectAll(error)), QStringList{"ABC"});
        QVERIFY(!store.update(def, error));  // its row is gone
    }

    void valuesAreKeptAsTyped() {
        AccountStore store;
        QVERIFY(OpenWith(store, file_, {}));
        QString error;
        QList<Debiteur> accounts = {Account(" 123", " jan ", "ge heim "),
                                    Account("O'Brien", "d'Ancona", "x'; DELETE FROM Debiteur; --"),
                                    Account("456", "piet", QString())};
        for (Debiteur& account : accounts)
            QVERIFY2(store.addNew(account, error), qPrintable(error));

        QVERIFY(store.selectByNumber(QStringLiteral("123"), error).value().isEmpty());
        QVERIFY(store.selectByNumber(QStringLiteral(" 123 "), error).value().isEmpty());
        std::optional<QList<Debiteur>> found = store.selectByNumber(" 123", error);
        QCOMPARE(Numbers(found), QStringList{" 123"});
        QCOMPARE(found->first().Gebruiker, QStringLiteral(" jan "));
        QCOMPARE(found->first().Wachtwoord, QStringLiteral("ge heim "));
        found = store.selectByNumberAndUser("o'brien", "D'ANCONA", error);
        QCOMPARE(found.value().first().Wachtwoord, accounts[1].Wachtwoord);
        QCOMPARE(store.selectByNumber("456", error).value().first().Wachtwoord, QString());

        QVERIFY2(store.deleteByNumber(QStringLiteral("O'Brien"), error), qPrintable(error));
        QCOMPARE(Numbers(store.selectAll(error)), QStringList({" 123", "456"}));
    }

    void orderLookupTriesDashedNumber() {
        QCOMPARE(DashedCustomerNumber("1234"), QStringLiteral("123-4"));
        QCOMPARE(DashedCustomerNumber("12"), QStringLiteral("12-"));
        AccountStore store;
        QVERIFY(OpenWith(store, file_, {"123-456", "789012", "789-012", "abc-def"}));
        QString error;
        QCOMPARE(Numbers(store.selectForOrder("123456", error)), QStringList{"123-456"});
        QCOMPARE(Numbers(store.selectForOrder("123-456", error)), QStringList{"123-456"});
        QCOMPARE(Numbers(store.selectForOrder("789012", error)), QStringList{"789012"});
        QCOMPARE(Numbers(store.selectForOrder("ABCDEF", error)), QStringList{"abc-def"});
        QVERIFY(store.selectForOrder("555", error).value().isEmpty());
    }

    void compatibleFileFromElsewhereIsUsed() {
        // Columns without a case-blind collation, other letter case, one more column.
        QVERIFY(MakeSqliteFile(
            file_, {"CREATE TABLE debiteur (debiteurennummer TEXT, Gebruiker TEXT, "
                    "Wachtwoord TEXT, Opmerking TEXT)",
                    "INSERT INTO debiteur VALUES ('B2', 'jan', 'pw', NULL), ('a1', 'piet', 'pw', "
                    "'x')"}));
        AccountStore store;
        QVERIFY(OpenWith(store, file_, {}));
        QString error;
        QCOMPARE(Numbers(store.selectAllByNumber(error)), QStringList({"a1", "B2"}));
        QCOMPARE(Numbers(store.selectByNumberAndUser("b2", "JAN", error)), QStringList{"B2"});
        Debiteur duplicate = Account(QStringLiteral("A1"));
        QVERIFY(!store.addNew(duplicate, error));
    }

    void foreignFileIsRefusedUnchanged_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("text") << QByteArray("DebiteurenNummer;Gebruiker\r\n123;jan\r\n")
                              << QStringList();
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("other table") << QByteArray()
                                     << QStringList{"CREATE TABLE Klant (Naam TEXT)",
                                                    "INSERT INTO Klant VALUES ('Rilvost')"};
        QTest::newRow("column missing")
            << QByteArray()
            << QStringList{"CREATE TABLE Debiteur (DebiteurenNummer TEXT, Gebruiker TEXT)"};
    }

    void foreignFileIsRefusedUnchanged() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, statements);
        if (statements.isEmpty()) {
            QFile file(file_);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        } else {
            QVERIFY(MakeSqliteFile(file_, statements));
        }
        const QByteArray before = Contents(file_);

        AccountStore store;
        QString error;
        QVERIFY(!store.open(file_, error));
        QCOMPARE(error, QStringLiteral("Het bestand '%1' is geen Kavelon-accountbestand.")
                            .arg(QDir::toNativeSeparators(file_)));
        QCOMPARE(Contents(file_), before);
        QVERIFY(!QFile::exists(file_ + QStringLiteral("-journal")));
        QVERIFY(!store.selectAll(error));
    }

    void defaultLocationFallsBackToDataFolder() {
        const QString program = dir_->filePath(QStringLiteral("program"));
        const QString installed = dir_->filePath(QStringLiteral("installed"));
        const QString data = dir_->filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(installed) && QDir().mkpath(data));
        QVERIFY(QFile(installed + "/Kavelon.kvd").open(QIODevice::WriteOnly));

        QCOMPARE(ResolveAccountFilePath(program, data), program + "/Kavelon.kvd");
        QVERIFY(QDir(program).isEmpty());  // the write probe leaves nothing behind
        // A file made earlier in the data folder wins over a new one beside the program.
        QVERIFY(QFile(data + "/Kavelon.kvd").open(QIODevice::WriteOnly));
        QCOMPARE(ResolveAccountFilePath(program, data), data + "/Kavelon.kvd");
        QVERIFY(QFile::remove(data + "/Kavelon.kvd"));

        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(program, readOnly));
        QVERIFY(QFile::setPermissions(installed, readOnly));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(program, readOnly | QFile::WriteOwner);
            QFile::setPermissions(installed, readOnly | QFile::WriteOwner);
        });
        const ObeyFilePermissions obey;
        if (!obey.active()) {
            QSKIP(
                "Running as root without the right to drop CAP_DAC_OVERRIDE: a read-only "
                "folder stays writable, so the fallback cannot be shown.");
        }
        QCOMPARE(ResolveAccountFilePath(program, data), data + "/Kavelon.kvd");
        QCOMPARE(ResolveAccountFilePath(installed, data), installed + "/Kavelon.kvd");
    }

    void installedProgramKeepsAccountsInDataFolder() {
        const QString bin = dir_->filePath(QStringLiteral("usr/bin"));
        const QString data = dir_->filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(QFile::link(bin, dir_->filePath(QStringLiteral("bin"))));
        QVERIFY(IsInstalledProgramFolder(bin, bin));
        QVERIFY(IsInstalledProgramFolder(dir_->filePath(QStringLiteral("bin")), bin + "/"));
        QVERIFY(!IsInstalledProgramFolder(dir_->path(), bin));
        QVERIFY(!IsInstalledProgramFolder(dir_->filePath(QStringLiteral("missing")),
                                          dir_->filePath(QStringLiteral("missing"))));

        // The program's folder is writable here, as it is for root, and still holds no file.
        QCOMPARE(InstalledAccountFilePath(bin, data), data + "/Kavelon.kvd");
        QVERIFY(QDir(bin).isEmpty());
        AccountStore store;
        QVERIFY(OpenWith(store, InstalledAccountFilePath(bin, data), {"100"}));
        QCOMPARE(InstalledAccountFilePath(bin, data), data + "/Kavelon.kvd");
    }

    void installedProgramStartsWithCopyOfOlderFile() {
        const QString bin = dir_->filePath(QStringLiteral("bin"));
        const QString data = dir_->filePath(QStringLiteral("data/Kavelon"));
        QVERIFY(QDir().mkpath(bin));
        {
            AccountStore older;
            QVERIFY(OpenWith(older, bin + "/Kavelon.kvd", {"100-200"}));
        }
        // Another program is writing the old file: the copy holds what was committed.
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "writer");
        const auto closeWriter = qScopeGuard([&writer] {
            writer.rollback();
            writer.close();
            writer = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("writer"));
        });
        writer.setDatabaseName(bin + "/Kavelon.kvd");
        QVERIFY(writer.open() && writer.transaction());
        QVERIFY(QSqlQuery(writer).exec("INSERT INTO Debiteur VALUES ('300400', 'piet', 'x')"));
        const QByteArray before = Contents(bin + "/Kavelon.kvd");

        const QString copy = InstalledAccountFilePath(bin, data);
        QCOMPARE(copy, data + "/Kavelon.kvd");
        QCOMPARE(Contents(bin + "/Kavelon.kvd"), before);
        struct stat info {};
        QCOMPARE(stat(QFile::encodeName(copy).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(QDir(data).entryList(QDir::Files | QDir::Hidden), QStringList{"Kavelon.kvd"});
        AccountStore store;
        QVERIFY(OpenWith(store, copy, {"500600"}));
        QString error;
        QCOMPARE(Numbers(store.selectAllByNumber(error)), (QStringList{"100-200", "500600"}));

        // Once there, the copy is the account file; the old one is not read again.
        QCOMPARE(InstalledAccountFilePath(bin, data), copy);
        QCOMPARE(Numbers(store.selectAll(error)), (QStringList{"100-200", "500600"}));
    }

    void installedProgramCopiesNoForeignFile() {
        const QString bin = dir_->filePath(QStringLiteral("bin"));
        const QString data = dir_->filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(bin));
        QFile foreign(bin + "/Kavelon.kvd");
        QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write("geen database") > 0);
        foreign.close();
        QCOMPARE(InstalledAccountFilePath(bin, data), data + "/Kavelon.kvd");
        QVERIFY(QDir(data).isEmpty());
    }

  private:
    std::optional<QTemporaryDir> dir_;
    QString file_;
};

QTEST_GUILESS_MAIN(TestAccountStore)
#include "tst_accountstore.moc"
