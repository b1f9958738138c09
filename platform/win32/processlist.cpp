#include "platform/win32/processlist.h"

#include "platform/win32/uniquehandle.h"

#include <tlhelp32.h>
#include <windows.h>

namespace platform::win32 {

namespace {

// Walks the process snapshot until `visit` returns true; false when no snapshot can be made
// or no entry was accepted.
template<typename Visit> bool walkProcesses(Visit visit)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (visit(std::wstring(entry.szExeFile)))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::wstring> runningProcessNames()
{
    std::vector<std::wstring> names;
    walkProcesses([&names](std::wstring name) {
        names.push_back(std::move(name));
        return false;
    });
    return names;
}

bool isProcessRunning(const std::wstring &executableName)
{
    return walkProcesses(
        [&executableName](const std::wstring &name) { return name == executableName; });
}

} // namespace platform::win32
