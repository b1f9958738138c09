#pragma once

#include "platform/commandline.h"

#include <string>

namespace platform::win32 {

// Starts the program detached from the caller: no handles inherited, nothing of it kept, no
// shell in between. An empty working directory keeps the caller's. False when the command
// cannot be written (see joinCommandLine) or the system did not start it.
bool startDetached(const CommandLine &command, const std::wstring &workingDirectory);

// Starts the installer at `path` (native separators) in its own folder. Installers usually
// ask for elevation, which CreateProcessW refuses; then the shell starts it with the elevation
// prompt instead.
bool startInstaller(const std::wstring &path);

} // namespace platform::win32
