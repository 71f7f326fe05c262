// The progress box: its lines reach the document in batches, each keeping its colour and weight.
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "app/progressbox.h"

using namespace kavelon;

namespace {

struct ShownLine {
    QString text;
    QColor colour;
    bool bold;
};

QList<ShownLine> ShownLines(const ProgressBox& box) {
    QList<ShownLine> lines;
    for (QTextBlock block = box.document()->begin(); block.isValid(); block = block.next()) {
        const QTextCharFormat format =
            block.begin().atEnd() ? block.charFormat() : block.begin().fragment().charFormat();
        lines.append(
            {block.text(), format.foreground().color(), format.fontWeight() == QFont::Bold});
    }
    return lines;
}

}  // namespace

class ProgressBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void linesKeepTheirOwnColourAndWeight();
    void manyLinesArriveInOrderWithTheEndInView();
    void emptyingDropsLinesNotYetShown();
};

void ProgressBoxTest::linesKeepTheirOwnColourAndWeight() {
    ProgressBox box;
    box.show();
    box.SchrijfVoortgang("Verzenden ICM-berichten", kZwart, true);
    box.SchrijfVoortgang("geweigerd\r", kRood, false);
    box.SchrijfVoortgang("ontvangen", kBlauw, false);
    box.SchrijfVoortgang("", kZwart, false);
    box.SchrijfVoortgang("zwart", kZwart, false);
    QCOMPARE(box.lines(),
             QStringList({"Verzenden ICM-berichten", "geweigerd\r", "ontvangen", "", "zwart"}));
    QCOMPARE(box.redLineCount(), 1);
    QTRY_COMPARE(box.document()->blockCount(), 6);  // the box ends with an empty line
    const QList<ShownLine> shown = ShownLines(box);
    QCOMPARE(shown[0].text, QString("Verzenden ICM-berichten"));
    QVERIFY(shown[0].bold);
    QCOMPARE(shown[1].text, QString("geweigerd"));  // a carriage return would break the line
    QCOMPARE(shown[1].colour, QColor(255, 0, 0));
    QVERIFY(!shown[1].bold);
    QCOMPARE(shown[2].colour, QColor(0, 0, 255));
    QCOMPARE(shown[3].text, QString());
    QCOMPARE(shown[4].text, QString("zwart"));
    QCOMPARE(shown[4].colour, QColor(0, 0, 0));  // not tinted by the lines before it
    QVERIFY(!shown[4].bold);
}

void ProgressBoxTest::manyLinesArriveInOrderWithTheEndInView() {
    ProgressBox box;
    box.resize(300, 120);
    box.show();
    QStringList written;
    for (int i = 0; i < 3000; ++i) {
        written.append(QString::number(i));
        box.SchrijfVoortgang(written.last(), i % 2 ? kBlauw : kZwart, false);
        if (i % 500 == 0) QCoreApplication::processEvents();
    }
    QTRY_COMPARE(box.document()->blockCount(), 3001);
    QCOMPARE(box.toPlainText(), written.join(u'\n') + u'\n');
    QCOMPARE(ShownLines(box)[2999].colour, QColor(0, 0, 255));
    QCOMPARE(ShownLines(box)[2998].colour, QColor(0, 0, 0));
    // The last line is in view.
    QVERIFY(box.verticalScrollBar()->value() > 0);
    QTRY_VERIFY(box.viewport()->rect().contains(box.cursorRect()));
    QCOMPARE(box.textCursor().position(), box.document()->characterCount() - 1);
}

void ProgressBoxTest::emptyingDropsLinesNotYetShown() {
    ProgressBox box;
    box.show();
    box.SchrijfVoortgang("oud", kRood, false);
    box.Empty();
    box.SchrijfVoortgang("nieuw", kZwart, false);
    QTRY_COMPARE(box.document()->blockCount(), 2);
    QCOMPARE(box.toPlainText(), QString("nieuw\n"));
    QCOMPARE(box.lines(), QStringList({"nieuw"}));
    QCOMPARE(box.redLineCount(), 0);
    box.hide();
    box.SchrijfVoortgang("verborgen", kZwart, false);  // a hidden box holds nothing back
    QCOMPARE(box.toPlainText(), QString("nieuw\nverborgen\n"));
}

QTEST_MAIN(ProgressBoxTest)
#include "tst_app_progressbox.moc"
