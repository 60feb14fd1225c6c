// The strip manager's handlers of the server's per-strip data, and the server role's warning
// pass and level update.

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/FlatPairs.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr const char* kLTCTimecode = "LTC Timecode";

bool isTimecodeStrip(const ChannelStripController& controller) {
    const auto& name = controller.model().wirelessName();
    return name && *name == kLTCTimecode;
}

// The ids of a solo-set message; elements that are not numbers are skipped.
std::unordered_set<int64_t> idSet(const Array& ids, const char* what) {
    std::unordered_set<int64_t> set;
    set.reserve(ids.size());
    for (const Value& id : ids) {
        if (const std::optional<int64_t> v = id.longLongValue()) {
            set.insert(*v);
        } else {
            log(LogLevel::Warning, "%s: skipped an id of kind %s", what,
                Value::kindName(id.kind()));
        }
    }
    return set;
}

void redraw(ChannelStripController& controller) {
    if (controller.view()) {
        controller.view()->updateAppearance(controller.state());
    }
}

bool soloed(uint64_t state) {
    return state == ChannelStripState::kSoloed || state == ChannelStripState::kHardSoloed;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Solo sets

void ChannelStripManager::activeChannelsReceived(const Array& ids) {
    const auto listed = idSet(ids, "ActiveChannels");
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

void ChannelStripManager::soloChannelsReceived(const Array& ids) {
    const auto listed = idSet(ids, "SoloedChannels");
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

void ChannelStripManager::autoSoloChannelsReceived(const Array& ids) {
    const auto listed = idSet(ids, "AutoSoloedChannels");
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

bool ChannelStripManager::warningIgnored(int32_t code) {
    const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
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

void ChannelStripManager::updateWarningsFromServer(const Array& pairs) {
    // Runs after the message being handled, even when asked for on the main thread.
    RunLoop::main().post([alive = std::weak_ptr<bool>(alive_), this, pairs] {
        const auto token = alive.lock();
        if (token && *token) {
            applyWarningsFromServer(pairs);
        }
    });
}

void ChannelStripManager::applyWarningsFromServer(const Array& pairs) {
    forEachIdValuePair(pairs, "ChannelWarnings", [this](int64_t id, const Value& value) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (!controller) {
            return;
        }
        ChannelStripView* view = controller->view();
        if (view) {
            view->setQuality(view->pendingQuality());
        }
        const std::optional<int32_t> code = value.intValue();
        if (!code) {
            log(LogLevel::Warning, "ChannelWarnings: skipped a code of kind %s",
                Value::kindName(value.kind()));
            return;
        }
        if (warningIgnored(*code)) {
            return;
        }
        if (view) {
            view->setChannelState(*code);
        }
    });
}

void ChannelStripManager::updateBatteryDataFromServer(const Array& pairs) {
    forEachIdValuePair(pairs, "BatteryData", [this](int64_t id, const Value& value) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (!controller || !controller->view()) {
            return;
        }
        if (const std::optional<int32_t> battery = value.intValue()) {
            controller->view()->setBatteryPower(*battery);
        } else {
            log(LogLevel::Warning, "BatteryData: skipped a value of kind %s",
                Value::kindName(value.kind()));
        }
    });
}

void ChannelStripManager::updateBatteryTimeDataFromServer(const Array& pairs) {
    forEachIdValuePair(pairs, "BatteryTimeData", [this](int64_t id, const Value& value) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (!controller || !controller->view()) {
            return;
        }
        const std::string* text = value.stringValue();
        if (!text) {
            log(LogLevel::Warning, "BatteryTimeData: skipped a value of kind %s",
                Value::kindName(value.kind()));
            return;
        }
        if (!text->empty()) {
            controller->view()->setBatteryString(*text);
        }
    });
}

void ChannelStripManager::updateAntennaDataFromServer(const Array& pairs) {
    forEachIdValuePair(pairs, "AntennaData", [this](int64_t id, const Value& value) {
        ChannelStripController* controller = controllerWithCSID(id);
        if (!controller || !controller->view() || isTimecodeStrip(*controller)) {
            return;
        }
        if (const std::string* text = value.stringValue()) {
            controller->view()->setAntennaData(*text);
        } else {
            log(LogLevel::Warning, "AntennaData: skipped a value of kind %s",
                Value::kindName(value.kind()));
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Timecode

void ChannelStripManager::ltcSampleReceived(const Array& samples) {
    std::vector<const Dictionary*> entries;
    entries.reserve(samples.size());
    for (const Value& sample : samples) {
        if (const Dictionary* d = sample.dictionaryValue()) {
            entries.push_back(d);
        } else {
            log(LogLevel::Warning, "LTCSample: skipped an entry of kind %s",
                Value::kindName(sample.kind()));
        }
    }
    for (auto& controller : controllers_) {
        if (!controller->isAddressable()) continue;
        ChannelStripState& state = controller->state();
        for (const Dictionary* entry : entries) {
            if ((*entry)["CSID"].longLongValue() != controller->model().csID()) {
                continue;
            }
            const Bytes* bytes = (*entry)["LTCSample"].dataValue();
            ChannelStripState::TimeCodeSample* target = state.timeCodeSample();
            if (bytes && target && bytes->size() == sizeof(ChannelStripState::TimeCodeSample)) {
                std::memcpy(target->data(), bytes->data(), bytes->size());
            }
            state.setFps((*entry)["FPS"].intValue().value_or(0));
            state.setLTCFromMax((*entry)["fromMax"].floatValue().value_or(0.0f));
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
    if (UserSettingsManager::sharedInstance().disableAllWarnings()) {
        return;
    }
    const double now = RunLoop::main().now();
    const WirelessManager* registry = WirelessManager::sharedInstance();
    Array warnings;
    Array batteries;
    Array antennas;
    warnings.reserve(controllers_.size());
    batteries.reserve(controllers_.size());
    antennas.reserve(controllers_.size());
    for (auto& controller : controllers_) {
        warnings.emplace_back(
            static_cast<int64_t>(static_cast<uint32_t>(controller->warningStatus())));
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
        batteries.emplace_back(battery);
        antennas.emplace_back(std::move(antenna));
        controller->updateWarnings();
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
