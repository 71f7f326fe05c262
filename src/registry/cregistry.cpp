#include "registry/cregistry.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kavelon {
namespace {

// The handle of a root key: Windows defines them as sign-extended LONG values.
HKEY RootKey(std::int32_t eKey) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(eKey)));
}

// Text between two code pages, through UTF-16; embedded nulls are kept.
std::string Recode(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    std::wstring utf16(wide, L'\0');
    MultiByteToWideChar(from, 0, text.data(), size, utf16.data(), wide);
    const int narrow = WideCharToMultiByte(to, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string result(narrow, '\0');
    WideCharToMultiByte(to, 0, utf16.data(), wide, result.data(), narrow, nullptr, nullptr);
    return result;
}

std::string ToSystem(const std::string& text) {
    return Recode(text, CP_UTF8, CP_ACP);
}
std::string FromSystem(const std::string& text) {
    return Recode(text, CP_ACP, CP_UTF8);
}

// The executable's name without folder and extension.
std::string ExeName() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = FromSystem(std::string(path, length));
    name = name.substr(name.find_last_of("\\/") + 1);
    return name.substr(0, name.rfind('.'));
}

// An open key, closed when it goes out of scope.
class OpenKey {
  public:
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (handle) RegCloseKey(handle);
    }
    HKEY handle = nullptr;
};

bool Open(OpenKey& key, std::int32_t eKey, const std::string& section, REGSAM access) {
    return RegOpenKeyExA(RootKey(eKey), ToSystem(section).c_str(), 0, access, &key.handle) ==
           ERROR_SUCCESS;
}

bool Create(OpenKey& key, std::int32_t eKey, const std::string& section) {
    return RegCreateKeyExA(RootKey(eKey), ToSystem(section).c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key.handle,
                           nullptr) == ERROR_SUCCESS;
}

// The data of a value, read into a buffer of the reported size (grown when the value grew);
// empty when it cannot be read.
std::string ReadBytes(HKEY key, const std::string& name, DWORD size) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string data(size, '\0');
        DWORD read = size;
        const LONG answer = RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(data.data()), &read);
        if (answer == ERROR_SUCCESS) {
            data.resize(std::min<std::size_t>(read, data.size()));
            return data;
        }
        if (answer != ERROR_MORE_DATA) break;
        size = read;
    }
    return {};
}

// A text datum without its final terminator.
std::string WithoutTerminator(std::string data) {
    if (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

std::int32_t Dword(std::string data) {
    data.resize(4, '\0');
    std::int32_t number = 0;
    std::memcpy(&number, data.data(), 4);
    return number;
}

// The stored type of a text: expandable when a "%" is followed later, not directly, by another.
DWORD TextType(const std::string& text) {
    const std::string::size_type first = text.find('%');
    return first != std::string::npos && text.find('%', first + 2) != std::string::npos
               ? REG_EXPAND_SZ
               : REG_SZ;
}

}  // namespace

std::string RegValueText(const RegValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value)) return std::to_string(*number);
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value))
        return std::string(bytes->begin(), bytes->end());
    return {};
}

RegistryError::RegistryError(std::int32_t number, std::string description)
    : std::runtime_error(description),
      number(number),
      source(ExeName() + ".cRegistry"),
      description(std::move(description)) {}

std::string cRegistry::Where() const {
    return std::to_string(m_eClassKey) + "',Section: '" + m_sSectionKey;
}

RegValue cRegistry::Value() {
    OpenKey key;
    if (!Open(key, m_eClassKey, m_sSectionKey, KEY_QUERY_VALUE)) return m_vDefault;
    const std::string name = ToSystem(m_sValueKey);
    DWORD type = 0;
    DWORD size = 0;
    const LONG answer = RegQueryValueExA(key.handle, name.c_str(), nullptr, &type, nullptr, &size);
    if (answer != ERROR_SUCCESS && answer != ERROR_MORE_DATA) return m_vDefault;
    m_eValueType = static_cast<std::int32_t>(type);
    const std::string data = ReadBytes(key.handle, name, size);
    switch (type) {
        case REG_SZ:
        case REG_MULTI_SZ:
            return FromSystem(WithoutTerminator(data));
        case REG_EXPAND_SZ:
            return FromSystem(ExpandEnvStr(WithoutTerminator(data)));
        case REG_DWORD:
            return Dword(data);
        case REG_DWORD_BIG_ENDIAN:
            return SwapEndian(Dword(data));
        default:
            return std::vector<std::uint8_t>(data.begin(), data.end());
    }
}

void cRegistry::SetValue(const RegValue& vValue) {
    const std::string failed = "Failed to set registry value Key: '" + Where() + "',Key: '" +
                               m_sValueKey + "' to value: '" + RegValueText(m_vValue) + "'";
    OpenKey key;
    if (!Create(key, m_eClassKey, m_sSectionKey)) throw RegistryError(kErrRegistry, failed);
    const std::string name = ToSystem(m_sValueKey);
    LONG answer = ERROR_SUCCESS;
    switch (m_eValueType) {
        case kRegSz:
        case kRegExpandSz: {
            const std::string text = RegValueText(vValue);
            const std::string data = ToSystem(text);
            answer = RegSetValueExA(key.handle, name.c_str(), 0, TextType(text),
                                    reinterpret_cast<const BYTE*>(data.c_str()),
                                    static_cast<DWORD>(data.size() + 1));
            break;
        }
        case kRegBinary: {
            const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&vValue);
            if (!bytes) throw RegistryError(kErrRegistry, "");
            answer = RegSetValueExA(key.handle, name.c_str(), 0, REG_BINARY, bytes->data(),
                                    static_cast<DWORD>(bytes->size()));
            break;
        }
        case kRegDword:
        case kRegDwordBigEndian: {
            // Anything but a number is silently not written.
            const auto* number = std::get_if<std::int32_t>(&vValue);
            if (!number) return;
            answer = RegSetValueExA(key.handle, name.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(number), 4);
            break;
        }
        default:
            throw RegistryError(kErrSetValue, failed);
    }
    if (answer != ERROR_SUCCESS) throw RegistryError(kErrSetValue, failed);
    m_vValue = vValue;
}

bool cRegistry::KeyExists() const {
    OpenKey key;
    return Open(key, m_eClassKey, m_sSectionKey, KEY_QUERY_VALUE);
}

bool cRegistry::CreateKey() {
    OpenKey key;
    if (!Create(key, m_eClassKey, m_sSectionKey))
        throw RegistryError(kErrRegistry, "Failed to create registry Key: '" + m_sSectionKey);
    return true;
}

bool cRegistry::DeleteKey() {
    if (RegDeleteKeyA(RootKey(m_eClassKey), ToSystem(m_sSectionKey).c_str()) != ERROR_SUCCESS)
        throw RegistryError(kErrRegistry, "Failed to delete registry Key: '" + Where());
    return true;
}

bool cRegistry::DeleteValue() {
    OpenKey key;
    if (!Open(key, m_eClassKey, m_sSectionKey, KEY_ALL_ACCESS))
        throw RegistryError(kErrRegistry, "Failed to open key '" + Where() + "' for delete access");
    if (RegDeleteValueA(key.handle, ToSystem(m_sValueKey).c_str()) != ERROR_SUCCESS)
        throw RegistryError(
            kErrRegistry, "Failed to delete registry Key: '" + Where() + "',Key: '" + m_sValueKey);
    return true;
}

bool cRegistry::EnumerateValues(std::vector<std::string>& sKeyNames, long& iKeyCount) {
    sKeyNames.clear();
    iKeyCount = 0;
    OpenKey key;
    Open(key, m_eClassKey, m_sSectionKey, KEY_QUERY_VALUE);
    DWORD longest = 0;
    RegQueryInfoKeyA(key.handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &longest, nullptr, nullptr, nullptr);
    for (DWORD index = 0;; ++index) {
        // The longest name counts characters; an 8-bit name may take two bytes for one.
        DWORD length = 2 * longest + 2;
        std::string name(length, '\0');
        if (RegEnumValueA(key.handle, index, name.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        name.resize(length);
        sKeyNames.push_back(FromSystem(name));
        ++iKeyCount;
    }
    return true;
}

bool cRegistry::EnumerateSections(std::vector<std::string>& sSect, long& iSectCount) {
    sSect.clear();
    iSectCount = 0;
    try {
        OpenKey key;
        Open(key, m_eClassKey, m_sSectionKey, KEY_ENUMERATE_SUB_KEYS);
        for (DWORD index = 0;; ++index) {
            char buffer[255] = {};
            if (RegEnumKeyA(key.handle, index, buffer, sizeof buffer) != ERROR_SUCCESS) break;
            sSect.push_back(FromSystem(std::string(buffer, strnlen(buffer, sizeof buffer))));
            ++iSectCount;
        }
    } catch (const std::exception& error) {
        throw RegistryError(kErrEnumSections, error.what());
    }
    return true;
}

void cRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription,
                                     const std::string& sAssociation,
                                     const std::string& sOpenMenuText, bool bSupportPrint,
                                     const std::string& sPrintMenuText, bool bSupportNew,
                                     const std::string& sNewMenuText, bool bSupportInstall,
                                     const std::string& sInstallMenuText, long lDefaultIconIndex) {
    const std::string::size_type first = sExePath.find_first_not_of(' ');
    const std::string trimmed =
        first == std::string::npos
            ? std::string()
            : sExePath.substr(first, sExePath.find_last_not_of(' ') - first + 1);
    const std::string exe = "\"" + trimmed + "\"";
    // A verb of the class: its menu text (or the fallback) and its command.
    const auto verb = [&](const std::string& name, const std::string& text,
                          const std::string& fallback, const std::string& suffix) {
        SetClassValue(sClassName + "\\shell\\" + name, text.empty() ? fallback : text);
        SetClassValue(sClassName + "\\shell\\" + name + "\\command", exe + suffix);
    };
    SetClassValue("." + sAssociation, sClassName);
    SetClassValue(sClassName, sClassDescription);
    verb("open", sOpenMenuText, "&Open", " \"%1\"");
    if (bSupportPrint) verb("print", sPrintMenuText, "&Print", " /p \"%1\"");
    if (bSupportInstall) verb("add", sInstallMenuText, "&Install " + sAssociation, " /a \"%1\"");
    if (bSupportNew) verb("new", sNewMenuText, "&New", " /n \"%1\"");
    if (lDefaultIconIndex >= 0)
        SetClassValue(sClassName + "\\DefaultIcon", exe + "," + std::to_string(lDefaultIconIndex));
}

void cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName,
                                                const std::vector<std::string>& vItems) {
    if (vItems.size() % 3 != 0)
        throw RegistryError(kErrAssociationItems,
                            "Invalid parameter list passed to CreateAdditionalEXEAssociations - "
                            "expected Name/Text/Command");
    cRegistry classKey;
    classKey.SetClassKey(kHkeyClassesRoot);
    classKey.SetSectionKey(sClassName);
    if (!classKey.KeyExists())
        throw RegistryError(kErrAssociationClass,
                            "Error - attempt to create additional associations before class "
                            "defined.");
    for (std::size_t i = 0; i < vItems.size(); i += 3) {
        const std::string verb = sClassName + "\\shell\\" + vItems[i];
        SetClassValue(verb, vItems[i + 1]);
        SetClassValue(verb + "\\command", vItems[i + 2]);
    }
}

void cRegistry::SetClassValue(const std::string& sSection, const std::string& sValue) {
    const std::pair<std::int32_t, std::string> places[] = {
        {kHkeyClassesRoot, sSection}, {kHkeyLocalMachine, "SOFTWARE\\Classes\\" + sSection}};
    for (const auto& [root, section] : places) {
        cRegistry place;
        place.SetClassKey(root);
        place.SetSectionKey(section);
        place.SetValueType(kRegSz);
        place.SetValue(sValue);
    }
}

std::int32_t cRegistry::SwapEndian(std::int32_t lValue) {
    const auto bits = static_cast<std::uint32_t>(lValue);
    return static_cast<std::int32_t>((bits >> 24) | ((bits >> 8) & 0xFF00u) |
                                     ((bits << 8) & 0xFF0000u) | (bits << 24));
}

std::string cRegistry::ExpandEnvStr(const std::string& sValue) {
    const DWORD length = ExpandEnvironmentStringsA(sValue.c_str(), nullptr, 0);
    if (length == 0) return sValue;
    std::string expanded(length, '\0');
    if (ExpandEnvironmentStringsA(sValue.c_str(), expanded.data(), length) == 0) return sValue;
    expanded.resize(strnlen(expanded.c_str(), length));
    return expanded;
}

}  // namespace kavelon
