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

bool ListFilePanel::load(QWidget* window, const FileAction& read, const Failure& failed) const {
    if (!panel_) {
        log(LogLevel::Warning, "No file panel to load %s with", items_.c_str());
        return false;
    }
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Open;
    request.allowedTypes = {extension_};
    const std::optional<std::string> path = panel_->runModal(window, request);
    if (!path) return false;
    Error error;
    if (!read(*path, &error)) {
        failed("The " + items_ + " of \"" + fileName(*path) + "\" could not be loaded.",
               error.description);
        return false;
    }
    return true;
}

bool ListFilePanel::saveAs(QWidget* window, const FileAction& write, const Failure& failed) const {
    if (!panel_) {
        log(LogLevel::Warning, "No file panel to save %s with", items_.c_str());
        return false;
    }
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Save;
    request.allowedTypes = {extension_};
    request.suggestedName = suggestedStem_ + "." + extension_;
    const std::optional<std::string> path = panel_->runModal(window, request);
    if (!path) return false;
    Error error;
    if (!write(*path, &error)) {
        failed("The " + items_ + " could not be saved to \"" + fileName(*path) + "\".",
               error.description);
        return false;
    }
    return true;
}

}  // namespace quenbril
