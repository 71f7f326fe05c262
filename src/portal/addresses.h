#pragma once

#include <QString>

namespace kavelon {

// The wholesaler's portal, its web site and the maker's site. The environment overrides them
// for tests and staging: KAVELON_PORTAL_URL, KAVELON_SITE_URL, KAVELON_MAKER_URL (scheme,
// host and port, no path). KAVELON_CA_FILE names extra trusted certificate authorities.
QString PortalUrl();
QString SiteUrl();
QString MakerUrl();
QString ExtraCaFile();

}  // namespace kavelon
