// The remote under a server's level stream: a feeder process writes, per tick, the nine
// 128-strip frames the stand-in writes every tick ("LevelData", "RfLevelData", "RfLevelDataA"
// to "D", "RfLevelDataDiv", "QLData", "QualityLevelData") over loopback, at 10 and at 100 ticks
// per second. The remote (server link, dispatcher, histories; headless) reports its CPU time per
// second of stream and the time from the feeder's write of each "LevelData" to its history
// column being written (the frame carries its write time on the monotonic clock).
//
// The stand-in itself ticks at a fixed 10 per second, so the feeder plays its tick here at
// either rate.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "bench/AllocationCounter.h"
#include "bench/BenchSupport.h"
#include "bench/HeadlessRemote.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"

using namespace quenbril;
using bench::cpuSeconds;
using bench::nowNanos;

namespace {

constexpr int kStrips = 128;
const double kSeconds = bench::shortOr(5.0, 0.5);

double monotonicNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool sendAll(int fd, const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
        ssize_t n = ::send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Bytes frame(const Dictionary& message) {
    return *LinkCodec::encodeFrame(message, LinkPeer::Server);
}

/// The feeder: accepts one remote, sends "Channels", then ticks at `rate` for kSeconds.
[[noreturn]] void feed(int listener, double rate) {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) _exit(1);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Array strips;
    for (int i = 0; i < kStrips; ++i) {
        strips.push_back(Dictionary{{"name", "Ch " + std::to_string(i + 1)},
                                    {"panel", "A"},
                                    {"audioInput", i},
                                    {"channelEnabled", true},
                                    {"csID", int64_t{i + 1}}});
    }
    sendAll(fd, frame(Dictionary{{"Command", "Channels"}, {"Value", strips}}));
    const char* others[] = {"RfLevelData",  "RfLevelDataA",   "RfLevelDataB", "RfLevelDataC",
                            "RfLevelDataD", "RfLevelDataDiv", "QLData",       "QualityLevelData"};
    const double start = monotonicNow() + 0.5;  // time for the remote to build its strips
    for (long tick = 0;; ++tick) {
        const double due = start + static_cast<double>(tick) / rate;
        if (due > start + kSeconds) break;
        double wait = due - monotonicNow();
        if (wait > 0) {
            timespec t{static_cast<time_t>(wait),
                       static_cast<long>((wait - std::floor(wait)) * 1e9)};
            nanosleep(&t, nullptr);
        }
        Bytes levels(kStrips);
        for (int i = 0; i < kStrips; ++i) levels[i] = static_cast<uint8_t>((tick + i) % 100);
        Bytes out;
        for (const char* command : others) {
            Bytes f = frame(Dictionary{{"Command", command}, {"Value", levels}});
            out.insert(out.end(), f.begin(), f.end());
        }
        // The level frame is encoded last, so its write time is the time it goes out.
        Bytes level = frame(
            Dictionary{{"Command", "LevelData"}, {"Value", levels}, {"SentAt", monotonicNow()}});
        out.insert(out.end(), level.begin(), level.end());
        if (!sendAll(fd, out)) break;
        uint8_t drain[4096];
        while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
        }
    }
    ::close(fd);
    _exit(0);
}

/// Hands the link's messages to the controller and times each level frame.
class TimedLink : public ServerManagerDelegate {
  public:
    explicit TimedLink(ViewController& vc) : vc_(vc) {}
    void messageReceivedFromServer(const Value& message) override {
        vc_.messageReceivedFromServer(message);
        if (auto sent = message["SentAt"].doubleValue()) {
            latencies.push_back(monotonicNow() - *sent);
        }
    }
    std::vector<double> latencies;

  private:
    ViewController& vc_;
};

struct Figures {
    double cpuPercent = 0;
    double p50 = 0, p99 = 0, max = 0;
    size_t frames = 0;
    uint64_t allocations = 0;  // the main thread's, while the stream ran
};

Figures run(double rate, ManualRunLoop& loop) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    pid_t feeder = fork();
    if (feeder == 0) feed(listener, rate);
    ::close(listener);

    ViewController vc(sharedMainWindowServices());
    vc.viewDidLoad();
    TimedLink link(vc);
    ServerManager& server = ServerManager::sharedInstance();
    server.setPort(ntohs(a.sin_port));
    server.setDelegate(&link);
    connectLinkSenders(&server, vc);
    server.tryToConnect();
    loop.runUntil(
        [] { return ChannelStripManager::sharedInstance().controllers().size() == kStrips; }, 5.0);

    const double cpu0 = cpuSeconds();
    const double wall0 = monotonicNow();
    const uint64_t allocations0 = bench::allocations.load();
    bench::countingAllocations = true;
    loop.runUntil(
        [&] {
            int status = 0;
            return waitpid(feeder, &status, WNOHANG) == feeder;
        },
        kSeconds + 5.0);
    const double wall = monotonicNow() - wall0;
    const double cpu = cpuSeconds() - cpu0;
    bench::countingAllocations = false;
    const uint64_t allocations = bench::allocations.load() - allocations0;
    server.setDelegate(nullptr);
    ServerManager::resetSharedInstance();

    Figures f;
    f.cpuPercent = 100.0 * cpu / wall;
    f.allocations = allocations;
    std::vector<double>& l = link.latencies;
    f.frames = l.size();
    if (!l.empty()) {
        std::sort(l.begin(), l.end());
        f.p50 = l[l.size() / 2] * 1e3;
        f.p99 =
            l[std::min(l.size() - 1, static_cast<size_t>(std::ceil(l.size() * 0.99)) - 1)] * 1e3;
        f.max = l.back() * 1e3;
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    bench::HeadlessRemote remote(argc, argv, "link-e2e");
    if (!remote.ok()) return 1;
    ManualRunLoop& loop = remote.loop();
    UserDefaults::standardUserDefaults().setObject(true, ClientDefaultsKeys::kUseManualIP);
    UserDefaults::standardUserDefaults().setObject("127.0.0.1", ClientDefaultsKeys::kManualIP);

    for (double rate : {10.0, 100.0}) {
        Figures f = run(rate, loop);
        std::printf(
            "%3.0f ticks/s x 9 frames, 128 strips: remote CPU %5.2f %% of one core; LevelData "
            "write -> history column: p50 %.3f ms, p99 %.3f ms, max %.3f ms (%zu frames); "
            "C++ allocations on the main thread per tick %.0f\n",
            rate, f.cpuPercent, f.p50, f.p99, f.max, f.frames,
            f.frames ? static_cast<double>(f.allocations) / static_cast<double>(f.frames) : 0.0);
    }
    ChannelStripManager::resetSharedInstance();
    PELAudioEngine::resetSharedInstance();
    return 0;
}
