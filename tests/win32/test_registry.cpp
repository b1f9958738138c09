// Reading string values from the registry, the machine identifier among them.
#include "harness.h"

#include "platform/win32/registry.h"

#include <cwctype>

using platform::win32::readRegistryString;

namespace {

bool looksLikeGuid(const std::wstring &text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : !std::iswxdigit(text[i]))
            return false;
    }
    return true;
}

void setRaw(HKEY key, const wchar_t *name, DWORD type, const void *data, std::size_t bytes)
{
    CHECK_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), DWORD(bytes)),
             LSTATUS(ERROR_SUCCESS));
}

void setString(HKEY key, const wchar_t *name, const std::wstring &value)
{
    setRaw(key, name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
}

} // namespace

int wmain()
{
    // Wine, like Windows, gives every prefix its own identifier.
    const std::wstring guid = platform::win32::machineGuid();
    CHECK(looksLikeGuid(guid));
    CHECK_EQ(platform::win32::machineGuid(), guid);

    const std::wstring parent = L"Software\\VelnorAssistantTest";
    const std::wstring path = parent + L"\\" + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    CHECK_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
             LSTATUS(ERROR_SUCCESS));

    const std::wstring text = L"4f1c-ü-视频";
    setString(key, L"Text", text);
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Text"), text);

    const std::wstring longText(5000, L'x');
    setString(key, L"Long", longText);
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Long"), longText);

    // Stored without its terminating NUL, as some writers do.
    setRaw(key, L"Unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Unterminated"), std::wstring(L"abc"));

    setString(key, L"Empty", L"");
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Empty"), std::wstring());

    const std::wstring expandable = L"%SystemRoot%\\x";
    setRaw(key, L"Expand", REG_EXPAND_SZ, expandable.c_str(),
           (expandable.size() + 1) * sizeof(wchar_t));
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Expand"), expandable);

    const DWORD number = 42;
    setRaw(key, L"Number", REG_DWORD, &number, sizeof number);
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Number"), std::wstring());
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Absent"), std::wstring());

    CHECK_EQ(RegDeleteValueW(key, L"Text"), LSTATUS(ERROR_SUCCESS));
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Text"), std::wstring());
    RegCloseKey(key);

    CHECK_EQ(RegDeleteKeyExW(HKEY_CURRENT_USER, path.c_str(), KEY_WOW64_64KEY, 0),
             LSTATUS(ERROR_SUCCESS));
    RegDeleteKeyExW(HKEY_CURRENT_USER, parent.c_str(), KEY_WOW64_64KEY, 0);
    CHECK_EQ(readRegistryString(HKEY_CURRENT_USER, path, L"Long"), std::wstring());

    return harness::summary();
}
