#include "portal/exchange.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "accounts/accountstore.h"
#include "core/codec.h"
#include "core/durablebatch.h"
#include "core/durablefile.h"
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

// Confirmations written with one flush to disk.
constexpr qsizetype kConfirmationsPerFlush = 1000;

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

// Device names that Windows reserves in every folder, with any extension.
bool IsReservedWindowsName(const QString& name) {
    static const QRegularExpression kReserved(
        QStringLiteral(
            "^(con|prn|aux|nul|com[1-9\u00b9\u00b2\u00b3]|lpt[1-9\u00b9\u00b2\u00b3]) *(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return kReserved.match(name).hasMatch();
}

bool IsStorableName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..")) return false;
    if (name.endsWith(u'.') || name.endsWith(u' ') || IsReservedWindowsName(name)) return false;
    for (const QChar c : name) {
        if (QStringView(u"/\\:<>\"|?*").contains(c) || c.unicode() < 32 || c.unicode() == 127)
            return false;
    }
    return true;
}

// A text of the portal shown in a progress line: control characters escaped, a name cut short.
QString Shown(const QString& text, qsizetype maxLength = -1) {
    if (maxLength >= 0 && text.size() > maxLength)
        return EscapeControls(text.left(maxLength)) + QStringLiteral("...");
    return EscapeControls(text);
}
constexpr qsizetype kShownNameLength = 255;

// The length of the line break (CR LF, LF or CR) that starts at position at, or 0.
qsizetype LineBreakAt(const QString& text, qsizetype at) {
    if (QStringView(text).mid(at, 2) == u"\r\n") return 2;
    return at < text.size() && (text.at(at) == u'\n' || text.at(at) == u'\r') ? 1 : 0;
}

// The length of the line break that ends just before position end, or 0.
qsizetype LineBreakBefore(const QString& text, qsizetype end) {
    if (end >= 2 && QStringView(text).mid(end - 2, 2) == u"\r\n") return 2;
    return end >= 1 && (text.at(end - 1) == u'\n' || text.at(end - 1) == u'\r') ? 1 : 0;
}

const QString kKeptPrefix = QStringLiteral("icbantwoord-");
const QString kKeptSuffix = QStringLiteral(".txt");
const QString kDoneSuffix = QStringLiteral(".klaar");

QString DoneListOf(const QString& keptPath) {
    return keptPath.chopped(kKeptSuffix.size()) + kDoneSuffix;
}

// The element numbers a kept answer's list names; a record cut short by a crash is ignored.
QSet<int> ReadDoneList(const QString& path) {
    QSet<int> done;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return done;
    static const QRegularExpression kRecord(QStringLiteral("\\[(\\d{1,9})\\]\n"));
    const QString text = QString::fromLatin1(file.readAll());
    for (auto it = kRecord.globalMatch(text); it.hasNext();)
        done.insert(it.next().captured(1).toInt());
    return done;
}

}  // namespace

// One "<file name>" element of an answer; whole when it has its line breaks and "</file>".
struct FileElement {
    int number = 0;
    QString name;
    QString content;
    bool whole = false;
};

namespace {

QList<FileElement> ParseFileElements(const QString& answer) {
    static const QRegularExpression kLineBreak(QStringLiteral("[\r\n]"));
    QList<FileElement> elements;
    for (qsizetype start = answer.indexOf(kFileOpen); start >= 0;
         start = answer.indexOf(kFileOpen, start + kFileOpen.size())) {
        FileElement element;
        element.number = int(elements.size());
        const qsizetype nameStart = start + kFileOpen.size();
        const qsizetype tagEnd = answer.indexOf(u'>', nameStart);
        if (tagEnd < 0) {
            const qsizetype lineEnd = answer.indexOf(kLineBreak, nameStart);
            element.name = answer.mid(nameStart, lineEnd < 0 ? -1 : lineEnd - nameStart);
            elements.append(element);
            continue;
        }
        element.name = answer.mid(nameStart, tagEnd - nameStart);
        const qsizetype close = answer.indexOf(kFileClose, tagEnd + 1);
        if (close >= 0) {
            // The content sits between the portal's line break after the tag and the one
            // before "</file>": exactly one of each is skipped.
            const qsizetype after = LineBreakAt(answer, tagEnd + 1);
            const qsizetype before = LineBreakBefore(answer, close);
            const qsizetype from = tagEnd + 1 + after;
            const qsizetype to = close - before;
            element.whole = after > 0 && before > 0 && to >= from;
            if (element.whole) element.content = answer.mid(from, to - from);
        }
        elements.append(element);
    }
    return elements;
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

// While the portal works on one order, the next is read; once its answer is in, the next
// is posted before the answer is reported and the order moved. The lines keep their order.
void PortalExchange::SendBody(const QStringList& tickedNames) {
    Write(QStringLiteral("Verzenden ICM-berichten"), kZwart, true);
    accountsOfThisSend_.clear();
    RestoreInterruptedMoves();
    ReportRefusedOrders();
    qsizetype position = 0;
    // The list was made before the lock was had: another run may have sent some meanwhile.
    const auto nextPending = [&]() -> std::optional<PreparedOrder> {
        while (position < tickedNames.size()) {
            const QString& name = tickedNames[position++];
            if (IsPending(name)) return PrepareOrder(name);
        }
        return std::nullopt;
    };
    int sent = 0;
    std::optional<PreparedOrder> order = nextPending();
    if (order) StartPost(*order);
    while (order) {
        std::optional<PreparedOrder> next = nextPending();
        WriteSending(order->name);
        const PostResult posted = order->posted ? http_.finish() : PostResult{};
        if (next) StartPost(*next);
        SettleOrder(*order, posted);
        ++sent;
        order = std::move(next);
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
    VerwerkBewaardeAntwoorden();
    if (noSpace_) {
        WriteFetchError();
        return;
    }
    OphalenICB();
}

void PortalExchange::WriteSending(const QString& fileName) {
    Write(QStringLiteral("Bezig met het verzenden van ICM-bericht '") + fileName + u'\'', kZwart);
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
bool PortalExchange::ReadOrder(const QString& path, QString& orderText, QString& refusal,
                               QString account[3], FileStamp& stamp) {
    FileRead read = ReadMessageFile(path, directory_);
    stamp = read.stamp;
    if (read.status == ReadStatus::TooLarge) {
        refusal = QStringLiteral("Het ICM-bericht is groter dan %1 MB en wordt niet verzonden.")
                      .arg(kMaxMessageBytes / (1024 * 1024));
        return true;
    }
    // An order the ordering software is still writing is sent another time.
    if (read.status != ReadStatus::Ok) return false;
    LineReader reader(std::move(read.bytes));
    QString line;
    while (reader.next(line)) {
        if (reader.linesRead() == kCustomerNumberLine) {
            if (!database_) return false;
            const QString number = TrimSpaces(line);
            auto found = accountsOfThisSend_.constFind(number);
            if (found == accountsOfThisSend_.cend()) {
                QString error;
                const auto rows = database_->selectForOrder(number, error);
                if (!rows) return false;
                if (rows->isEmpty()) {
                    refusal = QStringLiteral(
                        "In het ICM-bericht is een onbekende debiteurennummer opgenomen.");
                    return true;
                }
                found = accountsOfThisSend_.insert(number, rows->first());
            }
            account[0] = found->DebiteurenNummer;
            account[1] = found->Gebruiker;
            account[2] = found->Wachtwoord;
        }
        orderText += line + QStringLiteral("\r\n");
    }
    return true;
}

PortalExchange::PreparedOrder PortalExchange::PrepareOrder(const QString& fileName) {
    PreparedOrder order;
    order.name = fileName;
    QString orderText;
    QString account[3];
    order.read = ReadOrder(directory_ + kFolderIcm + kPathSep + fileName, orderText, order.refusal,
                           account, order.stamp);
    if (!order.read || !order.refusal.isEmpty()) return order;
    const auto encodedOrder = UrlEncode(orderText);
    if (!encodedOrder) {
        order.read = false;
        return order;
    }
    const QString body = QStringLiteral("customerid=") + FormValue(account[0]) +
                         QStringLiteral("&username=") + FormValue(account[1]) +
                         QStringLiteral("&password=") + FormValue(account[2]) +
                         QStringLiteral("&file=") + FormValue(ConvertSpaces(fileName, true)) +
                         QStringLiteral("&icm=") + *encodedOrder;
    order.body = body.toLatin1();
    return order;
}

void PortalExchange::StartPost(PreparedOrder& order) {
    if (!order.read || !order.refusal.isEmpty()) return;
    http_.start(QStringLiteral("/icmpost.aspx"), order.body);
    order.posted = true;
}

// Reports the portal's answer to a posted order and moves it when accepted.
void PortalExchange::SettleOrder(const PreparedOrder& order, const PostResult& posted) {
    OrderAccepted = false;
    if (order.read && !order.refusal.isEmpty()) {
        Write(order.refusal, kRood);
        pump_.ProcessPendingEvents();
        return;
    }
    if (order.posted && !posted.ok)
        std::fprintf(stderr, "%s: %s\n", qPrintable(order.name), qPrintable(posted.error));
    if (posted.ok) {
        VerwerkBevestiging(posted.answer);
        readStamp_ = order.stamp;
        if (OrderAccepted) VerplaatsICM(order.name);
    } else {
        WriteSendError();
    }
    Write(QString(), kZwart);
    pump_.ProcessPendingEvents();
}

void PortalExchange::VerzendICM(const QString& fileName) {
    WriteSending(fileName);
    PreparedOrder order = PrepareOrder(fileName);
    StartPost(order);
    SettleOrder(order, order.posted ? http_.finish() : PostResult{});
}

void PortalExchange::VerwerkBevestiging(const QString& answer) {
    const StatusAndMessage parts = ReadStatusAndMessage(answer);
    if (!parts.found || !parts.wellOrdered) {
        WriteSendError();
        return;
    }
    if (parts.status == kCorrect) {
        Write(Shown(parts.message), kBlauw);
        OrderAccepted = true;
        return;
    }
    Write(Shown(parts.message), kRood);
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
        Write(StripHtml(Shown(parts.message)), kRood);
        return true;
    }
    Write(Shown(parts.message), kZwart);
    const QList<FileElement> elements = ParseFileElements(answer);
    if (elements.isEmpty()) return true;
    // The portal hands each confirmation out once: the answer is on disk before it is used.
    KeptAnswer kept;
    kept.path = KeepAnswer(answer);
    StoreElements(elements, kept);
    return !noSpace_;
}

void PortalExchange::VerwerkBewaardeAntwoorden() {
    if (keptAnswersDone_) return;
    keptAnswersDone_ = true;
    const QString temp = directory_ + kFolderTemp;
    RemoveDurableTemporaries(directory_ + kFolderIcb);
    QDir folder(temp);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const bool leftover = name.startsWith(kKeptPrefix) && IsDurableTemporaryName(name);
        const bool orphan = name.startsWith(kKeptPrefix) && name.endsWith(kDoneSuffix) &&
                            !folder.exists(name.chopped(kDoneSuffix.size()) + kKeptSuffix);
        if (leftover || orphan) folder.remove(name);
    }
    const QStringList answers =
        folder.entryList({kKeptPrefix + u'*' + kKeptSuffix}, QDir::Files, QDir::Name);
    if (answers.isEmpty()) return;
    Write(QStringLiteral("Opslaan van eerder ontvangen ICB-berichten"), kZwart, true);
    for (const QString& name : answers) {
        KeptAnswer kept;
        kept.path = folder.filePath(name);
        QFile file(kept.path);
        if (!file.open(QIODevice::ReadOnly)) {
            Write(QStringLiteral("Het bewaarde antwoord '") + kept.path +
                      QStringLiteral("' kan niet worden gelezen."),
                  kRood);
            continue;
        }
        const QString answer = QString::fromUtf8(file.readAll());
        file.close();
        kept.done = ReadDoneList(DoneListOf(kept.path));
        StoreElements(ParseFileElements(answer), kept);
        pump_.ProcessPendingEvents();
        if (noSpace_) break;
    }
    Write(QString(), kZwart);
}

// Writes the answer to the temp folder; empty (and a red line) when that fails.
QString PortalExchange::KeepAnswer(const QString& answer) {
    const QString temp = directory_ + kFolderTemp;
    if (!DirExists(temp)) QDir().mkdir(temp);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
    QString path;
    do {
        path = temp + kPathSep + kKeptPrefix + stamp + u'-' +
               QStringLiteral("%1").arg(++answerCount_, 3, 10, QLatin1Char('0')) + kKeptSuffix;
    } while (QFileInfo::exists(path));
    const DurableWrite written = WriteFileDurably(path, answer.toUtf8());
    if (written) return path;
    noSpace_ = noSpace_ || written.noSpace;
    Write(QStringLiteral("Het antwoord van het portaal kon niet worden bewaard in de directory '") +
              temp + QStringLiteral("'."),
          kRood);
    return QString();
}

void PortalExchange::ForgetAnswer(const QString& path) {
    // The answer goes first: a list of elements without its answer is removed as a leftover.
    QFile::remove(path);
    QFile::remove(DoneListOf(path));
}

void PortalExchange::MarkDone(KeptAnswer& kept, int number) {
    kept.done.insert(number);
    if (!kept.path.isEmpty()) kept.unsaved += '[' + QByteArray::number(number) + "]\n";
}

// Adds the elements marked done since the last time to the lists beside the kept answers.
void PortalExchange::SaveDoneLists(KeptAnswer& current) {
    const auto save = [](KeptAnswer& kept) {
        if (kept.unsaved.isEmpty()) return;
        AppendToFile(DoneListOf(kept.path), kept.unsaved);
        kept.unsaved.clear();
    };
    save(current);
    for (KeptAnswer& kept : kept_) save(kept);
}

// A confirmation stored under a name replaces what older answers still hold for it.
void PortalExchange::Supersede(const QString& storedName, KeptAnswer& current) {
    const auto dropFrom = [&](KeptAnswer& kept) {
        for (qsizetype i = kept.pending.size() - 1; i >= 0; --i) {
            if (kept.pending[i].second != storedName) continue;
            MarkDone(kept, kept.pending[i].first);
            kept.pending.removeAt(i);
        }
    };
    dropFrom(current);
    for (qsizetype i = kept_.size() - 1; i >= 0; --i) {
        dropFrom(kept_[i]);
        if (!kept_[i].pending.isEmpty()) continue;
        ForgetAnswer(kept_[i].path);
        kept_.removeAt(i);
    }
}

void PortalExchange::StoreElements(const QList<FileElement>& elements, KeptAnswer& kept) {
    // Confirmations go to disk in batches, one flush for many; every line in answer order.
    DurableBatch batch;
    QList<const FileElement*> batched;
    const auto commit = [&] {
        const QList<bool> placed = batch.commit();
        for (qsizetype i = 0; i < placed.size(); ++i) {
            const QString name = StoredConfirmationName(batched[i]->name);
            if (placed[i])
                Write(name, kBlauw);
            else
                WriteNotStored(name, !kept.path.isEmpty());
            Settle(*batched[i], placed[i] ? Stored::Yes : Stored::Failed, kept);
        }
        batched.clear();
        SaveDoneLists(kept);
    };
    for (const FileElement& element : elements) {
        if (kept.done.contains(element.number)) continue;
        const QString refusal = ElementRefusal(element);
        if (!refusal.isEmpty()) {
            commit();
            Write(refusal, kRood);
            Settle(element, Stored::Refused, kept);
            continue;
        }
        // Written beside its place under another name and renamed in: never listed
        // half-written, and a link or special file of that name is replaced, not written
        // through.
        const QString name = StoredConfirmationName(element.name);
        bool noSpace = false;
        if (batch.add(directory_ + kFolderIcb + kPathSep + name,
                      EncodeCp1252(element.content + "\r\n"), &noSpace)) {
            batched.append(&element);
            if (batch.size() >= kConfirmationsPerFlush) commit();
            continue;
        }
        commit();
        noSpace_ = noSpace_ || noSpace;
        WriteNotStored(name, !kept.path.isEmpty());
        Settle(element, Stored::Failed, kept);
    }
    commit();
    if (kept.path.isEmpty()) return;
    if (kept.pending.isEmpty())
        ForgetAnswer(kept.path);
    else
        kept_.append(kept);
}

void PortalExchange::Settle(const FileElement& element, Stored outcome, KeptAnswer& kept) {
    switch (outcome) {
        case Stored::Yes:
            MarkDone(kept, element.number);
            Supersede(StoredConfirmationName(element.name), kept);
            break;
        case Stored::Refused:
            MarkDone(kept, element.number);
            break;
        case Stored::Failed:
            kept.pending.append({element.number, StoredConfirmationName(element.name)});
            break;
    }
}

// The red line for an element that is not whole or has no usable name; empty for the others.
QString PortalExchange::ElementRefusal(const FileElement& element) const {
    const QString shownName = Shown(element.name, kShownNameLength);
    if (!element.whole)
        return QStringLiteral("Het ICB-bericht '") + shownName +
               QStringLiteral("' is onvolledig en is niet opgeslagen.");
    if (StoredConfirmationName(element.name).isEmpty())
        return QStringLiteral("Het ICB-bericht '") + shownName +
               QStringLiteral("' heeft een ongeldige bestandsnaam en is niet opgeslagen.");
    return QString();
}

void PortalExchange::WriteNotStored(const QString& name, bool kept) {
    Write(QStringLiteral("Het ICB-bericht '") + name +
              (kept ? QStringLiteral("' kon niet worden opgeslagen; het wordt bij het volgende "
                                     "ophalen opnieuw opgeslagen.")
                    : QStringLiteral("' kon niet worden opgeslagen.")),
          kRood);
}

}  // namespace kavelon
