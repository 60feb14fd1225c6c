// A JACK output stream whose server went away is let go without closing its client: libjack's
// thread may still tell it of the server's end afterwards, which must reach nothing freed.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "platform/audio/JackAudioBackend.h"
#include "tests/support/JackDeathBehindThreads.h"
#include "tests/support/JackServer.h"
#include "tests/support/ThreadCount.h"

namespace quenbril::test {
namespace {

class Silence : public AudioStreamClient {
  public:
    void process(const float* const*, float* const* outputs, int frames, bool) override {
        std::fill(outputs[0], outputs[0] + frames, 0.0f);
        std::fill(outputs[1], outputs[1] + frames, 0.0f);
    }
};

// The server dies and another open of the process marks the stream's client gone before
// libjack's thread has told the stream; the stream is let go, and only then is the thread let on
// (AddressSanitizer reports a write into the freed stream otherwise).
TEST(JackAudioStream, TheServersEndToldAfterTheStreamWasLetGoReachesNothingFreed) {
    QUENBRIL_REQUIRE_JACK();
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer puts off a signal that comes inside libjack's calls";
#endif
    if (!JackServer::shared().running()) {
        ASSERT_TRUE(JackServer::shared().start());
    }
    JackAudioBackend backend;
    const auto devices = backend.devices();
    const auto system = std::find_if(devices.begin(), devices.end(),
                                     [](const auto& d) { return d.name == "system"; });
    ASSERT_NE(system, devices.end());
    AudioStreamParameters p;
    p.device = system->index;
    p.outputChannels = 2;
    Silence silence;
    std::string error;
    const std::set<int> before = threadIds();
    std::unique_ptr<AudioStream> stream = backend.openStream(p, silence, error);
    ASSERT_TRUE(stream) << error;
    const bool held = serverDiesBehindThreadsStartedSince(before, [&] {
        EXPECT_TRUE(stream->stoppedByHost());
        stream.reset();
        EXPECT_EQ(backend.openStreamCount(), 0);
    });
    if (!held) GTEST_SKIP() << "libjack's threads cannot be held here";
    ASSERT_TRUE(JackServer::shared().start());
}

}  // namespace
}  // namespace quenbril::test
