#pragma once

#include <string>
#include <string_view>

namespace svc {

// The documents a UPnP control point reads before it browses: the device description and
// the two service descriptions. Every URL in them is host-relative and there is no URLBase,
// because some players put host and port in front of whatever they read.
namespace upnp {

constexpr const char *DeviceType = "urn:schemas-upnp-org:device:MediaServer:1";
constexpr const char *ContentDirectoryType = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr const char *ConnectionManagerType = "urn:schemas-upnp-org:service:ConnectionManager:1";

// Where the documents and icons lie below the folder the device serves them from.
constexpr const char *DescriptionFile = "description.xml";
constexpr const char *ContentDirectoryFile = "upnp/ContentDirectory.xml";
constexpr const char *ConnectionManagerFile = "upnp/ConnectionManager.xml";
constexpr const char *SmallIconFile = "upnp/icon-48.png";
constexpr const char *LargeIconFile = "upnp/icon-120.png";

std::string deviceDescription(const std::string &friendlyName, const std::string &udn,
                              const std::string &version);
const char *contentDirectoryDescription();
const char *connectionManagerDescription();

// For element text and double-quoted attributes.
std::string escapeXml(const std::string &text);
void appendEscapedXml(std::string_view text, std::string &to);

} // namespace upnp
} // namespace svc
