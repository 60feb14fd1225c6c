#include "MonitorApp/serverrole/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace quenbril {

namespace {
std::string dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return {};
    return text;
}
}  // namespace

std::optional<std::vector<NetworkInterface>> listNetworkInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<NetworkInterface> interfaces;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        NetworkInterface entry{i->ifa_name ? i->ifa_name : "", dotted(i->ifa_addr), {}};
        if (i->ifa_netmask) entry.netmask = dotted(i->ifa_netmask);
        if (!entry.address.empty()) interfaces.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return interfaces;
}

bool isLoopbackAddress(const std::string& address) { return address.rfind("127.", 0) == 0; }

}  // namespace quenbril
