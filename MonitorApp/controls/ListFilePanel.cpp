#include "MonitorApp/controls/ListFilePanel.h"

#include <filesystem>

#include "foundation/Error.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

ListFilePanel::ListFilePanel(std::string items, std::string extension, std::string suggestedStem)
    : items_(std::move(items)),
      extension_(std::move(extension)),
      suggestedStem_(std::move(suggestedStem)) {}

std::optional<std::string> ListFilePanel::ask(QWidget* window, bool save) const {
    if (!panel_) {
        log(LogLevel::Warning, "No file panel to %s %s with", save ? "save" : "load",
            items_.c_str());
        return std::nullopt;
    }
    FilePanel::Request request;
    request.kind = save ? FilePanel::Request::Kind::Save : FilePanel::Request::Kind::Open;
    request.allowedTypes = {extension_};
    if (save) request.suggestedName = suggestedStem_ + "." + extension_;
    return panel_->runModal(window, request);
}

bool ListFilePanel::load(QWidget* window, const FileAction& read, const Failure& failed) const {
    const std::optional<std::string> path = ask(window, false);
    if (!path) return false;
    Error error;
    if (read(*path, &error)) return true;
    failed("The " + items_ + " of \"" + fileName(*path) + "\" could not be loaded.",
           error.description);
    return false;
}

bool ListFilePanel::saveAs(QWidget* window, const FileAction& write, const Failure& failed) const {
    const std::optional<std::string> path = ask(window, true);
    if (!path) return false;
    Error error;
    if (write(*path, &error)) return true;
    failed("The " + items_ + " could not be saved to \"" + fileName(*path) + "\".",
           error.description);
    return false;
}

}  // namespace quenbril
