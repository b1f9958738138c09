#pragma once

#include <optional>
#include <string>
#include <vector>

namespace svc {

struct Options
{
    // 0 lets the system choose; the chosen port is announced on standard output.
    int port = 22823;
    int lanPort = 22824;
    bool lan = true;
    // The UPnP media server on the headset API's networks (needs lan).
    bool upnp = true;
    std::string dataDir;
    bool help = false;
};

// Parses the arguments after the program name. On failure returns nothing and sets error.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);

// $XDG_DATA_HOME/QXLT/KivVelnorService, with XDG's fallback to ~/.local/share.
std::string defaultDataDir();

const char *usageText();

} // namespace svc
