#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace quenbril {

/// A store of user preferences: one XML property list per domain, kept in memory and written
/// back whole after every change.
///
/// Several stores may share one file, in one process or in several (two copies of the program).
/// A write holds a lock on the folder while it reads, merges and replaces the file, and when the
/// file changed since this store last read or wrote it, the write starts from what is on disk and
/// applies only the keys this store changed (set or removed) since: no store loses another's keys.
/// Each process names its temporary files after its id, and a store's start-up removes only those
/// of processes that are gone.
///
/// A file the user made read-only (no write bit) is not replaced: the write fails. A file that is
/// a symbolic link is written through to its target, and the link stays.
///
/// Look-ups search the stored values first, then the registered defaults. Every setter writes
/// the file before it returns and answers false (after a log line) when the write failed; the
/// changed value stays in memory for this run all the same, and the next successful write
/// saves it. Writes are atomic: the new file is written beside the old one, flushed to disk
/// and renamed over it, so a crash or a full disk leaves either the old file or the new one,
/// never a mixture.
///
/// A file that cannot be parsed (or whose root is not a dictionary), or whose values written back
/// would be larger than the store reads, is renamed aside to "<file>.corrupt-<date>-<time>"
/// with a log line (and kept for takeSetAside, so that the program can tell the user) and the
/// store starts empty. A file that exists but cannot be read (kept for takeUnreadable), or a
/// damaged one that cannot be moved aside, is never overwritten: the store keeps working in
/// memory and every write reports failure.
///
/// A refused save is logged once for each reason until a save goes through.
///
/// All members may be called from any thread; one mutex guards the state and the file.
class UserDefaults {
  public:
    /// The application's store: $XDG_CONFIG_HOME/Quenbril/Quenbril.plist (XDG_CONFIG_HOME
    /// defaulting to ~/.config). Made on first use.
    static UserDefaults& standardUserDefaults();
    /// Tests: drops the shared instance; the next standardUserDefaults() re-reads the
    /// environment and the file (a simulated restart). Registered defaults are dropped too.
    /// References taken before stay valid (the old instance is kept, detached, until exit) but
    /// should not be used.
    static void resetStandardUserDefaults();

    /// The store of file <directory>/<domain>.plist, read at once. The directory is made
    /// (mode 0700) at the first write.
    UserDefaults(std::string directory, std::string domain);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    /// The stored value, else the registered default, else null.
    Value objectForKey(std::string_view key) const;
    /// Stores `value` (a null value removes the key) and writes the file. False, with a log
    /// line, when the file could not be written, or when the value cannot go in a property list
    /// (null inside a collection, a colour, an object, a dictionary with non-string keys) or
    /// would make the file larger than the store reads (kMaxUserFileSize), in which case nothing
    /// changes.
    bool setObject(const Value& value, std::string_view key);
    bool removeObjectForKey(std::string_view key);
    /// Adds to the registered defaults (later registrations replace earlier ones key by key).
    /// They are never written to the file.
    void registerDefaults(const Dictionary& defaults);

    // Typed getters. A stored value of the wrong kind reads as missing, so the registered
    // default of that kind applies, else the getter's empty answer. Bools, integers and reals
    // are one kind here and convert into each other as number objects do.
    bool boolForKey(std::string_view key) const;        // false when missing
    int64_t integerForKey(std::string_view key) const;  // 0 when missing
    double doubleForKey(std::string_view key) const;    // 0 when missing
    float floatForKey(std::string_view key) const;      // 0 when missing
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Bytes> dataForKey(std::string_view key) const;

    bool setBool(bool v, std::string_view key);
    bool setInteger(int64_t v, std::string_view key);
    bool setDouble(double v, std::string_view key);

    /// Writes the file when a change has not been saved yet. False when it could not be
    /// written.
    bool synchronize();

    /// A damaged file this store moved aside (its name, the name it now has, and why).
    struct SetAside {
        std::string file;
        std::string movedTo;
        std::string reason;
    };
    /// The last file moved aside, once: it is nothing afterwards until another one is.
    std::optional<SetAside> takeSetAside();
    /// A file that was there at the start but could not be read (its name and why), which the
    /// store leaves as it is and never writes: nothing changed in this run is kept.
    struct Unreadable {
        std::string file;
        std::string reason;
    };
    /// That file, once: it is nothing afterwards.
    std::optional<Unreadable> takeUnreadable();
    /// The stored values only (no registered defaults).
    Dictionary storedValues() const;
    const std::string& path() const { return path_; }

    /// Tests: runs `hook` in every write after the new file is complete and before it replaces
    /// the old one (the folder's lock is held). Another store's start-up can then run while a
    /// write is under way.
    void setBeforeReplaceForTesting(std::function<void()> hook) {
        beforeReplace_ = std::move(hook);
    }

  private:
    // The first value for `key` (stored, then registered) that `accept` takes.
    template <typename T, typename Accept>
    std::optional<T> lookUp(std::string_view key, Accept accept) const;
    enum class WriteResult { Written, Unstorable, Failed };
    void load();
    // Serialises and writes the stored values, merged with the file's when it changed; the caller
    // holds the mutex.
    WriteResult writeLocked();
    WriteResult tryWriteLocked();
    // Under the folder's lock: the values to write, which are the stored ones, or the file's with
    // this store's changes applied when the file is no longer the one it read or wrote.
    std::optional<Dictionary> valuesToWrite(const std::string& target);
    // Moves a damaged file aside (with a log line) and records it for takeSetAside.
    bool setAside(const std::string& file, const std::string& reason);
    // Whether the store would read `file` back; logs why not.
    bool readable(const Bytes& file);
    bool fitsAtLeast(uint64_t size);
    // Whether a save refused for `why` is to be logged: the first time since a save went
    // through.
    bool firstRefusal(const char* why);
    // Whether a warning about how the file is saved is to be logged: once for the store.
    bool firstWarning(const char* what);
    // Records `key` as changed by this store; answers whether it already was.
    bool noteChanged(const Value& key);

    const std::string directory_;
    const std::string domain_;
    const std::string path_;
    mutable std::mutex mutex_;
    Dictionary stored_;
    Dictionary registered_;
    bool dirty_ = false;
    // Keys set or removed here since the last write that reached the file.
    std::set<Value, ValueLess> changed_;
    // The file as this store last read or wrote it; none when there was no file.
    std::optional<Bytes> onDisk_;
    std::function<void()> beforeReplace_;
    // Set when the file on disk could not be read or moved aside: it must not be replaced.
    bool writesRefused_ = false;
    std::optional<SetAside> setAside_;
    std::optional<Unreadable> unreadable_;
    // The reasons of refused saves logged since the last save that went through.
    std::set<std::string> refusalsLogged_;
    std::set<std::string> warned_;
};

}  // namespace quenbril
