// The Windows system proxy source on the Internet settings of a throw-away wine prefix, the
// values written by wine's own reg.exe.
#include "regtest.h"
#include "settings/systemproxy.h"

using namespace kavelon;

namespace {

const std::string kSettings =
    "\"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\"";

// Sets a value with reg.exe, or removes it when type is empty.
void Put(const std::string& name, const std::string& type, const std::string& data) {
    if (type.empty())
        RunRegExe("delete " + kSettings + " /v " + name + " /f");
    else
        CHECK_EQ(
            RunRegExe("add " + kSettings + " /v " + name + " /t " + type + " /d " + data + " /f"),
            DWORD{0});
}

}  // namespace

TEST_CASE(readsInternetSettings) {
    struct Row {
        const char* name;
        const char* enableType;
        const char* enable;
        const char* server;  // nullptr: no value
        int expectedEnable;
        const char* adres;
        const char* poort;
    };
    const Row rows[] = {
        {"proxy on", "REG_DWORD", "1", "proxy.example.nl:8080", 1, "proxy.example.nl", "8080"},
        {"proxy off", "REG_DWORD", "0", "proxy.example.nl:8080", 0, "proxy.example.nl", "8080"},
        {"missing values", "", "", nullptr, 0, "", ""},
        {"server without switch", "", "", "proxy:3128", 0, "proxy", "3128"},
        {"protocol list", "REG_DWORD", "1", "http=p1:80;https=p2:443", 1, "http=p1",
         "80;https=p2:443"},
        {"trailing colon", "REG_DWORD", "1", "proxy:", 1, "proxy", ""},
        {"switch as text", "REG_SZ", "\" 2 \"", "p:1", 2, "p", "1"},
        {"switch as word", "REG_SZ", "on", "p:1", 0, "p", "1"},
        {"switch as bytes", "REG_BINARY", "01000000", "p:1", 0, "p", "1"},
    };
    for (const Row& row : rows) {
        minitest::Row() = row.name;
        Put("ProxyEnable", row.enableType, row.enable);
        Put("ProxyServer", row.server ? "REG_SZ" : "", row.server ? row.server : "");
        CHECK_EQ(GetIeProxyEnable(), row.expectedEnable);
        CHECK_EQ(GetIeProxyServer(), std::string(row.server ? row.server : ""));
        CHECK_EQ(GetIeProxyAdres(), std::string(row.adres));
        CHECK_EQ(GetIeProxyPoort(), std::string(row.poort));
    }
}

MINITEST_MAIN
