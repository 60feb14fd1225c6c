#include "MonitorApp/app/SettingsFile.h"

#include <cerrno>
#include <cstring>

#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/BoundedFileRead.h"
#include "foundation/FileReplacement.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kColorKey = "color";
constexpr const char* kChatKey = "chat";
constexpr const char* kGeneralKey = "general";
constexpr const char* kDomain = "SettingsFileErrorDomain";

Error systemError(const std::string& call, const std::string& path, int code = errno) {
    return Error{kDomain, code, call + " " + path + ": " + std::strerror(code), {}};
}

void setError(Error* error, Error value) {
    if (error) *error = std::move(value);
}

}  // namespace

Dictionary SettingsFile::make() {
    Dictionary root;
    root.set(kColorKey, Value(ColorHelper::getColorSettings()));
    root.set(kChatKey, Value(UserSettingsManager::getChatSettings()));
    root.set(kGeneralKey, Value(UserSettingsManager::sharedInstance().getSettings()));
    return root;
}

bool SettingsFile::write(const Dictionary& settings, const std::string& path, Error* error) {
    Error plistError;
    std::optional<Bytes> bytes =
        PropertyList::write(Value(settings), PropertyList::Format::Xml, &plistError);
    if (!bytes) {
        setError(error, plistError);
        return false;
    }
    // The new file is written beside the old one and renamed over it.
    if (auto failure = replaceFile(path, *bytes, mode_t{0644})) {
        setError(error, systemError(failure->step, path, failure->error));
        return false;
    }
    return true;
}

std::optional<Dictionary> SettingsFile::read(const std::string& path, Error* error) {
    std::optional<Bytes> bytes = readBoundedFile(path, kMaxFileSize, error);
    if (!bytes) return std::nullopt;
    Error plistError;
    std::optional<Value> root = PropertyList::read(*bytes, &plistError);
    if (!root) {
        // The alert names the file the user chose, as a failed open or read does.
        plistError.description = path + ": " + plistError.description;
        setError(error, plistError);
        return std::nullopt;
    }
    const Dictionary* dictionary = root->dictionaryValue();
    if (!dictionary) {
        setError(error, Error{kDomain, EINVAL, path + " holds no settings dictionary", {}});
        return std::nullopt;
    }
    return *dictionary;
}

bool SettingsFile::apply(const Dictionary& settings) {
    bool stored = true;
    if (const Dictionary* chat = settings[kChatKey].dictionaryValue()) {
        stored = UserSettingsManager::setChatSettings(*chat) && stored;
    }
    if (const Dictionary* general = settings[kGeneralKey].dictionaryValue()) {
        UserSettingsManager& user = UserSettingsManager::sharedInstance();
        user.setSettings(*general);
        stored = user.saveSettings() && stored;
    }
    if (const Dictionary* color = settings[kColorKey].dictionaryValue()) {
        stored = ColorHelper::setColorSettings(*color) && stored;
        ColorHelper::sharedInstance().updateColors();
    }
    return UserDefaults::standardUserDefaults().synchronize() && stored;
}

}  // namespace quenbril
