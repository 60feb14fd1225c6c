// The JACK MIDI input of our own, which replaced RtMidi's: RtMidi took an input's port away from
// its still active client, while libjack's notification thread may walk that client's port list
// without a lock (on every latency notification: a graph change anywhere, or another program
// asking the server to recompute latencies), and the process crashed in libjack's thread.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/midi/RtMidiBackend.h"
#include "tests/support/Eventually.h"
#include "tests/support/JackMidiTestClient.h"
#include "tests/support/JackServer.h"

namespace quenbril::test {
namespace {

// A pad's output on a running server, and a JACK backend that has seen the server.
class MidiJackInput : public ::testing::Test {
  protected:
    void SetUp() override {
        QUENBRIL_REQUIRE_JACK();
        if (!JackServer::shared().running()) {
            ASSERT_TRUE(JackServer::shared().start());
        }
        pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
        ASSERT_TRUE(pad->isOpen());
        source = {pad->name(), "out_1", MidiPortInfo::Direction::Input};
        ASSERT_TRUE(eventually([&] { return backend.listPorts().has_value(); }));
    }

    std::unique_ptr<JackMidiTestClient> pad;
    MidiPortInfo source;
    RtMidiBackend backend{MidiBackend::Api::Jack};
};

// The input hands on what RtMidi's did: SysEx, time code, clock and active sensing stay out.
TEST_F(MidiJackInput, OnlyTheMessagesTheStripsUseArrive) {
    std::mutex lock;
    std::vector<std::vector<uint8_t>> received;
    ASSERT_TRUE(backend.openInput(source, [&](const uint8_t* bytes, size_t length) {
        std::lock_guard held(lock);
        received.emplace_back(bytes, bytes + length);
    }));
    const auto arrived = [&](const std::vector<uint8_t>& message) {
        std::lock_guard held(lock);
        return std::find(received.begin(), received.end(), message) != received.end();
    };
    // Sent until the first note arrives: the connection may come a period after the opening.
    ASSERT_TRUE(eventually([&] {
        pad->send(0, {0x90, 60, 100});
        return arrived({0x90, 60, 100});
    }));
    for (const std::vector<uint8_t>& left : std::vector<std::vector<uint8_t>>{
             {0xF0, 0x7E, 0xF7}, {0xF0, 0x7E}, {0x7F, 0xF7}, {0xF1, 0x10}, {0xF8}, {0xFE}}) {
        ASSERT_TRUE(pad->send(0, left));
    }
    ASSERT_TRUE(pad->send(0, {0xB0, 7, 64}));
    ASSERT_TRUE(eventually([&] { return arrived({0xB0, 7, 64}); }));
    std::lock_guard held(lock);
    for (const auto& message : received) {
        EXPECT_TRUE(message[0] == 0x90 || message[0] == 0xB0) << int{message[0]};
    }
    backend.closeInput(source);
}

// libjack's threads report a dead server's socket, with strerror(), which holds glibc's locale
// lock, before they tell their clients of the end; closing a client cancels its threads at once.
// An input closed while its server no longer answers, before the backend heard of the end, lets
// its client go instead: every report goes on to its end (a thread cancelled in one would leave
// the lock taken, and the next newlocale, or the process's exit, would wait for ever).
std::atomic<pthread_t> reportTester{};
std::atomic<bool> reportsHeld{false};
std::atomic<int> reportsEntered{0};
std::atomic<int> reportsLeft{0};

void holdReport(const char*) {
    if (!reportsHeld.load() || pthread_equal(pthread_self(), reportTester.load())) return;
    reportsEntered.fetch_add(1);
    while (reportsHeld.load()) usleep(1000);
    reportsLeft.fetch_add(1);
}
void ignoreReport(const char*) {}

TEST_F(MidiJackInput, AnInputClosedWhileLibjackReportsItsServersEndLeavesTheReportsToEnd) {
    std::atomic<int> received{0};
    ASSERT_TRUE(backend.openInput(source, [&](const uint8_t*, size_t) { received.fetch_add(1); }));
    ASSERT_TRUE(eventually([&] {
        pad->send(0, {0x90, 60, 100});
        return received.load() > 0;
    }));

    reportTester.store(pthread_self());
    jack_set_error_function(&holdReport);
    reportsHeld.store(true);
    JackServer::shared().kill();
    // The pad's, the backend's watch's and the input's threads each report the dead socket.
    ASSERT_TRUE(eventually([] { return reportsEntered.load() >= 3; }))
        << reportsEntered.load() << " of libjack's threads reported the server's end";
    backend.closeInput(source);
    reportsHeld.store(false);
    EXPECT_TRUE(eventually([] { return reportsLeft.load() == reportsEntered.load(); }))
        << reportsEntered.load() - reportsLeft.load()
        << " of libjack's threads were cancelled inside their reports";
    jack_set_error_function(&ignoreReport);
    ASSERT_TRUE(eventually([&] { return pad->serverGone(); }));
    EXPECT_TRUE(eventually([&] { return !backend.listPorts().has_value(); }));
    pad.reset();
    ASSERT_TRUE(JackServer::shared().start());
}

}  // namespace
}  // namespace quenbril::test
