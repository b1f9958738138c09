#include "service/lanaddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <iterator>

namespace svc {
namespace {

// Interfaces that software makes; a headset across the room is not behind them.
bool isVirtual(const std::string &interface)
{
    static const char *const prefixes[]
        = { "docker", "br-", "virbr", "veth", "vboxnet", "vmnet", "lxcbr",    "lxdbr",
            "podman", "cni", "tun",   "tap",  "wg",      "zt",    "tailscale" };
    return std::any_of(std::begin(prefixes), std::end(prefixes), [&](const char *prefix) {
        return interface.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
    });
}

int rank(const InterfaceAddress &found)
{
    if (found.address.compare(0, 8, "169.254.") == 0)
        return 2;
    return isVirtual(found.interface) ? 1 : 0;
}

} // namespace

std::vector<std::string> orderLanAddresses(const std::vector<InterfaceAddress> &found)
{
    std::vector<InterfaceAddress> kept;
    for (const InterfaceAddress &item : found) {
        const bool repeated = std::any_of(kept.begin(), kept.end(), [&](const auto &known) {
            return known.address == item.address;
        });
        if (item.address.compare(0, 4, "127.") != 0 && !item.address.empty() && !repeated)
            kept.push_back(item);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto &a, const auto &b) { return rank(a) < rank(b); });
    std::vector<std::string> addresses;
    for (const InterfaceAddress &item : kept)
        addresses.push_back(item.address);
    return addresses;
}

std::vector<std::string> lanAddresses()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::vector<InterfaceAddress> found;
    for (const ifaddrs *item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET || !(item->ifa_flags & IFF_UP)
            || (item->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto *address = reinterpret_cast<const sockaddr_in *>(item->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            found.push_back({ item->ifa_name ? item->ifa_name : "", text });
    }
    freeifaddrs(list);
    return orderLanAddresses(found);
}

} // namespace svc
