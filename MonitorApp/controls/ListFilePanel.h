#pragma once

#include <functional>
#include <optional>
#include <string>

#include "MonitorApp/controls/FilePanel.h"

class QWidget;

namespace quenbril {

struct Error;

/// The load and save buttons of a list window whose list is kept in files of one type (the
/// player list's ".pla", the receiver list's ".wip"): asks the file panel for a path of that
/// type, runs the reading or writing on it and words a failure for the window's alert.
class ListFilePanel {
  public:
    /// Reads or writes the list at `path`; false with `error` filled when that failed.
    using FileAction = std::function<bool(const std::string& path, Error* error)>;
    /// Shows an alert with these texts over the window.
    using Failure =
        std::function<void(const std::string& messageText, const std::string& informativeText)>;

    /// `items` names what the list holds in messages ("players"); `extension` is the file type
    /// without the dot; a save panel proposes `suggestedStem` with that extension.
    ListFilePanel(std::string items, std::string extension, std::string suggestedStem);

    /// Null: the buttons only log that there is no panel.
    void setFilePanel(FilePanel* panel) { panel_ = panel; }

    /// Asks for a file to load, modal to `window`, and runs `read` on the path chosen. False
    /// when there is no panel, the user cancelled or the reading failed (`failed` was told).
    bool load(QWidget* window, const FileAction& read, const Failure& failed) const;
    /// Asks for a file to save to and runs `write` on the path chosen; false as `load`.
    bool saveAs(QWidget* window, const FileAction& write, const Failure& failed) const;

  private:
    /// The path chosen in an open (`save` false) or save panel; nothing without a panel or
    /// when the user cancelled.
    std::optional<std::string> ask(QWidget* window, bool save) const;

    std::string items_;
    std::string extension_;
    std::string suggestedStem_;
    FilePanel* panel_ = nullptr;
};

}  // namespace quenbril
