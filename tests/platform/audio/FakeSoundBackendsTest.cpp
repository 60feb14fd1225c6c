#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {
namespace {

struct SilentClient : AudioStreamClient {
    void process(const float* const*, float* const*, int, bool) override { ++periods; }
    int periods = 0;
};

// The connection dialog has the host look again from a thread of its own while the remote opens
// and closes its streams on the main thread.
TEST(FakeAudioBackendWithAbsence, IsRefreshedFromAnotherThreadWhileStreamsOpenAndClose) {
    FakeAudioBackendWithAbsence host;
    host.changeDevices([](FakeAudioBackend& devices) { devices.addDevice("Phones", 0, 2); });
    std::atomic<bool> done{false};
    std::thread look([&] {
        while (!done.load()) host.refresh();
    });
    SilentClient client;
    std::string error;
    int opened = 0;
    for (int k = 0; k < 200; ++k) {
        if (host.openStream({0, 0, 2, 48000, 128}, client, error)) ++opened;
    }
    done = true;
    look.join();
    EXPECT_EQ(opened, 200) << error;
    EXPECT_EQ(host.openStreamCount(), 0);
    EXPECT_TRUE(host.refresh());
}

// A host started afresh looks at its first question, as a real host looks as it starts: the
// count its list was looked for at is the count then, whatever the host before it left unlooked.
TEST(FakeAudioBackend, AHostStartedAfreshCountsItsFirstLookAsLookedAt) {
    FakeAudioBackend host;
    host.addDevice("Builtin", 0, 2);
    ASSERT_FALSE(host.devices().empty());
    host.addDevice("USB", 0, 2);
    ASSERT_NE(host.lookedAtChanges(), host.deviceChanges());

    host.startAfresh();
    host.addDevice("Phones", 0, 2);
    ASSERT_EQ(host.devices().size(), 1u);
    EXPECT_EQ(host.lookedAtChanges(), host.deviceChanges());
}

// A card pulled out ends the streams on it at once, for good, as on every real host: they run
// no period and do not start again, even with the card back. A stream on a card that stays plays
// on, and that card moves down to the pulled one's index, its default standing.
TEST(FakeAudioBackend, APulledCardEndsItsOwnStreamsForGoodAndNoOther) {
    FakeAudioBackend host;
    host.addDevice("USB", 2, 2);
    host.setDefaultOutputDevice(host.addDevice("Builtin", 0, 2));
    SilentClient onUSB;
    SilentClient onBuiltin;
    std::string error;
    auto usb = host.openStream({0, 2, 2, 48000, 128}, onUSB, error);
    auto builtin = host.openStream({1, 0, 2, 48000, 128}, onBuiltin, error);
    ASSERT_TRUE(usb && builtin) << error;
    ASSERT_TRUE(usb->start() && builtin->start());

    host.removeDevice("USB");
    EXPECT_TRUE(usb->stoppedByHost());
    EXPECT_FALSE(usb->isActive());
    host.addDevice("USB", 2, 2);
    EXPECT_FALSE(usb->start());
    static_cast<FakeAudioBackend::FakeStream&>(*usb).pump(16);
    EXPECT_EQ(onUSB.periods, 0);
    EXPECT_TRUE(builtin->isActive());
    EXPECT_FALSE(builtin->stoppedByHost());
    static_cast<FakeAudioBackend::FakeStream&>(*builtin).pump(16);
    EXPECT_EQ(onBuiltin.periods, 1);

    usb.reset();
    builtin.reset();
    ASSERT_TRUE(host.refresh());
    const auto devices = host.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "Builtin");
    EXPECT_EQ(devices[0].index, 0);
    EXPECT_EQ(host.defaultOutputDevice(), 0);
}

}  // namespace
}  // namespace quenbril::test
