#include "portal/weborders.h"

#include "accounts/accountstore.h"
#include "core/textutil.h"
#include "portal/addresses.h"

namespace kavelon {
namespace {

// A value of the sign-in query: "?" has a meaning there as well.
QString QueryValue(const QString& value) {
    return FormValue(value, QStringLiteral("?"));
}

}  // namespace

QString DirectLoginAddress(const QString& number, const QString& user, const QString& password) {
    return PortalUrl() + QStringLiteral("/nl/authenticate/directlogin.aspx?customerid=") +
           QueryValue(number) + QStringLiteral("&username=") + QueryValue(user) +
           QStringLiteral("&pwd=") + QueryValue(password) +
           QStringLiteral("&returnurl=/orderstatus");
}

QString ContactAddress() {
    return SiteUrl() + QStringLiteral("/contact");
}

QString MakerAddress() {
    return MakerUrl();
}

QString AccountEntry(const Debiteur& account) {
    return account.DebiteurenNummer + QStringLiteral(" / ") + account.Gebruiker;
}

std::optional<QString> NumberFromEntry(const QString& entry) {
    const qsizetype slash = entry.indexOf(u'/');
    if (slash < 0) return std::nullopt;
    return TrimSpaces(entry.left(slash));
}

}  // namespace kavelon
