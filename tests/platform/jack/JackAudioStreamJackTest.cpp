// A JACK output stream whose server went away is let go without closing its client: libjack's
// thread may still tell it of the server's end afterwards, which must reach nothing freed. One
// whose server lives closes even when the server's news of late periods piled up unread.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/audio/JackAudioBackend.h"
#include "platform/jack/JackArrivalGate.h"
#include "platform/jack/JackClients.h"
#include "tests/support/Eventually.h"
#include "tests/support/HeldThreads.h"
#include "tests/support/JackDeathBehindThreads.h"
#include "tests/support/JackMidiTestClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ThreadCount.h"

namespace quenbril::test {
namespace {

class Silence : public AudioStreamClient {
  public:
    void process(const float* const*, float* const* outputs, int frames, bool) override {
        std::fill(outputs[0], outputs[0] + frames, 0.0f);
        std::fill(outputs[1], outputs[1] + frames, 0.0f);
        periods.fetch_add(1);
    }
    std::atomic<int> periods{0};
};

// A running server (an earlier test may have left it stopped) and a backend on it, whose streams
// are two outputs on the server's own device. The tests hold libjack's threads with signals,
// which ThreadSanitizer puts off while they are inside libjack's calls.
class JackAudioStream : public ::testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "ThreadSanitizer puts off a signal that comes inside libjack's calls";
#endif
        if (!JackServer::shared().running()) {
            ASSERT_TRUE(JackServer::shared().start());
        }
        backend.emplace();
    }

    /// A stream of two outputs on "system", not started; null (and `error` says why) if none.
    std::unique_ptr<AudioStream> openSystemPair(std::string& error) {
        const auto devices = backend->devices();
        const auto system = std::find_if(devices.begin(), devices.end(),
                                         [](const auto& d) { return d.name == "system"; });
        if (system == devices.end()) {
            error = "no device \"system\"";
            return nullptr;
        }
        AudioStreamParameters p;
        p.device = system->index;
        p.outputChannels = 2;
        return backend->openStream(p, silence, error);
    }

    std::optional<JackAudioBackend> backend;
    Silence silence;
};

// The server dies and another open of the process marks the stream's client gone before
// libjack's thread has told the stream; the stream is let go, and only then is the thread let on
// (AddressSanitizer reports a write into the freed stream otherwise).
TEST_F(JackAudioStream, TheServersEndToldAfterTheStreamWasLetGoReachesNothingFreed) {
    std::string error;
    const std::set<int> before = threadIds();
    std::unique_ptr<AudioStream> stream = openSystemPair(error);
    ASSERT_TRUE(stream) << error;
    const bool held = serverDiesBehindThreadsStartedSince(before, [&] {
        EXPECT_TRUE(stream->stoppedByHost());
        stream.reset();
        EXPECT_EQ(backend->openStreamCount(), 0);
    });
    if (!held) GTEST_SKIP() << "libjack's threads cannot be held here";
    ASSERT_TRUE(JackServer::shared().start());
}

// A client's news is heard only while it is active, so a stopped stream whose client the gate
// still counted could never say it had read the arrivals of the clients opened after it: every
// later start of a client of ours on that server, a stream's on the main thread among them,
// waited the gate's whole bound, and a stream started again left its first record owing for
// good. A stopped stream calls its client no more and has its connections undone.
TEST_F(JackAudioStream, AStoppedStreamKeepsNoLaterClientWaitingForItsNews) {
    std::string error;
    std::unique_ptr<AudioStream> stream = openSystemPair(error);
    ASSERT_TRUE(stream) << error;
    JackTestClient probe("probe", 0, 0);
    auto connected = [&] { return !probe.connections("system:playback_1").empty(); };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(stream->start());
        EXPECT_TRUE(stream->isActive());
        const int playing = silence.periods.load();
        EXPECT_TRUE(eventually([&] { return silence.periods.load() > playing + 10; }));
        EXPECT_TRUE(eventually(connected));
        stream->stop();
        EXPECT_FALSE(stream->isActive());
        EXPECT_TRUE(eventually([&] { return !connected(); }));
    }
    // The probe's own cycles run on while the stopped stream's client hears of nothing.
    const int stopped = silence.periods.load();

    jack_status_t status{};
    jack_client_t* later = JackClients::open("quenbril-later", &status);
    ASSERT_NE(later, nullptr);
    const auto bound = std::chrono::milliseconds(static_cast<int>(scaledSeconds(10) * 1000));
    EXPECT_TRUE(JackArrivalGate::admit(later, bound))
        << "a client opened after a stream was stopped waited for that stream's news";
    EXPECT_EQ(silence.periods.load(), stopped);
    JackArrivalGate::leave(later);
    auto held = JackClients::inUse();
    jack_client_close(later);
}

// A client open but inactive still takes in the server's news of departures, unmapping slots of
// libjack's table that a client of ours opened since may use, while the arrival gate hears
// nothing from it. So a stream's client is active, and silent, from its open to its start, and a
// stopped stream keeps none: the server joins only an active client's ports.
TEST_F(JackAudioStream, AStreamKeepsNoInactiveClientOpenBeforeItsStartOrAfterItsStop) {
    std::string error;
    std::unique_ptr<AudioStream> stream = openSystemPair(error);
    ASSERT_TRUE(stream) << error;
    JackTestClient probe("probe", 0, 0);
    const auto outputs = probe.ports("quenbril.*:out_.*");
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(probe.connect(outputs[0], "system:playback_1"))
        << "the opened stream's client was not active";
    EXPECT_FALSE(stream->isActive());
    EXPECT_EQ(silence.periods.load(), 0) << "the stream played before its start";

    ASSERT_TRUE(stream->start());
    const int playing = silence.periods.load();
    EXPECT_TRUE(eventually([&] { return silence.periods.load() > playing + 10; }));
    stream->stop();
    EXPECT_TRUE(probe.ports("quenbril.*:out_.*").empty()) << "the stopped stream kept its client";
    ASSERT_TRUE(stream->start());
    EXPECT_EQ(probe.ports("quenbril.*:out_.*").size(), 2u);
    EXPECT_TRUE(eventually([&] { return !probe.connections("system:playback_2").empty(); }));
}

/// Makes the server late, period after period, until it stops telling `observer` of it: its one
/// thread that writes to clients then waits on a client that reads nothing.
void lateUntilTheServerIsStuck(const JackMidiTestClient& observer) {
    JackServer& server = JackServer::shared();
    size_t told = observer.xruns();
    for (int late = 0, untold = 0; late < 1000 && untold < 20; ++late) {
        server.signal(SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.signal(SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        untold = observer.xruns() == told ? untold + 1 : 0;
        told = observer.xruns();
    }
}

// libjack's close stops reading the server's news before it asks the server to close the
// client, and the server waits without limit to write news to a client: with the stream's
// unread news of late periods filling its socket, the server never read the close again.
TEST_F(JackAudioStream, AStreamClosesThoughItsClientLeftTheServersNewsOfLatePeriodsUnread) {
    std::string error;
    // It keeps libjack's threads of the process up, so that the stream's are the only new ones.
    JackMidiTestClient observer("observer", 0, 0);
    ASSERT_TRUE(observer.isOpen());
    const std::set<int> before = threadIds();
    // Not started: an idle client is told of late periods as well, and only its reader runs.
    std::unique_ptr<AudioStream> stream = openSystemPair(error);
    ASSERT_TRUE(stream) << error;
    std::set<int> reader;
    for (int thread : threadIds()) {
        if (!before.count(thread)) reader.insert(thread);
    }
    std::optional<HeldThreads> holder(std::in_place, reader, scaledSeconds(30));
    if (!holder->all()) GTEST_SKIP() << "libjack's threads cannot be held here";
    lateUntilTheServerIsStuck(observer);

    bool killed = false;
    std::thread closing([&] {
        killed = JackServer::shared().closeWithin(scaledSeconds(10), [&] { stream.reset(); });
    });
    // The reader goes on once the close is under way, as a late thread would.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    holder.reset();
    closing.join();
    EXPECT_FALSE(killed) << "the close waited on a server stuck on the stream's unread news";
    EXPECT_EQ(backend->openStreamCount(), 0);
}

// libjack's notification thread reports a dead server's socket before it tells the client of
// the end, and the report calls strerror(), which holds glibc's locale lock; libjack stops the
// thread with a cancel that acts at once when its client is closed. A stream stopped in that
// moment lets its client go instead of closing it: the report goes on to its end (cancelled in
// it, the thread would leave the lock taken, and the next newlocale or the exit wait for ever).
std::atomic<pthread_t> reportTester{};
std::atomic<bool> reportArmed{false};
std::atomic<bool> reportEntered{false};
std::atomic<bool> reportReleased{false};
std::atomic<bool> reportLeft{false};

void holdInReport(const char*) {
    if (!reportArmed.load() || pthread_equal(pthread_self(), reportTester.load())) return;
    if (reportEntered.exchange(true)) return;
    while (!reportReleased.load()) usleep(1000);
    reportLeft.store(true);
}
void ignoreReport(const char*) {}

TEST_F(JackAudioStream, AStreamStoppedWhileLibjackReportsItsServersEndLeavesTheReportToEnd) {
    std::string error;
    std::unique_ptr<AudioStream> stream = openSystemPair(error);
    ASSERT_TRUE(stream) << error;
    ASSERT_TRUE(stream->start());
    reportTester.store(pthread_self());
    jack_set_error_function(&holdInReport);
    reportArmed.store(true);
    JackServer::shared().kill();
    ASSERT_TRUE(eventually([] { return reportEntered.load(); }))
        << "libjack's thread did not report the server's end";
    stream->stop();
    reportReleased.store(true);
    EXPECT_TRUE(eventually([] { return reportLeft.load(); }))
        << "the stream's stop cancelled libjack's thread inside its report";
    reportArmed.store(false);
    jack_set_error_function(&ignoreReport);
    stream.reset();
    ASSERT_TRUE(JackServer::shared().start());
}

}  // namespace
}  // namespace quenbril::test
