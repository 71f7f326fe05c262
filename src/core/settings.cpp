#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace kavelon {
namespace {

const QString kOrganisation = QStringLiteral("Kavelon");
const QString kSection = QStringLiteral("Local");
constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QSettings OpenStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kProgramTitle);
}

// Creates the file owner-only before the first write, so the password is never readable
// by others, not even for a moment; later rewrites keep the file's permissions.
void PrepareOwnerOnlyFile(const QString& fileName) {
    if (QFileInfo::exists(fileName)) return;
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly, kOwnerOnly)) file.close();
}

QString BoolText(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

bool ReadBool(const SettingsStore& store, const QString& key, bool defaultValue) {
    return ParseStoredBoolean(store.read(kSection, key, BoolText(defaultValue)), defaultValue);
}

}  // namespace

QString SettingsStore::read(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    const QSettings settings = OpenStore();
    const QVariant value = settings.value(section + u'/' + key);
    if (!value.isValid()) return defaultValue;
    // A hand-edited value with an unquoted comma comes back as a list.
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(u',');
    return value.toString();
}

void SettingsStore::write(const QString& section, const QString& key, const QString& text) {
    QSettings settings = OpenStore();
    PrepareOwnerOnlyFile(settings.fileName());
    settings.setValue(section + u'/' + key, text);
    settings.sync();
    QFile::setPermissions(settings.fileName(), kOwnerOnly);
}

QString SettingsStore::fileName() const {
    return OpenStore().fileName();
}

bool ParseStoredBoolean(const QString& text, bool defaultValue) {
    const QString trimmed = text.trimmed();
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber) return number != 0;
    if (trimmed.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
    if (trimmed.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return false;
    return defaultValue;
}

Settings ReadSettings(const SettingsStore& store) {
    Settings s;
    s.Directory = store.read(kSection, QStringLiteral("Directory"), QString());
    s.IcmDirect = ReadBool(store, QStringLiteral("IcmDirect"), false);
    s.OnlineCheck = ReadBool(store, QStringLiteral("OnlineCheck"), true);
    s.ProxyUsed = ReadBool(store, QStringLiteral("ProxyUsed"), false);
    s.ProxyExplorer = ReadBool(store, QStringLiteral("ProxyExplorer"), false);
    s.ProxyAdres = store.read(kSection, QStringLiteral("ProxyAdres"), QString());
    s.ProxyPort = store.read(kSection, QStringLiteral("ProxyPort"), QString());
    s.ProxyUser = store.read(kSection, QStringLiteral("ProxyUser"), QString());
    s.ProxyToegang = store.read(kSection, QStringLiteral("ProxyToegang"), QString());
    s.ProxyNtlm = ReadBool(store, QStringLiteral("ProxyNtlm"), false);
    return s;
}

void WriteSettings(SettingsStore& store, const Settings& s) {
    store.write(kSection, QStringLiteral("Directory"), s.Directory);
    store.write(kSection, QStringLiteral("IcmDirect"), BoolText(s.IcmDirect));
    store.write(kSection, QStringLiteral("OnlineCheck"), BoolText(s.OnlineCheck));
    store.write(kSection, QStringLiteral("ProxyUsed"), BoolText(s.ProxyUsed));
    store.write(kSection, QStringLiteral("ProxyExplorer"), BoolText(s.ProxyExplorer));
    store.write(kSection, QStringLiteral("ProxyAdres"), s.ProxyAdres);
    store.write(kSection, QStringLiteral("ProxyPort"), s.ProxyPort);
    store.write(kSection, QStringLiteral("ProxyUser"), s.ProxyUser);
    store.write(kSection, QStringLiteral("ProxyToegang"), s.ProxyToegang);
    store.write(kSection, QStringLiteral("ProxyNtlm"), BoolText(s.ProxyNtlm));
}

}  // namespace kavelon
