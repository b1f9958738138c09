#include "platform/win32/registry.h"

namespace platform::win32 {

std::wstring readRegistryString(HKEY root, const std::wstring &subKey, const std::wstring &name)
{
    HKEY key = nullptr;
    // The 64-bit view: a 32-bit build would otherwise be redirected to WOW6432Node, where
    // the machine identifier does not exist.
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key)
        != ERROR_SUCCESS)
        return {};
    std::wstring value;
    // The value may grow between the size query and the read; try again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = 0;
        LSTATUS status = RegGetValueW(key, nullptr, name.c_str(),
                                      RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                                      nullptr, &bytes);
        if (status != ERROR_SUCCESS)
            break;
        std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, name.c_str(),
                              RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                              buffer.data(), &bytes);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_SUCCESS) {
            // RegGetValueW terminates the string; cut at the first terminator.
            buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
            value = std::move(buffer);
        }
        break;
    }
    RegCloseKey(key);
    return value;
}

std::wstring machineGuid()
{
    return readRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography",
                              L"MachineGuid");
}

} // namespace platform::win32
