#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "MonitorApp/settings/SMPTETimecode.h"
#include "foundation/Value.h"

namespace quenbril {

/// One note of the notebook: the strip it belongs to, its timecode and wall-clock time, its
/// text and author. The text, author, time and timecode are read and written under a lock, so a
/// reader on another thread never sees half a timecode.
class TimelineEntry {
  public:
    /// Every field zero or missing.
    TimelineEntry() = default;
    /// An entry from the dictionary form {"Note", "Creator", "Time", "csID", "teID", "Hours",
    /// "Mins", "Secs", "Frame"}. A missing key, or one of the wrong kind, reads as missing
    /// (no text, no date) or 0; so does a date that is not finite or out of range.
    static std::shared_ptr<TimelineEntry> makeWithProperty(const Dictionary& property);

    /// The dictionary form, all nine keys. Fills in first what the entry lacks: no text or no
    /// author becomes "", no time becomes now (the main run loop's clock).
    Dictionary property();

    /// Note id given by the server; 0 for a note not yet known to it.
    int32_t teID() const { return teID_; }
    void setTeID(int32_t v) { teID_ = v; }
    /// The strip the note belongs to; 0 for none yet.
    int64_t csID() const { return csID_; }
    void setCsID(int64_t v) { csID_ = v; }
    /// Seconds since 2001-01-01.
    std::optional<double> time() const;
    void setTime(std::optional<double> v);
    std::optional<std::string> note() const;
    void setNote(std::optional<std::string> v);
    std::optional<std::string> creator() const;
    void setCreator(std::optional<std::string> v);
    SMPTETimecode ltc() const;
    void setLtc(const SMPTETimecode& v);

  private:
    mutable std::mutex mutex_;
    int32_t teID_ = 0;
    int64_t csID_ = 0;
    std::optional<double> time_;
    std::optional<std::string> note_;
    std::optional<std::string> creator_;
    SMPTETimecode ltc_;
};

}  // namespace quenbril
