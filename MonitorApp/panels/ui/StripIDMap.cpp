#include "MonitorApp/panels/ui/StripIDMap.h"

namespace quenbril {

void StripIDMap::reload(const ChannelStripManager::Controllers& controllers) {
    rows_.clear();
    rows_.reserve(controllers.size());
    for (const auto& controller : controllers) rows_.push_back(controller->model().csID());
    index(controllers);
}

void StripIDMap::index(const ChannelStripManager::Controllers& controllers) {
    positions_.clear();
    positions_.reserve(controllers.size());
    for (size_t i = 0; i < controllers.size(); ++i) {
        positions_.try_emplace(controllers[i]->model().csID(), i);
    }
}

std::optional<int64_t> StripIDMap::csIDAt(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return std::nullopt;
    return rows_[static_cast<size_t>(row)];
}

ChannelStripController* StripIDMap::controllerAt(
    const ChannelStripManager::Controllers& controllers, int32_t row) {
    const std::optional<int64_t> csID = csIDAt(row);
    if (!csID) return nullptr;
    const auto position = static_cast<size_t>(row);
    // The usual case: the list has not changed since the reload.
    if (position < controllers.size() && controllers[position]->model().csID() == *csID) {
        return controllers[position].get();
    }
    auto found = positions_.find(*csID);
    if (found == positions_.end() || found->second >= controllers.size() ||
        controllers[found->second]->model().csID() != *csID) {
        // The list changed since the map was made: map it anew (at most 128 strips).
        index(controllers);
        found = positions_.find(*csID);
        if (found == positions_.end()) return nullptr;
    }
    return controllers[found->second].get();
}

}  // namespace quenbril
