#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// Why replacing a file failed: the step ("create", "chmod", "write", "fsync", "close" or
/// "rename") and its errno.
struct FileReplacementFailure {
    const char* step;
    int error;
};

/// Writes `bytes` to a new temporary file "<target>.tmp-<process id>-XXXXXX" beside `target`
/// (so the rename cannot cross file systems), gives it `mode` when set, makes it reach the
/// disk, runs `beforeReplace`, and only then renames it over `target` in one step. On failure
/// the temporary file is removed and nothing else changes. What earlier saves of `target` left
/// when their process was killed is removed first.
std::optional<FileReplacementFailure> replaceFile(const std::string& target, const Bytes& bytes,
                                                  std::optional<mode_t> mode = std::nullopt,
                                                  const std::function<void()>& beforeReplace = {});

/// Removes the temporary files of `target` whose writer is no longer running: a kill or a crash
/// cut their save short and they hold nothing the file lacks. Those of running processes (this
/// one included: another writer may be saving) are left alone.
void removeLeftoverTemporaries(const std::string& target);

/// Creates a new empty file beside `target` for a writer that fills it over time and renames it
/// over `target` when done, named as replaceFile() names its temporaries (so that
/// removeLeftoverTemporaries() clears what a killed writer left). Its permissions are `mode`
/// less the umask, as a new file's. Its path, or nothing with errno set.
std::optional<std::string> createTemporaryBeside(const std::string& target, mode_t mode = 0666);

/// Writes all of `bytes` to `fd`, retrying after interruptions.
bool writeAll(int fd, const Bytes& bytes);

}  // namespace quenbril
