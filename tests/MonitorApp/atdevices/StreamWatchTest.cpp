#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "foundation/BoundedWorker.h"
#include "platform/audio/GuardedAudioBackend.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

class Silence : public ATOutputDataSource {
  public:
    int output(ATOutput&, std::span<float* const>, int) override { return 0; }
};

class StreamWatchTest : public FakeDeviceFixture {
  protected:
    Silence source_;
};

// The server role's capture and output on one device of a sound server that is killed and
// started again: both come back, whichever reopens first, with a default standing in for the
// server's device meanwhile and left again once the server lists it.
TEST_F(StreamWatchTest, CaptureAndOutputOfOneDeviceBothComeBack) {
    const int duplex = addDevice("system", 8, 8);
    backend_.setDefaultInputDevice(duplex);
    backend_.setDefaultOutputDevice(duplex);
    ATMicrophone microphone;
    ATOutput output(&source_, 48000.0);
    microphone.startFetchingAudio();
    output.startPlayback();
    ASSERT_EQ(backend_.openStreamCount(), 2);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // Ended by the host while the device stays listed: each unit reopens on its own.
        backend_.lastStream()->lose();
        loop_->advance(1.0);
        if (backend_.lastStream()) backend_.lastStream()->lose();
        loop_->advance(10.0);
        ASSERT_EQ(backend_.openStreamCount(), 2);
        EXPECT_TRUE(output.isPlaying());
    }

    // The server gone for a while, an ALSA-like default present: it stands in for both.
    testing::internal::CaptureStderr();
    backend_.removeAllDevices();
    const int builtin = addDevice("Builtin", 8, 2);
    backend_.setDefaultInputDevice(builtin);
    backend_.setDefaultOutputDevice(builtin);
    loop_->advance(10.0);
    ASSERT_EQ(backend_.openStreamCount(), 2);
    EXPECT_EQ(output.device()->UID(), "Fake:Builtin");
    EXPECT_EQ(microphone.device()->UID(), "Fake:Builtin");

    addDevice("system", 8, 8);
    loop_->advance(4.0);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(backend_.openStreamCount(), 2) << log;
    EXPECT_EQ(output.device()->UID(), "Fake:system") << log;
    EXPECT_EQ(microphone.device()->UID(), "Fake:system") << log;
    EXPECT_NE(log.find("Audio input: back on system"), std::string::npos) << log;
    EXPECT_NE(log.find("Audio output: back on system"), std::string::npos) << log;
}

// A JACK MIDI open that libjack does not answer holds the worker sound shares: the output's
// watch cannot learn whether its stream still plays, and drops nothing on that.
TEST_F(StreamWatchTest, AStreamIsNotDroppedWhileTheWorkerCannotAnswer) {
    auto worker = std::make_shared<BoundedWorker>("JACK", "the JACK library does not answer",
                                                  scaledSeconds(30));
    GuardedAudioBackend guarded(worker, [] {
        auto made = std::make_unique<FakeAudioBackend>();
        made->setDefaultOutputDevice(made->addDevice("system", 0, 2));
        return made;
    });
    ATOutput output(&source_, 48000.0, guarded);
    output.startPlayback();
    ASSERT_TRUE(output.isPlaying());

    auto stuck = std::make_shared<Gate>();
    worker->post([stuck] { stuck->pass(); });
    ASSERT_TRUE(eventually([&] { return stuck->waiting() == 1; }));
    worker->setLimit(0.3);
    testing::internal::CaptureStderr();
    loop_->advance(30.0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(guarded.openStreamCount(), 1) << log;
    EXPECT_EQ(log.find("went away"), std::string::npos) << log;

    stuck->open();
    worker->setLimit(scaledSeconds(30));
    loop_->advance(3.0);
    EXPECT_TRUE(output.isPlaying());
    EXPECT_EQ(guarded.openStreamCount(), 1);
}

}  // namespace
}  // namespace quenbril::test
