#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

/// The windows the main window's segues open: one maker per segue identifier. A segue whose
/// window does not exist yet has no entry, and performing it is skipped.
class SegueTable {
  public:
    using Maker = std::function<std::shared_ptr<SegueDestination>()>;

    /// Adds or replaces the maker of `identifier`.
    void add(const std::string& identifier, Maker maker);
    bool contains(const std::string& identifier) const;
    /// A new destination for `identifier`; null when the table has none (or its maker made
    /// none).
    std::shared_ptr<SegueDestination> make(const std::string& identifier) const;

  private:
    std::map<std::string, Maker> makers_;
};

}  // namespace quenbril
