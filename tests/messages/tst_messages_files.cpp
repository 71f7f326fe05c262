#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "messages/messagefile.h"
#include "testdata.h"

using namespace kavelon;

using Status = OrderLineCount::Status;

class MessageFileTest : public QObject {
    Q_OBJECT
  private slots:
    void orderReadsTheLineTable();
    void orderStops_data();
    void orderStops();
    void orderLineEndings_data();
    void orderLineEndings();
    void orderKeepsLoneLineFeed();
    void confirmationReadsTheLineTable();
    void confirmationStops_data();
    void confirmationStops();
    void unopenableFiles();
};

namespace {

QString Icm(const QString& name) {
    return SampleFile("icm" + kPathSep + name);
}

QString Icb(const QString& name) {
    return SampleFile("icb" + kPathSep + name);
}

void AddStopColumns() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<MessageFailure>("failure");
    QTest::addColumn<int>("headerLines");
    QTest::addColumn<Status>("status");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("articles");  // of the order lines read
    QTest::addColumn<int>("linesRead");
}

// One row of the columns above.
void StopRow(const char* tag, const char* file, MessageFailure failure, int headerLines,
             Status status, int count, const QStringList& articles, int linesRead) {
    QTest::newRow(tag) << QString(file) << failure << headerLines << status << count << articles
                       << linesRead;
}

// The header lines of a message, by number, against their expected texts.
template <typename Read>
void CheckLines(const Read& message, std::initializer_list<std::pair<int, QString>> lines) {
    for (const auto& [number, text] : lines) QCOMPARE(message.line(number), text);
}

template <typename OrderLine>
void CheckStop(const Message<OrderLine>& message) {
    QFETCH(MessageFailure, failure);
    QFETCH(int, headerLines);
    QFETCH(Status, status);
    QFETCH(int, count);
    QFETCH(QStringList, articles);
    QFETCH(int, linesRead);

    QCOMPARE(message.failure, failure);
    QCOMPARE(message.failed(), failure != MessageFailure::None);
    QCOMPARE(message.header.size(), headerLines);
    QCOMPARE(message.count.status, status);
    QCOMPARE(message.count.count, count);
    QCOMPARE(message.hasOrderLineSection(), status != Status::NoSection);
    QStringList read;
    for (const OrderLine& line : message.orderLines) read.append(line.article);
    QCOMPARE(read, articles);
    QCOMPARE(message.linesRead, linesRead);
}

}  // namespace

void MessageFileTest::orderReadsTheLineTable() {
    const IcmMessage message = ReadIcmMessage(Icm("full.icm"));
    QCOMPARE(message.failure, MessageFailure::None);
    QVERIFY(!message.failed());
    QCOMPARE(message.header.size(), kIcmHeaderLines);
    CheckLines(message, {{1, "ICM 2.0"},
                         {5, "  104233  "},  // as written
                         {10, "Stationsstraat"},
                         {18, "bij de achteringang"},
                         {19, "2"},
                         {0, QString()},
                         {20, QString()}});  // the first order line is not a header line
    QVERIFY(message.hasOrderLineSection());
    QCOMPARE(message.count.status, Status::Counted);
    QCOMPARE(message.count.count, 2);
    QCOMPARE(message.linesRead, 27);

    QCOMPARE(message.orderLines.size(), 2);
    const IcmOrderLine& first = message.orderLines[0];
    QCOMPARE(first.quantity, "3");
    QCOMPARE(first.article, "100234");
    QCOMPARE(first.description, QStringLiteral("Kraan \u00E9\u00E9ngreeps"));
    QCOMPARE(first.price, "12.5");
    const IcmOrderLine& second = message.orderLines[1];
    QCOMPARE(second.description, QStringLiteral("Afvoerplug \u00D8 40 mm"));
    QCOMPARE(second.price, "12,50");
}

void MessageFileTest::orderStops_data() {
    AddStopColumns();
    using enum MessageFailure;
    using enum Status;

    const QStringList two{"100234", "200876"};
    StopRow("empty file", "empty.icm", HeaderIncomplete, 0, NoSection, 0, {}, 0);
    StopRow("ends before the count line", "header-short.icm", HeaderIncomplete, 18, NoSection, 0,
            {}, 18);
    StopRow("blank count: no section", "count-blank.icm", None, 19, NoSection, 0, {}, 19);
    StopRow("zero", "count-zero.icm", None, 19, Counted, 0, {}, 19);
    StopRow("negative", "count-negative.icm", None, 19, Counted, -5, {}, 19);
    StopRow("letters count zero", "count-letters.icm", None, 19, Counted, 0, {}, 19);
    StopRow("2.6 counts three", "count-rounded.icm", None, 19, Counted, 3,
            two + QStringList{"300111"}, 31);
    StopRow("number and word", "count-words.icm", None, 19, Counted, 2, two, 27);
    StopRow("lines after the last are ignored", "count-extra.icm", None, 19, Counted, 2, two, 27);
    StopRow("count too large", "count-too-large.icm", CountTooLarge, 19, TooLarge, 0, {}, 19);
    StopRow("ends in the third of three", "count-short.icm", OrderLinesIncomplete, 19, Counted, 3,
            two, 29);
    StopRow("ends before the last price", "ends-before-last-price.icm", OrderLinesIncomplete, 19,
            Counted, 2, {"100234"}, 26);
    StopRow("last price an empty line", "empty-last-price.icm", None, 19, Counted, 2, two, 27);
}

void MessageFileTest::orderStops() {
    QFETCH(QString, file);
    const IcmMessage message = ReadIcmMessage(Icm(file));
    CheckStop(message);
    if (!message.header.isEmpty())
        QCOMPARE(message.line(message.header.size()), message.header.last());
}

void MessageFileTest::orderLineEndings_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("lone CR") << "lone-cr.icm";
    QTest::newRow("no ending after the last line") << "no-final-end.icm";
}

// The same order written with other line endings reads the same.
void MessageFileTest::orderLineEndings() {
    QFETCH(QString, file);
    const IcmMessage expected = ReadIcmMessage(Icm("full.icm"));
    const IcmMessage message = ReadIcmMessage(Icm(file));
    QCOMPARE(message.failure, MessageFailure::None);
    QCOMPARE(message.header, expected.header);
    QCOMPARE(message.linesRead, expected.linesRead);
    QCOMPARE(message.orderLines, expected.orderLines);
}

void MessageFileTest::orderKeepsLoneLineFeed() {
    const IcmMessage message = ReadIcmMessage(Icm("lone-lf.icm"));
    QCOMPARE(message.failure, MessageFailure::None);
    QCOMPARE(message.orderLines.size(), 1);
    QCOMPARE(message.orderLines[0].description, "Kraan\nmet uitloop");
    QCOMPARE(message.orderLines[0].price, "12.5");
    QCOMPARE(message.linesRead, 23);
}

void MessageFileTest::confirmationReadsTheLineTable() {
    const IcbMessage message = ReadIcbMessage(Icb("full.icb"));
    QCOMPARE(message.failure, MessageFailure::None);
    QCOMPARE(message.header.size(), kIcbHeaderLines);
    CheckLines(message, {{9, "1234.5"},
                         {12, "Artikel 200876 niet leverbaar"},
                         {14, "  ORD-778812  "},
                         {19, "Utrecht"},
                         {20, "2"}});
    QCOMPARE(message.count.count, 2);
    QCOMPARE(message.linesRead, 32);

    QCOMPARE(message.orderLines.size(), 2);
    const IcbOrderLine& first = message.orderLines[0];
    QCOMPARE(first.quantity, "3");
    QCOMPARE(first.article, "100234");
    QCOMPARE(first.description, QStringLiteral("Kraan \u00E9\u00E9ngreeps"));
    QCOMPARE(first.message1, "Geleverd");
    QCOMPARE(first.message2, "uit voorraad");
    QCOMPARE(first.netPrice, "10.15");
    const IcbOrderLine& second = message.orderLines[1];
    QCOMPARE(second.message1, QString(""));
    QCOMPARE(second.message2, QString(""));
    QCOMPARE(second.netPrice, "0");
}

void MessageFileTest::confirmationStops_data() {
    AddStopColumns();
    using enum MessageFailure;
    using enum Status;

    const QStringList two{"100234", "200876"};
    StopRow("lone CR endings", "lone-cr.icb", None, 20, Counted, 2, two, 32);
    StopRow("an order's header is too short", "header-short.icb", HeaderIncomplete, 19, NoSection,
            0, {}, 19);
    StopRow("blank count: no section", "count-blank.icb", None, 20, NoSection, 0, {}, 20);
    StopRow("zero", "blank-date.icb", None, 20, Counted, 0, {}, 20);
    StopRow("2.5 counts two", "count-half-even.icb", None, 20, Counted, 2, two, 32);
    StopRow("ends in the second of two", "count-short.icb", OrderLinesIncomplete, 20, Counted, 2,
            {"100234"}, 27);
    StopRow("count too small", "count-too-large.icb", CountTooLarge, 20, TooLarge, 0, {}, 20);
    StopRow("largest count, one line written", "count-max.icb", OrderLinesIncomplete, 20, Counted,
            32767, {"100234"}, 26);
}

void MessageFileTest::confirmationStops() {
    QFETCH(QString, file);
    CheckStop(ReadIcbMessage(Icb(file)));
}

void MessageFileTest::unopenableFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("folder.icb"));
    for (const QString& name : QStringList{"missing.icm", "folder.icb"}) {
        const IcmMessage order = ReadIcmMessage(dir.filePath(name));
        QCOMPARE(order.failure, MessageFailure::CannotOpen);
        QVERIFY(order.header.isEmpty());
        QCOMPARE(order.linesRead, 0);
        const IcbMessage confirmation = ReadIcbMessage(dir.filePath(name));
        QCOMPARE(confirmation.failure, MessageFailure::CannotOpen);
        QVERIFY(!confirmation.hasOrderLineSection());
    }
}

QTEST_GUILESS_MAIN(MessageFileTest)
#include "tst_messages_files.moc"
