#include "MonitorApp/mainwindow/SegueTable.h"

namespace quenbril {

void SegueTable::add(const std::string& identifier, Maker maker) {
    makers_[identifier] = std::move(maker);
}

bool SegueTable::contains(const std::string& identifier) const {
    return makers_.count(identifier) != 0;
}

std::shared_ptr<SegueDestination> SegueTable::make(const std::string& identifier) const {
    auto entry = makers_.find(identifier);
    if (entry == makers_.end() || !entry->second) return nullptr;
    return entry->second();
}

}  // namespace quenbril
