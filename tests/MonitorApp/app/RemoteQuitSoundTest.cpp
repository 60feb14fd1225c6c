// The remote's end closes its audio output: the shared engine and the user settings its output
// callback reads go only in static destruction, in an order nobody chose, so no device thread may
// still call it by then.

#include <memory>

#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::test {
namespace {

class RemoteQuitSoundTest : public StripTest {
  protected:
    // Outlives TearDown(), which drops the engine.
    FakeSoundBackends sound;
};

TEST_F(RemoteQuitSoundTest, TheRemotesEndClosesTheOutputBeforeTheSharedObjectsGo) {
    FakeAudioBackend& audio = FakeSoundBackends::audio();
    audio.setDefaultOutputDevice(audio.addDevice("Out", 0, 2));
    settings().setActAsClient(true);

    auto composition = std::make_unique<RemoteComposition>();
    // As confirming the connection dialog does.
    PELAudioEngine::sharedInstance().startClient();
    ASSERT_EQ(audio.openStreamCount(), 1);
    FakeAudioBackend::FakeStream& stream = *audio.lastStream();
    ASSERT_TRUE(stream.running);
    stream.pump(128);
    EXPECT_EQ(stream.output(0, 0), 0.0f) << "the engine played the period";

    composition.reset();
    EXPECT_EQ(audio.openStreamCount(), 0) << "a device thread could still call the engine";
    // Nothing opens it again: no window is left to start the engine, nor a watch to retry.
    loop_->advance(5.0);
    EXPECT_EQ(audio.openStreamCount(), 0);
}

}  // namespace
}  // namespace quenbril::test
