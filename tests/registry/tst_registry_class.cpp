// cRegistry on the registry of a throw-away wine prefix, against values written by wine's own
// reg.exe and by the class's write side.
#include <algorithm>

#include "regtest.h"

using namespace kavelon;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kBase = "Software\\Kavelon\\RegistryTest";
const std::string kBaseFull = "HKCU\\" + kBase;
const std::string kHkcu = std::to_string(kHkeyCurrentUser);

// Removes a test key with everything below it.
void Clear(const std::string& section) {
    RegDeleteTreeA(HKEY_CURRENT_USER, section.c_str());
}

// A value as Windows itself reads it in UTF-16, back in UTF-8.
std::string WideValue(const std::string& section, const std::string& name) {
    wchar_t data[256] = {};
    DWORD size = sizeof data;
    const std::wstring key(section.begin(), section.end());
    const std::wstring value(name.begin(), name.end());
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, data,
                     &size) != ERROR_SUCCESS)
        return "(unreadable)";
    char utf8[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, data, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

}  // namespace

TEST_CASE(readsValuesWrittenByRegExe) {
    SetEnvironmentVariableA("KAVELON_DIR", "C:\\kv");
    struct Row {
        const char* name;
        const char* type;
        const char* data;
        RegValue expected;
        std::int32_t expectedType;
    };
    const Row rows[] = {
        {"text", "REG_SZ", "abc", std::string("abc"), kRegSz},
        {"empty text", "REG_SZ", "\"\"", std::string(), kRegSz},
        {"code page", "REG_SZ", "caf\xc3\xa9", std::string("caf\xc3\xa9"), kRegSz},
        {"expanded", "REG_EXPAND_SZ", "%KAVELON_DIR%\\sub", std::string("C:\\kv\\sub"),
         kRegExpandSz},
        {"unknown variable", "REG_EXPAND_SZ", "%KAVELON_NONE%", std::string("%KAVELON_NONE%"),
         kRegExpandSz},
        {"number", "REG_DWORD", "1", 1, kRegDword},
        {"negative", "REG_DWORD", "0xffffffff", -1, kRegDword},
        {"list", "REG_MULTI_SZ", "a\\0b", std::string("a\0b\0", 4), kRegMultiSz},
        {"bytes", "REG_BINARY", "0aff00", Bytes{0x0a, 0xff, 0x00}, kRegBinary},
        {"other type", "REG_QWORD", "0x0102", Bytes{2, 1, 0, 0, 0, 0, 0, 0}, 11},
    };
    Clear(kBase);
    for (const Row& row : rows) {
        minitest::Row() = row.name;
        CHECK_EQ(RunRegExe("add " + kBaseFull + " /v v /t " + row.type + " /d " + row.data + " /f"),
                 DWORD{0});
        cRegistry registry = At(kHkeyCurrentUser, kBase, "v", 99);
        CHECK_EQ(registry.Value(), row.expected);
        CHECK_EQ(registry.ValueType(), row.expectedType);
    }
}

TEST_CASE(swapsBigEndianNumbers) {
    Clear(kBase);
    const BYTE data[] = {0x01, 0x02, 0x03, 0x04};
    RegSetKeyValueA(HKEY_CURRENT_USER, kBase.c_str(), "v", REG_DWORD_BIG_ENDIAN, data, 4);
    cRegistry registry = At(kHkeyCurrentUser, kBase, "v");
    CHECK_EQ(registry.Value(), RegValue(0x01020304));
    CHECK_EQ(registry.ValueType(), kRegDwordBigEndian);
}

TEST_CASE(unreadableValueGivesDefault) {
    Clear(kBase);
    CHECK_EQ(RunRegExe("add " + kBaseFull + " /v present /d x /f"), DWORD{0});
    for (const char* section : {"Software\\Kavelon\\NoSuchKey", kBase.c_str()}) {
        minitest::Row() = section;
        cRegistry registry = At(kHkeyCurrentUser, section, "missing", kRegDword);
        CHECK_EQ(registry.Value(), RegValue());
        CHECK_EQ(registry.ValueType(), kRegDword);
        registry.SetDefault(std::string("fallback"));
        CHECK_EQ(registry.Value(), RegValue(std::string("fallback")));
        CHECK_EQ(registry.ValueType(), kRegDword);
    }
}

TEST_CASE(writesByValueType) {
    SetEnvironmentVariableA("KAVELON_DIR", "C:\\kv");
    struct Row {
        const char* name;
        std::int32_t type;
        RegValue written;
        RegValue read;
        std::int32_t storedType;
    };
    const Row rows[] = {
        {"text", kRegSz, std::string("abc"), std::string("abc"), kRegSz},
        {"reference", kRegSz, std::string("%KAVELON_DIR%\\a"), std::string("C:\\kv\\a"),
         kRegExpandSz},
        {"adjacent signs", kRegSz, std::string("%%"), std::string("%%"), kRegSz},
        {"one sign", kRegSz, std::string("100% sure"), std::string("100% sure"), kRegSz},
        {"plain expandable", kRegExpandSz, std::string("plain"), std::string("plain"), kRegSz},
        {"bytes", kRegBinary, Bytes{1, 2, 3}, Bytes{1, 2, 3}, kRegBinary},
        {"number", kRegDword, 7, 7, kRegDword},
        {"big-endian as number", kRegDwordBigEndian, 0x01020304, 0x01020304, kRegDword},
    };
    Clear(kBase);
    for (const Row& row : rows) {
        minitest::Row() = row.name;
        cRegistry writer = At(kHkeyCurrentUser, kBase + "\\new", "v", row.type);
        writer.SetValue(row.written);
        CHECK_EQ(writer.LastValue(), row.written);
        cRegistry reader = At(kHkeyCurrentUser, kBase + "\\new", "v");
        CHECK_EQ(reader.Value(), row.read);
        CHECK_EQ(reader.ValueType(), row.storedType);
    }
    // Texts reach the registry in the system code page.
    At(kHkeyCurrentUser, kBase, "utf", kRegSz).SetValue(std::string("caf\xc3\xa9"));
    CHECK_EQ(WideValue(kBase, "utf"), std::string("caf\xc3\xa9"));
}

TEST_CASE(refusedWrites) {
    Clear(kBase);
    const std::string where = "Key: '" + kHkcu + "',Section: '" + kBase + "',Key: 'v'";
    cRegistry registry = At(kHkeyCurrentUser, kBase, "v", kRegSz);
    registry.SetValue(std::string("before"));
    const std::string failed = "Failed to set registry value " + where + " to value: 'before'";

    registry.SetValueType(kRegMultiSz);
    CHECK_EQ(ErrorOf([&] { registry.SetValue(std::string("list")); }),
             std::make_pair(kErrSetValue, failed));
    registry.SetValueType(kRegBinary);
    CHECK_EQ(ErrorOf([&] { registry.SetValue(std::string("text")); }),
             std::make_pair(kErrRegistry, std::string()));
    registry.SetValueType(kRegDword);
    CHECK_EQ(ErrorOf([&] { registry.SetValue(std::string("text")); }),
             std::make_pair(0, std::string()));
    CHECK_EQ(At(kHkeyCurrentUser, kBase, "v").Value(), RegValue(std::string("before")));

    cRegistry noRoot = At(0, kBase, "v", kRegSz);
    CHECK_EQ(ErrorOf([&] { noRoot.SetValue(std::string("x")); }).first, kErrRegistry);
    try {
        registry.SetValueType(kRegLink);
        registry.SetValue(std::string("x"));
        CHECK(false);
    } catch (const RegistryError& error) {
        CHECK_EQ(error.source, std::string("tst_registry_class.cRegistry"));
        CHECK_EQ(std::string(error.what()), failed);
    }
}

TEST_CASE(createsTestsAndDeletesKeys) {
    Clear(kBase);
    const std::string section = kBase + "\\made";
    cRegistry key = At(kHkeyCurrentUser, section, "v");
    CHECK(!key.KeyExists());
    CHECK(key.CreateKey());
    CHECK(key.KeyExists());
    CHECK(key.CreateKey());
    CHECK(key.DeleteKey());
    CHECK(!key.KeyExists());

    const std::string where = kHkcu + "',Section: '" + section;
    CHECK_EQ(ErrorOf([&] { key.DeleteKey(); }),
             std::make_pair(kErrRegistry, "Failed to delete registry Key: '" + where));
    CHECK_EQ(ErrorOf([&] { key.DeleteValue(); }),
             std::make_pair(kErrRegistry, "Failed to open key '" + where + "' for delete access"));
    cRegistry noRoot = At(0, section);
    CHECK_EQ(ErrorOf([&] { noRoot.CreateKey(); }),
             std::make_pair(kErrRegistry, "Failed to create registry Key: '" + section));

    CHECK_EQ(RunRegExe("add " + kBaseFull + "\\made /v v /d x /f"), DWORD{0});
    CHECK(key.DeleteValue());
    CHECK_EQ(key.Value(), RegValue());
    CHECK_EQ(
        ErrorOf([&] { key.DeleteValue(); }),
        std::make_pair(kErrRegistry, "Failed to delete registry Key: '" + where + "',Key: 'v"));
    // A key with subkeys is not deleted.
    CHECK(At(kHkeyCurrentUser, section + "\\child").CreateKey());
    CHECK_EQ(ErrorOf([&] { key.DeleteKey(); }).first, kErrRegistry);
    CHECK(key.KeyExists());
}

TEST_CASE(enumeratesValuesAndSubkeys) {
    Clear(kBase);
    for (const char* name : {"one", "two", "caf\xc3\xa9"})
        CHECK_EQ(RunRegExe("add " + kBaseFull + " /v " + name + " /d x /f"), DWORD{0});
    for (const char* name : {"alpha", "beta"})
        CHECK_EQ(RunRegExe("add " + kBaseFull + "\\" + name + " /f"), DWORD{0});
    cRegistry registry = At(kHkeyCurrentUser, kBase);
    std::vector<std::string> names{"stale"};
    long count = -1;
    CHECK(registry.EnumerateValues(names, count));
    std::sort(names.begin(), names.end());
    CHECK_EQ(names, (std::vector<std::string>{"caf\xc3\xa9", "one", "two"}));
    CHECK_EQ(count, 3L);
    CHECK(registry.EnumerateSections(names, count));
    std::sort(names.begin(), names.end());
    CHECK_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
    CHECK_EQ(count, 2L);

    cRegistry missing = At(kHkeyCurrentUser, kBase + "\\none");
    CHECK(missing.EnumerateValues(names, count));
    CHECK_EQ(count, 0L);
    CHECK(missing.EnumerateSections(names, count));
    CHECK_EQ(names.size(), std::size_t{0});
}

TEST_CASE(registersFileType) {
    const std::string name = "Kavelon.TestFile";
    cRegistry registry;
    registry.CreateEXEAssociation("  C:\\kv\\kavelon.exe ", name, "Kavelon test file", "kvt", "",
                                  true, "", false, "", true, "", 2);
    registry.CreateAdditionalEXEAssociations(name, {"edit", "&Edit", "notepad \"%1\""});
    const std::string exe = "\"C:\\kv\\kavelon.exe\"";
    const std::pair<std::string, std::string> expected[] = {
        {".kvt", name},
        {name, "Kavelon test file"},
        {name + "\\shell\\open", "&Open"},
        {name + "\\shell\\open\\command", exe + " \"%1\""},
        {name + "\\shell\\print", "&Print"},
        {name + "\\shell\\print\\command", exe + " /p \"%1\""},
        {name + "\\shell\\add", "&Install kvt"},
        {name + "\\shell\\add\\command", exe + " /a \"%1\""},
        {name + "\\DefaultIcon", exe + ",2"},
        {name + "\\shell\\edit", "&Edit"},
        {name + "\\shell\\edit\\command", "notepad \"%1\""},
    };
    for (const auto& [section, text] : expected) {
        minitest::Row() = section;
        CHECK_EQ(At(kHkeyClassesRoot, section).Value(), RegValue(text));
        CHECK_EQ(At(kHkeyLocalMachine, "SOFTWARE\\Classes\\" + section).Value(), RegValue(text));
    }
    minitest::Row().clear();
    CHECK(!At(kHkeyClassesRoot, name + "\\shell\\new").KeyExists());

    CHECK_EQ(ErrorOf([&] {
                 registry.CreateAdditionalEXEAssociations(name, {"edit", "&Edit"});
             }),
             std::make_pair(kErrAssociationItems,
                            std::string("Invalid parameter list passed to "
                                        "CreateAdditionalEXEAssociations - expected "
                                        "Name/Text/Command")));
    CHECK_EQ(ErrorOf([&] { registry.CreateAdditionalEXEAssociations("Kavelon.None", {}); }),
             std::make_pair(kErrAssociationClass,
                            std::string("Error - attempt to create additional associations "
                                        "before class defined.")));
}

MINITEST_MAIN
