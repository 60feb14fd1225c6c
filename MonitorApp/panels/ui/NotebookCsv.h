#pragma once

#include <string>

#include "MonitorApp/panels/NotebookManager.h"
#include "foundation/Error.h"

namespace quenbril {

class StripLookup;

/// The notebook as a CSV text: the header "Note,LTC,Time,Creator,Channel,Audio input", then one
/// line per note, each line ended by a carriage return alone. The note and the creator are
/// always quoted, with their quotes doubled; the channel name and the time are quoted only
/// when they hold a comma, quote, CR or LF, so ordinary lines keep their plain form. Text
/// from other people that a spreadsheet would run is written as text.
class NotebookCsv {
  public:
    static std::string text(const NotebookManager::Entries& entries, StripLookup& strips);
    /// Writes `text` to `path` as UTF-8 without a byte-order mark, through a temporary file
    /// that replaces the target in one step. False with the path and the reason in `error`.
    static bool write(const std::string& text, const std::string& path, Error* error);
    /// A field written inside quotes: its quotes doubled.
    static std::string quoted(const std::string& field);
    /// A field written as it is unless it holds a comma, quote, CR or LF.
    static std::string quotedWhenNeeded(const std::string& field);
    /// A text field as a spreadsheet shows it as text: one that begins with =, +, -, @, tab or
    /// CR gets a leading apostrophe, so it is never run as a formula.
    static std::string asText(const std::string& field);
};

}  // namespace quenbril
