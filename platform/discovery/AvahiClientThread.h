#pragma once

// Private to the Avahi backends: the client connection they share.

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

#include <string>

namespace quenbril {

/// Avahi takes service types without the final dot of a fully qualified name.
std::string avahiServiceType(const std::string& type);

/// An Avahi client on a poll thread of its own. Avahi calls back on that thread with the poll's
/// lock held; other threads take the lock (`lock()`) before they call into Avahi.
class AvahiClientThread {
  public:
    /// What failed when `open` answers false.
    enum class Failure { None, Thread, Daemon };

    AvahiClientThread() = default;
    ~AvahiClientThread() { close(); }
    AvahiClientThread(const AvahiClientThread&) = delete;
    AvahiClientThread& operator=(const AvahiClientThread&) = delete;

    /// Keeps a client that is still healthy, or makes a new one whose state changes go to
    /// `callback`. On failure `code` holds Avahi's error code and everything is closed again.
    Failure open(AvahiClientCallback callback, void* userdata, int* code);
    /// Stops the poll thread, then frees the client (with whatever still hangs on it: browsers,
    /// resolvers, entry groups) and the poll. Nothing happens when nothing is open.
    void close();
    /// From the client callback (poll thread, lock held): the daemon went away, so the next
    /// `open` makes a new client.
    void markFailed() { failed_ = true; }

    bool isOpen() const { return poll_ != nullptr; }
    /// Whether a client is open and the daemon has not dropped it; when not, `open` makes a
    /// new client, and whatever hung on the old one is freed with it.
    bool isHealthy();
    AvahiClient* client() const { return client_; }
    const AvahiPoll* api() const { return avahi_threaded_poll_get(poll_); }
    void lock() { avahi_threaded_poll_lock(poll_); }
    void unlock() { avahi_threaded_poll_unlock(poll_); }

  private:
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    // Guarded by the poll's lock once the poll runs.
    bool failed_ = false;
};

}  // namespace quenbril
