#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "messages/linereader.h"
#include "testdata.h"

using namespace kavelon;

class LineReaderTest : public QObject {
    Q_OBJECT
  private slots:
    void readsLines_data();
    void readsLines();
    void skipsLines();
    void refusesWhatCannotBeOpened();
};

void LineReaderTest::readsLines_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("lines");

    const QStringList three{"een", "twee", "", "drie"};
    QTest::newRow("CR LF") << "crlf.txt" << three;
    QTest::newRow("lone CR") << "lone-cr.txt" << three;
    QTest::newRow("lone LF stays in the line") << "lone-lf.txt" << QStringList{"een\ntwee", "drie"};
    QTest::newRow("last line without an ending")
        << "no-final-end.txt" << QStringList{"een", "twee"};
    QTest::newRow("empty file") << "empty.txt" << QStringList{};
    QTest::newRow("one empty line") << "one-empty-line.txt" << QStringList{""};
    QTest::newRow("CR then CR LF") << "cr-before-crlf.txt" << QStringList{"een", "", "twee"};
    QTest::newRow("LF then CR") << "lf-before-cr.txt" << QStringList{"een\n", "twee"};
    QTest::newRow("mixed endings") << "mixed.txt" << QStringList{"een", "twee", "drie\nvier"};
    QTest::newRow("Windows-1252") << "cp1252.txt"
                                  << QStringList{QStringLiteral("caf\u00E9"),
                                                 QStringLiteral("\u20AC 12,50"),
                                                 QStringLiteral("\u00D8 40 mm")};
}

void LineReaderTest::readsLines() {
    QFETCH(QString, file);
    QFETCH(QStringList, lines);

    LineReader reader;
    QVERIFY(LineReader::FromFile(SampleFile("linereader/" + file), reader));
    QStringList read;
    QString line;
    while (reader.next(line)) read.append(line);
    QCOMPARE(read, lines);
    QCOMPARE(reader.linesRead(), lines.size());
    QVERIFY(reader.atEnd());

    // Reading past the end keeps failing and leaves the count alone.
    line = "unchanged";
    QVERIFY(!reader.next(line));
    QCOMPARE(reader.linesRead(), lines.size());
    QVERIFY(!reader.skip(1));
}

void LineReaderTest::skipsLines() {
    LineReader reader;
    QVERIFY(LineReader::FromFile(SampleFile("linereader/crlf.txt"), reader));
    QVERIFY(reader.skip(0));
    QVERIFY(reader.skip(2));
    QString line;
    QVERIFY(reader.next(line));
    QCOMPARE(line, QString());
    QVERIFY(!reader.skip(2));  // one line left
    QCOMPARE(reader.linesRead(), 4);
    QVERIFY(reader.atEnd());
}

void LineReaderTest::refusesWhatCannotBeOpened() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LineReader reader;
    QVERIFY(!LineReader::FromFile(dir.filePath("missing.icm"), reader));
    QVERIFY(QDir(dir.path()).mkdir("folder.icm"));
    QVERIFY(!LineReader::FromFile(dir.filePath("folder.icm"), reader));
}

QTEST_GUILESS_MAIN(LineReaderTest)
#include "tst_messages_linereader.moc"
