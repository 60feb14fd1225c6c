#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenbril {

/// One IPv4 address of a network interface, as the system lists them.
struct NetworkInterface {
    std::string name;
    std::string address;
    std::string netmask;
    bool operator==(const NetworkInterface&) const = default;
};

/// The machine's IPv4 interface addresses, in the order the system lists them (entries without
/// an address left out); none when the list cannot be read.
std::optional<std::vector<NetworkInterface>> listNetworkInterfaces();

/// Whether a dotted address is one of the loopback network's (127.0.0.0/8).
bool isLoopbackAddress(const std::string& address);

}  // namespace quenbril
