#pragma once

#include <QString>
#include <QStringList>

#include "core/regularfile.h"

namespace kavelon {

class AccountStore;
class EventPump;
class PortalClient;
class ProgressSink;

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
    // False for a failure that ends the whole fetch.
    bool VerwerkIcb(const QString& answer);

    // Set by VerwerkBevestiging when the portal accepted the order being sent.
    bool OrderAccepted = false;

  private:
    bool ReadOrder(const QString& path, QString& orderText, bool& refused,
                   QString accountValues[3]);
    bool IsPending(const QString& fileName) const;
    void ReportRefusedOrders();
    void RestoreInterruptedMoves();
    void PutBack(const QString& moving, const QString& folder, const QString& name);
    void WriteSendError();
    void WriteFetchError();
    void Write(const QString& text, int colour, bool bold = false);

    QString directory_;
    AccountStore* database_;
    PortalClient& http_;
    ProgressSink& progress_;
    EventPump& pump_;
    FileStamp readStamp_;  // of the order file last read for a post
};

// The name a delivered confirmation is stored under: lower case, ".icm" as ".icb", "xax" as
// a space. Empty when that name could leave the confirmations folder or is not a file name.
QString StoredConfirmationName(const QString& elementName);

// Renames a file over another one in a single step, so there is never a moment without either.
bool RenameOver(const QString& from, const QString& to);

}  // namespace kavelon
