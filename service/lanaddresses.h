#pragma once

#include <string>
#include <vector>

namespace svc {

// The PC's IPv4 addresses on its networks (not loopback), the likeliest one for a headset to
// reach first: the assistant shows the first as the address to type into a player.
std::vector<std::string> lanAddresses();

// One address of one interface, as the system lists them.
struct InterfaceAddress
{
    std::string interface;
    std::string address; // dotted IPv4
};

// The addresses in the order lanAddresses gives them: those of the PC's own network cards as
// listed, then those of the bridges and tunnels that containers, virtual machines and VPNs
// make, then link-local ones (169.254/16), which a DHCP failure leaves; loopback and repeats
// left out.
std::vector<std::string> orderLanAddresses(const std::vector<InterfaceAddress> &found);

} // namespace svc
