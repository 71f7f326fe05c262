#pragma once

#include <memory>
#include <string>

// The current user's system proxy settings: a switch and a server text ("host:port"). Free of
// Qt, so that the Windows source on the registry builds where there is no Qt.
namespace kavelon {

class SystemProxySource {
  public:
    virtual ~SystemProxySource() = default;
    // 0 when no proxy is set (or nothing can be read), any other number when one is.
    virtual int ProxyEnable() = 0;
    // The server text; "" when none is set or it cannot be read.
    virtual std::string ProxyServer() = 0;
};

// The source of this system: the desktop's settings or the environment on Linux, the
// Internet settings of the registry on Windows.
std::unique_ptr<SystemProxySource> MakeSystemProxySource();

// Each reads the system's settings afresh and never fails: "" or 0 when nothing can be read.
int GetIeProxyEnable();
std::string GetIeProxyServer();
std::string GetIeProxyAdres();  // the server text before its first ":"
std::string GetIeProxyPoort();  // the server text after its first ":"

// The same on a given source (tests, and the window that asks once for both parts).
int GetIeProxyEnable(SystemProxySource& source);
std::string GetIeProxyAdres(SystemProxySource& source);
std::string GetIeProxyPoort(SystemProxySource& source);

}  // namespace kavelon
