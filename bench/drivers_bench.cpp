// The receiver drivers under load: eight fake receivers of each kind on loopback addresses
// (Wisycom networks of 8 channels, Lectrosonics receivers of 6), served by a child process,
// polled by the six drivers for a while (30 s by default, or the first argument in seconds;
// half a second with --short).
// Prints the drivers' CPU share of one core (target <= 5 %) and the time of one Wisycom status
// poll tick with 8 connected receivers (target <= 100 us).

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/EMHandler.h"
#include "MonitorApp/serverrole/LectrosonicsHandler.h"
#include "MonitorApp/serverrole/SonyHandler.h"
#include "MonitorApp/serverrole/UHFRHandler.h"
#include "MonitorApp/serverrole/VozodHandler.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/serverrole/WisycomHandler.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/serverrole/fakes/FakeEMReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeLectrosonicsReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeSonyReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeUHFRReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeVozodReceiver.h"
#include "tests/MonitorApp/serverrole/fakes/FakeWisycomReceiver.h"

using namespace quenbril;
using bench::cpuSeconds;
using bench::nowNanos;

namespace {

constexpr int kPerKind = 8;
const char* kInterface = "127.0.1.1";

std::string address(int kind, int i) {
    return "127.0." + std::to_string(kind) + "." + std::to_string(i + 1);
}

// The child: every fake, serviced until the parent ends it.
[[noreturn]] void serveFakes() {
    using namespace quenbril::testing;
    std::vector<std::unique_ptr<FakeSonyReceiver>> sony;
    std::vector<std::unique_ptr<FakeEMReceiver>> em;
    std::vector<std::unique_ptr<FakeVozodReceiver>> vozod;
    std::vector<std::unique_ptr<FakeUHFRReceiver>> uhfr;
    std::vector<std::unique_ptr<FakeWisycomReceiver>> wisycom;
    std::vector<std::unique_ptr<FakeLectrosonicsReceiver>> lectro;
    for (int i = 0; i < kPerKind; ++i) {
        const std::string n = std::to_string(i);
        sony.push_back(std::make_unique<FakeSonyReceiver>(address(2, i)));
        sony.back()->one.name = "S" + n + "a";
        sony.back()->two.name = "S" + n + "b";
        em.push_back(std::make_unique<FakeEMReceiver>(address(3, i)));
        em.back()->one.name = "E" + n + "a";
        em.back()->two.name = "E" + n + "b";
        vozod.push_back(std::make_unique<FakeVozodReceiver>(address(4, i)));
        vozod.back()->channels = {{"V" + n + "a"}, {"V" + n + "b"}};
        uhfr.push_back(std::make_unique<FakeUHFRReceiver>(address(5, i)));
        uhfr.back()->names = {"U" + n + "a", "U" + n + "b"};
        wisycom.push_back(std::make_unique<FakeWisycomReceiver>(address(6, i), 4));
        for (auto& [a, ch] : wisycom.back()->channels) ch.name = "W" + n + "-" + std::to_string(a);
        lectro.push_back(std::make_unique<FakeLectrosonicsReceiver>(address(7, i), 6));
        for (size_t c = 0; c < 6; ++c)
            lectro.back()->channels[c].name = "L" + n + "-" + std::to_string(c);
    }
    for (;;) {
        for (auto& f : sony) f->service();
        for (auto& f : em) f->service();
        for (auto& f : vozod) f->service();
        for (auto& f : uhfr) f->service();
        for (auto& f : wisycom) f->service();
        for (auto& f : lectro) f->service();
        usleep(1000);
    }
}

// Turns the loop in real time, its virtual clock following the wall clock.
void runFor(ManualRunLoop& loop, double seconds) {
    const double end = RunLoop::realTimeNow() + seconds;
    while (RunLoop::realTimeNow() < end) {
        loop.runFor(0.005);
        const double now = RunLoop::realTimeNow();
        if (now > loop.now()) loop.advance(now - loop.now());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = bench::shortRun() ? 0.5 : argc > 1 ? std::atof(argv[1]) : 30.0;
    const pid_t child = fork();
    if (child == 0) serveFakes();
    usleep(300000);

    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    UserDefaults defaults("/nonexistent/quenbril-drivers-bench", "Receivers");
    Array list;
    const int types[][2] = {{2, 6}, {3, 5}, {4, 0}, {5, 2}, {6, 4}, {7, 7}};
    for (const auto& [kind, type] : types) {
        for (int i = 0; i < kPerKind; ++i) list.push_back(Array{address(kind, i), type});
    }
    defaults.registerDefaults({{"UserIPS", Value(list)}});
    WirelessManager::Services s;
    s.defaults = &defaults;
    s.interfaces = [] { return std::vector<NetworkInterface>{{"lo", kInterface, "255.0.0.0"}}; };
    s.udp = nullptr;
    s.drivers.vozod = std::make_unique<VozodHandler>();
    s.drivers.uhfr = std::make_unique<UHFRHandler>(makeDispatchUdpEndpoint);
    s.drivers.em = std::make_unique<EMHandler>(makeDispatchUdpEndpoint);
    auto wisycom = std::make_unique<WisycomHandler>();
    WisycomHandler* wisy = wisycom.get();
    s.drivers.wisycom = std::move(wisycom);
    s.drivers.sony = std::make_unique<SonyHandler>(makeDispatchUdpEndpoint);
    s.drivers.lectrosonics = std::make_unique<LectrosonicsHandler>();
    {
        WirelessManager registry(std::move(s));
        WirelessManager::setSharedInstance(&registry);
        registry.startDiscovery();
        runFor(loop, bench::shortOr(3.0, 1.0));  // Connections and naming.

        const double wallBefore = RunLoop::realTimeNow();
        const double cpuBefore = cpuSeconds();
        runFor(loop, seconds);
        const double cpu = cpuSeconds() - cpuBefore;
        const double wall = RunLoop::realTimeNow() - wallBefore;

        size_t byType[10] = {};
        for (const auto& [name, record] : registry.devices()) ++byType[record->deviceType() % 10];
        std::printf("drivers_bench: %d fakes of each kind on loopback for %.0f s\n", kPerKind,
                    wall);
        std::printf(
            "  records: Sony %zu, EM %zu, Vozod %zu, UHF-R %zu, Wisycom %zu, "
            "Lectrosonics %zu\n",
            byType[6], byType[5], byType[0], byType[2], byType[4], byType[7]);
        std::printf("  drivers' CPU: %.2f %% of one core (target <= 5 %%)\n", 100.0 * cpu / wall);
        std::printf("  Wisycom receivers connected: %zu\n", wisy->connectedCount());
        const double tick = bench::microsecondsPerCall([&] { wisy->queryStatus(); }, 200, 5);
        std::printf("  one Wisycom poll tick: %.1f us (target <= 100 us)\n", tick);
        runFor(loop, 0.3);
        WirelessManager::setSharedInstance(nullptr);
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 0;
}
