#include "platform/discovery/AvahiClientThread.h"

#include <avahi-common/error.h>

namespace quenbril {

std::string avahiServiceType(const std::string& type) {
    if (!type.empty() && type.back() == '.') return type.substr(0, type.size() - 1);
    return type;
}

AvahiClientThread::Failure AvahiClientThread::open(AvahiClientCallback callback, void* userdata,
                                                   int* code) {
    if (isHealthy()) return Failure::None;
    close();
    poll_ = avahi_threaded_poll_new();
    if (!poll_) {
        *code = AVAHI_ERR_NO_MEMORY;
        return Failure::Thread;
    }
    // The poll does not run yet, so the client's first callbacks come on this thread.
    client_ = avahi_client_new(api(), AvahiClientFlags(0), callback, userdata, code);
    if (!client_) {
        close();
        return Failure::Daemon;
    }
    failed_ = false;
    if (avahi_threaded_poll_start(poll_) < 0) {
        *code = AVAHI_ERR_FAILURE;
        close();
        return Failure::Thread;
    }
    return Failure::None;
}

bool AvahiClientThread::isHealthy() {
    if (!client_) return false;
    // The flag is set on the Avahi thread when the daemon goes away.
    lock();
    bool failed = failed_;
    unlock();
    return !failed;
}

void AvahiClientThread::close() {
    if (!poll_) return;
    // Stopping joins the poll thread (a no-op when it never ran); after that nothing else
    // touches the client, so it is freed without the lock.
    avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);
    client_ = nullptr;
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    failed_ = false;
}

}  // namespace quenbril
