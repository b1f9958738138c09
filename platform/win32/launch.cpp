#include "platform/win32/launch.h"

#include "platform/win32/uniquehandle.h"

#include <windows.h>

#include <shellapi.h>

namespace platform::win32 {

namespace {

// ERROR_ELEVATION_REQUIRED; not every SDK's headers name it.
constexpr DWORD ElevationRequired = 740;

bool createDetached(const std::wstring &application, const CommandLine &command,
                    const std::wstring &workingDirectory)
{
    std::wstring line = joinCommandLine(command);
    if (line.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // CreateProcessW may write into the command line, so it gets a copy it owns.
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                        nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_CONSOLE, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                        &info))
        return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    return true;
}

std::wstring folderOf(const std::wstring &path)
{
    // The separator stays, so that an installer at the top of a drive starts in the drive's
    // root rather than in that drive's current folder.
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

} // namespace

bool startDetached(const CommandLine &command, const std::wstring &workingDirectory)
{
    return createDetached(std::wstring(), command, workingDirectory);
}

bool startInstaller(const std::wstring &path)
{
    const std::wstring folder = folderOf(path);
    // The path is named as the application too, so no search can pick another program.
    if (createDetached(path, installerCommand(path), folder))
        return true;
    if (GetLastError() != ElevationRequired)
        return false;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info);
}

} // namespace platform::win32
