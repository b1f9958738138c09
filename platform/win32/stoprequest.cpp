#include "platform/win32/stoprequest.h"

#include <windows.h>

#include <atomic>

namespace platform::win32 {

namespace {

std::atomic<void (*)()> stopCallback { nullptr };

BOOL WINAPI consoleHandler(DWORD event)
{
    void (*callback)() = stopCallback.load();
    if (!callback)
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        callback();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        callback();
        // Returning would end the process before the main thread has shut down in order.
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void onConsoleStopRequest(void (*requestStop)())
{
    const bool first = stopCallback.exchange(requestStop) == nullptr;
    if (first)
        SetConsoleCtrlHandler(consoleHandler, TRUE);
}

} // namespace platform::win32
