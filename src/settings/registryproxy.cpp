// The system proxy on Windows: the current user's Internet settings in the registry.
#include <charconv>
#include <string>

#include "registry/cregistry.h"
#include "settings/systemproxy.h"

namespace kavelon {
namespace {

const char* const kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// One value of the Internet settings, read with a fresh registry object.
RegValue InternetSetting(const std::string& name, std::int32_t type) {
    cRegistry registry;
    registry.SetClassKey(kHkeyCurrentUser);
    registry.SetSectionKey(kInternetSettings);
    registry.SetValueKey(name);
    registry.SetValueType(type);
    return registry.Value();
}

// A number, or a text that holds one (spaces around it allowed); 0 for anything else.
int WholeNumber(const RegValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) return *number;
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return 0;
    const std::string::size_type first = text->find_first_not_of(' ');
    if (first == std::string::npos) return 0;
    const std::string digits = text->substr(first, text->find_last_not_of(' ') - first + 1);
    int result = 0;
    const char* end = digits.data() + digits.size();
    const auto [last, error] =
        std::from_chars(digits.data() + (digits.front() == '+' ? 1 : 0), end, result);
    return error == std::errc() && last == end ? result : 0;
}

class RegistryProxySource : public SystemProxySource {
  public:
    int ProxyEnable() override { return WholeNumber(InternetSetting("ProxyEnable", kRegDword)); }
    std::string ProxyServer() override {
        return RegValueText(InternetSetting("ProxyServer", kRegSz));
    }
};

}  // namespace

std::unique_ptr<SystemProxySource> MakeSystemProxySource() {
    return std::make_unique<RegistryProxySource>();
}

}  // namespace kavelon
