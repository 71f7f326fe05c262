// The two encodings of values in a form body: UrlEncode for the order text, FormValue for
// the account values and the file name. Decoding either gives the value's Windows-1252 bytes.
#include "core/codec.h"
#include "core/textutil.h"
#include "fuzzsupport.h"

using namespace kavelon;

namespace {

bool IsPlainAlphanumeric(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

void CheckUrlEncode(const QString& text) {
    const std::optional<QString> encoded = UrlEncode(text);
    FUZZ_CHECK(encoded.has_value());
    if (IsBlank(text)) {
        FUZZ_CHECK(encoded->isEmpty());
        return;
    }
    for (const QChar c : *encoded) FUZZ_CHECK(IsPlainAlphanumeric(c) || c == u'+' || c == u'%');
    QByteArray expected = EncodeCp1252(text);
    expected.replace('\0', QByteArray());
    QByteArray spaced = encoded->toLatin1();
    spaced.replace('+', ' ');
    FUZZ_CHECK(QByteArray::fromPercentEncoding(spaced) == expected);
}

void CheckFormValue(const QString& text) {
    const QString encoded = FormValue(text, QStringLiteral("?"));
    for (const QChar c : encoded) {
        FUZZ_CHECK(c.unicode() > 32 && c.unicode() < 127);
        FUZZ_CHECK(!QStringLiteral("&+=# ?").contains(c));
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded.toLatin1()) == EncodeCp1252(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte chooses how the rest is read: as Windows-1252 bytes or as UTF-16.
    if (size == 0) return 0;
    const QString text =
        data[0] & 1 ? InputUtf16(data + 1, size - 1) : DecodeCp1252(InputBytes(data + 1, size - 1));
    CheckUrlEncode(text);
    CheckFormValue(text);
    return 0;
}
