// The portal client's HTTP answer reader: the first byte picks where the rest is split in two
// deliveries; whole or split, the reader must come to the same answer within its cap.
#include "fuzzsupport.h"
#include "portal/httpanswer.h"

using namespace kavelon;

namespace {

constexpr qint64 kMaxBody = 4096;

struct Read {
    HttpAnswerReader::State state;
    HttpAnswer answer;
};

Read ReadAll(const QList<QByteArray>& parts) {
    HttpAnswerReader reader(kMaxBody);
    HttpAnswerReader::State state = HttpAnswerReader::State::Incomplete;
    for (const QByteArray& part : parts) state = reader.feed(part);
    if (state == HttpAnswerReader::State::Incomplete) state = reader.endOfConnection();
    return {state, reader.answer()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray raw = InputBytes(data + 1, size - 1);
    const qsizetype split = qsizetype(data[0]) * raw.size() / 256;
    const Read whole = ReadAll({raw});
    const Read parts = ReadAll({raw.left(split), raw.mid(split)});
    FUZZ_CHECK(whole.state == parts.state);
    FUZZ_CHECK(whole.state != HttpAnswerReader::State::Incomplete);
    if (whole.state != HttpAnswerReader::State::Complete) return 0;
    FUZZ_CHECK(whole.answer.status >= 200 && whole.answer.status <= 999);
    FUZZ_CHECK(whole.answer.status == parts.answer.status);
    FUZZ_CHECK(whole.answer.body == parts.answer.body);
    FUZZ_CHECK(whole.answer.keepAlive == parts.answer.keepAlive);
    FUZZ_CHECK(whole.answer.body.size() <= kMaxBody);
    FUZZ_CHECK(whole.answer.body.size() <= raw.size());
    return 0;
}
