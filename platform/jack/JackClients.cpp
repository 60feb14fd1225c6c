#include "platform/jack/JackClients.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackNewsThreadPark.h"
#include "platform/jack/JackServerPresence.h"
#include "platform/jack/JackThreadStarts.h"
#include "platform/jack/JackWakeUpSlot.h"

namespace quenbril {
namespace {

struct Tracked {
    jack_client_t* client;
    std::atomic<bool>* gone;
};

// Kept to the end of the process: a thread may still be inside libjack with it held, stuck on
// a locked store, when static objects go.
std::shared_mutex& clientsLock() {
    static auto* lock = new std::shared_mutex;
    return *lock;
}

// The list has a lock of its own: clients are tracked and forgotten under inUse() as well,
// which several threads hold at once.
std::mutex& listLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::vector<Tracked>& tracked() {
    static auto* list = new std::vector<Tracked>;
    return *list;
}

// Each open client's notification thread: the last thread libjack starts in an open. Under
// listLock().
std::map<jack_client_t*, JackThreadStarts::Started>& newsThreads() {
    static auto* threads = new std::map<jack_client_t*, JackThreadStarts::Started>;
    return *threads;
}

// What the client's close needs no more, or a client let go.
JackThreadStarts::Started takeNewsThread(jack_client_t* client) {
    std::lock_guard held(listLock());
    const auto found = newsThreads().find(client);
    if (found == newsThreads().end()) return {};
    const JackThreadStarts::Started thread = found->second;
    newsThreads().erase(found);
    return thread;
}

// Let go as a gone server's client: nothing of it is closed.
void letGo(jack_client_t* client) {
    takeNewsThread(client);
    JackArrivalGate::leave(client);
}

// A loaded machine's notification threads read a few notices well within it.
constexpr std::chrono::milliseconds kNewsBound{2000};

// Kept to the end of the process, as a close may be stuck inside libjack when static objects go.
std::mutex& closingLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::atomic<int> closesWaiting{0};

// Our closes run one at a time, each from its catching up to the end of libjack's close. An
// inactive client no longer reports the news it reads, yet libjack still takes in every
// departure on its thread, inside the lock of the wake-up table: a client of ours closing
// meanwhile would have its departure read there just as the first client's close cancels that
// thread. Closed one after the other, a client either closes before the other's departure is
// told, or has read it first: it owes it from departing() on, as it stays in the arrival gate
// until its own close.
class Closing {
  public:
    Closing() {
        ++closesWaiting;
        closingLock().lock();
        --closesWaiting;
    }
    ~Closing() { closingLock().unlock(); }
    Closing(const Closing&) = delete;
    Closing& operator=(const Closing&) = delete;
};

void closeHeld(jack_client_t* client, void* xrunContext) {
    // Its news thread, which the close cancels, first takes in what our own opens and closes
    // told it.
    JackArrivalGate::catchUp(client, kNewsBound);
    JackClients::deactivate(client);
    // libjack's close stops reading the server's news before the server has closed the client,
    // and the server waits without limit to write news to a client: a loaded server tells of a
    // late period almost every period, and a few tens of them unread kept it, and the close,
    // waiting for ever. The client asks for them no more (with the same context, as its thread
    // may be calling the callback now), and a request the server answers shows that no write to
    // it is under way.
    jack_set_xrun_callback(client, nullptr, xrunContext);
    JackServerPresence::answers(client);
    JackArrivalGate::departing(client);
    // Another program's client may come or go at any moment, and its news be taken in as the
    // close cancels the thread. A thread that never reached its wait ends with the close as
    // before.
    JackNewsThreadPark::park(takeNewsThread(client), kNewsBound);
    jack_client_close(client);
}

}  // namespace

std::unique_lock<std::shared_mutex> JackClients::opening() {
    // Before the first open starts any of libjack's threads.
    JackThreadStarts::install();
    std::unique_lock held(clientsLock());
    markClientsOfGoneServers();
    return held;
}

std::shared_lock<std::shared_mutex> JackClients::inUse() { return std::shared_lock(clientsLock()); }

jack_client_t* JackClients::open(const char* name, jack_status_t* status) {
    auto held = opening();
    return openHeld(name, status);
}

jack_client_t* JackClients::openHeld(const char* name, jack_status_t* status) {
    // Each client opened is told to the arrival gate at once, the ones closed again below too:
    // our active clients read each one's arrival and departure, and a departure unmaps the slot
    // of its number, which the client opened after it takes. Told before its close, so that no
    // client of ours can have read its departure first.
    auto openTold = [&] {
        const std::uint32_t before = JackThreadStarts::lastStartedHere().number;
        jack_client_t* opened = jack_client_open(name, JackNoStartServer, status);
        if (!opened) return opened;
        JackArrivalGate::opened(opened);
        const JackThreadStarts::Started news = JackThreadStarts::lastStartedHere();
        std::lock_guard held(listLock());
        if (news.number != before) {
            newsThreads()[opened] = news;
        } else {
            newsThreads().erase(opened);
        }
        return opened;
    };
    jack_client_t* client = openTold();
    // A close unmaps the departed client's object its slot held, and the server gives the
    // freed number to the open that follows, which then maps its own. Bounded, as another
    // program may take the number first.
    constexpr int kReopens = 3;
    for (int again = 0; client && again < kReopens && !JackWakeUpSlot::isOwn(client); ++again) {
        close(client);
        client = openTold();
    }
    return client;
}

int JackClients::activate(jack_client_t* client) {
    JackArrivalGate::admit(client, kNewsBound);
    const int result = jack_activate(client);
    if (result != 0) JackArrivalGate::leave(client);
    return result;
}

int JackClients::deactivate(jack_client_t* client) {
    JackArrivalGate::leave(client);
    return jack_deactivate(client);
}

bool JackClients::closeUnlessGone(jack_client_t* client, void* xrunContext) {
    // Checked under the closing lock, so that no other close's wait comes between the check and
    // the close.
    Closing closing;
    // Its notification thread reports the dead socket with strerror(), which holds glibc's
    // locale lock, and libjack's close cancels that thread at once: cancelled there, it would
    // leave the lock taken for good (the next newlocale, or the process's exit, waits for ever).
    if (!JackServerPresence::answers(client)) {
        letGo(client);
        return false;
    }
    closeHeld(client, xrunContext);
    return true;
}

void JackClients::close(jack_client_t* client, void* xrunContext) {
    Closing closing;
    closeHeld(client, xrunContext);
}

int JackClients::closesWaitingForTesting() { return closesWaiting.load(); }

bool JackClients::openingHeldForTesting() {
    if (!clientsLock().try_lock_shared()) return true;
    clientsLock().unlock_shared();
    return false;
}

void JackClients::track(jack_client_t* client, std::atomic<bool>& gone) {
    std::lock_guard held(listLock());
    tracked().push_back({client, &gone});
}

bool JackClients::forget(jack_client_t* client) {
    bool gone = true;
    {
        std::lock_guard held(listLock());
        auto found = std::find_if(tracked().begin(), tracked().end(),
                                  [client](const Tracked& t) { return t.client == client; });
        if (found != tracked().end()) {
            gone = found->gone->load();
            tracked().erase(found);
        }
    }
    // One still to be closed stays in the arrival gate until its close: the clients of ours
    // that close before it owe it their departures (see Closing).
    if (gone) letGo(client);
    return gone;
}

bool JackClients::forgetAndClose(jack_client_t* client, void* xrunContext) {
    return !forget(client) && closeUnlessGone(client, xrunContext);
}

// Runs under the exclusive lock, before the open that would free the clients of a gone server:
// until then every tracked client is still whole.
void JackClients::markClientsOfGoneServers() {
    std::lock_guard held(listLock());
    std::erase_if(tracked(), [](const Tracked& t) {
        if (!t.gone->load() && JackServerPresence::answers(t.client)) return false;
        t.gone->store(true);
        newsThreads().erase(t.client);
        JackArrivalGate::leave(t.client);
        return true;
    });
}

}  // namespace quenbril
