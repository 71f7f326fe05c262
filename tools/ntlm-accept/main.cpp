// An NTLM authentication helper for squid that accepts every login: it answers a client's
// negotiation with a well-formed challenge and takes any response as valid. For tests of
// the program's NTLM proxy support only; never for a real proxy.
//
// Squid's stateful helper protocol: "YR <negotiate>" -> "TT <challenge>",
// "KK <authenticate>" -> "AF <user>", anything else -> "BH <reason>".
#include <QByteArray>
#include <QtEndian>

#include <cstdio>
#include <string>

namespace {

void AppendLe16(QByteArray& out, quint16 value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

void AppendLe32(QByteArray& out, quint32 value) {
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

QByteArray Utf16Le(const char* text) {
    QByteArray out;
    for (const char* c = text; *c; ++c) AppendLe16(out, static_cast<quint16>(*c));
    return out;
}

// A challenge message (type 2) with a target name and target information.
QByteArray Challenge() {
    const QByteArray target = Utf16Le("KAVELON");
    QByteArray info;
    AppendLe16(info, 2);  // NetBIOS domain name
    AppendLe16(info, static_cast<quint16>(target.size()));
    info += target;
    AppendLe16(info, 0);  // end of list
    AppendLe16(info, 0);

    constexpr quint32 kFlags =
        0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 | 0x00800000;
    constexpr quint32 kHeaderSize = 48;
    QByteArray message("NTLMSSP\0", 8);
    AppendLe32(message, 2);
    AppendLe16(message, static_cast<quint16>(target.size()));
    AppendLe16(message, static_cast<quint16>(target.size()));
    AppendLe32(message, kHeaderSize);
    AppendLe32(message, kFlags);
    message += QByteArray("\x01\x23\x45\x67\x89\xab\xcd\xef", 8);  // server challenge
    message += QByteArray(8, '\0');                                // reserved
    AppendLe16(message, static_cast<quint16>(info.size()));
    AppendLe16(message, static_cast<quint16>(info.size()));
    AppendLe32(message, kHeaderSize + target.size());
    return message + target + info;
}

// The user name of an authenticate message (type 3), or "kavelon" when it cannot be read.
std::string UserOf(const QByteArray& message) {
    if (message.size() < 44 || !message.startsWith(QByteArray("NTLMSSP\0", 8))) return "kavelon";
    const auto length = qFromLittleEndian<quint16>(message.constData() + 36);
    const auto offset = qFromLittleEndian<quint32>(message.constData() + 40);
    if (length == 0 || offset + length > static_cast<quint32>(message.size())) return "kavelon";
    std::string user;
    for (quint32 i = offset; i + 1 < offset + length; i += 2) user += message[static_cast<int>(i)];
    return user;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        const QByteArray line = QByteArray(buffer).trimmed();
        const QByteArray payload = QByteArray::fromBase64(line.mid(3));
        if (line.startsWith("YR"))
            std::printf("TT %s\n", Challenge().toBase64().constData());
        else if (line.startsWith("KK"))
            std::printf("AF %s\n", UserOf(payload).c_str());
        else
            std::printf("BH unexpected request\n");
    }
    return 0;
}
