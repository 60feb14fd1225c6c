// The dispatcher's handlers of the strips' data: solo sets, warnings, batteries, antennas,
// timecode, groups, mic checks, mutes, quality and the strip list itself.

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/dispatch/PerformerBatteryText.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/dispatch/WarningsPass.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

namespace {

using Reader = LinkMessageReader;

constexpr const char* kChannelStripCheckedNotification = "ChannelStripChecked";

/// The raw array of a message whose typed reader found it.
const Array& rawValue(const Dictionary& message) { return *message[LinkKey::kValue].arrayValue(); }

}  // namespace

const WirelessInfoEntry* ServerMessageDispatcher::wirelessInfoAt(int32_t position) const {
    auto info = wirelessInfo_.find(position);
    return info == wirelessInfo_.end() ? nullptr : &info->second;
}

// ---------------------------------------------------------------------------------------------
// Solo sets

void ServerMessageDispatcher::handleActiveChannels(const Dictionary& message) {
    if (auto ids = Reader::stripIDs(message).get()) {
        context_.strips.activeChannelsReceived(*ids);
        scrollToActiveStrips();
    }
}

void ServerMessageDispatcher::handleSoloedChannels(const Dictionary& message) {
    if (auto ids = Reader::stripIDs(message).get()) context_.strips.soloChannelsReceived(*ids);
}

void ServerMessageDispatcher::handleAutoSoloedChannels(const Dictionary& message) {
    if (auto ids = Reader::stripIDs(message).get()) context_.strips.autoSoloChannelsReceived(*ids);
}

void ServerMessageDispatcher::scrollToActiveStrips() {
    const UserSettingsManager& settings = context_.settings;
    if (!settings.soloOn() || settings.selectedTool() != 0) return;
    for (const auto& c : context_.strips.controllers()) {
        if (c->state().channelState() == ChannelStripState::kActive && c->view()) {
            window_.scrollStripToVisible(*c->view());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Warnings, batteries, antennas

void ServerMessageDispatcher::handleChannelWarnings(const Dictionary& message) {
    auto pairs = Reader::intPairs(message).get();
    if (!pairs) return;
    // One pass applies every shown code at once: repeating it per code gives the same strips.
    const ChannelStripManager& strips = context_.strips;
    WarningsPass pass = WarningsPass::evaluate(
        *pairs, [&strips](int32_t code) { return strips.warningIgnored(code); });
    if (pass.apply) context_.strips.updateWarningsFromServer(*pairs);
    if (pass.resetAlarm) window_.setResetAlarm(*pass.resetAlarm);
}

void ServerMessageDispatcher::handleBatteryData(const Dictionary& message) {
    auto pairs = Reader::intPairs(message).get();
    if (!pairs) return;
    context_.strips.updateBatteryDataFromServer(*pairs);
    for (const auto& [csID, battery] : pairs->pairs) {
        // A strip that shows a battery time keeps it in the performer window too.
        ChannelStripController* c = context_.strips.controllerWithCSID(csID);
        if (c && c->view() && c->view()->timeAdded()) continue;
        showBatteryText(csID,
                        PerformerBatteryText::forBattery(battery, wirelessInfoAt(positionOf(csID)),
                                                         context_.playback.delayInSamples()));
    }
}

void ServerMessageDispatcher::handleBatteryTimeData(const Dictionary& message) {
    auto pairs = Reader::stringPairs(message).get();
    if (!pairs) return;
    context_.strips.updateBatteryTimeDataFromServer(*pairs);
    for (const auto& [csID, time] : pairs->pairs) {
        showBatteryText(
            csID, PerformerBatteryText::forBatteryTime(time, wirelessInfoAt(positionOf(csID))));
    }
}

void ServerMessageDispatcher::showBatteryText(int64_t csID, const PerformerBatteryText& text) {
    const std::optional<int32_t> shown = window_.performerChannelIndex();
    if (!shown || context_.playback.isPlaying()) return;
    if (*shown != positionOf(csID)) return;
    window_.showPerformerBatteryText(text);
}

void ServerMessageDispatcher::handleAntennaData(const Dictionary& message) {
    if (auto pairs = Reader::stringPairs(message).get()) {
        context_.strips.updateAntennaDataFromServer(*pairs);
    }
}

void ServerMessageDispatcher::handleQualityLevelData(const Dictionary& message) {
    auto bytes = Reader::stripBytes(message).get();
    if (!bytes) return;
    const auto& controllers = context_.strips.controllers();
    for (size_t i = 0; i < bytes->size() && i < controllers.size(); ++i) {
        if (ChannelStripView* view = controllers[i]->view()) {
            view->setPendingQuality(static_cast<int8_t>((*bytes)[i]));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Timecode

void ServerMessageDispatcher::handleLTCSample(const Dictionary& message) {
    if (auto samples = Reader::ltcSamples(message).get()) {
        context_.strips.ltcSampleReceived(*samples);
    }
}

void ServerMessageDispatcher::handleLTC(const Dictionary& message) {
    // Read for its kinds only: a field of the wrong kind drops the message.
    Reader::ltc(message).get();
    context_.timecode.tcReceived(message);
    context_.strips.updateLTCData();
}

// ---------------------------------------------------------------------------------------------
// The strip list, groups, players and receivers

void ServerMessageDispatcher::handleChannels(const Dictionary& message) {
    if (!Reader::channels(message).get()) return;
    context_.strips.initFromProperyArray(rawValue(message));
    QLOG("Chans received");
    window_.updateChannelStrips();
    // The controllers are new: windows bound to a strip find it again by its id.
    context_.notifications.post(kChannelStripsEditedNotification);
}

void ServerMessageDispatcher::handleGroupStates(const Dictionary& message) {
    context_.strips.applyGroupStates(message[LinkKey::kValue]);
}

void ServerMessageDispatcher::handleNewPlayer(const Dictionary& message) {
    if (auto player = Reader::dictionary(message).get()) {
        context_.strips.services().players.addFromDic(**player);
        context_.strips.updateChannels();
    }
}

void ServerMessageDispatcher::handleWirelessInfo(const Dictionary& message) {
    if (auto info = Reader::wirelessInfo(message).get()) wirelessInfo_ = *info;
}

// ---------------------------------------------------------------------------------------------
// Mic checks and mutes

void ServerMessageDispatcher::handleMicCheckState(const Dictionary& message) {
    if (auto record = Reader::micCheckState(message).get()) {
        applyMicCheckRecord(*record);
        context_.notifications.post(kChannelStripCheckedNotification);
    }
}

void ServerMessageDispatcher::handleMicCheckArray(const Dictionary& message) {
    auto records = Reader::micCheckArray(message).get();
    if (!records) return;
    for (const MicCheckRecord& r : *records) applyMicCheckRecord(r);
    if (auto act = Reader::int32(message, LinkKey::kAct).get()) {
        context_.settings.setCurrentAct(*act);
        window_.updateStatusMessage();
    }
    context_.notifications.post(kChannelStripCheckedNotification);
}

void ServerMessageDispatcher::applyMicCheckRecord(const MicCheckRecord& r) {
    ChannelStripController* c = r.csID ? context_.strips.controllerWithCSID(*r.csID) : nullptr;
    if (!c) return;
    MicCheckState& check = c->state().micCheckState();
    check.setChecked(r.checked.value_or(false));
    check.setUser(r.user.value_or(""));
    // A record without a time has none: the check shows no time rather than the epoch.
    check.setTime(r.time ? std::optional<Date>(Date{*r.time}) : std::nullopt);
    check.setNote(r.note.value_or(""));
    check.setNeedsChecking(r.needsChecking.value_or(false));
    if (c->view()) c->view()->updateAppearance(c->state());
}

void ServerMessageDispatcher::handleHardMuteArray(const Dictionary& message) {
    applyMuteFlags(message, true);
}

void ServerMessageDispatcher::handleReceiverMuteArray(const Dictionary& message) {
    applyMuteFlags(message, false);
}

void ServerMessageDispatcher::applyMuteFlags(const Dictionary& message, bool hard) {
    auto flags = Reader::muteFlags(message, hard ? "hardMute" : "receiverMute").get();
    if (!flags) return;
    for (const MuteFlag& f : *flags) {
        ChannelStripController* c = f.csID ? context_.strips.controllerWithCSID(*f.csID) : nullptr;
        if (!c) continue;
        if (hard) {
            c->state().setHardMuted(f.muted.value_or(false));
        } else {
            c->state().setReceiverMuted(f.muted.value_or(false));
        }
        if (c->view()) c->view()->updateAppearance(c->state());
    }
}

}  // namespace quenbril
