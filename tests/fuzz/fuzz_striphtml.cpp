// StripHtml, which turns the portal's refusals into plain progress lines.
#include "core/codec.h"
#include "core/textutil.h"
#include "fuzzsupport.h"

using namespace kavelon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = DecodeCp1252(InputBytes(data, size));
    const QString stripped = StripHtml(text);
    FUZZ_CHECK(stripped == TrimSpaces(stripped));
    // Only a "<" that no ">" follows can be left: every complete tag is gone.
    const qsizetype open = stripped.indexOf(u'<');
    FUZZ_CHECK(open < 0 || stripped.indexOf(u'>', open) < 0);
    FUZZ_CHECK(stripped.size() <= text.size());
    if (!text.contains(u'<')) FUZZ_CHECK(stripped == TrimSpaces(text));
    return 0;
}
