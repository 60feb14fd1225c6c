// The dispatcher's routing, and the handlers of the frames, the snapshots, the settings and the
// session (the strips' data and the chat have files of their own).

#include "MonitorApp/dispatch/ServerMessageDispatcher.h"

#include <array>
#include <unordered_map>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

using Reader = LinkMessageReader;
namespace Cmd = LinkCommand;

constexpr const char* kSnapshotsUpdatedNotification = "SnapshotsUpdated";

/// The command's place in the server-to-remote table, or none.
std::optional<size_t> commandIndex(const std::string& command) {
    static const std::unordered_map<std::string_view, size_t> table = [] {
        std::unordered_map<std::string_view, size_t> t;
        for (size_t i = 0; i < Cmd::kServerToRemote.size(); ++i) t[Cmd::kServerToRemote[i]] = i;
        return t;
    }();
    auto found = table.find(command);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

}  // namespace

/// The handler of every command, in the order of the server-to-remote command table.
struct ServerMessageDispatcher::Routes {
    struct Route {
        std::string_view command;
        Handler handler;
    };
    using D = ServerMessageDispatcher;
    static constexpr std::array<Route, Cmd::kServerToRemote.size()> kTable{{
        {Cmd::kClientNames, &D::handleClientNames},
        {Cmd::kChatRemoveMessage, &D::handleChatRemoveMessage},
        {Cmd::kChatClients, &D::handleChatClients},
        {Cmd::kBatteryThreshold, &D::handleBatteryThreshold},
        {Cmd::kMarkerAdded, &D::handleMarkerAdded},
        {Cmd::kChatMessageHistory, &D::handleChatMessageHistory},
        {Cmd::kStreamData, &D::handleStreamData},
        {Cmd::kGroupColors, &D::handleGroupColors},
        {Cmd::kChatColors, &D::handleChatColors},
        {Cmd::kChatMessageFromServer, &D::handleChatMessageFromServer},
        {Cmd::kSCPOnChannel, &D::handleSCPOnChannel},
        {Cmd::kChannelWarnings, &D::handleChannelWarnings},
        {Cmd::kBatteryData, &D::handleBatteryData},
        {Cmd::kBatteryTimeData, &D::handleBatteryTimeData},
        {Cmd::kAntennaData, &D::handleAntennaData},
        {Cmd::kActiveChannels, &D::handleActiveChannels},
        {Cmd::kSoloedChannels, &D::handleSoloedChannels},
        {Cmd::kAutoSoloedChannels, &D::handleAutoSoloedChannels},
        {Cmd::kLTCSample, &D::handleLTCSample},
        {Cmd::kNotebookEntries, &D::handleNotebookEntries},
        {Cmd::kGroupStates, &D::handleGroupStates},
        {Cmd::kClientsEnabled, &D::handleClientsEnabled},
        {Cmd::kChannels, &D::handleChannels},
        {Cmd::kWirelessInfo, &D::handleWirelessInfo},
        {Cmd::kMicCheckState, &D::handleMicCheckState},
        {Cmd::kMicCheckArray, &D::handleMicCheckArray},
        {Cmd::kHardMuteArray, &D::handleHardMuteArray},
        {Cmd::kReceiverMuteArray, &D::handleReceiverMuteArray},
        {Cmd::kSnapshot, &D::handleSnapshot},
        {Cmd::kSnapshotNames, &D::handleSnapshotNames},
        {Cmd::kMasterVersion, &D::handleMasterVersion},
        {Cmd::kInitialDataReady, &D::handleInitialDataReady},
        {Cmd::kLevelData, &D::handleLevelData},
        {Cmd::kRfLevelData, &D::handleHistoryFrame<&PELAudioEngine::rfLevelRingBuffer>},
        {Cmd::kRfLevelDataA, &D::handleHistoryFrame<&PELAudioEngine::rfALevelRingBuffer>},
        {Cmd::kRfLevelDataB, &D::handleHistoryFrame<&PELAudioEngine::rfBLevelRingBuffer>},
        {Cmd::kRfLevelDataC, &D::handleHistoryFrame<&PELAudioEngine::rfCLevelRingBuffer>},
        {Cmd::kRfLevelDataD, &D::handleHistoryFrame<&PELAudioEngine::rfDLevelRingBuffer>},
        {Cmd::kRfLevelDataDiv, &D::handleHistoryFrame<&PELAudioEngine::rfDivLevelRingBuffer>},
        {Cmd::kQLData, &D::handleHistoryFrame<&PELAudioEngine::qlRingBuffer>},
        {Cmd::kQualityLevelData, &D::handleQualityLevelData},
        {Cmd::kNewPlayer, &D::handleNewPlayer},
        {Cmd::kOpenedEditing, &D::handleOpenedEditing},
        {Cmd::kClosedEditing, &D::handleClosedEditing},
        {Cmd::kLTC, &D::handleLTC},
    }};

    static constexpr bool followsTheCommandTable() {
        for (size_t i = 0; i < kTable.size(); ++i) {
            if (kTable[i].command != Cmd::kServerToRemote[i]) return false;
        }
        return true;
    }
};

ServerMessageDispatcher::ServerMessageDispatcher(const RemoteContext& context,
                                                 DispatcherWindow& window)
    : context_(context),
      window_(window),
      clientNames_(std::vector<std::string>{"Client 1", "Client 2", "Client 3", "Client 4"}) {}

void ServerMessageDispatcher::messageReceivedFromServer(const Value& value) {
    static_assert(Routes::followsTheCommandTable(), "one handler per command, in table order");
    const Dictionary* message = value.dictionaryValue();
    if (!message) {
        throw LinkTypeError(std::string("a message that is ") + Value::kindName(value.kind()));
    }
    const std::optional<std::string> command = Reader::command(*message).get();
    if (!command) return;
    const std::optional<size_t> index = commandIndex(*command);
    if (!index) return;
    // Commands past the chat's are the remote role's.
    if (*index >= Cmd::kBothRolesCount && !context_.settings.actAsClient()) return;
    (this->*Routes::kTable[*index].handler)(*message);
}

int32_t ServerMessageDispatcher::positionOf(int64_t csID) const {
    const ChannelStripController* controller = context_.strips.controllerWithCSID(csID);
    const auto& controllers = context_.strips.controllers();
    for (size_t i = 0; controller && i < controllers.size(); ++i) {
        if (controllers[i].get() == controller) return static_cast<int32_t>(i);
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Settings and session

void ServerMessageDispatcher::handleClientNames(const Dictionary& message) {
    clientNames_ = Reader::clientNames(message).get();
    if (clientNames_) window_.setDialogClientNames(*clientNames_);
}

void ServerMessageDispatcher::handleBatteryThreshold(const Dictionary& message) {
    if (auto threshold = Reader::int32(message).get()) {
        context_.settings.setBatThreshold(*threshold);
    }
}

void ServerMessageDispatcher::handleGroupColors(const Dictionary& message) {
    auto colors = Reader::propertyList(message).get();
    if (!colors) return;
    // Stored for good and read at every start: only a well-formed, bounded table goes in.
    if (auto table = ColorHelper::groupColorTable(*colors)) {
        context_.defaults.setObject(Value(std::move(*table)), ColorHelper::kGroupColorsKey);
    } else {
        log(LogLevel::Warning, "GroupColors: not an array of at most %zu colours, dropped",
            ColorHelper::kMaxGroupColors);
    }
}

void ServerMessageDispatcher::handleClientsEnabled(const Dictionary& message) {
    if (auto enabled = Reader::boolean(message).get()) {
        context_.settings.setClientsEnabled(*enabled);
        QLOG(*enabled ? "Clients ENABLED" : "Clients DISABLED");
    }
}

void ServerMessageDispatcher::handleMasterVersion(const Dictionary& message) {
    if (auto version = Reader::float32(message).get()) {
        context_.settings.setMasterVersion(*version);
        QLOG("Received master version %f", static_cast<double>(*version));
    }
}

void ServerMessageDispatcher::handleInitialDataReady(const Dictionary& message) {
    auto ready = Reader::boolean(message).get();
    if (ready && *ready) {
        context_.notifications.post(ChatNotification::kChatServerIsHere);
        const float version = context_.settings.masterVersion();
        if (DispatchRules::registersToChat(version)) {
            window_.registerToChat();
        } else {
            window_.presentAlert(DispatchRules::updateAlertText(version),
                                 DispatchRules::kUpdateAlertTopic);
        }
    }
    context_.strips.setKeyboardFocus();
}

void ServerMessageDispatcher::handleOpenedEditing(const Dictionary& /*message*/) {
    window_.setStatusRight("Server editing channels!", true);
}

void ServerMessageDispatcher::handleClosedEditing(const Dictionary& /*message*/) {
    window_.setStatusRight(DispatchRules::connectedStatusText(
                               context_.defaults.stringForKey(ClientDefaultsKeys::kClientName)),
                           false);
}

void ServerMessageDispatcher::handleNotebookEntries(const Dictionary& message) {
    if (auto entries = Reader::array(message, LinkKey::kValues).get()) {
        context_.notebook.refreshFromArray(**entries);
    }
}

// ---------------------------------------------------------------------------------------------
// Snapshots

void ServerMessageDispatcher::handleSnapshot(const Dictionary& message) {
    auto dictionary = Reader::dictionary(message).get();
    if (!dictionary) return;
    Snapshot snapshot = SnapshotManager::snapshotFromDictionary(**dictionary);
    context_.strips.applySnapshot(snapshot);
    SnapshotManager& snapshots = context_.snapshots;
    snapshots.setSelectedSnapshot(
        DispatchRules::snapshotSelection(snapshots.snapshotNames(), snapshot.orderIndex()));
    context_.notifications.post(kSnapshotsUpdatedNotification);
}

void ServerMessageDispatcher::handleSnapshotNames(const Dictionary& message) {
    auto names = Reader::snapshotNames(message).get();
    if (!names) return;
    Array kept;
    for (const Array* entry : *names) {
        // An entry without elements has no order index to select it by.
        if (!entry->empty()) kept.emplace_back(*entry);
    }
    if (kept.size() < names->size()) {
        log(LogLevel::Warning, "SnapshotNames: %zu empty entries skipped",
            names->size() - kept.size());
    }
    context_.snapshots.setSnapshotNames(std::move(kept));
    context_.notifications.post(kSnapshotsUpdatedNotification);
}

// ---------------------------------------------------------------------------------------------
// Frames

void ServerMessageDispatcher::handleMarkerAdded(const Dictionary& /*message*/) {
    levelFrames_.setMarkerFlag();
}

void ServerMessageDispatcher::handleSCPOnChannel(const Dictionary& message) {
    if (auto csID = Reader::stripID(message).get()) {
        levelFrames_.markSCP(context_.strips.indexOfChannelStripID(*csID));
    }
}

void ServerMessageDispatcher::handleStreamData(const Dictionary& message) {
    if (auto block = Reader::streamData(message).get()) {
        streamWriter_.write(context_.engine.clientRing(), *block);
    }
}

void ServerMessageDispatcher::handleLevelData(const Dictionary& message) {
    auto bytes = Reader::stripBytes(message).get();
    if (!bytes) return;
    PELAudioEngine& engine = context_.engine;
    context_.strips.updateLevelsFromServer(bytes->data(), static_cast<int>(bytes->size()));
    engine.levelRingBuffer().produceOne(levelFrames_.column(*bytes), LevelFrameBuilder::kStrips);
    engine.alertRingBuffer().produceOne(levelFrames_.alertColumn(bytes->size()),
                                        LevelFrameBuilder::kStrips);
}

template <ServerMessageDispatcher::HistoryRing ring>
void ServerMessageDispatcher::handleHistoryFrame(const Dictionary& message) {
    if (auto bytes = Reader::stripBytes(message).get()) {
        (context_.engine.*ring)().produceOne(levelFrames_.column(*bytes),
                                             LevelFrameBuilder::kStrips);
    }
}

}  // namespace quenbril
