#include "platform/jack/JackArrivalGate.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/CallbackGate.h"
#include "platform/jack/JackServerPresence.h"
#include "platform/jack/RefusedSocketBackoff.h"

namespace quenbril {
namespace {

// An active client of ours and the arrivals it owes, by client name: above zero while the
// arrival of a client we opened is unread; below zero for one read before the open that made
// it returned, or another program's, until that client departs. And the departures of clients
// we closed that it has not read yet.
struct Watcher {
    jack_client_t* client;
    std::optional<SocketIdentity> server;
    std::map<std::string, int> owed;
    std::map<std::string, int> departures;
};

struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    // Keyed by the number libjack hands back to the callback: a late call for a client that
    // left finds nothing.
    std::map<std::uintptr_t, Watcher> watchers;
    std::uintptr_t next = 1;
    int waiting = 0;
    int settling = 0;
};

// Kept to the end of the process: a libjack thread may call in while static objects go.
Gate& gate() {
    static auto* g = new Gate;
    return *g;
}

void settle(std::map<std::string, int>& owed, const std::string& name, int change) {
    if ((owed[name] += change) == 0) owed.erase(name);
}

bool owesNothing(const Watcher& watcher) {
    return std::none_of(watcher.owed.begin(), watcher.owed.end(),
                        [](const auto& entry) { return entry.second > 0; });
}

bool owesNoNews(const Watcher& watcher) {
    return owesNothing(watcher) && watcher.departures.empty();
}

// A client's notification thread, called after libjack has updated the slots for the news.
// libjack cancels that thread at once when the client closes: its cancel is put off while it
// holds the gate's lock.
void registration(const char* name, int arrived, void* id) {
    withCancelPutOff([&] {
        Gate& g = gate();
        std::lock_guard held(g.lock);
        auto found = g.watchers.find(reinterpret_cast<std::uintptr_t>(id));
        if (found == g.watchers.end()) return;
        auto& owed = found->second.owed;
        if (arrived) {
            settle(owed, name, -1);
        } else if (auto entry = owed.find(name); entry != owed.end() && entry->second < 0) {
            settle(owed, name, +1);
        }
        if (!arrived && found->second.departures.count(name)) {
            settle(found->second.departures, name, -1);
        }
        g.changed.notify_all();
    });
}

// Every other active client of ours on `client`'s server now owes the news of it; the clients of
// a server that went away read nothing more.
void oweNewsOf(jack_client_t* client, std::map<std::string, int> Watcher::*news) {
    const auto server = JackServerPresence::socketIdentity();
    const std::string name = jack_get_client_name(client);
    Gate& g = gate();
    std::lock_guard held(g.lock);
    for (auto& [id, watcher] : g.watchers) {
        if (watcher.client != client && watcher.server == server) settle(watcher.*news, name, +1);
    }
}

}  // namespace

void JackArrivalGate::opened(jack_client_t* client) { oweNewsOf(client, &Watcher::owed); }

bool JackArrivalGate::admit(jack_client_t* client, std::chrono::milliseconds bound) {
    const auto server = JackServerPresence::socketIdentity();
    Gate& g = gate();
    std::unique_lock held(g.lock);
    ++g.waiting;
    const bool caughtUp = g.changed.wait_for(held, bound, [&] {
        return std::all_of(g.watchers.begin(), g.watchers.end(), [&](const auto& entry) {
            return entry.second.server != server || owesNothing(entry.second);
        });
    });
    --g.waiting;
    const std::uintptr_t id = g.next++;
    g.watchers[id] = Watcher{client, server, {}, {}};
    // Taken in only once the client is active, which comes after this.
    jack_set_client_registration_callback(client, &registration, reinterpret_cast<void*>(id));
    return caughtUp;
}

void JackArrivalGate::leave(jack_client_t* client) {
    Gate& g = gate();
    std::lock_guard held(g.lock);
    std::erase_if(g.watchers,
                  [client](const auto& entry) { return entry.second.client == client; });
    g.changed.notify_all();
}

void JackArrivalGate::departing(jack_client_t* client) { oweNewsOf(client, &Watcher::departures); }

bool JackArrivalGate::catchUp(jack_client_t* client, std::chrono::milliseconds bound) {
    const auto owing = [client](const Gate& g) {
        return std::any_of(g.watchers.begin(), g.watchers.end(), [client](const auto& entry) {
            return entry.second.client == client && !owesNoNews(entry.second);
        });
    };
    Gate& g = gate();
    {
        std::lock_guard held(g.lock);
        if (!owing(g)) return true;
    }
    // A server that went away writes no more news.
    if (!JackServerPresence::answers(client)) return false;
    std::unique_lock held(g.lock);
    ++g.settling;
    const bool settled = g.changed.wait_for(held, bound, [&] { return !owing(g); });
    --g.settling;
    return settled;
}

int JackArrivalGate::settlingForTesting() {
    Gate& g = gate();
    std::lock_guard held(g.lock);
    return g.settling;
}

int JackArrivalGate::waitingForTesting() {
    Gate& g = gate();
    std::lock_guard held(g.lock);
    return g.waiting;
}

}  // namespace quenbril
