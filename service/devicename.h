#pragma once

#include <optional>
#include <string>

namespace svc {

class Library;

constexpr size_t MaxDeviceNameLength = 63;
// The setting, and the member of the settings replies, that holds the name.
constexpr const char *DeviceNameKey = "deviceName";

// The name a headset shows for this PC, trimmed. Blank, over-long (in characters) and names
// with control characters are refused with a reason in error.
std::optional<std::string> validDeviceName(const std::string &name, std::string &error);

// The host name, which is what the PC is called until the user names it.
std::string defaultDeviceName();

// The name chosen in the assistant, or the default one.
std::string deviceNameSetting(Library &library);

} // namespace svc
