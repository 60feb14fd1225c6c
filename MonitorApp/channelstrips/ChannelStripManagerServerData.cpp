// The strip manager's handlers of the server's per-strip data, and the server role's warning
// pass and level update.

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

constexpr const char* kLTCTimecode = "LTC Timecode";

bool isTimecodeStrip(const ChannelStripController& controller) {
    const auto& name = controller.model().wirelessName();
    return name && *name == kLTCTimecode;
}

// The ids of a solo-set message, for look-up by strip.
std::unordered_set<int64_t> idSet(const std::vector<int64_t>& ids) {
    return std::unordered_set<int64_t>(ids.begin(), ids.end());
}

void redraw(ChannelStripController& controller) {
    if (controller.view()) {
        controller.view()->updateAppearance(controller.state());
    }
}

// A battery as remotes show it: -2 (none), -1 (unknown) or a percentage.
int32_t batteryToSend(int32_t battery) {
    if (battery > 100) return 100;
    return battery < -2 ? -1 : battery;
}

bool soloed(uint64_t state) {
    return state == ChannelStripState::kSoloed || state == ChannelStripState::kHardSoloed;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Solo sets

void ChannelStripManager::activeChannelsReceived(const std::vector<int64_t>& ids) {
    const auto listed = idSet(ids);
    for (auto& controller : controllers_) {
        if (!controller->isAddressable()) continue;
        ChannelStripState& state = controller->state();
        if (soloed(state.channelState())) {
            continue;
        }
        const uint64_t next = listed.count(controller->model().csID()) ? ChannelStripState::kActive
                                                                       : ChannelStripState::kOff;
        if (next != state.channelState()) {
            state.setChannelState(next);
            redraw(*controller);
        }
    }
}

void ChannelStripManager::soloChannelsReceived(const std::vector<int64_t>& ids) {
    const auto listed = idSet(ids);
    for (auto& controller : controllers_) {
        if (!controller->isAddressable()) continue;
        ChannelStripState& state = controller->state();
        const uint64_t before = state.channelState();
        if (listed.count(controller->model().csID())) {
            state.setChannelState(ChannelStripState::kSoloed);
        } else if (soloed(before)) {
            state.setChannelState(ChannelStripState::kOff);
        }
        if (state.channelState() != before) {
            redraw(*controller);
        }
    }
}

void ChannelStripManager::autoSoloChannelsReceived(const std::vector<int64_t>& ids) {
    const auto listed = idSet(ids);
    for (auto& controller : controllers_) {
        if (!controller->isAddressable()) continue;
        ChannelStripState& state = controller->state();
        const uint64_t before = state.channelState();
        if (listed.count(controller->model().csID())) {
            state.setChannelState(ChannelStripState::kAutoSoloed);
        } else if (before == ChannelStripState::kAutoSoloed) {
            state.setChannelState(ChannelStripState::kOff);
        }
        if (state.channelState() != before) {
            redraw(*controller);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Warnings, batteries, antennas

bool ChannelStripManager::warningIgnored(int32_t code) const {
    const UserSettingsManager& settings = services_.settings;
    switch (code) {
        case 3:
            return !settings.showRFAlerts();
        case 2:
            return !settings.showBatteryAlerts();
        case 1:
            return !settings.showSCPAlerts();
        default:
            return false;
    }
}

void ChannelStripManager::updateWarningsFromServer(const FlatPairs<int32_t>& pairs) {
    // Runs after the message being handled, even when asked for on the main thread.
    RunLoop::main().post([alive = std::weak_ptr<bool>(alive_), this, pairs] {
        const auto token = alive.lock();
        if (token && *token) {
            applyWarningsFromServer(pairs);
        }
    });
}

void ChannelStripManager::applyWarningsFromServer(const FlatPairs<int32_t>& pairs) {
    for (const auto& [id, code] : pairs.pairs) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (!controller) {
            continue;
        }
        ChannelStripView* view = controller->view();
        if (view) {
            view->setQuality(view->pendingQuality());
        }
        if (warningIgnored(code)) {
            continue;
        }
        if (view) {
            view->setChannelState(code);
        }
    }
}

void ChannelStripManager::updateBatteryDataFromServer(const FlatPairs<int32_t>& pairs) {
    for (const auto& [id, battery] : pairs.pairs) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (controller && controller->view()) {
            controller->view()->setBatteryPower(battery);
        }
    }
}

void ChannelStripManager::updateBatteryTimeDataFromServer(const FlatPairs<std::string>& pairs) {
    for (const auto& [id, text] : pairs.pairs) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (controller && controller->view() && !text.empty()) {
            controller->view()->setBatteryString(text);
        }
    }
}

void ChannelStripManager::updateAntennaDataFromServer(const FlatPairs<std::string>& pairs) {
    for (const auto& [id, text] : pairs.pairs) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (controller && controller->view() && !isTimecodeStrip(*controller)) {
            controller->view()->setAntennaData(text);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Timecode

void ChannelStripManager::ltcSampleReceived(const std::vector<LtcSampleRecord>& samples) {
    for (auto& controller : controllers_) {
        if (!controller->isAddressable()) continue;
        ChannelStripState& state = controller->state();
        for (const LtcSampleRecord& entry : samples) {
            if (entry.csID != controller->model().csID()) {
                continue;
            }
            const Bytes* bytes = entry.sample;
            ChannelStripState::TimeCodeSample* target = state.timeCodeSample();
            if (bytes && target && bytes->size() == sizeof(ChannelStripState::TimeCodeSample)) {
                std::memcpy(target->data(), bytes->data(), bytes->size());
            }
            state.setFps(entry.fps.value_or(0));
            state.setLTCFromMax(entry.fromMax.value_or(0.0f));
        }
    }
}

void ChannelStripManager::showLTCParameters(ChannelStripController& controller) {
    controller.startLTCTimer();
    if (controller.view()) {
        char text[64];
        snprintf(text, sizeof text, "%d fps   %.01f dB", controller.state().fps(),
                 static_cast<double>(controller.state().LTCFromMax()));
        controller.view()->setTcParamText(text);
    }
}

void ChannelStripManager::updateLTCData() {
    for (auto& controller : controllers_) {
        if (isTimecodeStrip(*controller)) {
            showLTCParameters(*controller);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Server role

void ChannelStripManager::updateWarnings() {
    if (services_.settings.disableAllWarnings()) {
        return;
    }
    const double now = RunLoop::main().now();
    const WirelessManager* registry = WirelessManager::sharedInstance();
    Array warnings;
    Array batteries;
    Array antennas;
    warnings.reserve(2 * controllers_.size());
    batteries.reserve(2 * controllers_.size());
    antennas.reserve(2 * controllers_.size());
    for (auto& controller : controllers_) {
        const int64_t csID = controller->model().csID();
        // Remotes read these lists as strip id and value pairs; a strip without an id has none.
        if (controller->isAddressable()) {
            warnings.emplace_back(csID);
            warnings.emplace_back(
                static_cast<int64_t>(static_cast<uint32_t>(controller->warningStatus())));
        }
        ChannelStripView* view = controller->view();
        int32_t battery = -2;
        std::string antenna;
        const auto& wirelessName = controller->model().wirelessName();
        if (wirelessName && *wirelessName == kLTCTimecode) {
            showLTCParameters(*controller);
        } else if (wirelessName) {
            const WirelessDevice* device = registry ? registry->device(*wirelessName) : nullptr;
            if (!device || device->lastSeen() < now - 5.0) {
                if (view) {
                    view->setBatteryPower(-2);
                    view->setAntennaData("");
                }
            } else {
                battery = device->battery();
                if (device->isA_active()) antenna += 'A';
                if (device->isB_active()) antenna += 'B';
                if (device->isC_active()) antenna += 'C';
                if (device->isD_active()) antenna += 'D';
                if (view) {
                    view->setBatteryPower(battery);
                    view->setQuality(device->quality());
                    view->setAntennaData(antenna);
                }
            }
        }
        if (wirelessName && *wirelessName == "No device" && view) {
            view->setBatteryPower(-2);
        }
        if (controller->isAddressable()) {
            batteries.emplace_back(csID);
            batteries.emplace_back(batteryToSend(battery));
            antennas.emplace_back(csID);
            antennas.emplace_back(std::move(antenna));
        }
        controller->updateWarnings(services_.settings);
    }
    if (ClientManager* host = ClientManager::sharedInstance()) {
        host->sendDictionaryToEveryone(
            Dictionary{{"Command", "ChannelWarnings"}, {"Value", std::move(warnings)}});
        host->sendDictionaryToEveryone(
            Dictionary{{"Command", "BatteryData"}, {"Value", std::move(batteries)}});
        host->sendDictionaryToEveryone(
            Dictionary{{"Command", "AntennaData"}, {"Value", std::move(antennas)}});
    }
}

void ChannelStripManager::updateLevels(const uint8_t* levels) {
    // The level bytes would be dealt to per-panel level views drawn from them; the level
    // display reads the engine's histories instead, so only the strips' own data is updated.
    (void)levels;
    if (!area_) {
        return;
    }
    const WirelessManager* registry = WirelessManager::sharedInstance();
    for (auto& controller : controllers_) {
        const auto& wirelessName = controller->model().wirelessName();
        const WirelessDevice* device =
            registry && wirelessName ? registry->device(*wirelessName) : nullptr;
        if (device && device->name() == kLTCTimecode) {
            showLTCParameters(*controller);
        }
        if ((!device || device->deviceType() != 8) && controller->view()) {
            controller->view()->setQuality(0);
        }
    }
}

}  // namespace quenbril
