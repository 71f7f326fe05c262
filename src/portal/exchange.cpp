#include "portal/exchange.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "accounts/accountstore.h"
#include "core/codec.h"
#include "core/durablebatch.h"
#include "core/paths.h"
#include "core/progress.h"
#include "core/regularfile.h"
#include "core/textutil.h"
#include "core/workdirs.h"
#include "messages/linereader.h"
#include "messages/messagelist.h"
#include "portal/portalclient.h"

namespace kavelon {
namespace {

const QString kStatusOpen = QStringLiteral("<IcmStatus>");
const QString kStatusClose = QStringLiteral("</IcmStatus>");
const QString kMessageOpen = QStringLiteral("<Message>");
const QString kMessageClose = QStringLiteral("</Message>");
const QString kFileOpen = QStringLiteral("<file ");
const QString kFileClose = QStringLiteral("</file>");
const QString kCorrect = QStringLiteral("Correct");
const QString kOrderExtension = QStringLiteral("icm");
// An order being moved after its post: "." + its name + this; not a name the lists show.
const QString kMovingSuffix = QStringLiteral(".verzenden");
constexpr int kCustomerNumberLine = 5;
constexpr qsizetype kConfirmationsPerFlush = 1000;

// The status and message of an answer; found is false when a tag is missing.
struct StatusAndMessage {
    bool found = false;
    bool wellOrdered = true;
    QString status;
    QString message;
};

QString Between(const QString& text, qsizetype open, qsizetype openLength, qsizetype close) {
    return text.mid(open + openLength, close - open - openLength);
}

StatusAndMessage ReadStatusAndMessage(const QString& answer) {
    StatusAndMessage result;
    const qsizetype statusOpen = answer.indexOf(kStatusOpen);
    const qsizetype statusClose = answer.indexOf(kStatusClose);
    const qsizetype messageOpen = answer.indexOf(kMessageOpen);
    const qsizetype messageClose = answer.indexOf(kMessageClose);
    if (statusOpen < 0 || statusClose < 0 || messageOpen < 0 || messageClose < 0) return result;
    result.found = true;
    result.wellOrdered = statusClose >= statusOpen + kStatusOpen.size() &&
                         messageClose >= messageOpen + kMessageOpen.size();
    if (!result.wellOrdered) return result;
    result.status = Between(answer, statusOpen, kStatusOpen.size(), statusClose);
    result.message = Between(answer, messageOpen, kMessageOpen.size(), messageClose);
    return result;
}

bool IsStorableName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..")) return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c.unicode() < 32 || c.unicode() == 127)
            return false;
    }
    return true;
}

}  // namespace

QString StoredConfirmationName(const QString& elementName) {
    QString name = elementName.toLower();
    name.replace(QStringLiteral(".icm"), QStringLiteral(".icb"));
    name = ConvertSpaces(name, false);
    return IsStorableName(name) ? name : QString();
}

bool RenameOver(const QString& from, const QString& to) {
    std::error_code error;
#ifdef _WIN32
    std::filesystem::rename(std::filesystem::path(from.toStdWString()),
                            std::filesystem::path(to.toStdWString()), error);
#else
    std::filesystem::rename(QFile::encodeName(from).toStdString(),
                            QFile::encodeName(to).toStdString(), error);
#endif
    return !error;
}

PortalExchange::PortalExchange(const QString& directory, AccountStore* database, PortalClient& http,
                               ProgressSink& progress, EventPump& pump)
    : directory_(directory), database_(database), http_(http), progress_(progress), pump_(pump) {}

void PortalExchange::Write(const QString& text, int colour, bool bold) {
    progress_.SchrijfVoortgang(text, colour, bold);
}

void PortalExchange::SendBody(const QStringList& tickedNames) {
    Write(QStringLiteral("Verzenden ICM-berichten"), kZwart, true);
    RestoreInterruptedMoves();
    ReportRefusedOrders();
    int sent = 0;
    for (const QString& name : tickedNames) {
        // The list was made before the lock was had: another run may have sent it meanwhile.
        if (!IsPending(name)) continue;
        VerzendICM(name);
        ++sent;
    }
    if (sent == 0) Write(QStringLiteral("Geen ICM-berichten verzonden"), kZwart);
    Write(QString(), kZwart);
    FetchBody();
}

bool PortalExchange::IsPending(const QString& fileName) const {
    const QFileInfo entry(directory_ + kFolderIcm + kPathSep + fileName);
    return entry.exists() || entry.isSymLink();
}

void PortalExchange::ReportRefusedOrders() {
    for (const FolderEntry& entry : ScanMessageFolder(directory_ + kFolderIcm, kOrderExtension)) {
        if (entry.kind == EntryKind::Message) continue;
        Write(QStringLiteral("Het ICM-bericht '") + entry.name +
                  QStringLiteral("' wordt niet verzonden. ") + RefusalOf(entry.kind),
              kRood);
    }
}

// An order that a run had under its private name when it ended goes back among the pending
// orders: its answer may never have arrived, and sending it twice is better than losing it.
void PortalExchange::RestoreInterruptedMoves() {
    const QString folder = directory_ + kFolderIcm + kPathSep;
    const QDir icm(folder, QStringLiteral(".*") + kMovingSuffix, QDir::Name,
                   QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& moving : icm.entryList()) {
        const QString name = moving.mid(1, moving.size() - 1 - kMovingSuffix.size());
        if (!name.isEmpty()) PutBack(folder + moving, folder, name);
    }
}

void PortalExchange::FetchBody() {
    Write(QStringLiteral("Ophalen ICB-berichten"), kZwart, true);
    OphalenICB();
}

void PortalExchange::WriteSendError() {
    Write(QStringLiteral("Er is een fout opgetreden tijdens het verzenden van de order."), kRood);
    Write(QStringLiteral("Controleer online of de order verwerkt is!"), kRood);
}

void PortalExchange::WriteFetchError() {
    Write(QStringLiteral("Er is een fout opgetreden tijdens het ophalen van de ICB-brichten."),
          kRood);
    Write(QString(), kZwart);
}

// Reads the order text and looks up the account named on line 5. False for a failure.
bool PortalExchange::ReadOrder(const QString& path, QString& orderText, bool& refused,
                               QString account[3]) {
    FileRead read = ReadMessageFile(path, directory_);
    readStamp_ = read.stamp;
    if (read.status == ReadStatus::TooLarge) {
        Write(QStringLiteral("Het ICM-bericht is groter dan %1 MB en wordt niet verzonden.")
                  .arg(kMaxMessageBytes / (1024 * 1024)),
              kRood);
        refused = true;
        return true;
    }
    // An order the ordering software is still writing is sent another time.
    if (read.status != ReadStatus::Ok) return false;
    LineReader reader(std::move(read.bytes));
    QString line;
    while (reader.next(line)) {
        if (reader.linesRead() == kCustomerNumberLine) {
            if (!database_) return false;
            QString error;
            const auto rows = database_->selectForOrder(TrimSpaces(line), error);
            if (!rows) return false;
            if (rows->isEmpty()) {
                Write(QStringLiteral(
                          "In het ICM-bericht is een onbekende debiteurennummer opgenomen."),
                      kRood);
                refused = true;
                return true;
            }
            account[0] = rows->first().DebiteurenNummer;
            account[1] = rows->first().Gebruiker;
            account[2] = rows->first().Wachtwoord;
        }
        orderText += line + QStringLiteral("\r\n");
    }
    return true;
}

void PortalExchange::VerzendICM(const QString& fileName) {
    Write(QStringLiteral("Bezig met het verzenden van ICM-bericht '") + fileName + u'\'', kZwart);
    OrderAccepted = false;
    QString orderText;
    QString account[3];
    bool refused = false;
    const bool read =
        ReadOrder(directory_ + kFolderIcm + kPathSep + fileName, orderText, refused, account);
    if (read && refused) {
        pump_.ProcessPendingEvents();
        return;
    }
    const auto encodedOrder = read ? UrlEncode(orderText) : std::nullopt;
    PostResult posted;
    if (encodedOrder) {
        const QString body = QStringLiteral("customerid=") + FormValue(account[0]) +
                             QStringLiteral("&username=") + FormValue(account[1]) +
                             QStringLiteral("&password=") + FormValue(account[2]) +
                             QStringLiteral("&file=") + FormValue(ConvertSpaces(fileName, true)) +
                             QStringLiteral("&icm=") + *encodedOrder;
        posted = http_.post(QStringLiteral("/icmpost.aspx"), body.toLatin1());
        if (!posted.ok)
            std::fprintf(stderr, "%s: %s\n", qPrintable(fileName), qPrintable(posted.error));
    }
    if (posted.ok) {
        VerwerkBevestiging(posted.answer);
        if (OrderAccepted) VerplaatsICM(fileName);
    } else {
        WriteSendError();
    }
    Write(QString(), kZwart);
    pump_.ProcessPendingEvents();
}

void PortalExchange::VerwerkBevestiging(const QString& answer) {
    const StatusAndMessage parts = ReadStatusAndMessage(answer);
    if (!parts.found || !parts.wellOrdered) {
        WriteSendError();
        return;
    }
    if (parts.status == kCorrect) {
        Write(parts.message, kBlauw);
        OrderAccepted = true;
        return;
    }
    Write(parts.message, kRood);
    Write(QStringLiteral("Het ICM-bericht is niet verwerkt!"), kRood);
}

// Moves the order only while it is the file that was read and posted: it first goes to a
// private name, where nobody replaces it, and is compared there.
void PortalExchange::VerplaatsICM(const QString& fileName) {
    const QString folder = directory_ + kFolderIcm + kPathSep;
    const QString from = folder + fileName;
    const QString to = directory_ + kFolderVerzonden + kPathSep + fileName;
    const QString moving = folder + u'.' + fileName + kMovingSuffix;
    bool unchanged = false;
    bool moved = false;
    if (RenameNoReplace(from, moving)) {
        unchanged = StampOf(moving) == readStamp_;
        moved = unchanged && RenameOver(moving, to);
        if (!moved) PutBack(moving, folder, fileName);
    } else {
        // A name too long for the private one: compared, then moved at once.
        const FileStamp now = StampOf(from);
        unchanged = now == readStamp_ || now.size < 0;
        moved = unchanged && now.size >= 0 && RenameOver(from, to);
    }
    if (!unchanged)
        Write(QStringLiteral("Het ICM-bericht is tijdens het verzenden gewijzigd en blijft staan "
                             "voor een volgende verzending."),
              kRood);
    else if (!moved)
        Write(QStringLiteral("Het is niet mogelijk om het ICM-bericht te verplaatsen naar de "
                             "verzonden directory."),
              kRood);
}

// Puts a file from its private name back among the pending orders, under its own name or,
// when a new order has taken that, under a free one beside it.
void PortalExchange::PutBack(const QString& moving, const QString& folder, const QString& name) {
    if (RenameNoReplace(moving, folder + name)) return;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int n = 2; n < 1000; ++n)
        if (RenameNoReplace(moving, folder + stem + QStringLiteral(" (%1)").arg(n) + extension))
            return;
}

void PortalExchange::OphalenICB() {
    QString error;
    const auto accounts = database_ ? database_->selectAll(error) : std::nullopt;
    if (!accounts) {
        WriteFetchError();
        return;
    }
    for (const Debiteur& account : *accounts) {
        const QString body = QStringLiteral("debnr=") + FormValue(account.DebiteurenNummer) +
                             QStringLiteral("&dept=") + FormValue(account.Gebruiker) +
                             QStringLiteral("&password=") + FormValue(account.Wachtwoord);
        const PostResult posted = http_.post(QStringLiteral("/icbpost.aspx"), body.toLatin1());
        if (!posted.ok)
            std::fprintf(stderr, "%s: %s\n", qPrintable(account.DebiteurenNummer),
                         qPrintable(posted.error));
        if (!posted.ok || !VerwerkIcb(posted.answer)) {
            WriteFetchError();
            return;
        }
        Write(QString(), kZwart);
        pump_.ProcessPendingEvents();
    }
}

bool PortalExchange::VerwerkIcb(const QString& answer) {
    const StatusAndMessage parts = ReadStatusAndMessage(answer);
    if (!parts.found) {
        Write(QStringLiteral("Er is een fout opgetreden tijdens het ophalen van ICB-bericht."),
              kRood);
        return true;
    }
    if (!parts.wellOrdered) return false;
    if (parts.status != kCorrect) {
        Write(StripHtml(parts.message), kRood);
        return true;
    }
    Write(parts.message, kZwart);
    // Confirmations go to disk in batches, one flush for many; each line in answer order.
    DurableBatch batch;
    QStringList batched;
    const auto commit = [&] {
        const QList<bool> placed = batch.commit();
        bool all = true;
        for (qsizetype i = 0; i < placed.size(); ++i) {
            if (placed[i]) Write(batched[i], kBlauw);
            all = all && placed[i];
        }
        batched.clear();
        return all;
    };
    for (qsizetype start = answer.indexOf(kFileOpen); start >= 0;
         start = answer.indexOf(kFileOpen, start + kFileOpen.size())) {
        const qsizetype tagEnd = answer.indexOf(u'>', start);
        const qsizetype close = answer.indexOf(kFileClose, start);
        if (tagEnd < 0 || close < 0) continue;
        const QString elementName =
            answer.mid(start + kFileOpen.size(), tagEnd - start - kFileOpen.size());
        const QString name = StoredConfirmationName(elementName);
        // The content sits between the portal's line break after the tag and the one before
        // "</file>".
        if (close - tagEnd < 5 || name.isEmpty()) {
            if (!commit()) return false;
            Write(QStringLiteral("Het ICB-bericht '") + elementName +
                      (name.isEmpty() ? QStringLiteral("' heeft een ongeldige bestandsnaam en is "
                                                       "niet opgeslagen.")
                                      : QStringLiteral("' is onvolledig en is niet opgeslagen.")),
                  kRood);
            continue;
        }
        // Written beside its place under another name and renamed in: never listed
        // half-written.
        const QString content = answer.mid(tagEnd + 3, close - tagEnd - 5);
        if (!batch.add(directory_ + kFolderIcb + kPathSep + name,
                       EncodeCp1252(content + QStringLiteral("\r\n")))) {
            commit();
            return false;
        }
        batched.append(name);
        if (batch.size() >= kConfirmationsPerFlush && !commit()) return false;
    }
    return commit();
}

}  // namespace kavelon
