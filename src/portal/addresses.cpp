#include "portal/addresses.h"

namespace kavelon {
namespace {

QString FromEnvironment(const char* name, const QString& fixed) {
    QString value = qEnvironmentVariable(name);
    while (value.endsWith(u'/')) value.chop(1);
    return value.isEmpty() ? fixed : value;
}

}  // namespace

QString PortalUrl() {
    return FromEnvironment("KAVELON_PORTAL_URL", QStringLiteral("https://portal.rilvost.nl"));
}
QString SiteUrl() {
    return FromEnvironment("KAVELON_SITE_URL", QStringLiteral("https://www.rilvost.nl"));
}
QString MakerUrl() {
    return FromEnvironment("KAVELON_MAKER_URL", QStringLiteral("http://www.nexaloom.nl"));
}
QString ExtraCaFile() {
    return qEnvironmentVariable("KAVELON_CA_FILE");
}

}  // namespace kavelon
