// The line reader of message files and the header fields the message lists show.
#include "core/codec.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "fuzzsupport.h"
#include "messages/berichtinfo.h"
#include "messages/linereader.h"

using namespace kavelon;

namespace {

constexpr int kCustomerNumberLine = 5;

// Every line is the text up to its end, and the ends are CR LF or a lone CR: the lines and
// their ends give back the bytes read. Returns line 5, or a null text when there is none.
QString CheckLines(const QByteArray& bytes) {
    LineReader reader(bytes);
    QString line;
    QString customerNumber;
    qsizetype pos = 0;
    while (reader.next(line)) {
        const QByteArray lineBytes = EncodeCp1252(line);
        FUZZ_CHECK(!lineBytes.contains('\r'));
        FUZZ_CHECK(bytes.mid(pos, lineBytes.size()) == lineBytes);
        pos += lineBytes.size();
        if (pos < bytes.size()) {
            FUZZ_CHECK(bytes[pos] == '\r');
            ++pos;
            if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
        }
        if (reader.linesRead() == kCustomerNumberLine) customerNumber = line;
    }
    FUZZ_CHECK(pos == bytes.size());
    FUZZ_CHECK(reader.atEnd());
    return customerNumber;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EnsureApplication();
    FUZZ_CHECK(QDir(PrivateFolder().path()).mkpath(QStringLiteral("icm")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = InputBytes(data, size);
    const QString customerNumber = CheckLines(bytes);

    const QString directory = PrivateFolder().path() + kPathSep;
    WriteInputFile(directory + QStringLiteral("icm/message.icm"), bytes);
    for (const bool blnTotaal : {false, true}) {
        const BerichtInfo info = GetBerichtInfo(directory, QStringLiteral("message.icm"),
                                                QStringLiteral("icm"), blnTotaal);
        // The list shows the same customer number the send looks up.
        FUZZ_CHECK(info.strDebNr ==
                   (IsBlank(customerNumber) ? QString() : TrimSpaces(customerNumber)));
        if (!blnTotaal) FUZZ_CHECK(info.strOrderNr.isEmpty() && info.strDatum.isEmpty());
    }
    return 0;
}
