#pragma once

#include <map>
#include <optional>

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace kavelon {

// The values of a form body, as sent: nothing is decoded. When every name appears in the
// given order ("a=..&b=..&c=.."), each value runs up to the next "&name=" marker, so an
// unencoded "&" or "+" inside a password stays part of it, the way the program sends
// credentials. Otherwise the body is split at every "&" and the first "=" of each piece.
std::map<QByteArray, QByteArray> SplitForm(const QByteArray& body,
                                           const QList<QByteArray>& orderedNames);

// Undoes the form encoding of a value, as any form parser does: "+" is a space, "%XX" one
// Windows-1252 byte.
QString DecodeFormValue(const QByteArray& value);

// Customer numbers compare without their dashes: 123456 names the account 123-456.
QString NormalizedNumber(const QString& number);

// One portal account, from the account file.
struct PortalAccount {
    QString customerId;
    QString userName;
    QString password;
    QString name;  // the customer's name, shown on the order-status page
};

// An accepted order as the portal keeps it.
struct PortalOrder {
    QString orderNumber;
    QString customerId;  // the account's number, as in the account file
    QString fileName;    // as received, spaces still as "xax"
    QString reference;
    QString deliveryDate;
    int lineCount = 0;
    QString received;  // ISO date and time, UTC
};

// A portal answer: status and message tags, then any file elements.
struct PortalAnswer {
    QString status;                            // "Correct" or "Error"
    QString message;                           // for the user; a fetch refusal holds HTML
    QList<std::pair<QString, QString>> files;  // element name and content
    bool accepted() const { return status == QLatin1String("Correct"); }
    // The answer text: an XML-like envelope around the tags, CR LF line ends.
    QString text() const;
};

// What the portal knows: its accounts (the account file, read again before every request so
// that tests may change it), accepted orders and the queue of confirmations per account.
// The state lives in memory; every change is appended as one JSON line to
// <state>/portal.jsonl, which the next start replays, so a request costs the same however
// long the portal has run.
class PortalState {
  public:
    PortalState(QString stateDir, QString accountsFile);

    // Creates the account file with the demo accounts when it is missing; loads the state.
    bool open(QString& error);

    // The account with this number (dashes aside), user and password, if there is one.
    std::optional<PortalAccount> login(const QString& customerId, const QString& user,
                                       const QString& password) const;

    // Judges an order post (its raw body) and, when it is accepted, keeps the order and
    // queues its confirmation. With apply false nothing is kept.
    PortalAnswer postOrder(const QByteArray& body, bool apply = true);
    // Delivers the queued confirmations of the login's account and clears its queue; with
    // apply false the queue stays.
    PortalAnswer fetchConfirmations(const QByteArray& body, bool apply = true);

    // The accepted orders of an account, oldest first.
    QList<PortalOrder> ordersOf(const QString& customerId) const;

    // The confirmation text of an accepted order: 20 header lines, then six lines per
    // order line, CR LF between lines.
    static QString BuildConfirmation(const QStringList& orderLines, const QString& orderNumber);

  private:
    struct Queued {
        QString customerId;  // normalized
        QString name;
        QString text;
    };
    static Queued QueuedFrom(const QJsonObject& o);

    QList<PortalAccount> readAccounts() const;
    bool loadSnapshot(QString& error);
    bool replayJournal(QString& error);
    bool append(const QJsonObject& change);
    // Removes the queued confirmations of an account and gives them, oldest first.
    QList<Queued> takeQueued(const QString& key);

    QString stateDir_;
    QString accountsFile_;
    int nextOrderNumber_ = 700001;
    QList<PortalOrder> orders_;
    QList<Queued> queue_;
    QFile journal_;
};

}  // namespace kavelon
