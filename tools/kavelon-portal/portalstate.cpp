#include "portalstate.h"

#include <cctype>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "core/codec.h"
#include "core/textutil.h"
#include "messages/messagefile.h"
#include "messages/values.h"

namespace kavelon {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The demo accounts written into a new account file.
const char kDemoAccounts[] = R"({
  "accounts": [
    {"customerid": "100-200", "username": "demo", "password": "demo",
     "name": "Demo Installatiebedrijf"},
    {"customerid": "300400", "username": "winkel", "password": "p&ss+w0rd",
     "name": "Demo Winkel"}
  ]
}
)";

QString Price(double value) {
    return QString::number(value, 'f', 2);
}

PortalAnswer Refusal(const QString& message) {
    return {QStringLiteral("Error"), message, {}};
}

}  // namespace

std::map<QByteArray, QByteArray> SplitForm(const QByteArray& body,
                                           const QList<QByteArray>& orderedNames) {
    std::map<QByteArray, QByteArray> values;
    QList<qsizetype> markers, starts;
    qsizetype pos = 0;
    for (qsizetype i = 0; i < orderedNames.size(); ++i) {
        const QByteArray marker = (i == 0 ? QByteArray() : QByteArray("&")) + orderedNames[i] + '=';
        const qsizetype at =
            i == 0 ? (body.startsWith(marker) ? 0 : -1) : body.indexOf(marker, pos);
        if (at < 0) break;
        markers.append(at);
        pos = at + marker.size();
        starts.append(pos);
    }
    if (!orderedNames.isEmpty() && markers.size() == orderedNames.size()) {
        for (qsizetype i = 0; i < orderedNames.size(); ++i) {
            const qsizetype end = i + 1 < markers.size() ? markers[i + 1] : body.size();
            values[orderedNames[i]] = body.mid(starts[i], end - starts[i]);
        }
        return values;
    }
    for (const QByteArray& piece : body.split('&')) {
        const qsizetype eq = piece.indexOf('=');
        const QByteArray name = eq < 0 ? piece : piece.left(eq);
        if (!values.contains(name)) values[name] = eq < 0 ? QByteArray() : piece.mid(eq + 1);
    }
    return values;
}

QString DecodeFormValue(const QByteArray& value) {
    QByteArray bytes;
    bytes.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%' && i + 2 < value.size()) {
            const QByteArray hex = value.mid(i + 1, 2);
            bool ok = std::isxdigit(static_cast<unsigned char>(hex[0])) &&
                      std::isxdigit(static_cast<unsigned char>(hex[1]));
            const int code = ok ? hex.toInt(&ok, 16) : 0;
            if (ok) {
                bytes.append(static_cast<char>(code));
                i += 2;
            } else {
                bytes.append(c);
            }
        } else {
            bytes.append(c);
        }
    }
    return DecodeCp1252(bytes);
}

QString NormalizedNumber(const QString& number) {
    QString n = number.trimmed();
    n.remove(QLatin1Char('-'));
    return n;
}

QString PortalAnswer::text() const {
    QString t = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>") + kCrLf +
                QStringLiteral("<IcmResult>") + kCrLf + QStringLiteral("<IcmStatus>") + status +
                QStringLiteral("</IcmStatus>") + kCrLf + QStringLiteral("<Message>") + message +
                QStringLiteral("</Message>") + kCrLf;
    for (const auto& [name, content] : files)
        t += QStringLiteral("<file ") + name + QStringLiteral(">") + kCrLf + content + kCrLf +
             QStringLiteral("</file>") + kCrLf;
    return t + QStringLiteral("</IcmResult>") + kCrLf;
}

PortalState::PortalState(QString stateDir, QString accountsFile)
    : stateDir_(std::move(stateDir)), accountsFile_(std::move(accountsFile)) {}

namespace {

QJsonObject OrderObject(const PortalOrder& o) {
    return {{QStringLiteral("number"), o.orderNumber},
            {QStringLiteral("customerid"), o.customerId},
            {QStringLiteral("file"), o.fileName},
            {QStringLiteral("reference"), o.reference},
            {QStringLiteral("deliveryDate"), o.deliveryDate},
            {QStringLiteral("lines"), o.lineCount},
            {QStringLiteral("received"), o.received}};
}

PortalOrder OrderFrom(const QJsonObject& o) {
    return {o.value(QStringLiteral("number")).toString(),
            o.value(QStringLiteral("customerid")).toString(),
            o.value(QStringLiteral("file")).toString(),
            o.value(QStringLiteral("reference")).toString(),
            o.value(QStringLiteral("deliveryDate")).toString(),
            o.value(QStringLiteral("lines")).toInt(),
            o.value(QStringLiteral("received")).toString()};
}

}  // namespace

bool PortalState::open(QString& error) {
    if (!QFileInfo::exists(accountsFile_)) {
        QDir().mkpath(QFileInfo(accountsFile_).absolutePath());
        QSaveFile f(accountsFile_);
        if (!f.open(QIODevice::WriteOnly) || f.write(kDemoAccounts) < 0 || !f.commit()) {
            error = QStringLiteral("cannot write the account file %1").arg(accountsFile_);
            return false;
        }
    }
    if (!loadSnapshot(error) || !replayJournal(error)) return false;
    journal_.setFileName(QDir(stateDir_).filePath(QStringLiteral("portal.jsonl")));
    if (!journal_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = QStringLiteral("cannot write %1").arg(journal_.fileName());
        return false;
    }
    return true;
}

// portal.json: the whole state as an earlier version of the sandbox kept it.
bool PortalState::loadSnapshot(QString& error) {
    QFile f(QDir(stateDir_).filePath(QStringLiteral("portal.json")));
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(f.fileName());
        return false;
    }
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    nextOrderNumber_ = root.value(QStringLiteral("nextOrderNumber")).toInt(nextOrderNumber_);
    for (const QJsonValue& v : root.value(QStringLiteral("orders")).toArray())
        orders_.append(OrderFrom(v.toObject()));
    for (const QJsonValue& v : root.value(QStringLiteral("queue")).toArray())
        queue_.append(QueuedFrom(v.toObject()));
    return true;
}

// portal.jsonl: one change per line, applied in order.
bool PortalState::replayJournal(QString& error) {
    QFile f(QDir(stateDir_).filePath(QStringLiteral("portal.jsonl")));
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(f.fileName());
        return false;
    }
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        if (!line.endsWith('\n')) break;  // a change cut short by a crash never happened
        const QJsonObject change = QJsonDocument::fromJson(line).object();
        if (change.contains(QStringLiteral("order"))) {
            const PortalOrder order = OrderFrom(change.value(QStringLiteral("order")).toObject());
            nextOrderNumber_ = qMax(nextOrderNumber_, order.orderNumber.toInt() + 1);
            orders_.append(order);
            queue_.append(QueuedFrom(change.value(QStringLiteral("queue")).toObject()));
        } else if (change.contains(QStringLiteral("delivered"))) {
            takeQueued(change.value(QStringLiteral("delivered")).toString());
        }
    }
    return true;
}

PortalState::Queued PortalState::QueuedFrom(const QJsonObject& o) {
    return {o.value(QStringLiteral("customerid")).toString(),
            o.value(QStringLiteral("name")).toString(), o.value(QStringLiteral("text")).toString()};
}

// One change appended to the journal, on disk before the answer goes out.
bool PortalState::append(const QJsonObject& change) {
    const QByteArray line = QJsonDocument(change).toJson(QJsonDocument::Compact) + '\n';
    return journal_.write(line) == line.size() && journal_.flush();
}

QList<PortalState::Queued> PortalState::takeQueued(const QString& key) {
    QList<Queued> taken, kept;
    for (Queued& q : queue_) (q.customerId == key ? taken : kept).append(std::move(q));
    queue_ = std::move(kept);
    return taken;
}

QList<PortalAccount> PortalState::readAccounts() const {
    QList<PortalAccount> accounts;
    QFile f(accountsFile_);
    if (!f.open(QIODevice::ReadOnly)) return accounts;
    const QJsonArray list =
        QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("accounts")).toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        accounts.append({o.value(QStringLiteral("customerid")).toString(),
                         o.value(QStringLiteral("username")).toString(),
                         o.value(QStringLiteral("password")).toString(),
                         o.value(QStringLiteral("name")).toString()});
    }
    return accounts;
}

std::optional<PortalAccount> PortalState::login(const QString& customerId, const QString& user,
                                                const QString& password) const {
    if (NormalizedNumber(customerId).isEmpty()) return std::nullopt;
    for (const PortalAccount& a : readAccounts())
        if (NormalizedNumber(a.customerId) == NormalizedNumber(customerId) && a.userName == user &&
            a.password == password)
            return a;
    return std::nullopt;
}

PortalAnswer PortalState::postOrder(const QByteArray& body, bool apply) {
    auto form = SplitForm(body, {"customerid", "username", "password", "file", "icm"});
    const auto account =
        login(DecodeFormValue(form["customerid"]), DecodeFormValue(form["username"]),
              DecodeFormValue(form["password"]));
    if (!account)
        return Refusal(QStringLiteral(
            "Inloggen mislukt: het debiteurennummer, de gebruiker of het wachtwoord is onjuist."));
    const QString fileName = DecodeFormValue(form["file"]);
    if (fileName.isEmpty())
        return Refusal(QStringLiteral("De bestandsnaam van de order ontbreekt."));

    QStringList lines = DecodeFormValue(form["icm"]).split(kCrLf);
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    const QString number = lines.size() >= 5 ? lines[4] : QString();
    if (NormalizedNumber(number) != NormalizedNumber(account->customerId))
        return Refusal(QStringLiteral("Het debiteurennummer '%1' in de order hoort niet bij "
                                      "debiteur %2.")
                           .arg(TrimSpaces(number), account->customerId));
    if (lines.size() < kIcmHeaderLines)
        return Refusal(QStringLiteral("De order is onvolledig: de kop heeft %1 van de %2 regels.")
                           .arg(lines.size())
                           .arg(kIcmHeaderLines));
    const OrderLineCount count = ReadOrderLineCount(lines[kIcmHeaderLines - 1]);
    if (count.status != OrderLineCount::Status::Counted || count.count <= 0)
        return Refusal(QStringLiteral("De order bevat geen orderregels."));
    const qsizetype present = lines.size() - kIcmHeaderLines;
    if (present != qsizetype(count.count) * IcmOrderLine::kLines)
        return Refusal(QStringLiteral("Het aantal orderregels (%1) klopt niet met de %2 regels "
                                      "na de kop.")
                           .arg(count.count)
                           .arg(present));

    const QString orderNumber = QString::number(nextOrderNumber_);
    if (apply) {
        const PortalOrder order{orderNumber,
                                account->customerId,
                                fileName,
                                TrimSpaces(lines[1]),
                                TrimSpaces(lines[14]),
                                count.count,
                                QDateTime::currentDateTimeUtc().toString(Qt::ISODate)};
        const Queued queued{NormalizedNumber(account->customerId), fileName,
                            BuildConfirmation(lines, orderNumber)};
        const QJsonObject change{
            {QStringLiteral("order"), OrderObject(order)},
            {QStringLiteral("queue"), QJsonObject{{QStringLiteral("customerid"), queued.customerId},
                                                  {QStringLiteral("name"), queued.name},
                                                  {QStringLiteral("text"), queued.text}}}};
        if (!append(change))
            return Refusal(QStringLiteral("De order kan op dit moment niet worden opgeslagen."));
        ++nextOrderNumber_;
        orders_.append(order);
        queue_.append(queued);
    }
    return {QStringLiteral("Correct"),
            QStringLiteral("Order '%1' is ontvangen onder ordernummer %2.")
                .arg(ConvertSpaces(fileName, false), orderNumber),
            {}};
}

PortalAnswer PortalState::fetchConfirmations(const QByteArray& body, bool apply) {
    auto form = SplitForm(body, {"debnr", "dept", "password"});
    const auto account = login(DecodeFormValue(form["debnr"]), DecodeFormValue(form["dept"]),
                               DecodeFormValue(form["password"]));
    if (!account)
        return Refusal(QStringLiteral(
            "<p>Inloggen mislukt.</p><p>Het <b>debiteurennummer</b>, de gebruiker of het "
            "wachtwoord is onjuist.</p>"));
    PortalAnswer answer{QStringLiteral("Correct"), QString(), {}};
    const QString key = NormalizedNumber(account->customerId);
    for (const Queued& q : queue_)
        if (q.customerId == key) answer.files.append({q.name, q.text});
    answer.message = QStringLiteral("Er zijn %1 orderbevestigingen voor debiteur %2.")
                         .arg(answer.files.size())
                         .arg(account->customerId);
    if (apply && !answer.files.isEmpty()) {
        if (!append(QJsonObject{{QStringLiteral("delivered"), key}}))
            return Refusal(
                QStringLiteral("<p>De orderbevestigingen zijn nu niet beschikbaar.</p>"));
        takeQueued(key);
    }
    return answer;
}

QList<PortalOrder> PortalState::ordersOf(const QString& customerId) const {
    QList<PortalOrder> list;
    for (const PortalOrder& o : orders_)
        if (NormalizedNumber(o.customerId) == NormalizedNumber(customerId)) list.append(o);
    return list;
}

QString PortalState::BuildConfirmation(const QStringList& orderLines, const QString& orderNumber) {
    const auto in = [&](int n) {
        return n >= 1 && n <= orderLines.size() ? orderLines[n - 1] : QString();
    };
    const int count = ReadOrderLineCount(in(kIcmHeaderLines)).count;
    QStringList rows;
    double total = 0;
    int remarks = 0;
    for (int n = 1; n <= count; ++n) {
        const int first = kIcmHeaderLines + (n - 1) * IcmOrderLine::kLines + 1;
        const QString quantity = in(first), article = in(first + 1), price = in(first + 3);
        QString message1 = QStringLiteral("Leverbaar uit voorraad");
        QString message2 = QStringLiteral("Korting 10%");
        QString net;
        if (IsBlank(article)) {
            message1 = QStringLiteral("Artikelnummer ontbreekt");
            ++remarks;
        }
        if (IsBlank(price)) {
            message2 = QStringLiteral("Prijs volgens prijslijst");
        } else {
            // The net price of the line: quantity times the price less 10 percent.
            const double value = NumericValue(quantity) * NumericValue(price) * 0.9;
            total += value;
            net = Price(value);
        }
        rows << quantity << article << in(first + 2) << message1 << message2 << net;
    }
    QStringList header = {in(1), in(2), in(3), in(4), in(5), in(6), in(7), in(15), Price(total)};
    header << (remarks ? QStringLiteral("Let op: %1 orderregel(s) met een melding.").arg(remarks)
                       : QString())
           << QString() << QString() << QString() << orderNumber;
    header << in(8) << in(9) << in(10) << in(11) << in(12) << QString::number(count);
    return (header + rows).join(kCrLf);
}

}  // namespace kavelon
