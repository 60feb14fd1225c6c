// Feeds arbitrary frame bodies to the remote's server-message dispatcher: each input is decoded
// with the link codec, as the link decodes a frame body, and the message goes to the dispatcher
// over the real strip model and the engine's rings, with a recording window. A value of the
// wrong kind may drop the message (as the link's guard does); nothing may crash, and the strip
// list must stay within its bound.
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
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
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
    // The window's records would grow with every run.
    setup.window = RecordingDispatcherWindow{};
    return 0;
}
