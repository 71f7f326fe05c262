#pragma once

#include <QString>

namespace kavelon {

// The program's title: application name of the settings store, caption of message boxes.
inline const QString kProgramTitle = QStringLiteral("Kavelon");

// The ten settings as the program holds them in memory for the whole run.
struct Settings {
    QString Directory;
    bool IcmDirect = false;
    bool OnlineCheck = true;
    bool ProxyUsed = false;
    bool ProxyExplorer = false;
    QString ProxyAdres;
    QString ProxyPort;
    QString ProxyUser;
    QString ProxyToegang;
    bool ProxyNtlm = false;
};

// The per-user settings store (on Linux ~/.config/Kavelon/Kavelon.conf), one section per
// name. It holds the proxy password, so its file is kept readable by its owner only.
class SettingsStore {
  public:
    QString read(const QString& section, const QString& key, const QString& defaultValue) const;
    void write(const QString& section, const QString& key, const QString& text);
    QString fileName() const;
};

// Reads a stored boolean: any number other than 0 is true, "True"/"False" as such, any other
// text gives the default.
bool ParseStoredBoolean(const QString& text, bool defaultValue);

// The ten keys of section "Local", read and written in this order.
Settings ReadSettings(const SettingsStore& store);
void WriteSettings(SettingsStore& store, const Settings& settings);

}  // namespace kavelon
