#include "settings/systemproxy.h"

namespace kavelon {
namespace {

// The server text split at its first ":"; a text without one is all address.
std::string PartBeforeColon(const std::string& server) {
    return server.substr(0, server.find(':'));
}

std::string PartAfterColon(const std::string& server) {
    const std::string::size_type colon = server.find(':');
    return colon == std::string::npos ? std::string() : server.substr(colon + 1);
}

// The server text of a source; "" when it fails.
std::string ServerOf(SystemProxySource& source) noexcept {
    try {
        return source.ProxyServer();
    } catch (...) {
        return {};
    }
}

// A fresh source of this system; nothing when it cannot be made.
std::unique_ptr<SystemProxySource> FreshSource() noexcept {
    try {
        return MakeSystemProxySource();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

int GetIeProxyEnable(SystemProxySource& source) {
    try {
        return source.ProxyEnable();
    } catch (...) {
        return 0;
    }
}

std::string GetIeProxyAdres(SystemProxySource& source) {
    try {
        return PartBeforeColon(ServerOf(source));
    } catch (...) {
        return {};
    }
}

std::string GetIeProxyPoort(SystemProxySource& source) {
    try {
        return PartAfterColon(ServerOf(source));
    } catch (...) {
        return {};
    }
}

int GetIeProxyEnable() {
    const std::unique_ptr<SystemProxySource> source = FreshSource();
    return source ? GetIeProxyEnable(*source) : 0;
}

std::string GetIeProxyServer() {
    const std::unique_ptr<SystemProxySource> source = FreshSource();
    return source ? ServerOf(*source) : std::string();
}

std::string GetIeProxyAdres() {
    const std::unique_ptr<SystemProxySource> source = FreshSource();
    return source ? GetIeProxyAdres(*source) : std::string();
}

std::string GetIeProxyPoort() {
    const std::unique_ptr<SystemProxySource> source = FreshSource();
    return source ? GetIeProxyPoort(*source) : std::string();
}

}  // namespace kavelon
