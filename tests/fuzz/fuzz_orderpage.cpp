// The pages of an order and of a confirmation, built from any message file.
#include <QSet>

#include "core/paths.h"
#include "fuzzsupport.h"
#include "messages/orderpage.h"

using namespace kavelon;

namespace {

// The markup the page builders write themselves; values from the file are text only.
const QSet<QString> kPageTags = {
    QStringLiteral("html"), QStringLiteral("head"),  QStringLiteral("title"),
    QStringLiteral("body"), QStringLiteral("style"), QStringLiteral("h1"),
    QStringLiteral("h3"),   QStringLiteral("font"),  QStringLiteral("table"),
    QStringLiteral("tr"),   QStringLiteral("td"),    QStringLiteral("th"),
    QStringLiteral("b"),    QStringLiteral("hr"),    QStringLiteral("p")};

bool IsTagNameChar(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// Every "<" opens one of the builders' own tags: nothing in the file becomes markup.
void CheckMarkup(const QString& page) {
    for (qsizetype open = page.indexOf(u'<'); open >= 0; open = page.indexOf(u'<', open + 1)) {
        qsizetype start = open + 1;
        if (start < page.size() && page[start] == u'/') ++start;
        qsizetype end = start;
        while (end < page.size() && IsTagNameChar(page[end])) ++end;
        FUZZ_CHECK(kPageTags.contains(page.mid(start, end - start)));
        FUZZ_CHECK(end < page.size() && (page[end] == u'>' || page[end] == u' '));
    }
    FUZZ_CHECK(page.count(QStringLiteral("<body")) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EnsureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = InputBytes(data, size);
    const QString folder = PrivateFolder().path() + kPathSep;
    WriteInputFile(folder + QStringLiteral("order.icm"), bytes);
    CheckMarkup(CreateIcmHtml(folder + QStringLiteral("order.icm")));
    WriteInputFile(folder + QStringLiteral("confirmation.icb"), bytes);
    CheckMarkup(CreateIcbHtml(folder + QStringLiteral("confirmation.icb")));
    return 0;
}
