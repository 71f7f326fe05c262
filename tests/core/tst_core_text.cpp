#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include "core/codec.h"
#include "core/textutil.h"

using namespace kavelon;

class TextTest : public QObject {
    Q_OBJECT
  private slots:
    void codecRoundTripsEveryByte();
    void codecAgreesWithSystemConverter();
    void codecReplacesMissingCharacters();
    void blank_data();
    void blank();
    void urlEncode_data();
    void urlEncode();
    void urlEncodeLongTexts();
    void convertSpaces();
    void stripHtml_data();
    void stripHtml();
    void dirExists();
};

void TextTest::codecRoundTripsEveryByte() {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(static_cast<char>(b));
    const QString text = DecodeCp1252(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(EncodeCp1252(text), all);
}

void TextTest::codecAgreesWithSystemConverter() {
    QStringDecoder system("windows-1252");
    if (!system.isValid()) QSKIP("this Qt has no windows-1252 converter");
    for (int b = 0; b < 256; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        QCOMPARE(DecodeCp1252(byte), system.decode(byte).operator QString());
    }
}

void TextTest::codecReplacesMissingCharacters() {
    QCOMPARE(EncodeCp1252(QStringLiteral("\u20AC \u0142 \U0001F600")), QByteArray("\x80 ? ?"));
    QCOMPARE(EncodeCp1252(QStringLiteral("caf\u00E9")), QByteArray("caf\xE9"));
}

void TextTest::blank_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("blank");
    QTest::newRow("null") << QString() << true;
    QTest::newRow("empty") << QString("") << true;
    QTest::newRow("spaces") << QString("   ") << true;
    QTest::newRow("tab") << QString("\t") << false;
    QTest::newRow("line break") << QString("\r\n") << false;
    QTest::newRow("text") << QString(" a ") << false;
}

void TextTest::blank() {
    QFETCH(QString, value);
    QFETCH(bool, blank);
    QCOMPARE(IsBlank(value), blank);
}

void TextTest::urlEncode_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("space and dash") << QString("A b-1") << QString("A+b%2D1");
    QTest::newRow("line break") << QString("\r\n") << QString("%0D%0A");
    QTest::newRow("empty") << QString("") << QString("");
    QTest::newRow("only spaces") << QString("  ") << QString("");
    QTest::newRow("marks common encoders keep") << QString("-._*~") << QString("%2D%2E%5F%2A%7E");
    QTest::newRow("accent as one byte") << QString("\u00E9") << QString("%E9");
    QTest::newRow("euro sign") << QString("\u20AC") << QString("%80");
    QTest::newRow("outside the code page") << QString("\u0142") << QString("%3F");
    QTest::newRow("NUL dropped") << QString(QChar(0)) + "x" << QString("x");
    QTest::newRow("form characters") << QString("a&b=c+d%") << QString("a%26b%3Dc%2Bd%25");
}

void TextTest::urlEncode() {
    QFETCH(QString, value);
    QFETCH(QString, encoded);
    const auto result = UrlEncode(value);
    QVERIFY(result.has_value());
    QCOMPARE(*result, encoded);
}

void TextTest::urlEncodeLongTexts() {
    // An order of many lines is far longer than 32,767 characters and must still encode.
    const QString order = QString("regel\r\n").repeated(10000);
    const auto encoded = UrlEncode(order);
    QVERIFY(encoded.has_value());
    QCOMPARE(encoded->size(), 10000 * 11);
    QVERIFY(!UrlEncode(QString(kUrlEncodeMaxChars + 1, u'a')).has_value());
}

void TextTest::convertSpaces() {
    QCOMPARE(ConvertSpaces("order 12 b", true), QString("orderxax12xaxb"));
    QCOMPARE(ConvertSpaces("orderxax12xaxb", false), QString("order 12 b"));
    QCOMPARE(ConvertSpaces("taxaxi", false), QString("ta i"));
    QCOMPARE(ConvertSpaces("XAX", false), QString("XAX"));
}

void TextTest::stripHtml_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("bold and paragraph")
        << QString("<b>Order</b><p>ontvangen") << QString("Order\r\nontvangen");
    QTest::newRow("no tags") << QString("  gewoon tekst  ") << QString("gewoon tekst");
    QTest::newRow("repeated tag") << QString("<br>a<br>b<br>") << QString("ab");
    QTest::newRow("tag with attributes")
        << QString("<font color=\"red\">Fout</font>") << QString("Fout");
    QTest::newRow("upper-case paragraph is a tag") << QString("a<P>b") << QString("ab");
    QTest::newRow("stray open bracket") << QString("a < b") << QString("a < b");
    // Nothing is taken out once the first ">" comes before the first "<".
    QTest::newRow("closing bracket first")
        << QString("a > b <i>c</i>") << QString("a > b <i>c</i>");
    QTest::newRow("fetch answer with a comparison")
        << QString(" Aantal > 0 <b>vereist</b> ") << QString("Aantal > 0 <b>vereist</b>");
    QTest::newRow("stray bracket after tags")
        << QString("<b>x</b> > y <i>z") << QString("x > y <i>z");
}

void TextTest::stripHtml() {
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(StripHtml(html), text);
}

void TextTest::dirExists() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(DirExists(dir.path()));
    QFile file(dir.filePath("order.icm"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(DirExists(file.fileName()));
    QVERIFY(!DirExists(dir.filePath("missing")));
    QVERIFY(!DirExists(QString()));
    QVERIFY(!DirExists(dir.path() + QChar(0) + "x"));
}

QTEST_GUILESS_MAIN(TextTest)
#include "tst_core_text.moc"
