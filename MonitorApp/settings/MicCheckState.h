#pragma once

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// A strip's mic-check record: whether it was checked, by whom, when, with what note. A record
/// the server sent without a time has none, and shows none.
class MicCheckState {
  public:
    /// Not checked, needs checking, no user or note, stamped with the current time.
    MicCheckState();

    bool checked() const { return checked_; }
    void setChecked(bool v) { checked_ = v; }
    bool needsChecking() const { return needsChecking_; }
    void setNeedsChecking(bool v) { needsChecking_ = v; }
    const std::optional<Date>& time() const { return time_; }
    void setTime(std::optional<Date> v) { time_ = v; }
    const std::string& user() const { return user_; }
    void setUser(std::string v) { user_ = std::move(v); }
    const std::string& note() const { return note_; }
    void setNote(std::string v) { note_ = std::move(v); }

    bool operator==(const MicCheckState&) const = default;

  private:
    bool checked_ = false;
    bool needsChecking_ = true;
    std::optional<Date> time_;
    std::string user_;
    std::string note_;
};

}  // namespace quenbril
