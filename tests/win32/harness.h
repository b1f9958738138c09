#pragma once

// A minimal test harness for the Windows layer: no framework is available for MinGW here.
// CHECK records a failure and goes on; each test executable ends with summary() as its exit.

#include <windows.h>

#include <cstdio>
#include <string>

namespace harness {

inline int passed = 0;
inline int failed = 0;

inline std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

inline std::string show(const std::wstring &text)
{
    return '"' + narrow(text) + '"';
}
inline std::string show(const std::string &text)
{
    return '"' + text + '"';
}
inline std::string show(const wchar_t *text)
{
    return show(std::wstring(text));
}
inline std::string show(const char *text)
{
    return show(std::string(text));
}
inline std::string show(bool value)
{
    return value ? "true" : "false";
}
template<typename T> std::string show(const T &value)
{
    return std::to_string(value);
}

inline bool record(bool ok, const char *file, int line, const std::string &what)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

inline int summary()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

// Folder of the running executable, with a trailing backslash.
inline std::wstring ownFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

} // namespace harness

#define CHECK(condition) harness::record(bool(condition), __FILE__, __LINE__, #condition)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const auto &check_actual = (actual);                                                       \
        const auto &check_expected = (expected);                                                   \
        harness::record(check_actual == check_expected, __FILE__, __LINE__,                        \
                        std::string(#actual " == " #expected ": got ")                             \
                            + harness::show(check_actual) + ", want "                              \
                            + harness::show(check_expected));                                      \
    } while (false)
