#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// A string value (REG_SZ or REG_EXPAND_SZ, not expanded) from the 64-bit view of the registry;
// empty when the key or value is missing, of another type or unreadable.
std::wstring readRegistryString(HKEY root, const std::wstring &subKey, const std::wstring &name);

// "MachineGuid" of HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography; empty when unreadable.
std::wstring machineGuid();

} // namespace platform::win32
