#pragma once

#include <QLocale>
#include <QString>

namespace kavelon {

// The leading number of a text: spaces, tabs and line feeds are skipped wherever they
// stand; sign, digits, a point and digits, and an exponent are taken; reading stops at the
// first other character. The point is always the decimal separator. No number gives 0.
double NumericValue(const QString& text);

// The value as the shortest decimal text (15 significant digits), the locale's decimal
// separator, no grouping: 2,5 under Dutch settings.
QString PlainNumberDisplay(double value, const QLocale& locale = QLocale());

// The value rounded to two decimals with the locale's separators: 1.234,50 under Dutch.
QString TwoDecimalDisplay(double value, const QLocale& locale = QLocale());

// Two-decimal display of a text's numeric value; a blank text stays empty.
QString PriceDisplay(const QString& text, const QLocale& locale = QLocale());

// The count of order lines given by the count line of a message.
struct OrderLineCount {
    enum class Status { NoSection, Counted, TooLarge };
    Status status = Status::NoSection;
    int count = 0;  // 0 for NoSection; may be 0 or negative when Counted
};
OrderLineCount ReadOrderLineCount(const QString& line);

}  // namespace kavelon
