#include "tests/support/JackClientRoster.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/KeptToProcessEnd.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

void JackClientRoster::attach(jack_client_t* client) {
    jack_set_client_registration_callback(client, &JackClientRoster::registration, heard_.get());
}

void JackClientRoster::registration(const char* name, int registered, void* context) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard held(heard->lock);
    if (registered) {
        heard->names.insert(name);
        heard->arrivals.emplace_back(name);
    } else {
        heard->names.erase(name);
    }
}

bool JackClientRoster::heardOf(const std::string& name) const {
    std::lock_guard held(heard_->lock);
    return std::find(heard_->arrivals.begin(), heard_->arrivals.end(), name) !=
           heard_->arrivals.end();
}

int JackClientRoster::arrivalsBefore(const std::string& name) const {
    std::lock_guard held(heard_->lock);
    const auto first = std::find(heard_->arrivals.begin(), heard_->arrivals.end(), name);
    return static_cast<int>(first - heard_->arrivals.begin());
}

void JackClientRoster::outliveClient() { keepToProcessEnd(std::move(heard_)); }

void JackClientRoster::settle(jack_client_t* client, double seconds) const {
    if (!heard_) return;
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(seconds);
    for (;;) {
        std::vector<std::string> names;
        {
            std::lock_guard held(heard_->lock);
            names.assign(heard_->names.begin(), heard_->names.end());
        }
        bool pending = false;
        for (const std::string& name : names) {
            char* uuid = jack_get_uuid_for_client_name(client, name.c_str());
            if (!uuid) {
                pending = true;
                break;
            }
            jack_free(uuid);
        }
        if (!pending || std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace quenbril::test
