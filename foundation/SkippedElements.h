#pragma once

#include <cstddef>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// Counts the elements of one array (of a message, a file or a stored value) that are skipped
/// for their kind, and logs them in one line when it goes out of scope: an array of millions of
/// bad elements makes one line, not millions.
class SkippedElements {
  public:
    /// `what` names the array in the line ("\"ActiveChannels\"", "Snapshot: group names").
    explicit SkippedElements(std::string what) : what_(std::move(what)) {}
    ~SkippedElements();
    SkippedElements(const SkippedElements&) = delete;
    SkippedElements& operator=(const SkippedElements&) = delete;

    /// Counts element `index`, whose kind is wrong.
    void add(size_t index, const Value& element);
    size_t count() const { return count_; }

  private:
    std::string what_;
    size_t count_ = 0;
    size_t firstIndex_ = 0;
    Value::Kind firstKind_ = Value::Kind::Null;
};

}  // namespace quenbril
