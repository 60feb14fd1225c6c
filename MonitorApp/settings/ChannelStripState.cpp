#include "MonitorApp/settings/ChannelStripState.h"

#include <algorithm>

namespace quenbril {

// The members start cleared; make_unique value-initialises the samples to zero.
ChannelStripState::ChannelStripState() : timeCodeSample_(std::make_unique<TimeCodeSample>()) {}

void ChannelStripState::reset() {
    clipWarnings_ = 0;
    symmetryWarnings_ = 0;
    meanWarnings_ = 0;
    hfWarnings_ = 0;
    lpfWarnings_ = 0;
    peakWarnings_ = 0;
    batWarningOn_ = false;
    warningOn_ = false;
    rfWarningOn_ = false;
}

void ChannelStripState::addAssignedGroup(int32_t group) {
    if (std::find(assignedGroups_.begin(), assignedGroups_.end(), group) == assignedGroups_.end()) {
        assignedGroups_.push_back(group);
    }
}

}  // namespace quenbril
