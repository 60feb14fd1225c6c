#include "platform/jack/JackWakeUpSlot.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/jack/JackServerPresence.h"

namespace quenbril {

bool JackWakeUpSlot::isOwn(jack_client_t* client) {
    // A server open to every user leaves the user out of the names.
    if (!JackServerPresence::libraryIsJack2() || std::getenv("JACK_PROMISCUOUS_SERVER")) {
        return true;
    }
    constexpr const char* kPrefix = "/dev/shm/jack_sem.";
    std::string name = jack_get_client_name(client);
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\\', '_');
    // An object the server has since removed shows as "<path> (deleted)": not this client's.
    const std::string own =
        kPrefix + std::to_string(::getuid()) + "_" + JackServerPresence::serverName() + "_" + name;
    std::ifstream maps("/proc/self/maps");
    bool mapsAny = false;
    for (std::string line; std::getline(maps, line);) {
        const auto path = line.find(kPrefix);
        if (path == std::string::npos) continue;
        if (line.compare(path, std::string::npos, own) == 0) return true;
        mapsAny = true;
    }
    return !mapsAny;
}

}  // namespace quenbril
