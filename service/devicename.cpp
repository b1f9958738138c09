#include "service/devicename.h"

#include "service/library.h"
#include "service/pathutil.h"

#include <unistd.h>

namespace svc {

std::optional<std::string> validDeviceName(const std::string &name, std::string &error)
{
    const char *blanks = " \t\r\n\f\v";
    const auto first = name.find_first_not_of(blanks);
    if (first == std::string::npos) {
        error = "the device name is empty";
        return std::nullopt;
    }
    const std::string trimmed = name.substr(first, name.find_last_not_of(blanks) - first + 1);
    if (!isValidUtf8(trimmed)) {
        error = "the device name is not valid UTF-8";
        return std::nullopt;
    }
    if (utf8Length(trimmed) > MaxDeviceNameLength) {
        error = "the device name is longer than 63 characters";
        return std::nullopt;
    }
    for (unsigned char c : trimmed) {
        if (c < 0x20 || c == 0x7F) {
            error = "the device name contains control characters";
            return std::nullopt;
        }
    }
    return trimmed;
}

std::string defaultDeviceName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !host[0])
        return "PC";
    std::string error;
    std::string name = host;
    if (name.size() > MaxDeviceNameLength)
        name.resize(MaxDeviceNameLength);
    return validDeviceName(name, error).value_or("PC");
}

std::string deviceNameSetting(Library &library)
{
    return library.setting(DeviceNameKey).value_or(defaultDeviceName());
}

} // namespace svc
