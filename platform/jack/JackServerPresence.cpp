#include "platform/jack/JackServerPresence.h"

#include <dlfcn.h>
#include <jack/jack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/jack/JackClients.h"
#include "platform/jack/RefusedSocketBackoff.h"

namespace quenbril {

namespace {

struct Memory {
    std::mutex lock;
    RefusedSocketBackoff backoff;
    JackServerPresence::Clock clock;

    RefusedSocketBackoff::Clock::time_point now() const {
        return clock ? clock() : RefusedSocketBackoff::Clock::now();
    }
};

Memory& memory() {
    static auto* m = new Memory;
    return *m;
}

std::optional<SocketIdentity> socketNow() {
    struct stat status {};
    if (::stat(JackServerPresence::socketPath().c_str(), &status) != 0 ||
        !S_ISSOCK(status.st_mode)) {
        return std::nullopt;
    }
    return SocketIdentity{status.st_dev, status.st_ino};
}

}  // namespace

std::string JackServerPresence::socketPath() {
    return "/dev/shm/jack_" + serverName() + "_" + std::to_string(::getuid()) + "_0";
}

std::string JackServerPresence::serverName() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name && *name ? name : "default";
}

// Another implementation of the same interface (one over a different sound server) has no
// names there.
bool JackServerPresence::libraryIsJack2() {
    static const bool jack2 = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&jack_client_open), &info) == 0 || !info.dli_fname) {
            return false;
        }
        return std::strstr(info.dli_fname, "pipewire") == nullptr &&
               std::strncmp(jack_get_version_string(), "1.9.", 4) == 0;
    }();
    return jack2;
}

jack_client_t* JackServerPresence::open(const char* name, jack_status_t* status) {
    const auto tried = socketNow();
    if (!worthAnOpenOn(tried)) return nullptr;
    jack_client_t* client = JackClients::openHeld(name, status);
    if (client) {
        serverAnswered();
    } else {
        refusedOn(tried);
    }
    return client;
}

bool JackServerPresence::answers(jack_client_t* client) {
    char* uuid = jack_get_uuid_for_client_name(client, jack_get_client_name(client));
    if (!uuid) return false;
    jack_free(uuid);
    return true;
}

bool JackServerPresence::worthAnOpen() { return worthAnOpenOn(socketNow()); }

// A server open to every user names its socket otherwise, and another library has none.
bool JackServerPresence::socketsTell() {
    return libraryIsJack2() && !std::getenv("JACK_PROMISCUOUS_SERVER");
}

bool JackServerPresence::worthAnOpenOn(const std::optional<SocketIdentity>& socket) {
    if (!socketsTell()) return true;
    if (!socket) return false;
    Memory& m = memory();
    std::lock_guard held(m.lock);
    return m.backoff.worthTrying(*socket, m.now());
}

bool JackServerPresence::socketMayBeStarting() {
    if (!socketsTell()) return false;
    const auto socket = socketNow();
    if (!socket) return false;
    Memory& m = memory();
    std::lock_guard held(m.lock);
    return m.backoff.mayBeStarting(*socket);
}

void JackServerPresence::noServerAnswered() { refusedOn(socketNow()); }

void JackServerPresence::refusedOn(const std::optional<SocketIdentity>& tried) {
    // A server that started during the open made its socket anew: the refusal was the old
    // socket's (or the new one's first, while it started), and the new one is tried at once.
    const auto now = socketNow();
    Memory& m = memory();
    std::lock_guard held(m.lock);
    if (now && now == tried) {
        m.backoff.refused(*now, m.now());
    } else {
        m.backoff.forget();
    }
}

void JackServerPresence::serverAnswered() {
    Memory& m = memory();
    std::lock_guard held(m.lock);
    m.backoff.forget();
}

std::optional<SocketIdentity> JackServerPresence::socketIdentity() { return socketNow(); }

void JackServerPresence::setClockForTesting(Clock clock) {
    Memory& m = memory();
    std::lock_guard held(m.lock);
    m.clock = std::move(clock);
}

}  // namespace quenbril
