#include "MonitorApp/channelstrips/ChannelStripController.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

namespace {

ChannelStripController::ViewFactory& viewFactory() {
    static ChannelStripController::ViewFactory factory;
    return factory;
}

std::unique_ptr<ChannelStripView> makeView() {
    const auto& factory = viewFactory();
    return factory ? factory() : nullptr;
}

// The leading integer of a text, as the battery text is read: blanks, an optional sign, then
// digits; no digits reads as 0.
int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < INT32_MAX) {
            value = value * 10 + (text[i] - '0');
        }
    }
    return negative ? -value : value;
}

std::vector<int32_t> raisedWarnings(const ChannelStripState& state) {
    std::vector<int32_t> raised;
    if (state.warningOn()) raised.push_back(1);
    if (state.rfWarningOn()) raised.push_back(3);
    if (state.batWarningOn()) raised.push_back(2);
    return raised;
}

// The element at a counter that may have gone negative after wrapping.
int32_t cycled(const std::vector<int32_t>& list, int32_t counter) {
    const auto n = static_cast<int64_t>(list.size());
    return list[static_cast<size_t>(((counter % n) + n) % n)];
}

const WirelessDevice* receiverOf(const ChannelStripModel& model) {
    const WirelessManager* registry = WirelessManager::sharedInstance();
    if (!registry || !model.wirelessName()) {
        return nullptr;
    }
    return registry->device(*model.wirelessName());
}

}  // namespace

void ChannelStripController::setViewFactory(ViewFactory factory) {
    viewFactory() = std::move(factory);
}

ChannelStripController::ChannelStripController(ChannelStripManager& manager)
    : manager_(&manager), view_(makeView()) {
    model_.setAudioHistory(false);
    if (view_) view_->setController(this);
    showState();
}

ChannelStripController::ChannelStripController(ChannelStripManager& manager,
                                               const Dictionary& dictionary)
    : manager_(&manager), model_(dictionary), view_(makeView()) {
    if (view_) view_->setController(this);
    showState();
}

ChannelStripController::ChannelStripController(WithoutView, const Dictionary& dictionary)
    : model_(dictionary) {}

std::unique_ptr<ChannelStripController> ChannelStripController::makeWithoutView(
    const Dictionary& dictionary) {
    return std::unique_ptr<ChannelStripController>(
        new ChannelStripController(WithoutView{}, dictionary));
}

ChannelStripController::~ChannelStripController() = default;

void ChannelStripController::showState() {
    if (view_) {
        view_->updateAppearance(state_);
    }
}

void ChannelStripController::update() {
    if (!model_.name() || model_.name()->empty()) {
        model_.setName(std::string(" "));
    }
    // A strip with a view always has its manager.
    if (!view_ || !manager_) {
        return;
    }
    const UserSettingsManager& settings = manager_->services().settings;
    const std::string& name = *model_.name();
    std::string title = name;
    view_->setInputChannel(model_.audioInput());
    view_->setImage(nullptr);

    // "first--second": a title and an alternative input text. A name holding the separator
    // more than once is shown whole.
    const size_t separator = name.find("--");
    if (separator != std::string::npos && name.find("--", separator + 2) == std::string::npos) {
        title = name.substr(0, separator);
        view_->setAlternativeInputText(name.substr(separator + 2));
    }

    const int titleShows = settings.titleShows();
    const auto& wirelessName = model_.wirelessName();
    if (titleShows == 3 && wirelessName && !wirelessName->empty() && *wirelessName != "No device") {
        title = *wirelessName;
    }

    if (settings.showImages() != 0) {
        if (manager_->positionOf(this) >= 0 && model_.playerName()) {
            for (const auto& player : manager_->services().players.players()) {
                if (!player || player->displayName() != *model_.playerName()) {
                    continue;
                }
                view_->setImage(player->image() ? &*player->image() : nullptr);
                if (titleShows == 2 && player->name() && !player->name()->empty()) {
                    title = *player->name();
                } else if (titleShows == 1 && player->roleName() && !player->roleName()->empty()) {
                    title = *player->roleName();
                }
            }
        }
    }
    view_->setTitle(title);
}

void ChannelStripController::startLTCTimer() {
    if (ltcTimer_.isValid()) {
        return;
    }
    ltcTimer_ = RunLoop::main().scheduleTimer(0.2, true, [this] { ltcTimerCallback(); });
    QLOG("Started LTC Timer");
}

void ChannelStripController::stopLTCTimer() {
    if (!ltcTimer_.isValid()) {
        return;
    }
    ltcTimer_.invalidate();
    ltcTimer_ = Timer();
    QLOG("Stopped LTC Timer");
}

void ChannelStripController::ltcTimerCallback() {
    // Only a manager's strips run the timer.
    if (!manager_) {
        return;
    }
    LTCManager& ltc = manager_->services().ltc;
    // A strip without an id has no timecode source: a record filed under 0 is not its own.
    const SMPTETimecode timecode =
        isAddressable() ? ltc.getTimecode(model_.csID()) : SMPTETimecode{};
    if (!view_) {
        return;
    }
    view_->setTimecode(timecode);
    // The age comes from this strip's own record: the manager's selected record may belong to
    // another source, or be none at all.
    const std::shared_ptr<ReceivedLTC> own =
        isAddressable() ? ltc.recordFor(model_.csID()) : nullptr;
    if (!own) {
        view_->setTimecodeNotFound(-1);
        return;
    }
    const double elapsed = RunLoop::main().now() - own->receiveLocalTime();
    if (elapsed > 3.0) {
        view_->setTimecodeNotFound(elapsed < INT32_MAX ? static_cast<int32_t>(elapsed) : INT32_MAX);
    }
}

int32_t ChannelStripController::warningStatus() {
    const std::vector<int32_t> raised = raisedWarnings(state_);
    if (raised.empty()) {
        return 0;
    }
    ++warningCounter_;
    return cycled(raised, warningCounter_);
}

void ChannelStripController::updateWarnings(const UserSettingsManager& settings) {
    if (settings.actAsClient()) {
        return;
    }
    if (settings.disableAllWarnings()) {
        state_.setWarningOn(false);
        state_.setRfWarningOn(false);
        state_.setBatWarningOn(false);
        return;
    }

    // SCP: enough kinds of detections with enough detections in all, or a hard sign.
    int kinds = 3;
    int64_t sumLimit = 10;
    if (settings.warningSensitivity() == 1) {
        kinds = 2;
        sumLimit = 6;
    } else if (settings.warningSensitivity() != 0) {
        kinds = 1;
        sumLimit = 1;
    }
    int k = 0;
    int64_t s = 0;
    for (int32_t count : {state_.peakWarnings(), state_.clipWarnings(), state_.symmetryWarnings(),
                          state_.meanWarnings(), state_.hfWarnings()}) {
        if (count > 0) {
            ++k;
            s += count;
        }
    }
    const bool scpAlarm =
        (k >= kinds && s > sumLimit) || state_.peakWarnings() >= 3 || state_.lpfWarnings() >= 1;
    if (scpAlarm) {
        if (!state_.warningOn()) {
            char sender[512];
            snprintf(sender, sizeof sender, "%s (chan %d)", model_.name().value_or("").c_str(),
                     model_.audioInput() + 1);
            NotificationCenter& center =
                manager_ ? manager_->services().center : NotificationCenter::defaultCenter();
            center.post(kChatMessageNotification, Dictionary{{"message", "SCP alert notification!"},
                                                             {"sender", std::string(sender)},
                                                             {"type", 1}});
        }
        state_.setWarningOn(true);
    } else {
        state_.setWarningOn(false);
    }

    // RF: below the threshold while the receiver reports the channel.
    int32_t rf = -1;
    if (const WirelessDevice* device = receiverOf(model_)) {
        rf = device->rf();
    } else if (view_) {
        view_->removeWireless();
    }
    const int threshold =
        settings.rfThreshold() >= 20 && settings.rfThreshold() <= 80 ? settings.rfThreshold() : 50;
    state_.setRfWarningOn(rf >= 0 && rf < threshold && model_.rfWarnEnabled());

    // Battery: from the shown percentage; a text that says nothing changes nothing.
    if (view_) {
        const std::string text = view_->batText();
        if (!text.empty() && text != "?") {
            const int64_t v = leadingInteger(text);
            if (v >= 0) {
                state_.setBatWarningOn(v <= settings.batThreshold());
            }
        }
    }

    const std::vector<int32_t> raised = raisedWarnings(state_);
    if (view_) {
        view_->setChannelState(raised.empty() ? 0 : cycled(raised, counter_));
        if (view_->pendingQuality() > 0) {
            view_->setQuality(view_->pendingQuality());
        }
    }
    ++counter_;

    if (!state_.warningOn() && !state_.rfWarningOn()) {
        state_.setClipWarnings(0);
        state_.setSymmetryWarnings(0);
        state_.setMeanWarnings(0);
        state_.setHfWarnings(0);
        state_.setPeakWarnings(0);
        state_.setLpfWarnings(0);
    }
}

void ChannelStripController::clickedNotification() {
    static constexpr uint64_t next[] = {1, 0, 2, 3, 4};
    const uint64_t current = state_.channelState();
    if (current < 5) {
        state_.setChannelState(next[current]);
    }
    showState();
}

void ChannelStripController::longClickedNotification() {
    static constexpr uint64_t next[] = {2, 2, 0, 0, 4};
    const uint64_t current = state_.channelState();
    if (current < 5) {
        state_.setChannelState(next[current]);
    }
    showState();
}

void ChannelStripController::applyGroupState(int32_t groupState) {
    if (groupState == 0) {
        state_.setChannelState(ChannelStripState::kOff);
    } else if (groupState == 1) {
        state_.setChannelState(ChannelStripState::kActive);
    } else if (groupState == 2) {
        state_.setChannelState(ChannelStripState::kHardSoloed);
    }
    showState();
}

}  // namespace quenbril
