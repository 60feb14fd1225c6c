#include "MonitorApp/panels/ui/StripLookup.h"

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"

namespace quenbril {

void StripLookup::build() {
    positions_.clear();
    const auto& controllers = strips_.controllers();
    for (size_t i = 0; i < controllers.size(); ++i) {
        const int64_t id = controllers[i]->model().csID();
        // The first strip with an id wins, as in the manager's own look-up.
        if (id != 0) positions_.try_emplace(id, i);
    }
    builtFor_ = controllers.size();
    built_ = true;
}

ChannelStripController* StripLookup::find(int64_t csID) {
    if (csID == 0) return nullptr;
    const auto& controllers = strips_.controllers();
    if (!built_ || builtFor_ != controllers.size()) build();
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto found = positions_.find(csID);
        if (found == positions_.end()) return nullptr;
        // A strip moved or changed its id since the map was made: make it again once.
        if (found->second < controllers.size() && controllers[found->second]->isAddressedBy(csID)) {
            return controllers[found->second].get();
        }
        build();
    }
    return nullptr;
}

}  // namespace quenbril
