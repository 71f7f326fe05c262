#pragma once

// Helpers of the registry tests: printing values, and wine's own reg.exe.
#include <windows.h>

#include <cstdint>
#include <string>

#include "minitest.h"
#include "registry/cregistry.h"

inline std::string Show(const std::string& text) {
    std::string shown = "\"";
    for (const char c : text) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown + "\"";
}

inline std::string Show(std::int32_t number) {
    return std::to_string(number);
}
inline std::string Show(std::size_t number) {
    return std::to_string(number);
}
inline std::string Show(long number) {
    return std::to_string(number);
}
inline std::string Show(unsigned long number) {
    return std::to_string(number);
}
inline std::string Show(bool flag) {
    return flag ? "true" : "false";
}

inline std::string Show(const kavelon::RegValue& value) {
    switch (value.index()) {
        case 0:
            return "(empty)";
        case 1:
            return "text " + Show(std::get<std::string>(value));
        case 2:
            return "number " + Show(std::get<std::int32_t>(value));
        default: {
            std::string bytes = "bytes";
            for (const std::uint8_t byte : std::get<std::vector<std::uint8_t>>(value))
                bytes += " " + std::to_string(byte);
            return bytes;
        }
    }
}

template <typename T>
std::string Show(const std::vector<T>& items) {
    std::string shown = "{";
    for (const T& item : items) shown += " " + Show(item);
    return shown + " }";
}

template <typename A, typename B>
std::string Show(const std::pair<A, B>& pair) {
    return "(" + Show(pair.first) + ", " + Show(pair.second) + ")";
}

// Runs wine's reg.exe once with the given arguments (UTF-8) and returns its exit code.
inline DWORD RunRegExeOnce(const std::string& arguments) {
    std::string line = "reg.exe " + arguments;
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    // Its messages go to NUL, its errors to ours.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul =
        CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(nul);
    if (!started) return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Runs reg.exe; now and then wine fails to start it at all (ERROR_INTERNAL_ERROR, seen under
// heavy load), which says nothing about the registry, so such a run is made again.
inline DWORD RunRegExe(const std::string& arguments) {
    DWORD code = ERROR_INTERNAL_ERROR;
    for (int attempt = 0; attempt < 5 && code == ERROR_INTERNAL_ERROR; ++attempt) {
        if (attempt > 0) Sleep(500);
        code = RunRegExeOnce(arguments);
    }
    return code;
}

// A registry object on a location.
inline kavelon::cRegistry At(std::int32_t root, const std::string& section,
                             const std::string& name = "", std::int32_t type = 0) {
    kavelon::cRegistry registry;
    registry.SetClassKey(root);
    registry.SetSectionKey(section);
    registry.SetValueKey(name);
    registry.SetValueType(type);
    return registry;
}

// The number and description of the error a call raises; number 0 when it raises none.
template <typename Call>
std::pair<std::int32_t, std::string> ErrorOf(Call call) {
    try {
        call();
    } catch (const kavelon::RegistryError& error) {
        return {error.number, error.description};
    }
    return {0, ""};
}
