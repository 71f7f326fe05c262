// StripHtml, which turns the portal's refusals into plain progress lines.
#include "core/codec.h"
#include "core/textutil.h"
#include "fuzzsupport.h"

using namespace kavelon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = DecodeCp1252(InputBytes(data, size));
    const QString stripped = StripHtml(text);
    FUZZ_CHECK(stripped == TrimSpaces(stripped));
    // Stripping ends only when no tag can be taken out: no "<", or no ">" after the first "<"
    // before the first ">" (a ">" that comes first keeps the rest as it is).
    const qsizetype open = stripped.indexOf(u'<');
    const qsizetype close = stripped.indexOf(u'>');
    FUZZ_CHECK(open < 0 || close < open);
    FUZZ_CHECK(stripped.size() <= text.size());
    if (!text.contains(u'<')) FUZZ_CHECK(stripped == TrimSpaces(text));
    return 0;
}
