#pragma once

#include <optional>

#include <QString>

namespace kavelon {

struct Debiteur;

// The portal's direct sign-in that then shows the account's order history. The three values
// are percent-encoded only where they would change the address's meaning.
QString DirectLoginAddress(const QString& number, const QString& user, const QString& password);
// The wholesaler's contact page (https) and the maker's web site (plain http).
QString ContactAddress();
QString MakerAddress();

// An account as a list entry: number, " / ", user code.
QString AccountEntry(const Debiteur& account);
// The number of an entry: the trimmed text before its first "/"; nothing when it has none.
std::optional<QString> NumberFromEntry(const QString& entry);

}  // namespace kavelon
