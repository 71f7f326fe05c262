#include "messages/values.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>

#include "core/textutil.h"

namespace kavelon {
namespace {

bool IsSkipped(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Collects the characters of the leading number, with the skipped characters left out.
class NumberScanner {
  public:
    explicit NumberScanner(const QString& text) : text_(text) {}

    std::string scan() {
        takeSign();
        const bool hasInteger = takeDigits();
        bool hasFraction = false;
        if (peek() == u'.') {
            const qsizetype mark = pos_;
            const std::size_t outMark = out_.size();
            take();
            hasFraction = takeDigits();
            if (!hasFraction && !hasInteger) restore(mark, outMark);
        }
        if (hasInteger || hasFraction) takeExponent();
        return (hasInteger || hasFraction) ? out_ : std::string();
    }

  private:
    QChar peek() {
        while (pos_ < text_.size() && IsSkipped(text_[pos_])) ++pos_;
        return pos_ < text_.size() ? text_[pos_] : QChar();
    }
    void take() { out_ += static_cast<char>(text_[pos_++].unicode()); }
    void restore(qsizetype pos, std::size_t outSize) {
        pos_ = pos;
        out_.resize(outSize);
    }
    void takeSign() {
        if (peek() == u'+' || peek() == u'-') take();
    }
    bool takeDigits() {
        bool any = false;
        while (peek().isDigit() && peek().unicode() < 128) {
            take();
            any = true;
        }
        return any;
    }
    void takeExponent() {
        if (peek() != u'e' && peek() != u'E') return;
        const qsizetype mark = pos_;
        const std::size_t outMark = out_.size();
        take();
        takeSign();
        if (!takeDigits()) restore(mark, outMark);
    }

    const QString& text_;
    qsizetype pos_ = 0;
    std::string out_;
};

// Whether a scanned number that did not convert is too large (rather than too small): its
// first significant digit stands at or above the units.
bool IsOverflow(const std::string& number) {
    std::size_t i = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    long long position = 0;  // decimal exponent of the first significant digit
    bool found = false;
    for (; i < number.size() && std::isdigit(static_cast<unsigned char>(number[i])); ++i) {
        if (found)
            ++position;
        else if (number[i] != '0')
            found = true;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && std::isdigit(static_cast<unsigned char>(number[i])); ++i) {
            if (!found) {
                --position;
                if (number[i] != '0') found = true;
            }
        }
    }
    long long exponent = 0;
    if (i < number.size()) {  // the exponent, saturated far beyond any double
        const bool negative = number[i + 1] == '-';
        for (i += (number[i + 1] == '+' || negative) ? 2 : 1; i < number.size(); ++i)
            exponent = std::min(exponent * 10 + (number[i] - '0'), 100000000LL);
        if (negative) exponent = -exponent;
    }
    return found && position + exponent >= 0;
}

constexpr int kSignificantDigits = 15;

}  // namespace

double NumericValue(const QString& text) {
    const std::string number = NumberScanner(text).scan();
    if (number.empty()) return 0;
    // Independent of the process locale.
    bool ok = false;
    const double value = QByteArray::fromStdString(number).toDouble(&ok);
    if (ok) return value;
    // Out of range: a number too large gives an infinity, one too small gives 0.
    const double magnitude = IsOverflow(number) ? std::numeric_limits<double>::infinity() : 0.0;
    return number[0] == '-' ? -magnitude : magnitude;
}

QString PlainNumberDisplay(double value, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return plain.toString(value, 'g', kSignificantDigits);
}

QString TwoDecimalDisplay(double value, const QLocale& locale) {
    // What rounds to zero shows as zero, without a minus sign.
    if (std::abs(value) < 0.005) value = 0.0;
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value, 'f', 2);
}

QString PriceDisplay(const QString& text, const QLocale& locale) {
    if (IsBlank(text)) return QString();
    return TwoDecimalDisplay(NumericValue(text), locale);
}

OrderLineCount ReadOrderLineCount(const QString& line) {
    if (IsBlank(line)) return {};
    const double rounded = std::nearbyint(NumericValue(line));  // halves to the even neighbour
    if (!(rounded >= std::numeric_limits<qint16>::min() &&
          rounded <= std::numeric_limits<qint16>::max()))
        return {OrderLineCount::Status::TooLarge, 0};
    return {OrderLineCount::Status::Counted, static_cast<int>(rounded)};
}

}  // namespace kavelon
