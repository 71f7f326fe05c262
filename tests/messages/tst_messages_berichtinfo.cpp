#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "core/paths.h"
#include "filebytes.h"
#include "messages/berichtinfo.h"
#include "testdata.h"

using namespace kavelon;

class BerichtInfoTest : public QObject {
    Q_OBJECT
  private slots:
    void orders_data();
    void orders();
    void confirmations_data();
    void confirmations();
    void confirmationAsListedWithoutTotal();
    void readsTheNamedFolder();
    void missingFileGivesNothing();
};

void BerichtInfoTest::orders_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("debNr");

    QTest::newRow("lines 2, 3 and 4") << "ref-all.icm"
                                      << "Keuken / fase 2  / Zuidas"
                                      << "104233";
    QTest::newRow("lines 2 and 3") << "ref-2-3.icm"
                                   << "Keuken / fase 2 "
                                   << "104233";
    QTest::newRow("lines 2 and 4") << "ref-2-4.icm"
                                   << "Keuken / Zuidas"
                                   << "104233";
    QTest::newRow("lines 3 and 4") << "ref-3-4.icm"
                                   << "fase 2  / Zuidas"
                                   << "104233";
    QTest::newRow("line 3 only") << "ref-3.icm"
                                 << "fase 2 "
                                 << "104233";
    QTest::newRow("line 4 only") << "ref-4.icm"
                                 << "Zuidas"
                                 << "104233";
    QTest::newRow("line 2 only") << "ref-2.icm"
                                 << "Keuken"
                                 << "104233";
    QTest::newRow("all blank") << "ref-blank.icm"
                               << ""
                               << "";
    QTest::newRow("a tab is not blank") << "ref-tab.icm"
                                        << "\t / fase 2 "
                                        << "104233";
    QTest::newRow("accents, tab kept in the number")
        << "ref-accents.icm" << QStringLiteral("Caf\u00E9 De Ster / Cr\u00E8che ") << "\t104233";
    QTest::newRow("customer number trimmed") << "full.icm"
                                             << "Verbouwing keuken / fase 2  / Project Zuidas"
                                             << "104233";
    QTest::newRow("lone CR endings") << "lone-cr.icm"
                                     << "Verbouwing keuken / fase 2  / Project Zuidas"
                                     << "104233";
    QTest::newRow("one line") << "one-line.icm"
                              << ""
                              << "";
    QTest::newRow("three lines") << "three-lines.icm"
                                 << "Keuken / fase 2 "
                                 << "";
    QTest::newRow("four lines, no last ending") << "four-lines.icm"
                                                << "Keuken / fase 2  / Zuidas"
                                                << "";
    QTest::newRow("empty file") << "empty.icm"
                                << ""
                                << "";
}

void BerichtInfoTest::orders() {
    QFETCH(QString, file);
    QFETCH(QString, ref);
    QFETCH(QString, debNr);

    const BerichtInfo info = GetBerichtInfo(MessagesDir(), file, "icm", false);
    QCOMPARE(info.strRef, ref);
    QCOMPARE(info.strDebNr, debNr);
    QCOMPARE(info.strOrderNr, QString());
    QCOMPARE(info.strDatum, QString());

    // Reading the date and order number as well leaves these two as they are.
    const BerichtInfo total = GetBerichtInfo(MessagesDir(), file, "icm", true);
    QCOMPARE(total.strRef, ref);
    QCOMPARE(total.strDebNr, debNr);
}

void BerichtInfoTest::confirmations_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("debNr");
    QTest::addColumn<QString>("datum");
    QTest::addColumn<QString>("orderNr");

    const QString ref = "Verbouwing keuken / fase 2  / Zuidas";
    QTest::newRow("complete") << "full.icb" << ref << "104233"
                              << "14-03-2025"
                              << "ORD-778812";
    QTest::newRow("lone CR endings") << "lone-cr.icb" << ref << "104233"
                                     << "14-03-2025"
                                     << "ORD-778812";
    QTest::newRow("blank date and order number") << "blank-date.icb" << ref << "104233"
                                                 << "z.s.m."
                                                 << "";
    QTest::newRow("ends before line 8") << "ends-at-line-7.icb" << ref << "104233"
                                        << ""
                                        << "";
    QTest::newRow("ends at an empty line 8") << "ends-at-empty-line-8.icb" << ref << "104233"
                                             << "z.s.m."
                                             << "";
    QTest::newRow("ends before line 14") << "ends-at-line-13.icb" << ref << "104233"
                                         << "14-03-2025"
                                         << "";
    QTest::newRow("header only") << "header-short.icb" << ref << "104233"
                                 << "14-03-2025"
                                 << "ORD-778812";
}

void BerichtInfoTest::confirmations() {
    QFETCH(QString, file);
    QFETCH(QString, ref);
    QFETCH(QString, debNr);
    QFETCH(QString, datum);
    QFETCH(QString, orderNr);

    const BerichtInfo info = GetBerichtInfo(MessagesDir(), file, "icb", true);
    QCOMPARE(info.strRef, ref);
    QCOMPARE(info.strDebNr, debNr);
    QCOMPARE(info.strDatum, datum);
    QCOMPARE(info.strOrderNr, orderNr);
}

void BerichtInfoTest::confirmationAsListedWithoutTotal() {
    const BerichtInfo info = GetBerichtInfo(MessagesDir(), "blank-date.icb", "icb", false);
    QCOMPARE(info.strRef, "Verbouwing keuken / fase 2  / Zuidas");
    QCOMPARE(info.strDatum, QString());  // no "z.s.m." without the total
    QCOMPARE(info.strOrderNr, QString());
}

void BerichtInfoTest::readsTheNamedFolder() {
    QTemporaryDir main;
    QVERIFY(main.isValid());
    const QString directory = main.path() + kPathSep;
    QVERIFY(QDir(main.path()).mkdir("icm"));
    QVERIFY(QDir(main.path()).mkdir("verzonden"));
    const QString name = "order 12.icm";
    QVERIFY(WriteBytes(directory + "icm" + kPathSep + name, "x\r\nWacht\r\n\r\n\r\n1\r\n"));
    QVERIFY(WriteBytes(directory + "verzonden" + kPathSep + name,
                       "x\r\nVerzonden \xe9\xe9n\r\n\r\n\r\n 2 \r\n"));

    const BerichtInfo pending = GetBerichtInfo(directory, name, "icm", false);
    QCOMPARE(pending.strRef, "Wacht");
    QCOMPARE(pending.strDebNr, "1");
    const BerichtInfo sent = GetBerichtInfo(directory, name, "verzonden", false);
    QCOMPARE(sent.strRef, QStringLiteral("Verzonden \u00E9\u00E9n"));
    QCOMPARE(sent.strDebNr, "2");
}

void BerichtInfoTest::missingFileGivesNothing() {
    QTemporaryDir main;
    QVERIFY(main.isValid());
    const QString directory = main.path() + kPathSep;
    for (const QString& folder : QStringList{"icm", "icb", "verzonden"}) {
        const BerichtInfo info = GetBerichtInfo(directory, "missing.icb", folder, true);
        QCOMPARE(info.strRef, QString());
        QCOMPARE(info.strDebNr, QString());
        QCOMPARE(info.strDatum, QString());
        QCOMPARE(info.strOrderNr, QString());
    }
}

QTEST_GUILESS_MAIN(BerichtInfoTest)
#include "tst_messages_berichtinfo.moc"
