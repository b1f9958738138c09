#pragma once

#include <string>

namespace platform::win32 {

enum class MarkerState { Created, AlreadyExisted, Failed };

// Creates or opens the named mutex that marks a running first instance. When this call created
// it, the handle stays open until the process ends (the marker lives exactly as long as the
// process); when it already existed, the handle is closed again, since only its existence
// matters. Any failure to create it reports Failed, which start-up treats as a first instance.
MarkerState createInstanceMarker(const std::wstring &name);

} // namespace platform::win32
