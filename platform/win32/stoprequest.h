#pragma once

namespace platform::win32 {

// Calls `requestStop` (from a system thread) when the console the process is attached to asks
// it to stop: Ctrl+C, Ctrl+Break, the console closing, log-off or shut-down. `requestStop`
// must only hand the request over to the main thread. For the last three the system ends the
// process once the handler returns, so the handler then waits for the process to end by itself
// (the system's own time limit still applies). A later call replaces the callback.
void onConsoleStopRequest(void (*requestStop)());

} // namespace platform::win32
