#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/audio/FakeAudioBackend.h"
#include "platform/audio/GuardedAudioBackend.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;
using test::Gate;

constexpr double kShort = 0.05;
constexpr const char* kStuck = "the JACK library does not answer";

double patient() { return test::scaledSeconds(30); }

AudioBackendDevice outputDevice() {
    AudioBackendDevice device;
    device.name = "system";
    device.hostAPI = "JACK Audio Connection Kit";
    device.outputStreams = {2};
    device.defaultSampleRate = 48000;
    return device;
}

// A fake host whose listing, and whose streams' close, can be made to never return.
class StallingBackend : public FakeAudioBackend {
  public:
    explicit StallingBackend(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {
        addDevice(outputDevice());
    }
    std::vector<AudioBackendDevice> devices() override {
        if (stallListing) gate_->pass();
        return FakeAudioBackend::devices();
    }
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client,
                                            std::string& error) override {
        if (stallOpen) gate_->pass();
        opens.fetch_add(1);
        auto inner = FakeAudioBackend::openStream(parameters, client, error);
        if (!inner) return nullptr;
        return std::make_unique<Stalling>(std::move(inner), *this);
    }

    std::atomic<bool> stallListing{false};
    std::atomic<bool> stallClose{false};
    std::atomic<bool> stallOpen{false};
    std::atomic<int> opens{0};

  private:
    struct Stalling : AudioStream {
        Stalling(std::unique_ptr<AudioStream> inner, StallingBackend& owner)
            : inner(std::move(inner)), owner(owner) {}
        ~Stalling() override {
            if (owner.stallClose) owner.gate_->pass();
            // A host's thread may be inside a period until the close returns.
            static_cast<FakeStream*>(inner.get())->pump(64);
        }
        bool start() override { return inner->start(); }
        void stop() override { inner->stop(); }
        bool isActive() const override { return inner->isActive(); }
        bool stoppedByHost() const override { return inner->stoppedByHost(); }
        double sampleRate() const override { return inner->sampleRate(); }
        double cpuLoad() const override { return inner->cpuLoad(); }
        std::unique_ptr<AudioStream> inner;
        StallingBackend& owner;
    };
    std::shared_ptr<Gate> gate_;
};

// Makes the stalling host on the worker and tells the test which it is.
GuardedAudioBackend::Maker hostMaker(std::shared_ptr<Gate> gate,
                                     std::atomic<StallingBackend*>& host) {
    return [gate, &host]() -> std::unique_ptr<AudioBackend> {
        auto made = std::make_unique<StallingBackend>(gate);
        host = made.get();
        return made;
    };
}

struct CountingClient : AudioStreamClient {
    void process(const float* const*, float* const* outputs, int frames, bool) override {
        for (int k = 0; k < frames; ++k) outputs[0][k] = 0.5f;
        calls.fetch_add(1);
    }
    std::atomic<int> calls{0};
};

TEST(GuardedAudioBackend, AHostWhoseStartNeverReturnsReadsAsAbsentInWordsUntilItStarts) {
    auto gate = std::make_shared<Gate>();
    GuardedAudioBackend guarded(
        "Audio", kStuck,
        [gate]() -> std::unique_ptr<AudioBackend> {
            gate->pass();
            return std::make_unique<StallingBackend>(gate);
        },
        kShort);

    EXPECT_TRUE(guarded.devices().empty());
    EXPECT_EQ(guarded.defaultOutputDevice(), std::nullopt);
    EXPECT_EQ(guarded.absence(), "The JACK library does not answer");
    EXPECT_FALSE(guarded.refresh());
    CountingClient client;
    std::string error;
    EXPECT_EQ(guarded.openStream({0, 0, 2, 48000, 128}, client, error), nullptr);
    EXPECT_EQ(error, "The JACK library does not answer");

    // The late start is taken: its devices serve from then on.
    gate->open();
    guarded.setLimit(patient());
    ASSERT_TRUE(eventually([&] { return guarded.devices().size() == 1; }));
    EXPECT_EQ(guarded.absence(), "");
}

TEST(GuardedAudioBackend, AStreamWhoseCloseNeverReturnsIsLetGoAndNoLongerReachesItsClient) {
    auto gate = std::make_shared<Gate>();
    std::atomic<StallingBackend*> host{nullptr};
    GuardedAudioBackend guarded("Audio", kStuck, hostMaker(gate, host), patient());

    CountingClient client;
    std::string error;
    auto stream = guarded.openStream({0, 0, 2, 48000, 128}, client, error);
    ASSERT_NE(stream, nullptr) << error;
    ASSERT_TRUE(stream->start());
    FakeAudioBackend::FakeStream* period = host.load()->lastStream();
    period->pump(64);
    EXPECT_EQ(client.calls.load(), 1);
    EXPECT_EQ(guarded.openStreamCount(), 1);

    host.load()->stallClose = true;
    guarded.setLimit(kShort);
    stream.reset();
    EXPECT_EQ(guarded.openStreamCount(), 0);

    // The host still runs periods of the stream it was never able to close: they are silent
    // and the client, which may be gone, is not called.
    period->pump(64);
    EXPECT_EQ(client.calls.load(), 1);
    EXPECT_EQ(period->output(0, 0), 0.0f);

    // The host re-enumerates only once the stream is closed; asked on the worker, as the
    // device-lost retry does.
    gate->open();
    guarded.setLimit(patient());
    ASSERT_TRUE(eventually([&] { return guarded.refresh(); }));
}

// A started stream on a host whose listing another caller can hold on the worker.
class GuardedAudioStream : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        stream = guarded.openStream({0, 0, 2, 48000, 128}, client, error);
        ASSERT_NE(stream, nullptr) << error;
        ASSERT_TRUE(stream->start());
    }
    void TearDown() override {
        if (lister.joinable()) letTheListingGo();
    }
    /// Another caller's listing overruns and holds the worker: the worker reads as stuck.
    void holdTheWorkerWithAListing() {
        host.load()->stallListing = true;
        lister = std::thread([&] { EXPECT_EQ(guarded.devices().size(), 1u); });
        ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
        guarded.setLimit(kShort);
    }
    void letTheListingGo() {
        gate->open();
        lister.join();
        guarded.setLimit(patient());
    }

    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<StallingBackend*> host{nullptr};
    GuardedAudioBackend guarded{"Audio", kStuck, hostMaker(gate, host), patient()};
    CountingClient client;
    std::unique_ptr<AudioStream> stream;
    std::thread lister;
};

TEST_F(GuardedAudioStream, LetGoWhileTheHostIsStuckItIsClosedOnceItAnswersBeforeItsRelayGoes) {
    // The stream's state is not known, so it keeps the one the host last gave (nothing drops a
    // stream that plays on that), and its close waits behind the listing while its caller goes
    // on.
    ASSERT_NO_FATAL_FAILURE(holdTheWorkerWithAListing());
    EXPECT_FALSE(stream->stoppedByHost());
    EXPECT_TRUE(stream->isActive());
    stream.reset();
    EXPECT_EQ(host.load()->openStreamCount(), 1);

    // The close still runs, its last period reaching a relay that is still there; the host
    // re-enumerates, as the device-lost retry asks, only once it is closed.
    letTheListingGo();
    ASSERT_TRUE(eventually([&] { return guarded.refresh(); }));
    EXPECT_EQ(client.calls.load(), 0);
}

TEST_F(GuardedAudioStream, ItKeepsItsLastStateOnlyUntilTheHostAnswersAgain) {
    // The host ends the stream while another caller's listing holds the worker: not known yet.
    ASSERT_NO_FATAL_FAILURE(holdTheWorkerWithAListing());
    host.load()->lastStream()->lose();
    EXPECT_TRUE(stream->isActive());
    EXPECT_FALSE(stream->stoppedByHost());

    // The first answer after it replaces the last one.
    letTheListingGo();
    ASSERT_TRUE(eventually([&] { return stream->stoppedByHost(); }));
    EXPECT_FALSE(stream->isActive());
}

TEST_F(GuardedAudioStream, AStopAskedWhileTheHostIsStuckIsDoneOnceItAnswers) {
    FakeAudioBackend::FakeStream* period = host.load()->lastStream();
    ASSERT_NO_FATAL_FAILURE(holdTheWorkerWithAListing());
    // Reaches the worker after the listing's limit: the worker reads as stuck from then on.
    EXPECT_TRUE(guarded.devices().empty());
    stream->stop();
    EXPECT_FALSE(stream->isActive());

    // Once the host answers, the stream the unit stopped does not play on.
    letTheListingGo();
    ASSERT_TRUE(eventually([&] { return guarded.devices().size() == 1; }));
    EXPECT_FALSE(stream->isActive());
    period->pump(64);
    EXPECT_EQ(client.calls.load(), 0);
}

TEST(GuardedAudioBackend, AStreamThatOpensAfterItsCallerGaveUpIsClosedOnTheWorker) {
    auto gate = std::make_shared<Gate>();
    std::atomic<StallingBackend*> host{nullptr};
    GuardedAudioBackend guarded("Audio", kStuck, hostMaker(gate, host), patient());
    ASSERT_EQ(guarded.devices().size(), 1u);

    host.load()->stallOpen = true;
    guarded.setLimit(kShort);
    CountingClient client;
    std::string error;
    EXPECT_EQ(guarded.openStream({0, 0, 2, 48000, 128}, client, error), nullptr);
    EXPECT_EQ(error, "The JACK library does not answer");

    gate->open();
    ASSERT_TRUE(eventually([&] { return host.load()->opens.load() == 1; }));
    guarded.setLimit(patient());
    ASSERT_TRUE(eventually([&] { return guarded.refresh(); }));
    auto stream = guarded.openStream({0, 0, 2, 48000, 128}, client, error);
    EXPECT_NE(stream, nullptr) << error;
}

TEST(GuardedAudioBackend, ABackendWhoseWorkerIsStuckWhenItIsMadeListsDevicesOnceItAnswers) {
    auto worker = std::make_shared<BoundedWorker>("JACK", kStuck, kShort);
    auto gate = std::make_shared<Gate>();
    // Another user of the library holds the worker.
    worker->post([gate] { gate->pass(); });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    std::atomic<StallingBackend*> host{nullptr};
    GuardedAudioBackend guarded(worker, hostMaker(gate, host));
    EXPECT_TRUE(guarded.devices().empty());
    EXPECT_EQ(guarded.absence(), "The JACK library does not answer");

    gate->open();
    guarded.setLimit(patient());
    ASSERT_TRUE(eventually([&] { return guarded.devices().size() == 1; }));
    EXPECT_EQ(guarded.absence(), "");
}

}  // namespace
}  // namespace quenbril
