#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// The Windows registry, one location at a time: the caller sets the root, the key path, the
// value name and the value type, then reads or writes the value, tests, creates or deletes the
// key, lists its values and subkeys, or registers a file type. Standard C++ and Win32 only.
// Texts are UTF-8 here and cross to the registry's 8-bit functions in the system code page.
namespace kavelon {

// A registry value: empty, a text, a 32-bit number or bytes.
using RegValue = std::variant<std::monostate, std::string, std::int32_t, std::vector<std::uint8_t>>;

// A value as text (numbers in decimal, bytes as 8-bit characters, empty as "").
std::string RegValueText(const RegValue& value);

// Predefined roots by their Windows handle values (LONG, as Windows defines them).
inline constexpr std::int32_t kHkeyClassesRoot = static_cast<std::int32_t>(0x80000000u);
inline constexpr std::int32_t kHkeyCurrentUser = static_cast<std::int32_t>(0x80000001u);
inline constexpr std::int32_t kHkeyLocalMachine = static_cast<std::int32_t>(0x80000002u);
inline constexpr std::int32_t kHkeyUsers = static_cast<std::int32_t>(0x80000003u);

// Registry types.
inline constexpr std::int32_t kRegNone = 0;
inline constexpr std::int32_t kRegSz = 1;
inline constexpr std::int32_t kRegExpandSz = 2;
inline constexpr std::int32_t kRegBinary = 3;
inline constexpr std::int32_t kRegDword = 4;
inline constexpr std::int32_t kRegDwordBigEndian = 5;
inline constexpr std::int32_t kRegLink = 6;
inline constexpr std::int32_t kRegMultiSz = 7;

// Error numbers.
inline constexpr std::int32_t kErrRegistry = 26001;
inline constexpr std::int32_t kErrSetValue = static_cast<std::int32_t>(0x800469A9u);
inline constexpr std::int32_t kErrEnumSections = static_cast<std::int32_t>(0x800469AAu);
inline constexpr std::int32_t kErrAssociationItems = static_cast<std::int32_t>(0x800469ACu);
inline constexpr std::int32_t kErrAssociationClass = static_cast<std::int32_t>(0x800469ADu);

// A failure of a registry operation: number, source (executable name + ".cRegistry") and
// description; what() is the description.
class RegistryError : public std::runtime_error {
  public:
    RegistryError(std::int32_t number, std::string description);
    std::int32_t number;
    std::string source;
    std::string description;
};

class cRegistry {
  public:
    // The location and type; setting them only stores the member.
    std::int32_t ClassKey() const { return m_eClassKey; }
    void SetClassKey(std::int32_t eKey) { m_eClassKey = eKey; }
    const std::string& SectionKey() const { return m_sSectionKey; }
    void SetSectionKey(const std::string& sSectionKey) { m_sSectionKey = sSectionKey; }
    const std::string& ValueKey() const { return m_sValueKey; }
    void SetValueKey(const std::string& sValueKey) { m_sValueKey = sValueKey; }
    std::int32_t ValueType() const { return m_eValueType; }
    void SetValueType(std::int32_t eValueType) { m_eValueType = eValueType; }
    const RegValue& Default() const { return m_vDefault; }
    void SetDefault(const RegValue& vDefault) { m_vDefault = vDefault; }

    // Reads the value; Default when it cannot be read. A read sets ValueType to the type found.
    RegValue Value();
    // Writes the value by ValueType; on success it becomes the value last written.
    void SetValue(const RegValue& vValue);
    // The value last written.
    const RegValue& LastValue() const { return m_vValue; }

    bool KeyExists() const;
    bool CreateKey();
    bool DeleteKey();
    bool DeleteValue();
    // The names from index 0; the count equals the number of names.
    bool EnumerateValues(std::vector<std::string>& sKeyNames, long& iKeyCount);
    bool EnumerateSections(std::vector<std::string>& sSect, long& iSectCount);

    // Registers a file type for a program under HKEY_CLASSES_ROOT and
    // HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
    void CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              const std::string& sOpenMenuText = "", bool bSupportPrint = false,
                              const std::string& sPrintMenuText = "", bool bSupportNew = false,
                              const std::string& sNewMenuText = "", bool bSupportInstall = false,
                              const std::string& sInstallMenuText = "",
                              long lDefaultIconIndex = -1);
    // Further verbs of a registered class, the items in threes: name, menu text, command.
    void CreateAdditionalEXEAssociations(const std::string& sClassName,
                                         const std::vector<std::string>& vItems);

  private:
    static void SetClassValue(const std::string& sSection, const std::string& sValue);
    static std::int32_t SwapEndian(std::int32_t lValue);
    static std::string ExpandEnvStr(const std::string& sValue);
    std::string Where() const;

    std::int32_t m_eClassKey = 0;
    std::string m_sSectionKey;
    std::string m_sValueKey;
    RegValue m_vValue;
    RegValue m_vDefault;
    std::int32_t m_eValueType = 0;
};

}  // namespace kavelon
