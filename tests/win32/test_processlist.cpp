// The process walk: bare executable names, compared exactly.
#include "harness.h"

#include "platform/win32/processlist.h"

#include <algorithm>

int wmain()
{
    std::wstring self(MAX_PATH * 4, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
    const std::wstring ownName = self.substr(self.find_last_of(L"\\/") + 1);
    CHECK_EQ(ownName, std::wstring(L"test_processlist.exe"));

    const std::vector<std::wstring> names = platform::win32::runningProcessNames();
    CHECK(names.size() >= 2);
    CHECK(std::find(names.begin(), names.end(), ownName) != names.end());
    CHECK(std::none_of(names.begin(), names.end(), [](const std::wstring &name) {
        return name.empty() || name.find_first_of(L"\\/") != std::wstring::npos;
    }));

    CHECK(platform::win32::isProcessRunning(ownName));
    CHECK(!platform::win32::isProcessRunning(L"Test_processlist.exe"));
    CHECK(!platform::win32::isProcessRunning(L"TEST_PROCESSLIST.EXE"));
    CHECK(!platform::win32::isProcessRunning(L"test_processlist"));
    CHECK(!platform::win32::isProcessRunning(L"test_processlist.exe "));
    CHECK(!platform::win32::isProcessRunning(L""));
    CHECK(!platform::win32::isProcessRunning(L"KivVelnorService.exe"));

    return harness::summary();
}
