#pragma once

#include <optional>
#include <string>

namespace svc {

constexpr size_t MaxDeviceNameLength = 63;

// The name a headset shows for this PC, trimmed. Blank, over-long (in characters) and names
// with control characters are refused with a reason in error.
std::optional<std::string> validDeviceName(const std::string &name, std::string &error);

// The host name, which is what the PC is called until the user names it.
std::string defaultDeviceName();

} // namespace svc
