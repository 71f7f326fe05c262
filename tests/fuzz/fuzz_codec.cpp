// The Windows-1252 codec of message files, the page file and the log.
#include "core/codec.h"
#include "fuzzsupport.h"

using namespace kavelon;

namespace {

constexpr char16_t kQuestionMark = u'?';

// Every byte value decodes to its own character and back.
void CheckBytesRoundTrip(const QByteArray& bytes) {
    const QString text = DecodeCp1252(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(EncodeCp1252(text) == bytes);
}

// One byte per character (a surrogate pair is one); a character the code page lacks comes
// back as "?", every other character as itself.
void CheckTextRoundTrip(const QString& text) {
    const QByteArray bytes = EncodeCp1252(text);
    const QString back = DecodeCp1252(bytes);
    qsizetype at = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++at) {
        FUZZ_CHECK(at < back.size());
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t codePoint =
            pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        if (pair) ++i;
        const bool inCodePage =
            Cp1252Code(codePoint) != kQuestionMark || codePoint == kQuestionMark;
        FUZZ_CHECK(back[at].unicode() == (inCodePage ? codePoint : kQuestionMark));
    }
    FUZZ_CHECK(at == back.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckBytesRoundTrip(InputBytes(data, size));
    CheckTextRoundTrip(InputUtf16(data, size));
    return 0;
}
