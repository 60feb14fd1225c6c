#include "foundation/UserDefaults.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/BoundedFileRead.h"
#include "foundation/FileReplacement.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"

namespace quenbril {

namespace {

constexpr const char* kApplicationName = "Quenbril";

// The base folder of configuration files. XDG says a relative XDG_CONFIG_HOME is invalid and
// must be ignored.
std::string configurationHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] != '\0') {
        home = h;
    } else {
        passwd entry;
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            home = found->pw_dir;
        }
    }
    if (home.empty()) {
        log(LogLevel::Warning, "No home folder known; settings go to the current folder");
        home = ".";
    }
    return home + "/.config";
}

struct StandardStore {
    std::mutex mutex;
    std::unique_ptr<UserDefaults> current;
    // Instances dropped by a reset stay alive so that references taken earlier never dangle.
    std::vector<std::unique_ptr<UserDefaults>> retired;
};

StandardStore& standardStore() {
    // Never destroyed: other objects may touch the settings while the program exits.
    static StandardStore* store = new StandardStore;
    return *store;
}

// Makes `directory` and its missing parents with mode 0700 (as XDG asks).
bool makeDirectories(const std::string& directory, std::string* failure) {
    struct stat st;
    if (stat(directory.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *failure = directory + " is not a folder";
        return false;
    }
    for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        std::string part = directory.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *failure = "cannot make folder " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) break;
    }
    if (stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *failure = directory + " is not a folder";
        return false;
    }
    return true;
}

// Reads the whole file. Nothing (and errno set) when it cannot be opened or read, is not a
// regular file, or is larger than the bound on user files (EFBIG): a settings file that size is
// damaged, and reading and rewriting it whole on every change would stall the program.
std::optional<Bytes> readAll(const std::string& path) {
    Error error;
    std::optional<Bytes> bytes = readBoundedFile(path, kMaxUserFileSize, &error);
    if (!bytes) errno = static_cast<int>(error.code);
    return bytes;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write must replace: `path` itself, or the end of the chain of symbolic links it
// starts (the target need not exist yet). Replacing the link itself would cut it.
std::optional<std::string> resolveLinks(const std::string& path, std::string* failure) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current;
            *failure = "cannot examine " + current + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return current;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) {
            *failure = "cannot read the link " + current;
            return std::nullopt;
        }
        std::string next(target.data(), static_cast<size_t>(n));
        current = next[0] == '/' ? next : folderOf(current) + "/" + next;
    }
    *failure = "too many levels of symbolic links at " + path;
    return std::nullopt;
}

std::string maxFileSizeText() { return std::to_string(kMaxUserFileSize >> 20) + " MiB"; }

// The values of a settings file, or none (with the reason) when it is damaged or cannot be
// written back. Values we could not write back (a binary plist's date out of range, say) would
// make every later save fail, so they are dropped with a log line. A file whose values written
// back would be larger than the store reads (the writer indents every element by its depth,
// where a file may have none) would do the same for all of them.
std::optional<Dictionary> parseSettings(const Bytes& bytes, const std::string& path,
                                        std::string* reason) {
    Error error;
    std::optional<Value> root = PropertyList::read(bytes, &error);
    if (!root || !root->isDictionary()) {
        *reason = root ? "its root is not a dictionary" : error.description;
        return std::nullopt;
    }
    Dictionary values = *root->dictionaryValue();
    // Told without writing it where it is plain: a write that size takes a while.
    auto tooLarge = [&](uint64_t size, const char* atLeast) {
        *reason = "written back it would take " + std::string(atLeast) + std::to_string(size) +
                  " bytes, more than " + maxFileSizeText();
    };
    if (const uint64_t least = PropertyList::xmlLengthAtLeast(Value(values));
        least > kMaxUserFileSize) {
        tooLarge(least, "at least ");
        return std::nullopt;
    }
    std::optional<Bytes> rewrite = PropertyList::write(Value(values), PropertyList::Format::Xml);
    if (!rewrite) {
        for (const auto& [key, value] : *root->dictionaryValue()) {
            Error unstorable;
            if (!PropertyList::write(value, PropertyList::Format::Xml, &unstorable)) {
                log(LogLevel::Error, "Dropping the setting %s from %s: %s",
                    key.description().c_str(), path.c_str(), unstorable.description.c_str());
                values.erase(key);
            }
        }
        rewrite = PropertyList::write(Value(values), PropertyList::Format::Xml, &error);
        if (!rewrite) {
            *reason = "it cannot be written back: " + error.description;
            return std::nullopt;
        }
    }
    if (rewrite->size() > kMaxUserFileSize) {
        tooLarge(rewrite->size(), "");
        return std::nullopt;
    }
    return values;
}

// Why a file that is there could not be read, in the words of the system's messages.
std::string unreadableReason(int code) {
    // The reader answers EINVAL for a FIFO or a device, which it never reads.
    return code == EINVAL ? "Not a regular file" : std::strerror(code);
}

std::string oversizeReason() { return "it is larger than " + maxFileSizeText(); }

// Renames a damaged settings file to "<file>.corrupt-<date>-<time>" for the user to inspect;
// answers the new name.
std::optional<std::string> moveAside(const std::string& file, const std::string& reason) {
    std::string aside = file + ".corrupt-" + timestamp();
    struct stat st;
    for (int n = 1; lstat(aside.c_str(), &st) == 0 && n < 1000; ++n) {
        aside = file + ".corrupt-" + timestamp() + "-" + std::to_string(n);
    }
    if (rename(file.c_str(), aside.c_str()) != 0) {
        log(LogLevel::Error, "The settings file %s is damaged (%s) and cannot be moved aside (%s)",
            file.c_str(), reason.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    log(LogLevel::Error, "The settings file %s is damaged (%s); it was moved to %s", file.c_str(),
        reason.c_str(), aside.c_str());
    return aside;
}

// An exclusive lock on a folder for as long as it lives: writers of the files in it take turns,
// whichever process they are in. flock() locks belong to an open file, so two stores of one
// process exclude each other too.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder)
        : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0) return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_;
};

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    StandardStore& store = standardStore();
    std::lock_guard lock(store.mutex);
    if (!store.current) {
        store.current = std::make_unique<UserDefaults>(configurationHome() + "/" + kApplicationName,
                                                       kApplicationName);
    }
    return *store.current;
}

void UserDefaults::resetStandardUserDefaults() {
    StandardStore& store = standardStore();
    std::lock_guard lock(store.mutex);
    if (store.current) store.retired.push_back(std::move(store.current));
}

UserDefaults::UserDefaults(std::string directory, std::string domain)
    : directory_(std::move(directory)),
      domain_(std::move(domain)),
      path_(directory_ + "/" + domain_ + ".plist") {
    std::lock_guard lock(mutex_);
    load();
}

void UserDefaults::load() {
    std::string failure;
    const std::optional<std::string> target = resolveLinks(path_, &failure);
    if (target) removeLeftoverTemporaries(*target);

    std::optional<Bytes> bytes = readAll(path_);
    std::string reason;
    if (!bytes) {
        // No file (or no folder on the way to it) is a store not yet written.
        if (errno == ENOENT || errno == ENOTDIR) return;
        if (errno != EFBIG) {
            // It may be readable another time (as its owner, say): it stays as it is.
            const std::string why = unreadableReason(errno);
            log(LogLevel::Error,
                "Cannot read the settings file %s (%s); it will not be overwritten", path_.c_str(),
                why.c_str());
            unreadable_ = Unreadable{path_, why};
            writesRefused_ = true;
            return;
        }
        reason = oversizeReason();
    } else if (std::optional<Dictionary> values = parseSettings(*bytes, path_, &reason)) {
        stored_ = std::move(*values);
        onDisk_ = std::move(bytes);
        return;
    }
    // Keep the damaged file for the user to inspect; never write over it.
    if (!target || !setAside(*target, reason)) {
        log(LogLevel::Error, "Starting with empty settings that will not be saved to %s",
            path_.c_str());
        writesRefused_ = true;
        return;
    }
    log(LogLevel::Error, "The settings of %s start empty", path_.c_str());
}

bool UserDefaults::setAside(const std::string& file, const std::string& reason) {
    std::optional<std::string> aside = moveAside(file, reason);
    if (aside) setAside_ = SetAside{file, *aside, reason};
    return aside.has_value();
}

std::optional<UserDefaults::SetAside> UserDefaults::takeSetAside() {
    std::lock_guard lock(mutex_);
    return std::exchange(setAside_, std::nullopt);
}

std::optional<UserDefaults::Unreadable> UserDefaults::takeUnreadable() {
    std::lock_guard lock(mutex_);
    return std::exchange(unreadable_, std::nullopt);
}

bool UserDefaults::readable(const Bytes& file) { return fitsAtLeast(file.size()); }

bool UserDefaults::fitsAtLeast(uint64_t size) {
    // A file the reader refuses would be set aside at the next start, and every setting with it.
    if (size <= kMaxUserFileSize) return true;
    if (firstRefusal("size")) {
        log(LogLevel::Error,
            "Settings not saved to %s: they would take at least %llu bytes, more than %s",
            path_.c_str(), static_cast<unsigned long long>(size), maxFileSizeText().c_str());
    }
    return false;
}

bool UserDefaults::firstRefusal(const char* why) { return refusalsLogged_.insert(why).second; }

bool UserDefaults::firstWarning(const char* what) { return warned_.insert(what).second; }

bool UserDefaults::noteChanged(const Value& key) { return !changed_.insert(key).second; }

std::optional<Dictionary> UserDefaults::valuesToWrite(const std::string& target) {
    std::optional<Bytes> now = readAll(target);
    if (!now && errno == EFBIG) {
        // Another writer left it oversized: aside with it, as with a damaged file.
        if (!setAside(target, oversizeReason())) return std::nullopt;
        return stored_;
    }
    if (!now && errno != ENOENT) {
        if (firstRefusal("merge")) {
            log(LogLevel::Error, "Settings not saved to %s: cannot read it to merge: %s",
                path_.c_str(), std::strerror(errno));
        }
        return std::nullopt;
    }
    if (now == onDisk_) return stored_;

    // Another store wrote the file since: keep what it wrote and lay this store's changes on it.
    // A file it left damaged is moved aside, and what this store holds is the best there is.
    Dictionary merged;
    std::string reason;
    if (now) {
        if (std::optional<Dictionary> values = parseSettings(*now, target, &reason)) {
            merged = std::move(*values);
        } else if (setAside(target, reason)) {
            return stored_;
        } else {
            return std::nullopt;
        }
    }
    for (const Value& key : changed_) {
        const Value& value = stored_[key];
        if (value.isNull()) {
            merged.erase(key);
        } else {
            merged.set(key, value);
        }
    }
    return merged;
}

UserDefaults::WriteResult UserDefaults::writeLocked() {
    // A full disk or a read-only file refuses every save, and some settings are saved many times
    // a second: each reason is logged once until a save goes through.
    const WriteResult result = tryWriteLocked();
    if (result == WriteResult::Written && !refusalsLogged_.empty()) {
        log(LogLevel::Info, "Settings saved to %s again", path_.c_str());
        refusalsLogged_.clear();
    }
    return result;
}

UserDefaults::WriteResult UserDefaults::tryWriteLocked() {
    // Told without writing where it is plain: writing that much takes a long while.
    if (!fitsAtLeast(PropertyList::xmlLengthAtLeast(Value(stored_)))) {
        return WriteResult::Unstorable;
    }
    Error error;
    std::optional<Bytes> bytes =
        PropertyList::write(Value(stored_), PropertyList::Format::Xml, &error);
    if (!bytes) {
        if (firstRefusal("unstorable")) {
            log(LogLevel::Error, "Settings not saved to %s: %s", path_.c_str(),
                error.description.c_str());
        }
        return WriteResult::Unstorable;
    }
    if (!readable(*bytes)) return WriteResult::Unstorable;
    if (writesRefused_) {
        if (firstRefusal("refused")) {
            log(LogLevel::Error,
                "Settings not saved: %s could not be read or moved aside and is left as it is",
                path_.c_str());
        }
        return WriteResult::Failed;
    }
    std::string failure;
    if (!makeDirectories(directory_, &failure)) {
        if (firstRefusal("folder")) {
            log(LogLevel::Error, "Settings not saved to %s: %s", path_.c_str(), failure.c_str());
        }
        return WriteResult::Failed;
    }
    FolderLock lock(directory_);
    if (const int why = errno; !lock.held() && firstWarning("lock")) {
        // Some file systems have no locks. The merge below still keeps most of what another
        // writer did; only writes at the very same moment can lose.
        log(LogLevel::Warning, "Cannot lock %s (%s); saving without the lock", directory_.c_str(),
            std::strerror(why));
    }
    const std::optional<std::string> target = resolveLinks(path_, &failure);
    if (!target) {
        if (firstRefusal("links")) {
            log(LogLevel::Error, "Settings not saved to %s: %s", path_.c_str(), failure.c_str());
        }
        return WriteResult::Failed;
    }
    struct stat existing;
    const bool exists = stat(target->c_str(), &existing) == 0;
    if (exists && ((existing.st_mode & 0222) == 0 || access(target->c_str(), W_OK) != 0)) {
        if (firstRefusal("read-only")) {
            log(LogLevel::Error, "Settings not saved: %s is read-only and is left as it is",
                target->c_str());
        }
        return WriteResult::Failed;
    }
    std::optional<Dictionary> values = valuesToWrite(*target);
    if (!values) return WriteResult::Failed;
    bytes = PropertyList::write(Value(*values), PropertyList::Format::Xml, &error);
    if (!bytes) {
        if (firstRefusal("merged")) {
            log(LogLevel::Error, "Settings not saved to %s: %s", path_.c_str(),
                error.description.c_str());
        }
        return WriteResult::Failed;
    }
    // Another store's keys may have made the whole too large.
    if (!readable(*bytes)) return WriteResult::Unstorable;

    // The new contents go to a temporary file in the same folder (so the rename cannot cross
    // file systems), reach the disk, and only then replace the file in one step.
    const std::string folder = folderOf(*target);
    const std::optional<mode_t> mode =
        exists ? std::optional<mode_t>(existing.st_mode & 07777) : std::nullopt;
    if (auto failure = replaceFile(*target, *bytes, mode, beforeReplace_)) {
        if (!firstRefusal(failure->step)) return WriteResult::Failed;
        if (std::string_view(failure->step) == "create") {
            log(LogLevel::Error, "Settings not saved to %s: cannot create a temporary file: %s",
                path_.c_str(), std::strerror(failure->error));
        } else {
            log(LogLevel::Error, "Settings not saved to %s: %s failed: %s", path_.c_str(),
                failure->step, std::strerror(failure->error));
        }
        return WriteResult::Failed;
    }
    stored_ = std::move(*values);
    onDisk_ = std::move(bytes);
    changed_.clear();
    // The rename itself is durable only once the folder is flushed too. The new file is in
    // place either way, so a failure here is only worth a line.
    int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 || fsync(dirFd) != 0) {
        const int why = errno;
        if (firstWarning("flush")) {
            log(LogLevel::Warning, "Cannot flush the folder %s: %s", folder.c_str(),
                std::strerror(why));
        }
    }
    if (dirFd >= 0) close(dirFd);
    return WriteResult::Written;
}

Value UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const Value& stored = stored_[key];
    return stored.isNull() ? registered_[key] : stored;
}

bool UserDefaults::setObject(const Value& value, std::string_view key) {
    if (value.isNull()) return removeObjectForKey(key);
    std::lock_guard lock(mutex_);
    Value k{std::string(key)};
    std::optional<Value> previous;
    if (stored_.contains(k)) previous = stored_[k];
    const bool changedBefore = noteChanged(k);
    stored_.set(k, value);
    switch (writeLocked()) {
        case WriteResult::Written:
            dirty_ = false;
            return true;
        case WriteResult::Unstorable:
            if (previous) {
                stored_.set(k, std::move(*previous));
            } else {
                stored_.erase(k);
            }
            if (!changedBefore) changed_.erase(k);
            return false;
        case WriteResult::Failed:
            dirty_ = true;
            return false;
    }
    return false;
}

bool UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    Value k{std::string(key)};
    if (!stored_.contains(k) && !dirty_) return true;
    // A removal is a change of this store's too: a merge must not bring the key back.
    if (stored_.contains(k)) noteChanged(k);
    stored_.erase(k);
    dirty_ = writeLocked() != WriteResult::Written;
    return !dirty_;
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_.set(key, value);
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!dirty_) return true;
    dirty_ = writeLocked() != WriteResult::Written;
    return !dirty_;
}

Dictionary UserDefaults::storedValues() const {
    std::lock_guard lock(mutex_);
    return stored_;
}

template <typename T, typename Accept>
std::optional<T> UserDefaults::lookUp(std::string_view key, Accept accept) const {
    std::lock_guard lock(mutex_);
    for (const Dictionary* domain : {&stored_, &registered_}) {
        const Value& value = (*domain)[key];
        if (value.isNull()) continue;
        if (std::optional<T> result = accept(value)) return result;
    }
    return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    return lookUp<bool>(key, [](const Value& v) { return v.boolValue(); }).value_or(false);
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    return lookUp<int64_t>(key, [](const Value& v) { return v.longLongValue(); }).value_or(0);
}

double UserDefaults::doubleForKey(std::string_view key) const {
    return lookUp<double>(key, [](const Value& v) { return v.doubleValue(); }).value_or(0);
}

float UserDefaults::floatForKey(std::string_view key) const {
    return lookUp<float>(key, [](const Value& v) { return v.floatValue(); }).value_or(0);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    return lookUp<std::string>(key, [](const Value& v) -> std::optional<std::string> {
        if (const std::string* s = v.stringValue()) return *s;
        return std::nullopt;
    });
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
    return lookUp<Array>(key, [](const Value& v) -> std::optional<Array> {
        if (const Array* a = v.arrayValue()) return *a;
        return std::nullopt;
    });
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    return lookUp<Dictionary>(key, [](const Value& v) -> std::optional<Dictionary> {
        if (const Dictionary* d = v.dictionaryValue()) return *d;
        return std::nullopt;
    });
}

std::optional<Bytes> UserDefaults::dataForKey(std::string_view key) const {
    return lookUp<Bytes>(key, [](const Value& v) -> std::optional<Bytes> {
        if (const Bytes* b = v.dataValue()) return *b;
        return std::nullopt;
    });
}

bool UserDefaults::setBool(bool v, std::string_view key) { return setObject(Value(v), key); }

bool UserDefaults::setInteger(int64_t v, std::string_view key) { return setObject(Value(v), key); }

bool UserDefaults::setDouble(double v, std::string_view key) { return setObject(Value(v), key); }

}  // namespace quenbril
