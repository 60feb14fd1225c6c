// New connections to the stand-in, on loopback, and what they cost the remotes it serves:
//
// burst: 64 remotes connect at once; printed, the time from the first connection until every
// one of them has had its whole initial state ("InitialDataReady").
//
// burst beside a watcher: a remote that is served reads its level frames (one is owed every
// 0.1 s) while 63 others connect at once; printed, the time until the 63 are served and the
// watcher's longest gap between two "LevelData" frames from the burst's start until then.
//
// churn beside a watcher: the same watcher while 3,000 connections are opened and closed at once
// (every other one with a reset); printed, the time the churn took and the watcher's longest gap.
//
// Each run is made --rounds (5) times on a fresh stand-in; the median and the largest figure
// are printed. --server PATH runs another build's stand-in (a sanitizer build's), the remotes
// staying this program's.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "bench/BenchSupport.h"
#include "tests/simserver/SimServerProcess.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int connectTo(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// A remote on a plain socket that decodes what comes, as a remote does.
class Remote {
  public:
    explicit Remote(uint16_t port) : fd_(connectTo(port)) {}
    ~Remote() {
        if (fd_ >= 0) ::close(fd_);
    }
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;

    int fd() const { return fd_; }
    bool closed() const { return closed_ || fd_ < 0; }
    bool initialStateDone() const { return initialStateDone_; }

    /// Reads what has come (the descriptor is readable) and calls `each` with every message's
    /// command; false once the stand-in closed the connection.
    template <class F>
    bool readReady(F each) {
        uint8_t buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) closed_ = true;
        if (n <= 0) return !closed_;
        reader_.feed(buffer, static_cast<size_t>(n));
        while (auto frame = reader_.takeFrame()) {
            auto message = LinkCodec::decodeBody(frame->body);
            const std::string* command = message ? (*message)["Command"].stringValue() : nullptr;
            if (command && *command == "InitialDataReady") initialStateDone_ = true;
            each(command ? *command : std::string());
        }
        return true;
    }

    /// Reads for at most `timeout` seconds.
    template <class F>
    bool read(double timeout, F each) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout * 1000)) <= 0) return !closed_;
        return readReady(each);
    }

  private:
    int fd_;
    bool closed_ = false;
    bool initialStateDone_ = false;
    LinkFrameReader reader_{LinkPeer::Remote};
};

/// Reads every remote until each has had its initial state (or `limit` seconds passed, or one
/// was closed); the seconds that took since `start`, negative on failure.
double serveAll(std::vector<std::unique_ptr<Remote>>& remotes, Clock::time_point start,
                double limit) {
    std::vector<pollfd> polls;
    for (auto& r : remotes) polls.push_back({r->fd(), POLLIN, 0});
    size_t done = 0;
    while (done < remotes.size()) {
        if (since(start) > limit) return -1;
        if (::poll(polls.data(), polls.size(), 100) < 0) return -1;
        done = 0;
        for (size_t i = 0; i < remotes.size(); ++i) {
            if (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                if (!remotes[i]->readReady([](const std::string&) {})) return -1;
            }
            done += remotes[i]->initialStateDone();
        }
    }
    return since(start);
}

/// A served remote that reads its level frames on a thread of its own and keeps the longest
/// gap between two since watch() was called.
class Watcher {
  public:
    explicit Watcher(uint16_t port) : remote_(port) {
        while (!remote_.closed() && !remote_.initialStateDone()) {
            remote_.read(1.0, [](const std::string&) {});
        }
        thread_ = std::thread([this] {
            while (!stop_ && !remote_.closed()) {
                remote_.read(0.05, [&](const std::string& command) {
                    if (command != "LevelData") return;
                    auto now = Clock::now();
                    if (watching_) {
                        longest_ = std::max(
                            longest_.load(),
                            std::chrono::duration<double>(now - lastLevel_.load()).count());
                    }
                    lastLevel_ = now;
                });
            }
        });
    }
    ~Watcher() {
        stop_ = true;
        thread_.join();
    }
    bool served() const { return remote_.initialStateDone() && !remote_.closed(); }
    /// The gap counts from now (and includes the time since the last level frame).
    void watch() { watching_ = true; }
    /// The longest gap so far, the one still open included.
    double longestGap() const {
        double open = std::chrono::duration<double>(Clock::now() - lastLevel_.load()).count();
        return std::max(longest_.load(), open);
    }

  private:
    Remote remote_;
    std::atomic<bool> stop_{false}, watching_{false};
    std::atomic<Clock::time_point> lastLevel_{Clock::now()};
    std::atomic<double> longest_{0};
    std::thread thread_;
};

struct Figures {
    std::vector<double> values;
    int failed = 0;
    void add(double v) {
        if (v < 0) {
            ++failed;
        } else {
            values.push_back(v);
        }
    }
    void print(const char* what) {
        std::sort(values.begin(), values.end());
        if (values.empty()) {
            std::printf("  %-44s no figure (%d failed)\n", what, failed);
            return;
        }
        std::printf("  %-44s median %6.2f s, largest %6.2f s (%zu rounds", what,
                    values[values.size() / 2], values.back(), values.size());
        if (failed) std::printf(", %d failed", failed);
        std::printf(")\n");
    }
};

constexpr double kLimit = 120.0;  // seconds: a round that takes longer is counted as failed

void burstRun(const std::string& server, int rounds) {
    Figures served;
    for (int round = 0; round < rounds; ++round) {
        test::SimServerProcess standIn({}, false, server);
        if (standIn.port() == 0) {
            served.add(-1);
            continue;
        }
        std::vector<std::unique_ptr<Remote>> remotes;
        auto start = Clock::now();
        for (int i = 0; i < 64; ++i) remotes.push_back(std::make_unique<Remote>(standIn.port()));
        served.add(serveAll(remotes, start, kLimit));
    }
    std::printf("burst: 64 remotes connect at once\n");
    served.print("all 64 have their initial state after");
}

void burstBesideWatcherRun(const std::string& server, int rounds) {
    Figures served, gaps;
    for (int round = 0; round < rounds; ++round) {
        test::SimServerProcess standIn({}, false, server);
        if (standIn.port() == 0) {
            served.add(-1);
            continue;
        }
        Watcher watcher(standIn.port());
        std::vector<std::unique_ptr<Remote>> remotes;
        auto start = Clock::now();
        watcher.watch();
        for (int i = 0; i < 63; ++i) remotes.push_back(std::make_unique<Remote>(standIn.port()));
        served.add(serveAll(remotes, start, kLimit));
        gaps.add(watcher.served() ? watcher.longestGap() : -1);
    }
    std::printf("burst beside a watcher: 63 remotes connect at once, one served reads on\n");
    served.print("all 63 have their initial state after");
    gaps.print("the watcher's longest level-frame gap");
}

void churnRun(const std::string& server, int rounds, int connections) {
    Figures took, gaps;
    for (int round = 0; round < rounds; ++round) {
        test::SimServerProcess standIn({}, false, server);
        if (standIn.port() == 0) {
            took.add(-1);
            continue;
        }
        Watcher watcher(standIn.port());
        auto start = Clock::now();
        watcher.watch();
        for (int i = 0; i < connections; ++i) {
            int fd = connectTo(standIn.port());
            if (fd < 0) continue;
            if (i % 2 == 1) {
                linger reset{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            ::close(fd);
        }
        took.add(since(start));
        // What the stand-in still has to do for them counts: wait for a level frame after.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gaps.add(watcher.served() ? watcher.longestGap() : -1);
    }
    std::printf("churn beside a watcher: %d connections opened and closed at once\n", connections);
    took.print("the churn took");
    gaps.print("the watcher's longest level-frame gap");
}

std::string textOption(int argc, char** argv, const char* name, std::string fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const std::string server = textOption(argc, argv, "--server", QUENBRIL_SIMSERVER_PATH);
    const int rounds =
        std::atoi(textOption(argc, argv, "--rounds", bench::shortRun() ? "1" : "5").c_str());
    std::printf("stand-in: %s\n", server.c_str());
    burstRun(server, rounds);
    burstBesideWatcherRun(server, rounds);
    churnRun(server, rounds, bench::shortOr(3000, 100));
    return 0;
}
