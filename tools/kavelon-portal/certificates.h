#pragma once

#include <QSslConfiguration>
#include <QString>

namespace kavelon {

// The portal's certificates in its state folder, made once with the openssl command and
// reused later: ca.pem and ca.key (a test certificate authority), server.pem and
// server.key (for 127.0.0.1 and localhost) and wrong-host.pem (the same key, issued for
// wrong.example only). Files are made when any of them is missing.
bool EnsureCertificates(const QString& stateDir, QString& error);

// The server side configuration with server.pem, or with wrong-host.pem when wrongHost.
bool LoadServerConfiguration(const QString& stateDir, bool wrongHost, QSslConfiguration& config,
                             QString& error);

}  // namespace kavelon
