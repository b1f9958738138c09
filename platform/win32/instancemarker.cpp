#include "platform/win32/instancemarker.h"

#include <windows.h>

namespace platform::win32 {

MarkerState createInstanceMarker(const std::wstring &name)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    // Read at once: any call in between may overwrite it.
    const DWORD error = GetLastError();
    if (!mutex)
        return MarkerState::Failed;
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return MarkerState::AlreadyExisted;
    }
    // Deliberately never closed: the system releases it when the process ends.
    return MarkerState::Created;
}

} // namespace platform::win32
