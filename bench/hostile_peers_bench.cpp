// One peer must not cost the others their link. Two runs against the real stand-in on loopback:
//
// notes: three remotes, each on a link of 1 MB/s, read everything the stand-in sends (and
// decode it, as a remote does) while a fourth adds 100 notes of 4,000 bytes a second for
// --seconds (15): the notebook is soon at its 512 KiB bound, and every note changes it.
// Printed per well-behaved remote: when it was dropped (if it was), its longest gap between
// two "LevelData" frames (to the end of the run for a dropped one) and the notebooks it
// received.
//
// full speed: three remotes, each on a link of 1 MB/s, read everything while a fourth sends
// markers, chat removals and chat registrations (each one a new name) as fast as its connection
// takes them for --flood-seconds (15). Printed per well-behaved remote: the level frames it
// received out of the 10 a second the stand-in owes it, and its longest gap between two.
//
// slow link: the stand-in holds a notebook of about 400 KB; the remote's server link (the real
// socket, manual address, retried a second after each drop as the application's timer does)
// connects through a proxy that passes 40,000 bytes a second. Printed: the connections made and
// dropped within --link-seconds (30), and when "InitialDataReady" arrived.

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
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/ThrottledProxy.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using StandIn = test::SimServerProcess;

/// Lines of the stand-in's log that hold `word`.
int count(const StandIn& server, const std::string& word) {
    std::string text = server.log();
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

/// A remote on a plain socket: sends messages, reads and decodes what comes.
class Remote {
  public:
    explicit Remote(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) closed_ = true;
    }
    ~Remote() { ::close(fd_); }
    bool closed() const { return closed_; }
    bool send(const Dictionary& message) {
        auto frame = LinkCodec::encodeFrame(message, LinkPeer::Remote);
        for (size_t done = 0; frame && done < frame->size();) {
            ssize_t n = ::send(fd_, frame->data() + done, frame->size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return frame.has_value();
    }
    /// Reads for at most `timeout` seconds; calls `each` with every message's command. False
    /// once the stand-in closed the connection.
    template <class F>
    bool read(double timeout, bool decode, F each) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout * 1000)) <= 0) return !closed_;
        uint8_t buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        if (!decode) return true;
        reader_.feed(buffer, static_cast<size_t>(n));
        while (auto frame = reader_.takeFrame()) {
            auto message = LinkCodec::decodeBody(frame->body);
            const std::string* command = message ? (*message)["Command"].stringValue() : nullptr;
            each(command ? *command : std::string());
        }
        return true;
    }

  private:
    int fd_ = -1;
    bool closed_ = false;
    LinkFrameReader reader_{LinkPeer::Remote};
};

Dictionary note(int k) {
    std::string text(4000, 'n');
    text += std::to_string(k);
    return LinkMessageBuilder::remoteAddedNote(text, 0, "Mallory", {}, 0);
}

/// Adds `count` notes at `perSecond` through `remote` (which reads and drops what comes).
bool addNotes(Remote& remote, int count, double perSecond) {
    auto start = Clock::now();
    for (int k = 0; k < count; ++k) {
        if (!remote.send(note(k))) return false;
        auto due = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>((k + 1) / perSecond));
        while (Clock::now() < due) {
            double left = std::chrono::duration<double>(due - Clock::now()).count();
            remote.read(std::max(left, 0.0), false, [](const std::string&) {});
        }
    }
    return true;
}

void notesRun(double seconds) {
    StandIn server;
    if (server.port() == 0) {
        std::printf("notes: the stand-in did not start\n");
        return;
    }
    struct Seen {
        double longestGap = 0;
        std::optional<double> droppedAt;
        int notebooks = 0;
    };
    constexpr int kReaders = 3;
    // Each reader's link: 1 MB/s (8 Mbit/s), far more than the levels need.
    constexpr double kReaderLinkRate = 1e6;
    std::vector<Seen> seen(kReaders);
    std::atomic<bool> done{false};
    auto start = Clock::now();
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            test::ThrottledProxy link(server.port(), kReaderLinkRate);
            Remote remote(link.port());
            double lastLevel = since(start);
            while (!done && !remote.closed()) {
                remote.read(0.05, true, [&](const std::string& command) {
                    if (command == "NotebookEntries") ++seen[i].notebooks;
                    if (command != "LevelData") return;
                    double t = since(start);
                    seen[i].longestGap = std::max(seen[i].longestGap, t - lastLevel);
                    lastLevel = t;
                });
            }
            if (remote.closed()) seen[i].droppedAt = since(start);
            while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            // A dropped remote gets no level frame until the end of the run.
            seen[i].longestGap = std::max(seen[i].longestGap, since(start) - lastLevel);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Remote noter(server.port());
    bool kept = addNotes(noter, static_cast<int>(seconds * 100), 100);
    done = true;
    for (auto& t : readers) t.join();
    std::printf("notes: 100 notes a second for %.0f s (%s), stand-in log: %d drops\n", seconds,
                kept ? "all sent" : "the noting remote was cut off", count(server, "dropped"));
    for (int i = 0; i < kReaders; ++i) {
        char dropped[64] = "kept its connection";
        if (seen[i].droppedAt) {
            std::snprintf(dropped, sizeof dropped, "dropped after %.1f s", *seen[i].droppedAt);
        }
        std::printf("  remote %d: %s, longest level-frame gap %.2f s, %d notebooks received\n",
                    i + 1, dropped, seen[i].longestGap, seen[i].notebooks);
    }
}

void fullSpeedRun(double seconds) {
    StandIn server;
    if (server.port() == 0) {
        std::printf("full speed: the stand-in did not start\n");
        return;
    }
    struct Seen {
        int frames = 0;
        double longestGap = 0;
        bool dropped = false;
    };
    constexpr int kReaders = 3;
    constexpr double kReaderLinkRate = 1e6;
    std::vector<Seen> seen(kReaders);
    std::atomic<bool> flooding{false}, done{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            test::ThrottledProxy link(server.port(), kReaderLinkRate);
            Remote remote(link.port());
            std::optional<Clock::time_point> last;
            while (!done && !remote.closed()) {
                remote.read(0.05, true, [&](const std::string& command) {
                    if (command != "LevelData" || !flooding) return;
                    auto now = Clock::now();
                    if (last) {
                        seen[i].longestGap = std::max(
                            seen[i].longestGap, std::chrono::duration<double>(now - *last).count());
                    }
                    last = now;
                    ++seen[i].frames;
                });
            }
            seen[i].dropped = remote.closed();
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Remote flooder(server.port());
    flooding = true;
    auto start = Clock::now();
    long sent = 0;
    bool kept = true;
    while (kept && since(start) < seconds) {
        switch (sent % 3) {
            case 0:
                kept = flooder.send(LinkMessageBuilder::markerAdded("Mallory"));
                break;
            case 1:
                kept = flooder.send(
                    LinkMessageBuilder::chatRemoveMessage("ID-" + std::to_string(sent)));
                break;
            default:
                kept = flooder.send(LinkMessageBuilder::registerToChat(
                    "Mallory " + std::to_string(sent % 2), "UUID-Mallory"));
        }
        ++sent;
        // What comes to the flooder is read and dropped, so that its queue never fills.
        if (sent % 64 == 0) flooder.read(0, false, [](const std::string&) {});
    }
    const double elapsed = since(start);
    flooding = false;
    done = true;
    for (auto& t : readers) t.join();
    std::printf("full speed: %ld messages in %.1f s (%s); %.0f level frames owed to each remote\n",
                sent, elapsed, kept ? "all sent" : "the flooding remote was cut off",
                elapsed / 0.1);
    for (int i = 0; i < kReaders; ++i) {
        std::printf("  remote %d: %d level frames, longest gap %.2f s%s\n", i + 1, seen[i].frames,
                    seen[i].longestGap, seen[i].dropped ? ", dropped" : "");
    }
}

struct LinkEvents : ServerManagerDelegate {
    int connects = 0;
    int drops = 0;
    std::optional<double> readyAt;
    Clock::time_point start = Clock::now();
    void connectedToServer(const std::string&) override { ++connects; }
    void disconnectedFromServer(const std::optional<Error>&) override { ++drops; }
    void messageReceivedFromServer(const Value& message) override {
        if (message["Command"] == Value("InitialDataReady") && !readyAt) readyAt = since(start);
    }
};

void slowLinkRun(double seconds, double rate) {
    StandIn server;
    if (server.port() == 0) {
        std::printf("slow link: the stand-in did not start\n");
        return;
    }
    {
        // About 400 KB of notes (each about 4,200 bytes in the notebook).
        Remote noter(server.port());
        addNotes(noter, 95, 500);
    }
    test::ThrottledProxy proxy(server.port(), rate);
    bench::TemporarySettingsFolder settings("hostile-peers-bench");
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setBool(true, ClientDefaultsKeys::kUseManualIP);
    defaults.setObject(Value("127.0.0.1"), ClientDefaultsKeys::kManualIP);
    LinkEvents events;
    {
        ServerManager link;
        link.setPort(proxy.port());
        link.setDelegate(&events);
        link.tryToConnect();
        auto last = Clock::now();
        std::optional<Clock::time_point> retryAt;
        int dropsSeen = 0;
        while (since(events.start) < seconds) {
            loop.runFor(0.01);
            auto now = Clock::now();
            loop.advance(std::chrono::duration<double>(now - last).count());
            last = now;
            if (events.drops > dropsSeen) {
                dropsSeen = events.drops;
                retryAt = now + std::chrono::seconds(1);
            }
            if (retryAt && now >= *retryAt) {
                retryAt.reset();
                link.tryToConnect();
            }
        }
        link.setDelegate(nullptr);
    }
    loop.runFor(0.1);
    RunLoop::setMain(nullptr);
    char ready[64] = "never";
    if (events.readyAt) std::snprintf(ready, sizeof ready, "after %.1f s", *events.readyAt);
    std::printf(
        "slow link: %.0f bytes/s, %.0f s: %d connections, %d drops, InitialDataReady %s, "
        "%zu bytes passed\n",
        rate, seconds, events.connects, events.drops, ready, proxy.bytesPassed());
}

double option(int argc, char** argv, const char* name, double fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::atof(argv[i + 1]);
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    setenv("QUENBRIL_LOG", "warning", 1);
    // A short run only shows that both runs still work; their figures mean little.
    notesRun(option(argc, argv, "--seconds", bench::shortOr(15.0, 1.0)));
    fullSpeedRun(option(argc, argv, "--flood-seconds", bench::shortOr(15.0, 1.0)));
    slowLinkRun(option(argc, argv, "--link-seconds", bench::shortOr(30.0, 2.0)),
                option(argc, argv, "--rate", 40000));
    return 0;
}
