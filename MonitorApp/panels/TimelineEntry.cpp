#include "MonitorApp/panels/TimelineEntry.h"

#include <memory>

#include "foundation/NumberRange.h"
#include "foundation/RunLoop.h"

namespace quenbril {

std::shared_ptr<TimelineEntry> TimelineEntry::makeWithProperty(const Dictionary& p) {
    auto e = std::make_shared<TimelineEntry>();
    e->note_ = p["Note"].optionalString();
    e->creator_ = p["Creator"].optionalString();
    e->time_ = dateInRange(p["Time"]);
    e->csID_ = p["csID"].longLongValue().value_or(0);
    e->teID_ = p["teID"].intValue().value_or(0);
    e->ltc_.hours = p["Hours"].intValue().value_or(0);
    e->ltc_.mins = p["Mins"].intValue().value_or(0);
    e->ltc_.secs = p["Secs"].intValue().value_or(0);
    e->ltc_.frame = p["Frame"].intValue().value_or(0);
    return e;
}

Dictionary TimelineEntry::property() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!note_) note_ = "";
    if (!creator_) creator_ = "";
    if (!time_) time_ = RunLoop::main().now();
    return Dictionary{{"Note", *note_},    {"Creator", *creator_}, {"Time", Date{*time_}},
                      {"csID", csID_},     {"teID", teID_},        {"Hours", ltc_.hours},
                      {"Mins", ltc_.mins}, {"Secs", ltc_.secs},    {"Frame", ltc_.frame}};
}

std::optional<double> TimelineEntry::time() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return time_;
}

void TimelineEntry::setTime(std::optional<double> v) {
    std::lock_guard<std::mutex> lock(mutex_);
    time_ = v;
}

std::optional<std::string> TimelineEntry::note() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return note_;
}

void TimelineEntry::setNote(std::optional<std::string> v) {
    std::lock_guard<std::mutex> lock(mutex_);
    note_ = std::move(v);
}

std::optional<std::string> TimelineEntry::creator() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return creator_;
}

void TimelineEntry::setCreator(std::optional<std::string> v) {
    std::lock_guard<std::mutex> lock(mutex_);
    creator_ = std::move(v);
}

SMPTETimecode TimelineEntry::ltc() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ltc_;
}

void TimelineEntry::setLtc(const SMPTETimecode& v) {
    std::lock_guard<std::mutex> lock(mutex_);
    ltc_ = v;
}

}  // namespace quenbril
