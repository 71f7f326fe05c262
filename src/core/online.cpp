#include <QNetworkInformation>
#include <QNetworkInterface>

#include "core/textutil.h"

namespace kavelon {
namespace {

// Without a reachability backend: an interface that is up, running, not loopback and
// has an address.
bool HasConnectedInterface() {
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (!iface.addressEntries().isEmpty()) return true;
    }
    return false;
}

}  // namespace

bool IsOnline() {
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        const auto reachability = QNetworkInformation::instance()->reachability();
        // A network whose way out is limited (a proxy-only office network, say) still
        // reaches the portal through the proxy, so it counts as connected.
        if (reachability != QNetworkInformation::Reachability::Unknown)
            return reachability == QNetworkInformation::Reachability::Online ||
                   reachability == QNetworkInformation::Reachability::Site;
    }
    return HasConnectedInterface();
}

}  // namespace kavelon
