// The strip manager's group buttons and snapshots.

#include <algorithm>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

// Whether the button of a group (1 to 8) exists and is in its hard state (2).
bool isHardGroup(const std::vector<GroupButtonView*>& buttons, int32_t group) {
    return group >= 1 && group <= kGroupCount && static_cast<size_t>(group) <= buttons.size() &&
           buttons[static_cast<size_t>(group) - 1]->state() == 2;
}

}  // namespace

void ChannelStripManager::setGroupButtonView(GroupButtonContainer* container) {
    if (groupButtonView_ || !container) {
        return;
    }
    groupButtonView_ = container;
    const Size size = container->size();
    for (int32_t g = 1; g <= kGroupCount; ++g) {
        GroupButtonView* button =
            container->makeGroupButton("Gr " + std::to_string(g), ColorHelper::colorForGroup(g),
                                       groupButtonFrame(g - 1, size), g);
        if (!button) {
            continue;
        }
        button->setHidden(false);
        button->setState(0);
        groupButtons_.push_back(button);
    }
}

void ChannelStripManager::releaseGroupButtonView(const GroupButtonContainer* container) {
    if (!container || container != groupButtonView_) return;
    groupButtonView_ = nullptr;
    groupButtons_.clear();
}

void ChannelStripManager::applySnapshot(const Snapshot& snapshot) {
    const std::optional<Color> noGroup = ColorHelper::colorForGroup(0);
    for (auto& controller : controllers_) {
        if (controller->view()) {
            controller->view()->setChannelColor(noGroup);
        }
        controller->state().removeAllAssignedGroups();
    }

    // Resolve every entry's strip once; entries naming no strip change nothing.
    const auto& settings = snapshot.channelSettings();
    std::vector<ChannelStripController*> strips(settings.size(), nullptr);
    for (size_t i = 0; i < settings.size(); ++i) {
        strips[i] = controllerWithCSID(settings[i].csID());
        if (strips[i]) {
            strips[i]->state().addAssignedGroup(settings[i].groupIndex());
        }
    }

    for (GroupButtonView* button : groupButtons_) {
        if (button->state() == 1) {
            button->setState(0);
        }
    }

    // Every named group colours the strips once more; colouring again gives the same colours,
    // so the strips are coloured once, after the buttons. Names past the last button are
    // passed over.
    const auto& names = snapshot.groupNames();
    for (size_t g = 1; g < names.size() && g <= groupButtons_.size(); ++g) {
        GroupButtonView* button = groupButtons_[g - 1];
        button->setColor(ColorHelper::colorForGroup(static_cast<int32_t>(g)));
        const bool used = std::any_of(settings.begin(), settings.end(), [g](const auto& entry) {
            return entry.groupIndex() == static_cast<int32_t>(g);
        });
        if (used) {
            button->setGroupName(names[g]);
        }
        button->setHidden(!used);
    }
    for (size_t i = 0; i < settings.size(); ++i) {
        if (strips[i] && strips[i]->view()) {
            strips[i]->view()->setChannelColor(
                ColorHelper::colorForGroup(settings[i].groupIndex()));
        }
    }

    for (auto& controller : controllers_) {
        for (int32_t group : controller->state().assignedGroups()) {
            if (isHardGroup(groupButtons_, group)) {
                controller->state().setChannelState(ChannelStripState::kHardSoloed);
            }
        }
        if (controller->view()) {
            controller->view()->updateAppearance(controller->state());
        }
    }
}

bool ChannelStripManager::applyGroupStates(const Value& states) {
    const Array* values = states.arrayValue();
    if (!values || values->size() != static_cast<size_t>(kGroupCount)) {
        QLOG("Wrong amount of groups");
        return false;
    }
    for (size_t i = 0; i < values->size() && i < groupButtons_.size(); ++i) {
        const std::optional<int32_t> state = (*values)[i].intValue();
        if (!state) {
            log(LogLevel::Warning, "GroupStates: skipped a state of kind %s",
                Value::kindName((*values)[i].kind()));
            continue;
        }
        groupButtons_[i]->setState(*state);
    }
    return true;
}

void ChannelStripManager::groupClicked(const Notification& notification) {
    if (linkSender_) {
        linkSender_->sendDictionary(
            Dictionary{{"Command", "GroupClicked"},
                       {"Value", notification.userInfo["index"].intValue().value_or(0)}});
    }
}

void ChannelStripManager::groupLongClicked(const Notification& notification) {
    if (linkSender_) {
        linkSender_->sendDictionary(
            Dictionary{{"Command", "GroupLongClicked"},
                       {"Value", notification.userInfo["index"].intValue().value_or(0)}});
    }
}

Array ChannelStripManager::groupAssignments() {
    Array result;
    result.reserve(controllers_.size());
    for (auto& controller : controllers_) {
        ChannelStripState& state = controller->state();
        if (state.channelState() != ChannelStripState::kSoloed) {
            state.setChannelState(ChannelStripState::kOff);
        }
        Array groups;
        for (int32_t group : state.assignedGroups()) {
            groups.emplace_back(group);
            if (isHardGroup(groupButtons_, group)) {
                state.setChannelState(ChannelStripState::kHardSoloed);
            }
        }
        result.emplace_back(std::move(groups));
    }
    return result;
}

void ChannelStripManager::soloClear() {
    for (auto& controller : controllers_) {
        if (controller->state().channelState() == ChannelStripState::kActive) {
            controller->state().setChannelState(ChannelStripState::kOff);
            if (controller->view()) {
                controller->view()->updateAppearance(controller->state());
            }
        }
    }
    for (GroupButtonView* button : groupButtons_) {
        if (button->state() == 1) {
            button->setState(0);
        }
    }
}

void ChannelStripManager::soloHardClear() {
    for (auto& controller : controllers_) {
        controller->state().setChannelState(ChannelStripState::kOff);
        if (controller->view()) {
            controller->view()->updateAppearance(controller->state());
        }
    }
    for (GroupButtonView* button : groupButtons_) {
        button->setState(0);
    }
}

Color ChannelStripManager::colorForIndex(int32_t index) {
    static constexpr Color kColors[] = {
        {1, 0, 1, 1}, {1, 0, 0, 1},   {0, 1, 0, 1}, {1, 1, 0, 1},
        {0, 0, 1, 1}, {1, 0.5, 0, 1}, {0, 1, 1, 1}, {0.5, 0, 0.5, 1},
    };
    if (index < 1 || index > 8) return Color{0.5, 0.5, 0.5, 1};
    return kColors[index - 1];
}

}  // namespace quenbril
