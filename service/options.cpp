#include "service/options.h"

#include <cstdlib>

namespace svc {
namespace {

bool parsePort(const std::string &text, int &port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error)
{
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const bool takesValue = name == "--port" || name == "--lan-port" || name == "--data-dir";
        if (takesValue && !value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        } else if (!takesValue && value) {
            error = name + " takes no value";
            return std::nullopt;
        }

        if (name == "--port" || name == "--lan-port") {
            int &target = name == "--port" ? options.port : options.lanPort;
            if (!parsePort(*value, target)) {
                error = "invalid port for " + name + ": " + *value;
                return std::nullopt;
            }
        } else if (name == "--data-dir") {
            if (value->empty()) {
                error = "--data-dir needs a folder";
                return std::nullopt;
            }
            options.dataDir = *value;
        } else if (name == "--no-lan") {
            options.lan = false;
        } else if (name == "--no-upnp") {
            options.upnp = false;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else {
            error = "unknown option: " + args[i];
            return std::nullopt;
        }
    }
    if (options.dataDir.empty())
        options.dataDir = defaultDataDir();
    // Test runs set this, so that a service started by a test never announces itself on the
    // machine's real networks.
    if (const char *off = std::getenv("VELNOR_NO_UPNP"); off && off[0])
        options.upnp = false;
    return options;
}

std::string defaultDataDir()
{
    std::string base;
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/tmp") + "/.local/share";
    }
    return base + "/QXLT/KivVelnorService";
}

const char *usageText()
{
    return "Usage: KivVelnorService [--port 22823] [--lan-port 22824] [--data-dir DIR] "
           "[--no-lan] [--no-upnp]\n"
           "  --port       loopback port of the control interface (0: any free port)\n"
           "  --lan-port   port of the headset API on the local network (0: any)\n"
           "  --data-dir   folder of the library, covers and logs\n"
           "  --no-lan     do not open the headset API (nor the media server)\n"
           "  --no-upnp    do not announce the UPnP media server (also when VELNOR_NO_UPNP is "
           "set)\n"
           "Chosen ports are announced on standard output as \"control-port N\" and "
           "\"lan-port N\".\n";
}

} // namespace svc
