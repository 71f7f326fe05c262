#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include "accounts/frmdebiteur.h"
#include "kavelonrun.h"
#include "ui/msgbox.h"
#include "windowtest.h"

using namespace kavelon;

namespace {

struct Account {
    QString number;
    QString user;
    QString password;
};

// Accounts as "number|user|password", so that a difference shows in the test's output.
QStringList Rows(const QList<Account>& accounts) {
    QStringList rows;
    for (const Account& a : accounts) rows << a.number + u'|' + a.user + u'|' + a.password;
    return rows;
}

// Quotes, form and percent characters, spaces at the ends, and SQL in a customer number.
const Account kSqlNumber{QStringLiteral("1'; DROP TABLE Debiteur;--"),
                         QStringLiteral("o'Brien \"chef\""),
                         QStringLiteral("\"50%\" & 5+5=10; #x ")};
// Characters of Windows-1252 beyond ASCII, and a "%41" that must not arrive as "A".
const Account kCodePage{QStringLiteral("200300"), QStringLiteral("\u00c6r\u00f8 & \u00c7af\u00e9"),
                        QStringLiteral("\u20ac\u2030\u2026\u0153\u0178%41")};
// Characters that Windows-1252 lacks: Polish, Cyrillic, a check mark and an emoji.
const Account kBeyondCodePage{
    QStringLiteral("300500"), QStringLiteral("\u0141\u00f3d\u017a"),
    QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c\u2713\U0001F600")};

// The fields of a form body as any form parser reads them: split at "&" and the first "=",
// "+" a space, "%XX" one Windows-1252 byte.
QMap<QString, QString> FormFields(const QByteArray& body) {
    QMap<QString, QString> fields;
    for (const QByteArray& piece : body.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        QByteArray value = piece.mid(equals + 1);
        value.replace('+', ' ');
        fields.insert(QString::fromLatin1(piece.left(equals)),
                      DecodeCp1252(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

// What a value becomes in Windows-1252: each character the code page lacks is "?".
QString InCodePage(const QString& value) {
    return DecodeCp1252(EncodeCp1252(value));
}

}  // namespace

// Accounts typed into the real editor, stored in the real account file, used by the real
// "kavelon auto" against the sandbox portal.
class AccountValuesTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void valuesAreStoredAndSentExactly();
    void valuesBeyondTheCodePageTravelAsQuestionMarks();

  private:
    void type(const QList<Account>& accounts);
    void letPortalKnow(const QList<Account>& accounts);
    QStringList storedRows() const;
    // The account values of every post to a page since the run began, oldest first.
    QStringList sent(const QString& page, const QStringList& names, QStringList* files = nullptr);
    int run() {
        requestsBefore_ = portal_->requests().size();
        return kavelon_->run(*portal_);
    }
    QString log() const { return kavelon_->log(); }
    QStringList names(const QString& folder) const { return kavelon_->names(folder); }

    std::unique_ptr<SandboxPortal> portal_;
    std::unique_ptr<PrivateKavelon> kavelon_;
    QString main_;
    qsizetype requestsBefore_ = 0;
};

void AccountValuesTest::initTestCase() {
    MsgBox::setUnattended(true);
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM);
    QVERIFY2(portal_->started(), "the sandbox portal did not start");
}

// No accounts to begin with: each test types its own into the editor.
void AccountValuesTest::init() {
    kavelon_ =
        std::make_unique<PrivateKavelon>(KAVELON_BINARY, QString(), PrivateKavelon::NoAccounts);
    QVERIFY(kavelon_->ready());
    main_ = kavelon_->main();
}

// Adds each account through the account editor, as a user would type it.
void AccountValuesTest::type(const QList<Account>& accounts) {
    AccountStore store;
    QString error;
    QVERIFY2(store.open(kavelon_->accountFile(), error), qPrintable(error));
    for (const Account& account : accounts) {
        FrmDebiteur editor(&store);
        editor.strInput = QString();
        editor.show();
        QTRY_VERIFY(editor.loaded());
        Child<QLineEdit>(editor, "txtDebiteur")->setText(account.number);
        Child<QLineEdit>(editor, "txtGebruiker")->setText(account.user);
        Child<QLineEdit>(editor, "txtWachtwoord")->setText(account.password);
        Child<QPushButton>(editor, "cmdOK")->click();
        QCOMPARE(editor.result(), int(QDialog::Accepted));
    }
}

void AccountValuesTest::letPortalKnow(const QList<Account>& accounts) {
    QJsonArray list;
    for (const Account& account : accounts)
        list.append(QJsonObject{{"customerid", account.number},
                                {"username", account.user},
                                {"password", account.password},
                                {"name", "Waarden"}});
    QFile file(portal_->stateFile("accounts.json"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(QJsonDocument(QJsonObject{{"accounts", list}}).toJson()) > 0);
}

// The rows of the account file, read with a connection of this test, not the program's store.
QStringList AccountValuesTest::storedRows() const {
    QList<Account> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "accountvalues");
        db.setDatabaseName(kavelon_->accountFile());
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(
                "SELECT DebiteurenNummer, Gebruiker, Wachtwoord FROM Debiteur ORDER BY rowid");
            while (query.next())
                rows.append({query.value(0).toString(), query.value(1).toString(),
                             query.value(2).toString()});
        }
    }
    QSqlDatabase::removeDatabase("accountvalues");
    return Rows(rows);
}

QStringList AccountValuesTest::sent(const QString& page, const QStringList& names,
                                    QStringList* files) {
    QList<Account> values;
    const QList<QJsonObject> records = portal_->requests();
    for (qsizetype i = requestsBefore_; i < records.size(); ++i) {
        if (records[i].value("path").toString() != page) continue;
        const auto fields = FormFields(SandboxPortal::BodyOf(records[i]));
        values.append({fields.value(names[0]), fields.value(names[1]), fields.value(names[2])});
        if (files) files->append(fields.value("file"));
    }
    return Rows(values);
}

void AccountValuesTest::valuesAreStoredAndSentExactly() {
    type({kSqlNumber, kCodePage});
    QCOMPARE(storedRows(), Rows({kSqlNumber, kCodePage}));
    letPortalKnow({kSqlNumber, kCodePage});
    QVERIFY(WriteMessageFile(main_ + "icm/sql.icm", AcceptedOrder("Waarden", kSqlNumber.number)));
    QVERIFY(
        WriteMessageFile(main_ + "icm/codepage.icm", AcceptedOrder("Waarden", kCodePage.number)));

    QCOMPARE(run(), 0);
    QCOMPARE(names("verzonden"), QStringList({"codepage.icm", "sql.icm"}));
    QCOMPARE(names("icb"), QStringList({"codepage.icb", "sql.icb"}));
    QVERIFY2(log().contains("Order 'sql.icm' is ontvangen"), qPrintable(log()));
    // The lookup bound the number: the table and both rows are still there, unchanged.
    QCOMPARE(storedRows(), Rows({kSqlNumber, kCodePage}));

    QStringList files;
    const QStringList orders =
        sent("/icmpost.aspx", {"customerid", "username", "password"}, &files);
    QCOMPARE(files, QStringList({"codepage.icm", "sql.icm"}));  // the list's order
    QCOMPARE(orders, Rows({kCodePage, kSqlNumber}));
    QCOMPARE(sent("/icbpost.aspx", {"debnr", "dept", "password"}),
             Rows({kSqlNumber, kCodePage}));  // the table's order
}

// Such values are kept in the account file as typed, but the portal's Windows-1252 forms
// cannot carry them: each such character arrives as "?", so the portal refuses the login.
void AccountValuesTest::valuesBeyondTheCodePageTravelAsQuestionMarks() {
    type({kBeyondCodePage, kCodePage});
    QCOMPARE(storedRows(), Rows({kBeyondCodePage, kCodePage}));
    letPortalKnow({kBeyondCodePage, kCodePage});
    QVERIFY(WriteMessageFile(main_ + "icm/beyond.icm",
                             AcceptedOrder("Waarden", kBeyondCodePage.number)));
    QVERIFY(
        WriteMessageFile(main_ + "icm/codepage.icm", AcceptedOrder("Waarden", kCodePage.number)));

    QCOMPARE(run(), 1);
    QCOMPARE(names("icm"), QStringList({"beyond.icm"}));
    QCOMPARE(names("verzonden"), QStringList({"codepage.icm"}));
    QVERIFY2(log().contains("Inloggen mislukt: het debiteurennummer, de gebruiker of het "
                            "wachtwoord is onjuist.\r\nHet ICM-bericht is niet verwerkt!\r\n"),
             qPrintable(log()));
    QCOMPARE(storedRows(), Rows({kBeyondCodePage, kCodePage}));

    const Account arrived{kBeyondCodePage.number, InCodePage(kBeyondCodePage.user),
                          InCodePage(kBeyondCodePage.password)};
    QCOMPARE(arrived.user, QString("?\u00f3d?"));
    QCOMPARE(arrived.password, QString("????????"));  // the emoji is one character
    QCOMPARE(sent("/icmpost.aspx", {"customerid", "username", "password"}),
             Rows({arrived, kCodePage}));
    QCOMPARE(sent("/icbpost.aspx", {"debnr", "dept", "password"}), Rows({arrived, kCodePage}));
}

QTEST_MAIN(AccountValuesTest)
#include "tst_portal_accountvalues.moc"
