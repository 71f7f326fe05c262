#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "accounts/accountstore.h"
#include "accounts/frmdebiteur.h"
#include "ui/msgbox.h"
#include "windowtest.h"

using namespace kavelon;

namespace {

const QString kFillIn =
    QStringLiteral("Voor het verwerken van de gegevens, moeten alle velden ingevuld zijn.");
const QString kDuplicate = QStringLiteral(
    "De opgegeven gegevens kunnen niet verwerkt worden,\r\n"
    "aangezien het debiteurennummer al eerder vastgelegd is.");

// The rows of the store as "number|user|password", in the order they were added.
QStringList Rows(const AccountStore& store) {
    QString error;
    QStringList rows;
    const auto all = store.selectAll(error);
    if (!all) return {QStringLiteral("failed: ") + error};
    for (const Debiteur& row : *all)
        rows << row.DebiteurenNummer + u'|' + row.Gebruiker + u'|' + row.Wachtwoord;
    return rows;
}

}  // namespace

class AccountEditorTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void windowLayout();
    void addWritesTheRowAsTyped();
    void fillInWarning_data();
    void fillInWarning();
    void addRefusesATakenNumber_data();
    void addRefusesATakenNumber();
    void changeLoadsAndWritesTheRow();
    void changeNumber_data();
    void changeNumber();
    void changeOfAnAccountThatCannotBeFound_data();
    void changeOfAnAccountThatCannotBeFound();
    void userCodeWithSlashIsFoundAgain();
    void cancelWritesNothing();
    void failingStoreIsReported();
    void enterPressesOnlyTheFocusedButton();
    void textsLongerThanQtsDefaultLimitAreKept();

  private:
    void add(const QString& number, const QString& user, const QString& password);
    // Shows the editor for this input and waits until it has loaded (and, maybe, closed).
    std::unique_ptr<FrmDebiteur> open(const QString& input);
    QLineEdit* box(FrmDebiteur& w, const char* name) {
        auto* found = w.findChild<QLineEdit*>(QString::fromLatin1(name));
        if (!found) qFatal("no %s", name);
        return found;
    }
    void fill(FrmDebiteur& w, const QString& number, const QString& user, const QString& password) {
        box(w, "txtDebiteur")->setText(number);
        box(w, "txtGebruiker")->setText(user);
        box(w, "txtWachtwoord")->setText(password);
    }
    void press(FrmDebiteur& w, const char* name) {
        auto* button = w.findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        button->click();
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<AccountStore> store_;
};

void AccountEditorTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    store_ = std::make_unique<AccountStore>();
    QString error;
    QVERIFY2(store_->open(dir_->filePath(kAccountFileName), error), qPrintable(error));
    MsgBox::setUnattended(true);
    MsgBox::clearShown();
}

void AccountEditorTest::cleanup() {
    store_.reset();
    dir_.reset();
}

void AccountEditorTest::add(const QString& number, const QString& user, const QString& password) {
    Debiteur row{0, number, user, password};
    QString error;
    QVERIFY2(store_->addNew(row, error), qPrintable(error));
}

std::unique_ptr<FrmDebiteur> AccountEditorTest::open(const QString& input) {
    auto w = std::make_unique<FrmDebiteur>(store_.get());
    w->strInput = input;
    w->show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return w;
}

void AccountEditorTest::windowLayout() {
    auto w = open(QString());
    QCOMPARE(w->objectName(), QString("frmDebiteur"));
    QCOMPARE(w->windowTitle(), QString("Debiteursgegevens"));
    QCOMPARE(w->size(), QSize(242, 119));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(!(w->windowFlags() & Qt::WindowMinMaxButtonsHint));
    const struct {
        const char* name;
        QRect geometry;
        const char* text;
    } expected[] = {
        {"lblDebiteur", {6, 11, 92, 13}, "Debiteurennummer:"},
        {"txtDebiteur", {102, 9, 133, 19}, ""},
        {"lblGebruiker", {6, 37, 78, 13}, "Gebruikerscode:"},
        {"txtGebruiker", {102, 35, 133, 19}, ""},
        {"lblWachtwoord", {6, 63, 64, 13}, "Wachtwoord:"},
        {"txtWachtwoord", {102, 61, 133, 19}, ""},
        {"cmdOK", {78, 90, 77, 23}, "OK"},
        {"cmdCancel", {160, 90, 77, 23}, "Annuleren"},
    };
    for (const auto& control : expected) {
        auto* widget = w->findChild<QWidget*>(QString::fromLatin1(control.name));
        QVERIFY2(widget, control.name);
        QCOMPARE(widget->geometry(), control.geometry);
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
        QCOMPARE(text, QString::fromUtf8(control.text));
    }
    QCOMPARE(box(*w, "txtWachtwoord")->echoMode(), QLineEdit::Password);
    QCOMPARE(box(*w, "txtDebiteur")->echoMode(), QLineEdit::Normal);
    QCOMPARE(QApplication::focusWidget(), box(*w, "txtDebiteur"));
    QCOMPARE(TabChain(box(*w, "txtDebiteur")),
             QStringList({"txtDebiteur", "txtGebruiker", "txtWachtwoord", "cmdOK", "cmdCancel"}));
    QVERIFY(w->isVisible());
    QVERIFY(w->loaded());
    QVERIFY(!w->changing());
}

void AccountEditorTest::addWritesTheRowAsTyped() {
    add("2000", "piet", "x");
    auto w = open(QString());
    fill(*w, " 1001 ", " jan ", " ge heim ");
    press(*w, "cmdOK");
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Accepted));
    QCOMPARE(Rows(*store_), QStringList({"2000|piet|x", " 1001 | jan | ge heim "}));
    QCOMPARE(MsgBox::shownTexts(), QStringList());
}

void AccountEditorTest::fillInWarning_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("all empty") << ""
                               << ""
                               << "";
    QTest::newRow("only the password blank") << "1001"
                                             << "jan"
                                             << "";
    QTest::newRow("password of spaces") << "1001"
                                        << "jan"
                                        << "   ";
    QTest::newRow("user blank") << "1001"
                                << " "
                                << "geheim";
    QTest::newRow("number blank") << "  "
                                  << "jan"
                                  << "geheim";
}

void AccountEditorTest::fillInWarning() {
    QFETCH(QString, number);
    QFETCH(QString, user);
    QFETCH(QString, password);
    auto w = open(QString());
    fill(*w, number, user, password);
    press(*w, "cmdOK");
    QCOMPARE(MsgBox::shownTexts(), QStringList(kFillIn));
    QVERIFY(w->isVisible());
    QCOMPARE(Rows(*store_), QStringList());
    QCOMPARE(box(*w, "txtDebiteur")->text(), number);  // the values stay as typed
}

void AccountEditorTest::addRefusesATakenNumber_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    QTest::newRow("same number") << "AB12" << true;
    QTest::newRow("other letter case") << "ab12" << true;
    QTest::newRow("leading blank, untrimmed") << " AB12" << false;
    QTest::newRow("trailing blank, untrimmed") << "AB12 " << false;
    QTest::newRow("other number") << "AB13" << false;
}

void AccountEditorTest::addRefusesATakenNumber() {
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    add("AB12", "jan", "geheim");
    auto w = open(QString());
    fill(*w, typed, "piet", "p");
    press(*w, "cmdOK");
    if (refused) {
        QCOMPARE(MsgBox::shownTexts(), QStringList(kDuplicate));
        QVERIFY(w->isVisible());
        QCOMPARE(box(*w, "txtDebiteur")->text(), typed);
        QCOMPARE(Rows(*store_), QStringList({"AB12|jan|geheim"}));
    } else {
        QCOMPARE(MsgBox::shownTexts(), QStringList());
        QVERIFY(!w->isVisible());
        QCOMPARE(Rows(*store_), QStringList({"AB12|jan|geheim", typed + "|piet|p"}));
    }
}

void AccountEditorTest::changeLoadsAndWritesTheRow() {
    add("1001", "abc", "oud");
    add("1002", "def", "x");
    auto w = open("1001 / abc");
    QVERIFY(w->isVisible());
    QVERIFY(w->loaded());
    QVERIFY(w->changing());
    QCOMPARE(box(*w, "txtDebiteur")->text(), QString("1001"));
    QCOMPARE(box(*w, "txtGebruiker")->text(), QString("abc"));
    QCOMPARE(box(*w, "txtWachtwoord")->text(), QString("oud"));
    box(*w, "txtGebruiker")->setText("ABC ");
    box(*w, "txtWachtwoord")->setText("nieuw");
    press(*w, "cmdOK");
    QVERIFY(!w->isVisible());
    QCOMPARE(MsgBox::shownTexts(), QStringList());
    QCOMPARE(Rows(*store_), QStringList({"1001|ABC |nieuw", "1002|def|x"}));
}

void AccountEditorTest::changeNumber_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("stored");
    QTest::newRow("unchanged") << "ab12" << false << "ab12";
    QTest::newRow("only blanks added: no check, stored with them")
        << "  ab12 " << false << "  ab12 ";
    QTest::newRow("letter case only: finds itself") << "AB12" << true << "ab12";
    QTest::newRow("number of another account") << "2000" << true << "ab12";
    QTest::newRow("other letter case of another account") << "x9" << true << "ab12";
    QTest::newRow("free number") << "3000" << false << "3000";
    QTest::newRow("free number with blanks, untrimmed") << " 3000" << false << " 3000";
}

void AccountEditorTest::changeNumber() {
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    QFETCH(QString, stored);
    add("ab12", "jan", "geheim");
    add("2000", "piet", "p");
    add("X9", "kees", "k");
    auto w = open("ab12 / jan");
    QVERIFY(w->loaded());
    box(*w, "txtDebiteur")->setText(typed);
    press(*w, "cmdOK");
    QCOMPARE(MsgBox::shownTexts(), refused ? QStringList(kDuplicate) : QStringList());
    QCOMPARE(w->isVisible(), refused);
    QCOMPARE(Rows(*store_), QStringList({stored + "|jan|geheim", "2000|piet|p", "X9|kees|k"}));
}

void AccountEditorTest::changeOfAnAccountThatCannotBeFound_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("input");
    QTest::newRow("no such account") << "1001"
                                     << "abc"
                                     << "1002 / abc";
    QTest::newRow("other user") << "1001"
                                << "abc"
                                << "1001 / abd";
    QTest::newRow("no slash in the input") << "1001"
                                           << "abc"
                                           << "1001 abc";
    QTest::newRow("stored number begins with a blank") << " 1001"
                                                       << "abc"
                                                       << " 1001 / abc";
    QTest::newRow("stored user begins with a blank") << "1001"
                                                     << " abc"
                                                     << "1001 /  abc";
    QTest::newRow("number with a slash") << "10/01"
                                         << "abc"
                                         << "10/01 / abc";
}

void AccountEditorTest::changeOfAnAccountThatCannotBeFound() {
    QFETCH(QString, number);
    QFETCH(QString, user);
    QFETCH(QString, input);
    add(number, user, "geheim");
    auto w = open(input);
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(!w->loaded());
    QVERIFY(w->changing());
    QCOMPARE(w->result(), int(QDialog::Rejected));
    QCOMPARE(MsgBox::shownTexts(), QStringList());
    QCOMPARE(Rows(*store_), QStringList(number + "|" + user + "|geheim"));
}

void AccountEditorTest::userCodeWithSlashIsFoundAgain() {
    add("1001", "afd/jan", "geheim");
    auto w = open("1001 / afd/jan");
    QCoreApplication::processEvents();
    QVERIFY(w->isVisible());
    QVERIFY(w->loaded());
    QCOMPARE(box(*w, "txtGebruiker")->text(), QString("afd/jan"));
    box(*w, "txtWachtwoord")->setText("nieuw");
    press(*w, "cmdOK");
    QCOMPARE(Rows(*store_), QStringList("1001|afd/jan|nieuw"));
}

void AccountEditorTest::cancelWritesNothing() {
    add("1001", "abc", "oud");
    {
        auto w = open("1001 / abc");
        box(*w, "txtWachtwoord")->setText("nieuw");
        press(*w, "cmdCancel");
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
    }
    {
        auto w = open(QString());
        fill(*w, "2000", "x", "y");
        w->close();  // the close box
        QVERIFY(!w->isVisible());
    }
    QCOMPARE(Rows(*store_), QStringList("1001|abc|oud"));
    QCOMPARE(MsgBox::shownTexts(), QStringList());
}

void AccountEditorTest::failingStoreIsReported() {
    AccountStore closed;  // never opened: every statement fails with the store's text
    FrmDebiteur w(&closed);
    w.strInput = "1001 / abc";
    w.show();
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(MsgBox::shownTexts(), QStringList("Het accountbestand is niet geopend."));
}

void AccountEditorTest::enterPressesOnlyTheFocusedButton() {
    {
        auto w = open(QString());
        fill(*w, "1001", "jan", "pw");
        QLineEdit* password = box(*w, "txtWachtwoord");
        password->setFocus();
        QTest::keyClick(password, Qt::Key_Return);
        QTest::keyClick(password, Qt::Key_Escape);
        QVERIFY(w->isVisible());  // neither key presses a button in a text box
        QCOMPARE(Rows(*store_), QStringList());

        auto* ok = w->findChild<QPushButton*>("cmdOK");
        ok->setFocus();
        QTest::keyClick(ok, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        QTest::keyClick(ok, Qt::Key_Return);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QCOMPARE(Rows(*store_), QStringList("1001|jan|pw"));
    }
    auto w = open(QString());
    fill(*w, "2000", "piet", "pw");
    auto* cancel = w->findChild<QPushButton*>("cmdCancel");
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Enter);
    QVERIFY(!w->isVisible());
    QCOMPARE(w->result(), int(QDialog::Rejected));
    QCOMPARE(Rows(*store_), QStringList("1001|jan|pw"));
}

void AccountEditorTest::textsLongerThanQtsDefaultLimitAreKept() {
    const QString number = QString(40000, u'7');
    const QString user = QString(50000, u'u');
    const QString password = QString(45000, u'p') + u'!';
    {
        auto w = open(QString());
        fill(*w, number, user, password);
        press(*w, "cmdOK");
        QCOMPARE(w->result(), int(QDialog::Accepted));
    }
    // Changing the account shows and writes the whole values again.
    {
        auto w = open(number + " / " + user);
        QVERIFY(w->loaded());
        QCOMPARE(box(*w, "txtWachtwoord")->text().size(), password.size());
        press(*w, "cmdOK");
        QCOMPARE(w->result(), int(QDialog::Accepted));
    }
    // The account file holds them whole.
    store_ = std::make_unique<AccountStore>();
    QString error;
    QVERIFY2(store_->open(dir_->filePath(kAccountFileName), error), qPrintable(error));
    const auto rows = store_->selectAll(error);
    QVERIFY2(rows && rows->size() == 1, qPrintable(error));
    QCOMPARE(rows->first().DebiteurenNummer.size(), number.size());
    QVERIFY(rows->first().DebiteurenNummer == number);
    QVERIFY(rows->first().Gebruiker == user);
    QVERIFY(rows->first().Wachtwoord == password);
}

QTEST_MAIN(AccountEditorTest)
#include "tst_accounts_editor.moc"
