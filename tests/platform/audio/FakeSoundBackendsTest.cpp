#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {
namespace {

struct SilentClient : AudioStreamClient {
    void process(const float* const*, float* const*, int, bool) override {}
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

}  // namespace
}  // namespace quenbril::test
