// The single-instance marker: created once, seen as existing from another process, and any
// failure reported as such (start-up then runs as the first instance).
#include "harness.h"

#include "platform/win32/instancemarker.h"

using platform::win32::createInstanceMarker;
using platform::win32::MarkerState;

namespace {

// Runs this executable as "--child <name>"; its exit code is the MarkerState it saw.
int childSees(const std::wstring &name)
{
    std::wstring self = harness::ownFolder() + L"test_instancemarker.exe";
    std::wstring line = L"\"" + self + L"\" --child \"" + name + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return -1;
    DWORD code = DWORD(-2);
    if (WaitForSingleObject(info.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, DWORD(-3));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return int(code);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--child")
        return int(createInstanceMarker(argv[2]));

    const std::wstring unique
        = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());
    const std::wstring name = L"VelnorTest_Marker_" + unique;

    CHECK_EQ(int(createInstanceMarker(name)), int(MarkerState::Created));
    // The handle stays open, so the marker outlives the call: another process sees it.
    CHECK_EQ(childSees(name), int(MarkerState::AlreadyExisted));
    CHECK_EQ(childSees(name), int(MarkerState::AlreadyExisted));
    CHECK_EQ(int(createInstanceMarker(name)), int(MarkerState::AlreadyExisted));
    // A child's own marker goes with the child.
    const std::wstring other = L"VelnorTest_Other_" + unique;
    CHECK_EQ(childSees(other), int(MarkerState::Created));
    CHECK_EQ(childSees(other), int(MarkerState::Created));

    // Names the system refuses: an object of another kind under that name, an unknown
    // namespace. Neither may read as "already running".
    const std::wstring eventName = L"VelnorTest_Event_" + unique;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, eventName.c_str());
    CHECK(event != nullptr);
    CHECK_EQ(int(createInstanceMarker(eventName)), int(MarkerState::Failed));
    CloseHandle(event);
    CHECK_EQ(int(createInstanceMarker(L"NoSuchNamespace\\VelnorTest_" + unique)),
             int(MarkerState::Failed));

    return harness::summary();
}
