#include "messages/orderpage.h"

#include <QFileInfo>
#include <QSaveFile>

#include "core/codec.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "core/workdirs.h"
#include "messages/messagefile.h"
#include "messages/values.h"

namespace kavelon {
namespace {

const QString kPageError =
    QStringLiteral("<p><h3>Er is een fout opgetreden tijdens het aanmaken van de ICM-order!</h3>");
const QString kPageFileName = QStringLiteral("Temp.html");

// A value as text of the page: shown exactly as written, never taken as markup.
QString Escaped(const QString& value) {
    QString result;
    result.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
            case u'&':
                result += QLatin1String("&amp;");
                break;
            case u'<':
                result += QLatin1String("&lt;");
                break;
            case u'>':
                result += QLatin1String("&gt;");
                break;
            case u'"':
                result += QLatin1String("&quot;");
                break;
            case u'\'':
                result += QLatin1String("&#39;");
                break;
            default:
                result += c;
        }
    }
    return result;
}

// Two values in one cell, separated by one space.
QString Joined(const QString& first, const QString& second) {
    return first + u' ' + second;
}

// Appends the fragments of a page; values are escaped here.
class PageBuilder {
  public:
    // The start fragment: head, style and heading of the page.
    PageBuilder(const QString& kind, const QString& fileName) {
        const QString name = Escaped(fileName);
        page_ = QLatin1String("<html><head><title>") + kind + u' ' + name +
                QLatin1String(
                    " bekijken</title></head>"
                    "<body onload='javascript:window.focus();'>"
                    "<style>.algemeen {font-family: Verdana, Helvetica, Arial, "
                    "sans-serif; font-size: 11px;}</style>"
                    "<h1><font color='#000080'>") +
                kind + u' ' + name + QLatin1String("</font></h1>");
    }

    void headerTable() {
        page_ += QLatin1String("<table cellpadding=0 cellspacing=0 class='algemeen'>");
    }
    void labelled(const QString& label, const QString& value) {
        page_ += QLatin1String("<tr><td><b>") + label +
                 QLatin1String("</b></td><td width=5></td><td>") + Escaped(value) +
                 QLatin1String("</td></tr>");
    }
    void unlabelled(const QString& value) {
        page_ += QLatin1String("<tr><td colspan=2></td><td>") + Escaped(value) +
                 QLatin1String("</td></tr>");
    }
    void spacer() { page_ += QLatin1String("<tr height=5><td></td></tr>"); }
    void wide(const QString& value) {
        page_ += QLatin1String("<tr><td colspan=3>") + Escaped(value) + QLatin1String("</td></tr>");
    }
    void wideLabel(const QString& label) {
        page_ += QLatin1String("<tr><td colspan=3><b>") + label + QLatin1String("</b></td></tr>");
    }
    void lineTable() {
        page_ += QLatin1String("<table cellpadding=0 cellspacing=0 width='100%' class='algemeen'>");
    }
    void rule(int columns) {
        page_ += QLatin1String("<tr><td colspan='") + QString::number(columns) +
                 QLatin1String("'><hr></td></tr>");
    }
    // The four cells that order and confirmation lines share, gap cells between them.
    void lineCells(const QString& quantity, const QString& article, const QString& description,
                   const QString& price) {
        page_ += QLatin1String("<td align='right'>") +
                 Escaped(PlainNumberDisplay(NumericValue(quantity))) + QLatin1String("</td>");
        gap();
        page_ += QLatin1String("<td>") + Escaped(article) + QLatin1String("</td>");
        gap();
        page_ += QLatin1String("<td>") + Escaped(description) + QLatin1String("</td>");
        gap();
        page_ += QLatin1String("<td align='right'>") + Escaped(PriceDisplay(price)) +
                 QLatin1String("</td>");
    }
    void gap() { page_ += QLatin1String("<td width=20></td>"); }
    void append(const QString& markup) { page_ += markup; }

    QString end() { return page_ + QLatin1String("</body></html>"); }
    QString failed() { return page_ + kPageError; }

  private:
    QString page_;
};

const QString kIcmHeadingRow = QStringLiteral(
    "<tr><th align='right' width='1%'>Aantal</th><th></th>"
    "<th align='left' width='1%'>Artikel</th><th></th>"
    "<th align='left'>Omschrijving</th><th></th>"
    "<th align='right' width='1%'>Prijs</th></tr>");
const QString kIcbHeadingRow = QStringLiteral(
    "<tr><th align='right' width='1%'>Aantal</th><th></th>"
    "<th align='left' width='1%'>Artikel</th><th></th>"
    "<th align='left'>Omschrijving</th><th></th>"
    "<th align='right' width='1%'>Netto prijs</th>"
    "<th></th><th width='1%'>Melding</th></tr>");
constexpr int kIcmColumns = 7;
constexpr int kIcbColumns = 9;

// The start of the line table up to its first row; false when the count cannot be used.
template <typename OrderLine>
bool StartLineTable(PageBuilder& page, const Message<OrderLine>& message, const QString& headingRow,
                    int columns) {
    page.lineTable();
    page.rule(columns);
    page.append(headingRow);
    page.rule(columns);
    return message.failure != MessageFailure::CountTooLarge;
}

bool HeaderRead(MessageFailure failure) {
    return failure != MessageFailure::CannotOpen && failure != MessageFailure::HeaderIncomplete;
}

}  // namespace

QString CreateIcmHtml(const QString& path) {
    PageBuilder page(QStringLiteral("Order"), QFileInfo(path).fileName());
    const IcmMessage message = ReadIcmMessage(path);
    if (!HeaderRead(message.failure)) return page.failed();
    auto line = [&message](int n) { return message.line(n); };
    auto filled = [&message](int n) { return !IsBlank(message.line(n)); };

    page.headerTable();
    page.labelled(QStringLiteral("Debiteur:"), line(5));
    page.labelled(QStringLiteral("Orderreferentie:"), line(2));
    if (filled(3)) page.unlabelled(line(3));
    if (filled(4)) page.labelled(QStringLiteral("Project:"), line(4));
    page.labelled(QStringLiteral("Afleverdatum:"), line(15));
    page.spacer();
    page.labelled(QStringLiteral("Afhaal/Bezorg:"), line(6));
    page.labelled(QStringLiteral("Adrescode:"), line(7));
    if (filled(8)) page.unlabelled(line(8));
    if (filled(9)) page.unlabelled(line(9));
    if (filled(10) || filled(13)) page.unlabelled(Joined(line(10), line(13)));
    if (filled(11) || filled(12)) page.unlabelled(Joined(line(12), line(11)));
    if (filled(14)) page.unlabelled(line(14));
    if (filled(16)) {
        page.spacer();
        page.labelled(QStringLiteral("Leveringsconditie:"), line(16));
    }
    if (filled(17) && !filled(16)) page.spacer();
    if (filled(17)) page.labelled(QStringLiteral("Afleveringsinstructie:"), line(17));
    if (filled(17) && filled(18)) page.unlabelled(line(18));
    page.spacer();
    page.labelled(QStringLiteral("Aantal regels:"), PlainNumberDisplay(NumericValue(line(19))));
    page.append(QStringLiteral("</table>"));

    if (filled(kIcmHeaderLines)) {
        if (!StartLineTable(page, message, kIcmHeadingRow, kIcmColumns)) return page.failed();
        for (const IcmOrderLine& orderLine : message.orderLines) {
            page.append(QStringLiteral("<tr>"));
            page.lineCells(orderLine.quantity, orderLine.article, orderLine.description,
                           orderLine.price);
            page.append(QStringLiteral("</tr>"));
        }
        if (message.failed()) return page.failed();
        page.rule(kIcmColumns);
        page.append(QStringLiteral("</table>"));
    }
    return page.end();
}

QString CreateIcbHtml(const QString& path) {
    PageBuilder page(QStringLiteral("Orderbevestiging"), QFileInfo(path).fileName());
    const IcbMessage message = ReadIcbMessage(path);
    if (!HeaderRead(message.failure)) return page.failed();
    auto line = [&message](int n) { return message.line(n); };
    auto filled = [&message](int n) { return !IsBlank(message.line(n)); };
    // Line 9 in its two-decimal display; a blank one stays as written.
    const QString totalPrice = filled(9) ? TwoDecimalDisplay(NumericValue(line(9))) : line(9);
    const bool anyError = filled(10) || filled(11) || filled(12) || filled(13);

    page.headerTable();
    page.labelled(QStringLiteral("Ordernummer:"), line(14));
    page.labelled(QStringLiteral("Debiteur:"), line(5));
    page.labelled(QStringLiteral("Orderreferentie:"), line(2));
    if (filled(3)) page.unlabelled(line(3));
    page.labelled(QStringLiteral("Afleverdatum:"), line(8));
    page.labelled(QStringLiteral("Totale netto prijs:"), totalPrice);
    page.spacer();
    page.labelled(QStringLiteral("Afhaal/Bezorg:"), line(6));
    page.labelled(QStringLiteral("Adrescode:"), line(7));
    if (filled(15)) page.unlabelled(line(15));
    if (filled(16)) page.unlabelled(line(16));
    if (filled(17)) page.unlabelled(line(17));
    if (filled(18) || filled(19)) page.unlabelled(Joined(line(19), line(18)));
    if (anyError) {
        page.spacer();
        page.wideLabel(QStringLiteral("Foutmeldingen:"));
        for (int n = 10; n <= 13; ++n)
            if (filled(n)) page.wide(line(n));
    }
    page.spacer();
    page.labelled(QStringLiteral("Aantal regels:"), PlainNumberDisplay(NumericValue(line(20))));
    page.append(QStringLiteral("</table>"));

    if (filled(kIcbHeaderLines)) {
        if (!StartLineTable(page, message, kIcbHeadingRow, kIcbColumns)) return page.failed();
        for (const IcbOrderLine& orderLine : message.orderLines) {
            page.append(QStringLiteral("<tr valign='top'>"));
            // The net price stands before the message, unlike in the file.
            page.lineCells(orderLine.quantity, orderLine.article, orderLine.description,
                           orderLine.netPrice);
            page.gap();
            page.append(QStringLiteral("<td nowrap>") +
                        Escaped(Joined(orderLine.message1, orderLine.message2)) +
                        QStringLiteral("</td></tr>"));
        }
        if (message.failed()) return page.failed();
        page.rule(kIcbColumns);
        page.append(QStringLiteral("</table>"));
    }
    return page.end();
}

bool WritePageFile(const QString& directory, const QString& page, QString* pagePath) {
    const QString path = directory + kFolderTemp + kPathSep + kPageFileName;
    if (pagePath) *pagePath = path;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray bytes = EncodeCp1252(page);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace kavelon
