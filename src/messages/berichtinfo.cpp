#include "messages/berichtinfo.h"

#include "core/paths.h"
#include "core/textutil.h"
#include "messages/linereader.h"

namespace kavelon {
namespace {

const QString kSlash = QStringLiteral(" / ");
const QString kAsSoonAsPossible = QStringLiteral("z.s.m.");

void ReadFields(LineReader& reader, bool blnTotaal, BerichtInfo& info) {
    QString line;
    if (!reader.skip(1)) return;

    if (!reader.next(line)) return;
    if (!IsBlank(line)) info.strRef = TrimSpaces(line);

    if (!reader.next(line)) return;
    if (!IsBlank(line)) {
        if (!IsBlank(info.strRef)) info.strRef += kSlash;
        // A space follows this part: with a third part that gives two spaces before its slash.
        info.strRef += TrimSpaces(line) + u' ';
    }

    if (!reader.next(line)) return;
    if (!IsBlank(line)) {
        if (!IsBlank(info.strRef)) info.strRef += kSlash;
        info.strRef += TrimSpaces(line);
    }

    if (!reader.next(line)) return;
    if (!IsBlank(line)) info.strDebNr = TrimSpaces(line);

    if (!blnTotaal) return;
    if (!reader.skip(2) || !reader.next(line)) return;
    info.strDatum = IsBlank(line) ? kAsSoonAsPossible : TrimSpaces(line);

    if (!reader.skip(5) || !reader.next(line)) return;
    if (!IsBlank(line)) info.strOrderNr = TrimSpaces(line);
}

}  // namespace

BerichtInfo GetBerichtInfo(const QString& directory, const QString& fileName,
                           const QString& strSubDir, bool blnTotaal) {
    BerichtInfo info;
    LineReader reader;
    if (LineReader::FromFile(directory + strSubDir + kPathSep + fileName, reader))
        ReadFields(reader, blnTotaal, info);
    return info;
}

}  // namespace kavelon
