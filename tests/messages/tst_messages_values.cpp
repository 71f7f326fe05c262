#include <QtTest>

#include <cmath>
#include <limits>

#include "messages/values.h"

using namespace kavelon;

namespace {

QLocale Dutch() {
    return QLocale(QLocale::Dutch, QLocale::Netherlands);
}

using Status = OrderLineCount::Status;

}  // namespace

class ValuesTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void numericValue_data();
    void numericValue();
    void numericValueOutOfRange();
    void plainNumberDisplay_data();
    void plainNumberDisplay();
    void twoDecimalDisplay_data();
    void twoDecimalDisplay();
    void priceDisplay_data();
    void priceDisplay();
    void orderLineCount_data();
    void orderLineCount();
};

// Under Dutch settings the comma is the decimal separator; reading must not follow them.
void ValuesTest::initTestCase() {
    QLocale::setDefault(Dutch());
}

void ValuesTest::cleanupTestCase() {
    QLocale::setDefault(QLocale::c());
}

void ValuesTest::numericValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("point is the decimal separator") << "12.50" << 12.5;
    QTest::newRow("comma ends the number") << "12,50" << 12.0;
    QTest::newRow("followed by a word") << "2 regels" << 2.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("spaces only") << "   " << 0.0;
    QTest::newRow("spaces inside") << " - 1 2 . 5" << -12.5;
    QTest::newRow("tabs and line feeds") << "\t1\n2\t.\n5" << 12.5;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("exponent with sign and spaces") << "2.5 E - 2" << 0.025;
    QTest::newRow("exponent without digits") << "1e" << 1.0;
    QTest::newRow("exponent sign without digits") << "1e+x" << 1.0;
    QTest::newRow("fraction only") << ".5" << 0.5;
    QTest::newRow("negative fraction only") << "-.5" << -0.5;
    QTest::newRow("point without fraction") << "7.x" << 7.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("plus sign") << "+3" << 3.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("two signs") << "--3" << 0.0;
    QTest::newRow("second point ends the number") << "1.2.3" << 1.2;
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("other characters are not skipped") << "\u00A01" << 0.0;
    QTest::newRow("currency sign first") << "\u20AC 5" << 0.0;
    QTest::newRow("non-ASCII digit ends the number") << "1\u0663" << 1.0;
}

void ValuesTest::numericValue() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(NumericValue(text), value);
}

void ValuesTest::numericValueOutOfRange() {
    const double infinity = std::numeric_limits<double>::infinity();
    QCOMPARE(NumericValue("1e400"), infinity);
    QCOMPARE(NumericValue("-1e400"), -infinity);
    QCOMPARE(NumericValue("0.01e311"), infinity);
    QCOMPARE(NumericValue("1e-400"), 0.0);
    QCOMPARE(NumericValue("1000e-330"), 0.0);
    QCOMPARE(NumericValue(QString(400, u'9')), infinity);
    QCOMPARE(NumericValue(QString(400, u'9') + "e-300"), 1e100);
}

void ValuesTest::plainNumberDisplay_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole number") << 2.0 << "2";
    QTest::newRow("half") << 2.5 << "2,5";
    QTest::newRow("no grouping") << 1234567.0 << "1234567";
    QTest::newRow("negative") << -2.5 << "-2,5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("below one") << 0.25 << "0,25";
    QTest::newRow("shortest text") << 0.1 + 0.2 << "0,3";
    QTest::newRow("fifteen digits") << 123456789012345.0 << "123456789012345";
}

void ValuesTest::plainNumberDisplay() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(PlainNumberDisplay(value, Dutch()), text);
    QCOMPARE(PlainNumberDisplay(value), text);  // the default locale
}

void ValuesTest::twoDecimalDisplay_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("grouping") << 1234.5 << "1.234,50";
    QTest::newRow("whole number") << 12.0 << "12,00";
    QTest::newRow("negative") << -1234.5 << "-1.234,50";
    QTest::newRow("leading zero") << 0.5 << "0,50";
    QTest::newRow("rounded up") << 2.346 << "2,35";
    QTest::newRow("rounded down") << 2.344 << "2,34";
    QTest::newRow("millions") << 1234567.891 << "1.234.567,89";
    QTest::newRow("rounds to zero without a sign") << -0.004 << "0,00";
    QTest::newRow("rounds away from zero") << -0.006 << "-0,01";
}

void ValuesTest::twoDecimalDisplay() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(TwoDecimalDisplay(value, Dutch()), text);
    QCOMPARE(TwoDecimalDisplay(value), text);
}

void ValuesTest::priceDisplay_data() {
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* tag, const char* price, const char* text) {
        QTest::newRow(tag) << QString(price) << QString(text);
    };

    row("point", "12.5", "12,50");
    row("comma reads the whole part", "12,50", "12,00");
    row("empty stays empty", "", "");
    row("spaces stay empty", "   ", "");
    row("a tab is not blank", "\t", "0,00");
    row("letters", "n.v.t.", "0,00");
    row("thousands", " 1234.5 ", "1.234,50");
}

void ValuesTest::priceDisplay() {
    QFETCH(QString, price);
    QFETCH(QString, text);
    QCOMPARE(PriceDisplay(price, Dutch()), text);
}

void ValuesTest::orderLineCount_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<Status>("status");
    QTest::addColumn<int>("count");

    QTest::newRow("empty") << "" << Status::NoSection << 0;
    QTest::newRow("spaces") << "    " << Status::NoSection << 0;
    QTest::newRow("whole number") << "2" << Status::Counted << 2;
    QTest::newRow("rounded up") << "2.6" << Status::Counted << 3;
    QTest::newRow("half to even, down") << "2.5" << Status::Counted << 2;
    QTest::newRow("half to even, up") << "3.5" << Status::Counted << 4;
    QTest::newRow("negative half to even") << "-2.5" << Status::Counted << -2;
    QTest::newRow("comma") << "2,9" << Status::Counted << 2;
    QTest::newRow("followed by a word") << "2 regels" << Status::Counted << 2;
    QTest::newRow("letters count zero") << "geen" << Status::Counted << 0;
    QTest::newRow("a tab is not blank") << "\t" << Status::Counted << 0;
    QTest::newRow("zero") << "0" << Status::Counted << 0;
    QTest::newRow("negative") << "-5" << Status::Counted << -5;
    QTest::newRow("largest") << "32767" << Status::Counted << 32767;
    QTest::newRow("rounds to the largest") << "32767.4" << Status::Counted << 32767;
    QTest::newRow("smallest") << "-32768" << Status::Counted << -32768;
    QTest::newRow("one too many") << "32768" << Status::TooLarge << 0;
    QTest::newRow("rounds to one too many") << "32767.5" << Status::TooLarge << 0;
    QTest::newRow("one too few") << "-32769" << Status::TooLarge << 0;
    QTest::newRow("exponent") << "4e4" << Status::TooLarge << 0;
    QTest::newRow("beyond any number") << "1e400" << Status::TooLarge << 0;
}

void ValuesTest::orderLineCount() {
    QFETCH(QString, line);
    QFETCH(Status, status);
    QFETCH(int, count);
    const OrderLineCount result = ReadOrderLineCount(line);
    QCOMPARE(result.status, status);
    QCOMPARE(result.count, count);
}

QTEST_GUILESS_MAIN(ValuesTest)
#include "tst_messages_values.moc"
