#pragma once

// What the end-to-end tests of the server role share: the host process (serverrole_host) in a
// configuration folder of its own, polling the fake G3 receiver, and readers of what it sends.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Value.h"
#include "tests/MonitorApp/serverrole/fakes/FakeG3Receiver.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

inline constexpr int kStrips = 8;
inline constexpr int64_t kFirstCsID = 1000;

/// The host process in a configuration folder of its own; stopped by its process id.
class ServerRoleHost {
  public:
    /// Polls the fake G3 receiver; the strips are "Lav 1" to "Lav 8".
    ServerRoleHost() : ServerRoleHost(receiverIP(), lavNames()) {}
    /// Polls `receivers` (ADDRESS[/TYPE],...) with a strip named after each of `names`.
    ServerRoleHost(const std::string& receivers, const std::vector<std::string>& names) {
        char dir[] = "/tmp/quenbril-serverrole-host-XXXXXX";
        if (!mkdtemp(dir)) return;
        folder_ = dir;
        std::vector<std::string> args{QUENBRIL_SERVERROLE_HOST_PATH, receivers, interfaceIP()};
        args.insert(args.end(), names.begin(), names.end());
        process_ = std::make_unique<ChildProcess>(
            args, std::vector<std::pair<std::string, std::string>>{{"XDG_CONFIG_HOME", folder_}},
            folder_ + "/stderr.log");
        const std::string marker = "listening on port ";
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10.0);
        while (port_ == 0 && process_->running() && std::chrono::steady_clock::now() < deadline) {
            const std::string text = log();
            const auto at = text.find(marker);
            if (at != std::string::npos) {
                port_ = static_cast<uint16_t>(std::atoi(text.c_str() + at + marker.size()));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~ServerRoleHost() {
        process_.reset();
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    uint16_t port() const { return port_; }
    /// Moves the host's main-loop clock on by six seconds at once.
    void skipSixSeconds() {
        // An ended host has no process id: -1 would reach every process of the user.
        if (process_ && process_->pid() > 0) ::kill(process_->pid(), SIGUSR1);
    }
    /// Whether the host has logged `count` skips, within five seconds (of a plain build).
    bool waitForSkips(int count) const {
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(5.0);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = log();
            int skips = 0;
            for (size_t at = text.find("skipping "); at != std::string::npos;
                 at = text.find("skipping ", at + 1)) {
                ++skips;
            }
            if (skips >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string log() const {
        std::ifstream in(folder_ + "/stderr.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    static std::vector<std::string> lavNames() {
        std::vector<std::string> names;
        for (int k = 1; k <= kStrips; ++k) names.push_back("Lav " + std::to_string(k));
        return names;
    }

    std::string folder_;
    std::unique_ptr<ChildProcess> process_;
    uint16_t port_ = 0;
};

/// The first strip's value in a per-strip list of strip id and value pairs; none when the
/// list does not hold the host's strips as such pairs.
inline Value firstStrip(const Dictionary& message) {
    const Array* list = message["Value"].arrayValue();
    if (!list || list->size() != 2 * kStrips || (*list)[0].longLongValue() != kFirstCsID) {
        return Value();
    }
    return (*list)[1];
}

inline std::vector<float> floats(const Value& data) {
    const Bytes* bytes = data.dataValue();
    std::vector<float> out;
    if (!bytes) return out;
    out.resize(bytes->size() / sizeof(float));
    std::memcpy(out.data(), bytes->data(), out.size() * sizeof(float));
    return out;
}

/// Plays a 375 Hz sine of RMS 0.1 on the injector's first port into the host's first input,
/// once the host's capture is there (within ten seconds of a plain build). False (with the
/// inputs found in `inputs`) when it is not.
inline bool feedToneToFirstInput(JackTestClient& injector, std::vector<std::string>& inputs) {
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10.0);
    while (inputs.empty() && std::chrono::steady_clock::now() < deadline) {
        inputs = injector.ports("quenbril.*:in_.*");
        if (inputs.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (inputs.size() != static_cast<size_t>(kStrips)) return false;
    injector.setTone(0, 375.0, static_cast<float>(0.1 * std::sqrt(2.0)));
    return injector.connect(injector.outputPort(0), inputs[0]);
}

/// The next message of `command` that satisfies `good`, within `timeout` seconds of a plain
/// build (stretched here for a slower one).
inline std::optional<Dictionary> waitUntil(WireClient& remote, std::string_view command,
                                           const std::function<bool(const Dictionary&)>& good,
                                           double timeout = 10.0) {
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(timeout);
    for (;;) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return std::nullopt;
        auto m = remote.waitFor(command, left);
        if (!m) return std::nullopt;
        if (good(*m)) return m;
    }
}

/// True for a level send whose first strip reads 60 +- 1 (a sine of RMS 0.1).
inline bool firstStripAtTone(const Dictionary& m) {
    const Bytes* b = m["Value"].dataValue();
    return b && b->size() == kStrips && std::abs(static_cast<int8_t>((*b)[0]) - 60) <= 1;
}

}  // namespace quenbril::test
