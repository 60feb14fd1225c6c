#include "MonitorApp/settings/LTCManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {

SharedInstance<LTCManager> shared;

int32_t saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

LTCManager& LTCManager::sharedInstance() { return shared.get(); }

void LTCManager::resetSharedInstance() { shared.reset(); }

std::shared_ptr<ReceivedLTC> LTCManager::recordFor(int64_t csID) const {
    const auto found = byCSID_.find(csID);
    return found == byCSID_.end() ? nullptr : found->second;
}

void LTCManager::setReceivedTC(std::vector<std::shared_ptr<ReceivedLTC>> v) {
    receivedTC_ = std::move(v);
    byCSID_.clear();
    refusalLogged_ = false;
    for (const auto& record : receivedTC_) {
        if (record) byCSID_.try_emplace(record->csID(), record);
    }
}

void LTCManager::tcReceived(const Dictionary& message) {
    const int64_t csID = message["CSID"].longLongValue().value_or(0);
    std::shared_ptr<ReceivedLTC> record = recordFor(csID);
    if (!record) {
        if (receivedTC_.size() >= kMaxSources) {
            if (!refusalLogged_) {
                refusalLogged_ = true;
                // Later new sources are dropped too, unlogged: a peer inventing ids must not
                // fill the log either.
                QLOG("Timecode of source %lld not kept: %zu sources at most",
                     static_cast<long long>(csID), kMaxSources);
            }
            return;
        }
        record = std::make_shared<ReceivedLTC>();
        receivedTC_.push_back(record);
        byCSID_.emplace(csID, record);
        QLOG("New timecode added for %lld", static_cast<long long>(csID));
    }
    record->updateFromMessage(message);
    record->setReceiveLocalTime(RunLoop::main().now());
}

SMPTETimecode LTCManager::getTimecode(int64_t csID) {
    std::shared_ptr<ReceivedLTC> record = selectedLTC_.lock();
    if (!record || record->csID() != csID) {
        record = recordFor(csID);
        if (!record) {
            return {};
        }
        selectedLTC_ = record;
    }

    const double now = RunLoop::main().now();
    // The difference in double first: the absolute times are far too large for a float.
    const float age = static_cast<float>(now - record->receiveLocalTime());
    SMPTETimecode received{record->hours(), record->minutes(), record->seconds(), record->frames()};
    if (!(age <= kExtrapolationLimit)) {
        return received;
    }

    const float latency =
        static_cast<float>((record->sendTime() - record->receiveTime()) + static_cast<double>(age));
    const int64_t fps = record->fps();
    // Frames to add, truncated toward zero. A late or hostile record (a negative, huge or
    // undefined product) adds nothing or at most what an int holds.
    const float product = static_cast<float>(fps) * latency;
    int64_t added = 0;
    if (product > 0) {
        added = product >= 2147483647.0f ? int64_t{std::numeric_limits<int32_t>::max()}
                                         : static_cast<int64_t>(product);
    }
    int64_t frames = int64_t{received.frame} + added;
    int64_t secs = received.secs;
    int64_t mins = received.mins;
    int64_t hours = received.hours;
    // Carry by division, so that no field value makes this loop; hours are not wrapped.
    if (fps > 0 && frames >= fps) {
        secs += frames / fps;
        frames %= fps;
    }
    if (secs >= 60) {
        mins += secs / 60;
        secs %= 60;
    }
    if (mins >= 60) {
        hours += mins / 60;
        mins %= 60;
    }

    record->setCorrectedFrames(saturate(frames));
    record->setCorrectedSeconds(saturate(secs));
    record->setCorrectedTime(now);
    return {saturate(hours), saturate(mins), saturate(secs), saturate(frames)};
}

}  // namespace quenbril
