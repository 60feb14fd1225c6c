// The server-message dispatcher: every command of the server ends here, in one branch each.

#include <QComboBox>
#include <QLocale>
#include <QTime>
#include <unordered_map>
#include <utility>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ChatReceiptRule.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/dispatch/PerformerBatteryText.h"
#include "MonitorApp/dispatch/WarningsPass.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

using Reader = LinkMessageReader;
namespace Cmd = LinkCommand;

constexpr const char* kChannelStripCheckedNotification = "ChannelStripChecked";
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

/// The array under `key`, empty for a missing one; throws for a value of another kind.
const Array& arrayOrEmpty(const Dictionary& message, std::string_view key) {
    static const Array empty;
    const Value& v = message[key];
    if (v.isNull()) return empty;
    if (const Array* a = v.arrayValue()) return *a;
    throw LinkTypeError("\"" + std::string(key) + "\" is " + Value::kindName(v.kind()) +
                        ", not an array");
}

/// The raw array of a message whose typed reader found it.
const Array& rawValue(const Dictionary& message) { return *message[LinkKey::kValue].arrayValue(); }

/// One of the engine's history rings.
using HistoryRing = CharRingBuffer& (PELAudioEngine::*)();

/// The commands whose strip-byte frames feed a history ring of the engine, with their ring.
constexpr std::pair<std::string_view, HistoryRing> kHistoryRings[] = {
    {Cmd::kRfLevelData, &PELAudioEngine::rfLevelRingBuffer},
    {Cmd::kRfLevelDataA, &PELAudioEngine::rfALevelRingBuffer},
    {Cmd::kRfLevelDataB, &PELAudioEngine::rfBLevelRingBuffer},
    {Cmd::kRfLevelDataC, &PELAudioEngine::rfCLevelRingBuffer},
    {Cmd::kRfLevelDataD, &PELAudioEngine::rfDLevelRingBuffer},
    {Cmd::kRfLevelDataDiv, &PELAudioEngine::rfDivLevelRingBuffer},
    {Cmd::kQLData, &PELAudioEngine::qlRingBuffer}};

/// The history ring of `command`, or null for a command that feeds none.
const HistoryRing* historyRingOf(std::string_view command) {
    for (const auto& entry : kHistoryRings) {
        if (entry.first == command) return &entry.second;
    }
    return nullptr;
}

}  // namespace

void ViewController::messageReceivedFromServer(const Value& value) {
    const Dictionary* message = value.dictionaryValue();
    if (!message) {
        throw LinkTypeError(std::string("a message that is ") + Value::kindName(value.kind()));
    }
    const std::optional<std::string> command = Reader::command(*message).get();
    if (!command) return;
    const std::optional<size_t> index = commandIndex(*command);
    if (!index) return;
    // Commands past the chat's are the remote role's.
    if (*index >= Cmd::kBothRolesCount && !UserSettingsManager::sharedInstance().actAsClient()) {
        return;
    }
    const std::string_view name = Cmd::kServerToRemote[*index];
    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();

    // ---- Both roles ----
    if (name == Cmd::kClientNames) {
        clientNames_ = Reader::clientNames(*message).get();
        updateDialogClientNames();
    } else if (name == Cmd::kChatRemoveMessage) {
        if (auto id = Reader::string(*message).get()) ChatManager::removeMessage(id, false);
    } else if (name == Cmd::kChatClients) {
        ChatManager::updateFromProps(arrayOrEmpty(*message, LinkKey::kValue));
        if (chatVC_) chatVC_->updateClients();
    } else if (name == Cmd::kBatteryThreshold) {
        if (auto threshold = Reader::int32(*message).get()) settings.setBatThreshold(*threshold);
    } else if (name == Cmd::kMarkerAdded) {
        levelFrames_.setMarkerFlag();
    } else if (name == Cmd::kChatMessageHistory) {
        if (auto history = Reader::chatMessageHistory(*message).get()) {
            ChatManager::updateChatHistory(*history);
            reloadChatTable();
        }
    } else if (name == Cmd::kStreamData) {
        if (auto block = Reader::streamData(*message).get()) {
            streamWriter_.write(PELAudioEngine::sharedInstance().clientRing(), *block);
        }
    } else if (name == Cmd::kGroupColors) {
        if (auto colors = Reader::propertyList(*message).get()) {
            // Stored for good and read at every start: only a well-formed table goes in.
            if (DispatchRules::isGroupColorArray(*colors)) {
                UserDefaults::standardUserDefaults().setObject(*colors,
                                                               ColorHelper::kGroupColorsKey);
            } else {
                log(LogLevel::Warning, "GroupColors: not an array of colours, dropped");
            }
        }
    } else if (name == Cmd::kChatColors) {
        if (auto table = Reader::dictionary(*message).get()) {
            Dictionary& chatColors = ColorHelper::sharedInstance().chatColors();
            chatColors = Dictionary{};
            for (const auto& [key, index] : **table) {
                if (!key.isString() || !index.isNumber()) {
                    log(LogLevel::Warning, "ChatColors: an entry %s -> %s skipped",
                        Value::kindName(key.kind()), Value::kindName(index.kind()));
                    continue;
                }
                chatColors.set(key, index);
            }
        }
        if (auto colors = Reader::dictionary(*message, LinkKey::kNValue).get()) {
            ChatColorManager::sharedInstance().setChatColors(**colors);
        }
    } else if (name == Cmd::kChatMessageFromServer) {
        if (auto chat = Reader::dictionary(*message).get()) {
            NotificationCenter::defaultCenter().post(ChatNotification::kChatMessageFromServer,
                                                     **chat);
        }
    }

    // ---- Remote role ----
    else if (name == Cmd::kSCPOnChannel) {
        if (auto csID = Reader::stripID(*message).get()) {
            levelFrames_.markSCP(manager.indexOfChannelStripID(*csID));
        }
    } else if (name == Cmd::kChannelWarnings) {
        handleChannelWarnings(*message);
    } else if (name == Cmd::kBatteryData) {
        handleBatteryData(*message);
    } else if (name == Cmd::kBatteryTimeData) {
        handleBatteryTimeData(*message);
    } else if (name == Cmd::kAntennaData) {
        if (Reader::stringPairs(*message).get()) {
            manager.updateAntennaDataFromServer(rawValue(*message));
        }
    } else if (name == Cmd::kActiveChannels) {
        if (Reader::stripIDs(*message).get()) {
            manager.activeChannelsReceived(rawValue(*message));
            scrollToActiveStrips();
        }
    } else if (name == Cmd::kSoloedChannels) {
        if (Reader::stripIDs(*message).get()) manager.soloChannelsReceived(rawValue(*message));
    } else if (name == Cmd::kAutoSoloedChannels) {
        if (Reader::stripIDs(*message).get()) {
            manager.autoSoloChannelsReceived(rawValue(*message));
        }
    } else if (name == Cmd::kLTCSample) {
        if (Reader::ltcSamples(*message).get()) manager.ltcSampleReceived(rawValue(*message));
    } else if (name == Cmd::kNotebookEntries) {
        const Value& values = (*message)[LinkKey::kValues];
        if (!values.isNull()) {
            NotebookManager::sharedInstance().refreshFromArray(
                arrayOrEmpty(*message, LinkKey::kValues));
        }
    } else if (name == Cmd::kGroupStates) {
        manager.applyGroupStates((*message)[LinkKey::kValue]);
    } else if (name == Cmd::kClientsEnabled) {
        if (auto enabled = Reader::boolean(*message).get()) {
            settings.setClientsEnabled(*enabled);
            QLOG(*enabled ? "Clients ENABLED" : "Clients DISABLED");
        }
    } else if (name == Cmd::kChannels) {
        if (Reader::channels(*message).get()) {
            manager.initFromProperyArray(rawValue(*message));
            QLOG("Chans received");
            updateChannelStrips();
        }
    } else if (name == Cmd::kWirelessInfo) {
        if (auto info = Reader::wirelessInfo(*message).get()) wirelessInfo_ = *info;
    } else if (name == Cmd::kMicCheckState) {
        if (auto record = Reader::micCheckState(*message).get()) {
            applyMicCheckRecord(*record);
            NotificationCenter::defaultCenter().post(kChannelStripCheckedNotification);
        }
    } else if (name == Cmd::kMicCheckArray) {
        if (auto records = Reader::micCheckArray(*message).get()) {
            for (const MicCheckRecord& r : *records) applyMicCheckRecord(r);
            if (auto act = Reader::int32(*message, LinkKey::kAct).get()) {
                settings.setCurrentAct(*act);
                updateStatusMessage();
            }
            NotificationCenter::defaultCenter().post(kChannelStripCheckedNotification);
        }
    } else if (name == Cmd::kHardMuteArray || name == Cmd::kReceiverMuteArray) {
        const bool hard = name == Cmd::kHardMuteArray;
        if (auto flags = Reader::muteFlags(*message, hard ? "hardMute" : "receiverMute").get()) {
            for (const MuteFlag& f : *flags) {
                ChannelStripController* c =
                    f.csID ? ChannelStripManager::controllerByID(*f.csID) : nullptr;
                if (!c) continue;
                if (hard) {
                    c->state().setHardMuted(f.muted.value_or(false));
                } else {
                    c->state().setReceiverMuted(f.muted.value_or(false));
                }
                if (c->view()) c->view()->updateAppearance(c->state());
            }
        }
    } else if (name == Cmd::kSnapshot) {
        handleSnapshot(*message);
    } else if (name == Cmd::kSnapshotNames) {
        if (auto names = Reader::snapshotNames(*message).get()) {
            Array kept;
            for (const Array* entry : *names) {
                // An entry without elements has no order index to select it by.
                if (entry->empty()) {
                    log(LogLevel::Warning, "SnapshotNames: an empty entry skipped");
                    continue;
                }
                kept.emplace_back(*entry);
            }
            SnapshotManager::sharedInstance().setSnapshotNames(std::move(kept));
            NotificationCenter::defaultCenter().post(kSnapshotsUpdatedNotification);
        }
    } else if (name == Cmd::kMasterVersion) {
        if (auto version = Reader::float32(*message).get()) {
            settings.setMasterVersion(*version);
            QLOG("Received master version %f", static_cast<double>(*version));
        }
    } else if (name == Cmd::kInitialDataReady) {
        handleInitialDataReady(*message);
    } else if (name == Cmd::kLevelData) {
        handleLevelFrame(*message);
    } else if (const HistoryRing* ring = historyRingOf(name)) {
        if (auto bytes = Reader::stripBytes(*message).get()) {
            (PELAudioEngine::sharedInstance().**ring)().produceOne(levelFrames_.column(*bytes),
                                                                   LevelFrameBuilder::kStrips);
        }
    } else if (name == Cmd::kQualityLevelData) {
        if (auto bytes = Reader::stripBytes(*message).get()) {
            const auto& controllers = ChannelStripManager::channelStripControllers();
            for (size_t i = 0; i < bytes->size() && i < controllers.size(); ++i) {
                if (ChannelStripView* view = controllers[i]->view()) {
                    view->setPendingQuality(static_cast<int8_t>((*bytes)[i]));
                }
            }
        }
    } else if (name == Cmd::kNewPlayer) {
        if (auto player = Reader::dictionary(*message).get()) {
            PlayerManager::addFromDic(**player);
            manager.updateChannels();
        }
    } else if (name == Cmd::kOpenedEditing) {
        statusRightRed_ = true;
        setStatusRightText("Server editing channels!");
        refreshStatusLabels();
    } else if (name == Cmd::kClosedEditing) {
        showConnectedStatus();
        refreshStatusLabels();
    } else if (name == Cmd::kLTC) {
        Reader::ltc(*message).get();
        LTCManager::sharedInstance().tcReceived(*message);
        manager.updateLTCData();
    }
}

void ViewController::handleLevelFrame(const Dictionary& message) {
    auto bytes = Reader::stripBytes(message).get();
    if (!bytes) return;
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    ChannelStripManager::sharedInstance().updateLevelsFromServer(bytes->data(),
                                                                 static_cast<int>(bytes->size()));
    engine.levelRingBuffer().produceOne(levelFrames_.column(*bytes), LevelFrameBuilder::kStrips);
    engine.alertRingBuffer().produceOne(levelFrames_.alertColumn(bytes->size()),
                                        LevelFrameBuilder::kStrips);
}

void ViewController::handleChannelWarnings(const Dictionary& message) {
    auto pairs = Reader::intPairs(message).get();
    if (!pairs) return;
    // One pass applies every shown code at once: repeating it per code gives the same strips.
    WarningsPass pass = WarningsPass::evaluate(*pairs, &ChannelStripManager::warningIgnored);
    if (pass.apply)
        ChannelStripManager::sharedInstance().updateWarningsFromServer(rawValue(message));
    if (pass.resetAlarm) setResetAlarm(*pass.resetAlarm);
}

void ViewController::handleBatteryData(const Dictionary& message) {
    auto pairs = Reader::intPairs(message).get();
    if (!pairs) return;
    ChannelStripManager::sharedInstance().updateBatteryDataFromServer(rawValue(message));
    for (const auto& [csID, battery] : pairs->pairs) {
        ChannelStripController* c = ChannelStripManager::controllerByID(csID);
        if (c && c->view() && c->view()->timeAdded()) continue;
        const int32_t position = ChannelStripManager::controllerIndexByID(csID);
        auto info = wirelessInfo_.find(position);
        showBatteryText(csID, PerformerBatteryText::forBattery(
                                  battery, info == wirelessInfo_.end() ? nullptr : &info->second,
                                  PlaybackManager::sharedInstance().delayInSamples()));
    }
}

void ViewController::handleBatteryTimeData(const Dictionary& message) {
    auto pairs = Reader::stringPairs(message).get();
    if (!pairs) return;
    ChannelStripManager::sharedInstance().updateBatteryTimeDataFromServer(rawValue(message));
    for (const auto& [csID, time] : pairs->pairs) {
        const int32_t position = ChannelStripManager::controllerIndexByID(csID);
        auto info = wirelessInfo_.find(position);
        showBatteryText(csID, PerformerBatteryText::forBatteryTime(
                                  time, info == wirelessInfo_.end() ? nullptr : &info->second));
    }
}

void ViewController::showBatteryText(int64_t csID, const PerformerBatteryText& text) {
    std::shared_ptr<PerformerWindow> window = playerViewController_.lock();
    if (!window || PlaybackManager::isPlaying()) return;
    if (window->channelIndex() != ChannelStripManager::controllerIndexByID(csID)) return;
    if (text.quadversity) window->setRendererQuadversity(*text.quadversity);
    if (text.singleLine) window->setRendererSingleLine(*text.singleLine);
    if (text.text) window->setBatteryText(*text.text);
}

void ViewController::scrollToActiveStrips() {
    const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    if (!settings.soloOn() || settings.selectedTool() != 0 || !stripScroller_) return;
    for (const auto& c : ChannelStripManager::channelStripControllers()) {
        if (c->state().channelState() == ChannelStripState::kActive && c->view()) {
            stripScroller_->scrollStripToVisible(*c->view());
        }
    }
}

void ViewController::applyMicCheckRecord(const MicCheckRecord& r) {
    ChannelStripController* c = r.csID ? ChannelStripManager::controllerByID(*r.csID) : nullptr;
    if (!c) return;
    MicCheckState& check = c->state().micCheckState();
    check.setChecked(r.checked.value_or(false));
    check.setUser(r.user.value_or(""));
    check.setTime(Date{r.time.value_or(0.0)});
    check.setNote(r.note.value_or(""));
    check.setNeedsChecking(r.needsChecking.value_or(false));
    if (c->view()) c->view()->updateAppearance(c->state());
}

void ViewController::handleSnapshot(const Dictionary& message) {
    auto dictionary = Reader::dictionary(message).get();
    if (!dictionary) return;
    Snapshot snapshot = SnapshotManager::snapshotFromDictionary(**dictionary);
    ChannelStripManager::sharedInstance().applySnapshot(snapshot);
    SnapshotManager& snapshots = SnapshotManager::sharedInstance();
    snapshots.setSelectedSnapshot(
        DispatchRules::snapshotSelection(snapshots.snapshotNames(), snapshot.orderIndex()));
    NotificationCenter::defaultCenter().post(kSnapshotsUpdatedNotification);
}

void ViewController::handleInitialDataReady(const Dictionary& message) {
    auto ready = Reader::boolean(message).get();
    if (ready && *ready) {
        const float version = UserSettingsManager::sharedInstance().masterVersion();
        if (DispatchRules::registersToChat(version)) {
            registerToChat();
        } else {
            alert(DispatchRules::updateAlertText(version));
        }
    }
    ChannelStripManager::sharedInstance().setKeyboardFocus();
}

void ViewController::setStatusRightText(std::string text) { statusRightText_ = std::move(text); }

void ViewController::updateDialogClientNames() {
    if (!prefViewController_ || !clientNames_) return;
    QComboBox* clients = prefViewController_->clientID();
    if (!clients) return;
    // Only the items the pop-up has: a longer list from the server adds none.
    const size_t n = std::min(clientNames_->size(), static_cast<size_t>(clients->count()));
    for (size_t i = 0; i < n; ++i) {
        clients->setItemText(static_cast<int>(i), QString::fromStdString((*clientNames_)[i]));
    }
}

void ViewController::reloadChatTable() {
    if (!chatVC_) return;
    chatVC_->reloadData();
    chatVC_->scrollToEnd();
}

void ViewController::chatMessageFromServer(const Notification& notification) {
    const ChatMessageFields f = Reader::chatMessage(notification.userInfo);
    const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    const ChatReceipt receipt = ChatReceipt::evaluate(
        f.sender, f.recipient, f.type.value_or(0), settings.chatUsername(), settings.chatFlash());

    const QString now = QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
    latestChatMessage_ = now.toStdString() + ": " + f.message.value_or("");
    latestSender_ = f.sender.value_or("");

    if (receipt.flash) flashHeader();
    if (receipt.store) {
        ChatManager::addMessage(
            f.message, f.messageId, f.sender,
            receipt.fromMe ? std::optional<std::string>(ChatManager::uuid()) : f.uuid, f.recipient,
            static_cast<uint64_t>(int64_t{f.type.value_or(0)}));
        reloadChatTable();
    }
    if (receipt.alarmOn) setChatAlarm(true);
    if (receipt.alarmOff) setChatAlarm(false);
    if (receipt.page) {
        if (cnVC_) {
            cnVC_->setMessage(latestChatMessage_);
            cnVC_->setTextLabel(latestChatMessage_);
            cnVC_->setSender(latestSender_);
            cnVC_->screenResize();
        }
        performSegue("showChatNotifier");
    }
}

}  // namespace quenbril
