// Feeds arbitrary frame bodies to the remote's server-message dispatcher: each input is decoded
// with the link codec, as the link decodes a frame body, and the message goes to the dispatcher
// over the real strip model and the engine's rings, with a recording window. A value of the
// wrong kind may drop the message (as the link's guard does); nothing may crash, and the strip
// list, the stored group colours and the player list must stay within their bounds.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "fuzz/StripFuzzSetup.h"
#include "tests/MonitorApp/dispatch/RecordingDispatcherWindow.h"

using namespace quenbril;

namespace {

struct Setup : StripFuzzSetup {
    Setup() : StripFuzzSetup("dispatcher") {
        UserSettingsManager::sharedInstance().setActAsClient(true);
        dispatcher = std::make_unique<ServerMessageDispatcher>(sharedRemoteContext(clock), window);
        // As the main window does, chat messages the dispatcher posts come back to it.
        chatObserver = NotificationCenter::defaultCenter().addObserver(
            ChatNotification::kChatMessageFromServer,
            [this](const Notification& n) { dispatcher->chatMessageFromServer(n.userInfo); });
    }
    FixedShortTimeClock clock;
    RecordingDispatcherWindow window;
    std::unique_ptr<ServerMessageDispatcher> dispatcher;
    NotificationObserver chatObserver;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    std::optional<Dictionary> message = LinkCodec::decodeBody(data, size);
    if (!message) return 0;
    try {
        setup.dispatcher->messageReceivedFromServer(Value(std::move(*message)));
    } catch (const LinkTypeError&) {
        // The link drops such a message; what ran before the throw stays.
    }
    setup.loop.runPending();
    if (ChannelStripManager::sharedInstance().controllers().size() >
        static_cast<size_t>(kMaxStrips)) {
        std::abort();
    }
    // What a server sends that is kept for good, or for the run, stays within its bounds.
    auto colours = UserDefaults::standardUserDefaults().arrayForKey(ColorHelper::kGroupColorsKey);
    if (colours && colours->size() > ColorHelper::kMaxGroupColors) std::abort();
    const PlayerManager& players = ChannelStripManager::sharedInstance().services().players;
    if (players.players().size() > PlayerManager::kMaxPlayers) {
        std::abort();
    }
    // The window's records would grow with every run.
    setup.window = RecordingDispatcherWindow{};
    return 0;
}
