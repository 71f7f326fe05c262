#pragma once

// A tiny runner for the Windows test programs: every case prints "PASS name" or
// "FAIL name: why", the last line "N passed, M failed"; the exit code is 1 when any failed.
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace minitest {

struct Failure {
    std::string what;
};

using Case = std::pair<const char*, void (*)()>;

inline std::vector<Case>& Cases() {
    static std::vector<Case> cases;
    return cases;
}

struct Register {
    Register(const char* name, void (*run)()) { Cases().emplace_back(name, run); }
};

// The row of a data-driven case, named in its failures.
inline std::string& Row() {
    static std::string row;
    return row;
}

inline void Fail(const char* file, int line, const std::string& what) {
    std::ostringstream text;
    text << file << ":" << line << ": " << (Row().empty() ? "" : "[" + Row() + "] ") << what;
    throw Failure{text.str()};
}

inline int RunAll() {
    int passed = 0;
    int failed = 0;
    for (const auto& [name, run] : Cases()) {
        std::string why;
        Row().clear();
        try {
            run();
        } catch (const Failure& failure) {
            why = failure.what;
        } catch (const std::exception& error) {
            why = std::string("unexpected exception: ") + error.what();
        } catch (...) {
            why = "unexpected exception";
        }
        if (why.empty()) {
            std::printf("PASS %s\n", name);
            ++passed;
        } else {
            std::printf("FAIL %s: %s\n", name, why.c_str());
            ++failed;
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

}  // namespace minitest

#define TEST_CASE(name)                                            \
    static void name();                                            \
    static const minitest::Register name##Registered(#name, name); \
    static void name()

#define CHECK(condition) \
    if (!(condition)) minitest::Fail(__FILE__, __LINE__, "not true: " #condition)

// Show(value) turns both sides into text; tests add overloads for their own types.
#define CHECK_EQ(actual, expected)                                                         \
    do {                                                                                   \
        const auto& actualValue = (actual);                                                \
        const auto& expectedValue = (expected);                                            \
        if (!(actualValue == expectedValue))                                               \
            minitest::Fail(                                                                \
                __FILE__, __LINE__,                                                        \
                #actual " is " + Show(actualValue) + ", expected " + Show(expectedValue)); \
    } while (false)

#define MINITEST_MAIN              \
    int main() {                   \
        return minitest::RunAll(); \
    }
