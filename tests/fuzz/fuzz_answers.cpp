// The portal's answers: VerwerkBevestiging for an order, VerwerkIcb for a fetch, on a
// private main directory. Confirmations may only ever land in icb.
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>

#include "accounts/accountstore.h"
#include "core/codec.h"
#include "core/paths.h"
#include "core/progress.h"
#include "core/settings.h"
#include "core/workdirs.h"
#include "fuzzsupport.h"
#include "portal/exchange.h"
#include "portal/portalclient.h"

using namespace kavelon;

namespace {

struct DiscardingSink : ProgressSink {
    void SchrijfVoortgang(const QString&, int, bool) override {}
};

struct NoPump : EventPump {
    void ProcessPendingEvents() override {}
};

// Size and time of every entry under the private folder, path by path; the content of icb
// and of temp (where an answer is kept until its confirmations are stored) left out.
using Snapshot = QMap<QString, QPair<qint64, QDateTime>>;

// One main directory with its working folders and an account file beside it, and a file
// outside the main directory that must stay as it is.
struct Harness {
    QString root = PrivateFolder().path();
    QString mainDir = root + QStringLiteral("/rilvost/");
    QString icb = mainDir + kFolderIcb;
    QString temp = mainDir + kFolderTemp;
    Settings settings;
    AccountStore accounts;
    PortalClient client{settings};
    DiscardingSink sink;
    NoPump pump;
    PortalExchange exchange{mainDir, &accounts, client, sink, pump};
    Snapshot before;

    Harness() {
        FUZZ_CHECK(QDir().mkpath(mainDir));
        QString directory = mainDir;
        CreateWorkDirs(directory);
        QString error;
        FUZZ_CHECK(accounts.open(root + QStringLiteral("/Kavelon.kvd"), error));
        QFile outside(root + QStringLiteral("/buiten.txt"));
        FUZZ_CHECK(outside.open(QIODevice::WriteOnly) && outside.write("niet overschrijven") > 0);
        outside.close();
        before = Take();
    }

    Snapshot Take() const {
        Snapshot snapshot;
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.startsWith(icb + kPathSep) || path.startsWith(temp + kPathSep)) continue;
            const QFileInfo info = it.fileInfo();
            // icb and temp change whenever a confirmation or an answer is stored in them.
            if (path == icb || path == temp) {
                snapshot.insert(path, {-1, QDateTime()});
                continue;
            }
            snapshot.insert(path, {info.isDir() ? -1 : info.size(), info.lastModified()});
        }
        return snapshot;
    }

    // icb holds plain files only, never a folder or a link; they are removed again so that
    // every input starts from the same folders.
    void CheckAndClearIcb() {
        const QFileInfoList entries = QDir(icb).entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QFileInfo& entry : entries) {
            FUZZ_CHECK(entry.isFile() && !entry.isSymLink());
            FUZZ_CHECK(QFile::remove(entry.filePath()));
        }
        for (const QFileInfo& kept : QDir(temp).entryInfoList(QDir::Files | QDir::Hidden))
            FUZZ_CHECK(QFile::remove(kept.filePath()));
    }
};

Harness& TheHarness() {
    static Harness harness;
    return harness;
}

// A stored name never leaves icb: no separator, no parent, no control character.
void CheckStoredName(const QString& elementName, const QString& icb) {
    const QString name = StoredConfirmationName(elementName);
    if (name.isEmpty()) return;
    FUZZ_CHECK(!name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(0)));
    FUZZ_CHECK(name != QStringLiteral(".") && name != QStringLiteral(".."));
    const QString path = QDir::cleanPath(icb + kPathSep + name);
    FUZZ_CHECK(QFileInfo(path).absolutePath() == QDir::cleanPath(icb));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EnsureApplication();
    TheHarness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& harness = TheHarness();
    const QString answer = DecodeCp1252(InputBytes(data, size));
    harness.exchange.OrderAccepted = false;
    harness.exchange.VerwerkBevestiging(answer);
    FUZZ_CHECK(!harness.exchange.OrderAccepted ||
               answer.contains(QStringLiteral("<IcmStatus>Correct</IcmStatus>")));
    harness.exchange.VerwerkIcb(answer);
    FUZZ_CHECK(harness.Take() == harness.before);
    harness.CheckAndClearIcb();
    CheckStoredName(answer, harness.icb);
    return 0;
}
