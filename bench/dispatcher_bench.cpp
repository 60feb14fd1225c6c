// Cost of the server-message dispatcher on a remote with 128 strips: one "LevelData" from its
// frame body to the two history columns, and one "ChannelWarnings" of 128 pairs with the
// warning pass it queues.

#include <cstdio>
#include <string>
#include <vector>

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "bench/BenchSupport.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "tests/MonitorApp/dispatch/RecordingDispatcherWindow.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 128;

/// A strip view that only keeps what the warning pass sets.
class QuietStripView : public ChannelStripView {
  public:
    void updateAppearance(const ChannelStripState&) override {}
    void redraw() override {}
    void setChannelState(int32_t code) override { warning_ = code; }
    void setBatteryPower(int32_t) override {}
    void setBatteryString(const std::string&) override {}
    bool timeAdded() const override { return false; }
    void setAntennaData(const std::string&) override {}
    void setTimecode(const SMPTETimecode&) override {}
    void setTimecodeNotFound(int32_t) override {}
    void setPendingQuality(int32_t q) override { pending_ = q; }
    int32_t pendingQuality() const override { return pending_; }
    void setQuality(int32_t) override {}
    void setTitle(const std::string&) override {}
    std::string getTitle() const override { return {}; }
    void setInputChannel(int32_t) override {}
    void setAlternativeInputText(const std::string&) override {}
    void setImage(const Bytes*) override {}
    void setChannelColor(const std::optional<Color>&) override {}
    void removeWireless() override {}
    std::string tcParamText() const override { return {}; }
    void setTcParamText(const std::string&) override {}
    std::string batText() const override { return {}; }

  private:
    int32_t warning_ = 0;
    int32_t pending_ = 0;
};

Bytes body(const Dictionary& message) { return *LinkCodec::encodeBody(message); }

}  // namespace

int main() {
    setLogLevel(LogLevel::Warning);
    bench::TemporarySettingsFolder settingsFolder("dispatcher-bench");
    if (!settingsFolder.ok()) return 1;
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    UserSettingsManager::sharedInstance().setActAsClient(true);
    ChannelStripController::setViewFactory([] { return std::make_unique<QuietStripView>(); });

    Array strips;
    for (int i = 0; i < kStrips; ++i) {
        strips.push_back(Dictionary{{"name", "Channel " + std::to_string(i + 1)},
                                    {"panel", i % 2 ? "B" : "A"},
                                    {"audioInput", i},
                                    {"channelEnabled", true},
                                    {"scpEnabled", true},
                                    {"rfWarnEnabled", true},
                                    {"csID", int64_t{1000003} * (i + 1)}});
    }
    {
        const FixedShortTimeClock clock;
        RecordingDispatcherWindow window;
        ServerMessageDispatcher dispatcher(sharedRemoteContext(clock), window);
        dispatcher.messageReceivedFromServer(
            Dictionary{{"Command", "Channels"}, {"Value", strips}});

        Bytes levels(kStrips);
        for (int i = 0; i < kStrips; ++i) levels[i] = static_cast<uint8_t>((i * 37) % 111);
        const Bytes levelBody = body(Dictionary{{"Command", "LevelData"}, {"Value", levels}});
        Array pairs;
        for (int i = 0; i < kStrips; ++i) {
            pairs.emplace_back(int64_t{1000003} * (i + 1));
            pairs.emplace_back(i % 4);
        }
        const Bytes warningsBody =
            body(Dictionary{{"Command", "ChannelWarnings"}, {"Value", pairs}});

        auto dispatchBody = [&](const Bytes& b) {
            dispatcher.messageReceivedFromServer(Value(*LinkCodec::decodeBody(b)));
        };
        const double level =
            bench::microsecondsPerCall([&] { dispatchBody(levelBody); }, bench::shortOr(2000, 20));
        const double levelOnly = bench::microsecondsPerCall(
            [&, message = Value(*LinkCodec::decodeBody(levelBody))] {
                dispatcher.messageReceivedFromServer(message);
            },
            bench::shortOr(20000, 200));
        const double warnings = bench::microsecondsPerCall(
            [&] {
                dispatchBody(warningsBody);
                loop.runPending();
            },
            bench::shortOr(500, 10));

        std::printf("LevelData, 128 strips, decode + dispatch:        %8.2f us (target <= 50)\n",
                    level);
        std::printf("LevelData, 128 strips, dispatch of a decoded one: %7.2f us\n", levelOnly);
        std::printf(
            "ChannelWarnings, 128 pairs, decode + dispatch + warning pass: %8.2f us "
            "(target <= 1000)\n",
            warnings);
    }
    ChannelStripManager::resetSharedInstance();
    PELAudioEngine::resetSharedInstance();
    UserSettingsManager::resetSharedInstance();
    RunLoop::setMain(nullptr);
    return 0;
}
