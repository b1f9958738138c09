#pragma once

#include <string>
#include <vector>

namespace platform::win32 {

// Bare executable file names ("name.exe") of the running processes; empty when the system
// gives no process snapshot.
std::vector<std::wstring> runningProcessNames();

// Whether a running process has exactly this executable file name (case-sensitive).
bool isProcessRunning(const std::wstring &executableName);

} // namespace platform::win32
