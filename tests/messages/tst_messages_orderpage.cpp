#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#include "core/codec.h"
#include "core/paths.h"
#include "filebytes.h"
#include "messages/orderpage.h"
#include "unwritable.h"

using namespace kavelon;

// Each sample message in tests/data/pages/ has its expected page beside it (same name,
// ".html"), stored as the Windows-1252 bytes of the page file. KAVELON_UPDATE_GOLDEN=1
// rewrites the expected pages from the code: read every one before keeping it.
class OrderPageTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands)); }
    void pageMatchesExpected_data();
    void pageMatchesExpected();
    void pageNamesTheFile_data();
    void pageNamesTheFile();
    void pageFileWritten();
    void pageFileRefused_data();
    void pageFileRefused();
};

namespace {

const QString kPages = QStringLiteral(KAVELON_TEST_DATA "/pages") + kPathSep;

QString Page(const QString& path) {
    return path.endsWith(".icb") ? CreateIcbHtml(path) : CreateIcmHtml(path);
}

}  // namespace

void OrderPageTest::pageMatchesExpected_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("fails");
    for (const char* name :
         {"order-full.icm", "order-no-lines.icm", "order-count-zero.icm", "order-count-rounded.icm",
          "markup-escaped.icm", "confirmation-full.icb", "confirmation-errors.icb",
          "confirmation-count-zero.icb", "markup-escaped-confirmation.icb"})
        QTest::newRow(name) << name << false;
    for (const char* name :
         {"order-count-too-large.icm", "order-broken-lines.icm", "order-short.icm",
          "order-missing.icm", "confirmation-count-too-large.icb", "confirmation-broken-lines.icb",
          "confirmation-short.icb", "confirmation-missing.icb"})
        QTest::newRow(name) << name << true;
}

void OrderPageTest::pageMatchesExpected() {
    QFETCH(QString, message);
    QFETCH(bool, fails);
    const QString page = Page(kPages + message);
    const QString expectedPath = kPages + QFileInfo(message).completeBaseName() + ".html";
    if (qEnvironmentVariableIntValue("KAVELON_UPDATE_GOLDEN") == 1)
        QVERIFY(WriteBytes(expectedPath, EncodeCp1252(page)));

    const QString expected = DecodeCp1252(Contents(expectedPath));
    qsizetype at = 0;  // where the pages part
    while (at < page.size() && at < expected.size() && page[at] == expected[at]) ++at;
    QVERIFY2(page == expected, qPrintable(QString("differs at %1:\n  got:      %2\n  expected: %3")
                                              .arg(at)
                                              .arg(page.mid(qMax(at - 40, 0), 120),
                                                   expected.mid(qMax(at - 40, 0), 120))));
    QVERIFY(!page.contains(u'\n') && !page.contains(u'\r'));
    QCOMPARE(
        page.endsWith("<h3>Er is een fout opgetreden tijdens het aanmaken van de ICM-order!</h3>"),
        fails);
}

void OrderPageTest::pageNamesTheFile_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("start");
    QTest::newRow("order") << "order-full.icm"
                           << "R&D <'1'>.ICM"
                           << "<html><head><title>Order R&amp;D &lt;&#39;1&#39;&gt;.ICM bekijken";
    QTest::newRow("confirmation")
        << "confirmation-short.icb"
        << "\"2\".icb"
        << "<html><head><title>Orderbevestiging &quot;2&quot;.icb bekijken";
}

void OrderPageTest::pageNamesTheFile() {
    QFETCH(QString, message);
    QFETCH(QString, fileName);
    QFETCH(QString, start);
    // The same file in two folders gives the same page: only its name and text count.
    QTemporaryDir main;
    QVERIFY(QDir(main.path()).mkdir("icm") && QDir(main.path()).mkdir("verzonden"));
    const QString pending = main.path() + kPathSep + "icm" + kPathSep + fileName;
    const QString sent = main.path() + kPathSep + "verzonden" + kPathSep + fileName;
    QVERIFY(QFile::copy(kPages + message, pending) && QFile::copy(kPages + message, sent));
    const QString page = Page(pending);
    QCOMPARE(Page(sent), page);
    QVERIFY2(page.startsWith(start), qPrintable(page));
    const QString sample = Page(kPages + message);
    QCOMPARE(page.mid(page.indexOf("</h1>")), sample.mid(sample.indexOf("</h1>")));
    const QString name = start.mid(start.indexOf("<title>") + 7).chopped(9);  // no " bekijken"
    QVERIFY(page.contains(QString("<h1><font color='#000080'>%1</font></h1>").arg(name)));
}

void OrderPageTest::pageFileWritten() {
    QTemporaryDir main;
    QVERIFY(QDir(main.path()).mkdir("temp"));
    const QString directory = main.path() + kPathSep;
    const QString path = directory + "temp" + kPathSep + "Temp.html";
    QVERIFY(WriteBytes(path, QByteArray(5000, 'x')));

    QString pagePath;
    QVERIFY(WritePageFile(directory, CreateIcmHtml(kPages + "order-full.icm"), &pagePath));
    QCOMPARE(pagePath, path);
    QCOMPARE(Contents(path), Contents(kPages + "order-full.html"));
    QVERIFY(Contents(path).contains("<td>Renovatie caf\xE9</td>"));

    // Replaced whole, in single bytes; what the code page lacks becomes "?".
    QVERIFY(WritePageFile(directory, QStringLiteral("<p>\u00E9 \u20AC \u0141</p>"), nullptr));
    QCOMPARE(Contents(path), QByteArray("<p>\xE9 \x80 ?</p>"));
    QCOMPARE(QDir(directory + "temp").entryList(QDir::Files | QDir::Hidden), {"Temp.html"});
}

void OrderPageTest::pageFileRefused_data() {
    QTest::addColumn<QString>("setup");
    QTest::newRow("no temp folder") << "none";
    QTest::newRow("Temp.html is a folder") << "folder";
    QTest::newRow("temp folder refuses files") << "unwritable";
}

void OrderPageTest::pageFileRefused() {
    QFETCH(QString, setup);
    QTemporaryDir main;
    const QString directory = main.path() + kPathSep;
    const QString temp = directory + "temp";
    if (setup != "none") QVERIFY(QDir(main.path()).mkdir("temp"));
    if (setup == "folder") QVERIFY(QDir(temp).mkdir("Temp.html"));
    std::optional<UnwritableFolder> guard;
    if (setup == "unwritable" && !guard.emplace(temp).active())
        QSKIP("this file system cannot refuse new files");

    QString pagePath;
    QVERIFY(!WritePageFile(directory, "<html></html>", &pagePath));
    QCOMPARE(pagePath, temp + kPathSep + "Temp.html");
    // Nothing made on the way: no folder, no file, no left-over part.
    QCOMPARE(QDir(directory).exists("temp"), setup != "none");
    QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             setup == "folder" ? QStringList{"Temp.html"} : QStringList());
}

QTEST_GUILESS_MAIN(OrderPageTest)
#include "tst_messages_orderpage.moc"
