#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace quenbril {

/// Modal open and save panels; the application shows file dialogs, tests answer from a script.
/// A panel belongs to the window that asks for it, as an alert does.
class FilePanel {
  public:
    struct Request {
        enum class Kind { Open, Save };
        Kind kind = Kind::Open;
        /// File name extensions without the dot (e.g. "qcf"); only these may be chosen. Empty:
        /// any file.
        std::vector<std::string> allowedTypes;
        /// The name a save panel proposes.
        std::string suggestedName;
    };
    virtual ~FilePanel() = default;
    /// The path chosen, or nothing when the user cancelled. A save panel's path carries one of
    /// the allowed extensions.
    virtual std::optional<std::string> runModal(QWidget* window, const Request& request) = 0;
};

}  // namespace quenbril
