#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "accounts/accountstore.h"
#include "core/regularfile.h"

namespace kavelon {

class EventPump;
class PortalClient;
struct PostResult;
class ProgressSink;
struct FileElement;  // one confirmation element of a fetch answer

// Sending orders to the portal and fetching confirmations, reported line by line.
class PortalExchange {
  public:
    // The directory ends with the separator and has passed the folder check.
    PortalExchange(const QString& directory, AccountStore* database, PortalClient& http,
                   ProgressSink& progress, EventPump& pump);

    // The body of the send action: the ticked orders in list order, then the fetch.
    void SendBody(const QStringList& tickedNames);
    // The body of the fetch action.
    void FetchBody();

    void VerzendICM(const QString& fileName);
    void VerwerkBevestiging(const QString& answer);
    void VerplaatsICM(const QString& fileName);
    void OphalenICB();
    // False for a failure that ends the whole fetch (a full medium among them).
    bool VerwerkIcb(const QString& answer);
    // Stores the confirmations of answers kept in the temp folder by an interrupted or partly
    // failed fetch, oldest first, and removes the temporary files an interrupted run left.
    // Runs once per exchange; the fetch runs it before its first request.
    void VerwerkBewaardeAntwoorden();

    // Set by VerwerkBevestiging when the portal accepted the order being sent.
    bool OrderAccepted = false;

  private:
    // An order read for its post: the body to send, or why it is not sent.
    struct PreparedOrder {
        QString name;
        bool read = false;  // false: a failure, reported as a failed send
        QString refusal;    // the red line of an order that is not sent; empty when it is
        QByteArray body;
        FileStamp stamp;
        bool posted = false;  // started at the portal
    };
    PreparedOrder PrepareOrder(const QString& fileName);
    bool ReadOrder(const QString& path, QString& orderText, QString& refusal,
                   QString accountValues[3], FileStamp& stamp);
    void StartPost(PreparedOrder& order);
    void SettleOrder(const PreparedOrder& order, const PostResult& posted);
    bool IsPending(const QString& fileName) const;
    void ReportRefusedOrders();
    void RestoreInterruptedMoves();
    void PutBack(const QString& moving, const QString& folder, const QString& name);
    void WriteSending(const QString& fileName);
    void WriteSendError();
    void WriteFetchError();
    // An answer kept in the temp folder until each of its confirmations is stored; beside it
    // a list of the elements done (stored, refused or replaced by a later one).
    struct KeptAnswer {
        QString path;
        QSet<int> done;
        QList<std::pair<int, QString>> pending;  // element number and stored name
        QByteArray unsaved;  // records of the done list not yet added to its file
    };
    void StoreElements(const QList<FileElement>& elements, KeptAnswer& kept);
    enum class Stored { Yes, Refused, Failed };
    void Settle(const FileElement& element, Stored outcome, KeptAnswer& kept);
    QString ElementRefusal(const FileElement& element) const;
    void WriteNotStored(const QString& name, bool kept);
    void MarkDone(KeptAnswer& kept, int number);
    void SaveDoneLists(KeptAnswer& current);
    void Supersede(const QString& storedName, KeptAnswer& current);
    QString KeepAnswer(const QString& answer);
    void ForgetAnswer(const QString& path);
    void Write(const QString& text, int colour, bool bold = false);

    QString directory_;
    AccountStore* database_;
    PortalClient& http_;
    ProgressSink& progress_;
    EventPump& pump_;
    QList<KeptAnswer> kept_;  // answers of this action still waiting for a confirmation
    bool keptAnswersDone_ = false;
    bool noSpace_ = false;  // the medium is full: no further answer is asked for
    int answerCount_ = 0;
    FileStamp readStamp_;  // of the order file last read for a post
    // The accounts the orders of the current send named, by the number on their line 5: a
    // day's orders mostly name the same few.
    QHash<QString, Debiteur> accountsOfThisSend_;
};

// The name a delivered confirmation is stored under: lower case, ".icm" as ".icb", "xax" as
// a space. Empty when that name could leave the confirmations folder or is not a file name
// (here or on the Windows systems that share the main directory).
QString StoredConfirmationName(const QString& elementName);

// Renames a file over another one in a single step, so there is never a moment without either.
bool RenameOver(const QString& from, const QString& to);

}  // namespace kavelon
