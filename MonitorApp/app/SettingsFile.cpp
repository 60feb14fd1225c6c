#include "MonitorApp/app/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/PropertyList.h"

namespace quenbril {

namespace {

constexpr const char* kColorKey = "color";
constexpr const char* kChatKey = "chat";
constexpr const char* kGeneralKey = "general";
constexpr const char* kDomain = "SettingsFileErrorDomain";

Error systemError(const std::string& call, const std::string& path) {
    return Error{kDomain, errno, call + " " + path + ": " + std::strerror(errno), {}};
}

void setError(Error* error, Error value) {
    if (error) *error = std::move(value);
}

bool writeAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
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
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        setError(error, systemError("mkstemp", temporary));
        return false;
    }
    ::fchmod(fd, 0644);
    bool written = writeAll(fd, *bytes) && ::fsync(fd) == 0;
    Error failure = written ? Error{} : systemError("write", temporary);
    if (::close(fd) != 0 && written) {
        written = false;
        failure = systemError("close", temporary);
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        failure = systemError("rename", path);
    }
    if (!written) {
        ::unlink(temporary.c_str());
        setError(error, failure);
    }
    return written;
}

std::optional<Dictionary> SettingsFile::read(const std::string& path, Error* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, systemError("open", path));
        return std::nullopt;
    }
    Bytes bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > kMaxFileSize) {
            setError(error, Error{kDomain, EFBIG, path + " is larger than 64 MiB", {}});
            return std::nullopt;
        }
    }
    if (in.bad()) {
        setError(error, systemError("read", path));
        return std::nullopt;
    }
    Error plistError;
    std::optional<Value> root = PropertyList::read(bytes, &plistError);
    if (!root) {
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
        UserSettingsManager::sharedInstance().setSettings(*general);
    }
    if (const Dictionary* color = settings[kColorKey].dictionaryValue()) {
        stored = ColorHelper::setColorSettings(*color) && stored;
    }
    return stored;
}

}  // namespace quenbril
