#pragma once

// One fake receiver of each driver's kind on loopback addresses of the test process's own,
// served by a thread of their own while the host process polls them.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/MonitorApp/serverrole/fakes/FakeEMReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeG3Receiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeLectrosonicsReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeSonyReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeUHFRReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeVozodReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeWisycomReceiver.h"

namespace quenbril::test {

/// What a remote shows of one strip's receiver channel: battery (-2 unknown), RF byte and the
/// antennas in use.
struct StripFigures {
    int64_t battery = -2;
    int rf = 0;
    std::string antenna;
    bool operator==(const StripFigures&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const StripFigures& f) {
    return out << "{" << f.battery << ", " << f.rf << ", \"" << f.antenna << "\"}";
}

class FakeReceiverSet {
  public:
    FakeReceiverSet()
        : sony(testing::loopbackHost(81)),
          em(testing::loopbackHost(82)),
          vozod(testing::loopbackHost(83)),
          uhfr(testing::loopbackHost(84)),
          wisycom(testing::loopbackHost(85), 1),
          lectrosonics(testing::loopbackHost(86), 1) {
        sony.one.name = "Sony Lead";
        sony.two.name = "Sony Backing";
        em.one.name = "EM Vox";
        em.two.name = "";  // an empty name makes no record
        vozod.channels = {{"Vozod Vocal", 3}};
        uhfr.names = {"UHF-R Guitar"};  // twelve characters: the report's name field
        lectrosonics.channels[0].name = "Lx Bass";
        thread_ = std::thread([this] { run(); });
    }
    ~FakeReceiverSet() {
        done_ = true;
        thread_.join();
    }

    bool ready() const {
        return sony.ready() && em.ready() && vozod.ready() && uhfr.ready() && wisycom.ready() &&
               lectrosonics.ready();
    }
    /// The host's receiver list, ADDRESS/TYPE entries.
    static std::string receiverList() {
        return testing::loopbackHost(81) + "/6," + testing::loopbackHost(82) + "/5," +
               testing::loopbackHost(83) + "/0," + testing::loopbackHost(84) + "/2," +
               testing::loopbackHost(85) + "/4," + testing::loopbackHost(86) + "/7";
    }
    /// The receivers' channels, in the order of receiverList().
    static std::vector<std::string> channelNames() {
        return {"Sony Lead",    "Sony Backing", "EM Vox", "Vozod Vocal",
                "UHF-R Guitar", "Wisy2",        "Wisy3",  "Lx Bass"};
    }
    /// The channels' figures as their drivers read the fakes' defaults, in the same order.
    static std::vector<StripFigures> figures() {
        return {{80, 40, "A"}, {100, 90, "B"}, {100, 80, "A"}, {60, 55, "B"},
                {60, 10, "B"}, {75, 78, "B"},  {75, 78, "B"},  {50, 70, "B"}};
    }
    /// Changes the fakes between two turns of their thread.
    void change(const std::function<void(FakeReceiverSet&)>& edit) {
        std::lock_guard<std::mutex> lock(mutex_);
        edit(*this);
    }

    // Touched only through change() once the thread runs.
    testing::FakeSonyReceiver sony;
    testing::FakeEMReceiver em;
    testing::FakeVozodReceiver vozod;
    testing::FakeUHFRReceiver uhfr;
    testing::FakeWisycomReceiver wisycom;
    testing::FakeLectrosonicsReceiver lectrosonics;
    /// The samples the Vozod and UHF-R fakes push every 100 ms (their drivers never ask).
    std::string vozodSample = "< SAMPLE 1 ALL XB 40 55 0 0 >";
    std::string uhfrSample = "* SAMPLE 1 ALL XB 40 97 3 x y *";

  private:
    void run() {
        auto nextSample = std::chrono::steady_clock::now();
        while (!done_) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                sony.service();
                em.service();
                vozod.service();
                uhfr.service();
                wisycom.service();
                lectrosonics.service();
                const auto now = std::chrono::steady_clock::now();
                if (now >= nextSample) {
                    nextSample = now + std::chrono::milliseconds(100);
                    if (!vozod.silent) vozod.push(vozodSample);
                    // The UHF-R fake answers to the socket that last asked.
                    if (!uhfr.silent && !uhfr.requests.empty()) uhfr.send(uhfrSample);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::mutex mutex_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace quenbril::test
