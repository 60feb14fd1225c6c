#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/FileReplacement.h"

namespace quenbril::test {

/// The id of a process that has ended: a child that exits at once, reaped.
inline pid_t goneProcessID() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

/// Saves `target` in a child process that is killed (SIGKILL) after its temporary file reached
/// the disk and before the rename: what kill -9 in the middle of a save leaves. Answers the
/// files of the folder whose names begin with the target's name and a dot.
inline std::vector<std::filesystem::path> leftoversOfAKilledSave(
    const std::filesystem::path& target) {
    const std::string path = target.string();
    const pid_t child = fork();
    if (child == 0) {
        replaceFile(path, Bytes{'h', 'a', 'l', 'f'}, std::nullopt,
                    [] { ::kill(getpid(), SIGKILL); });
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::vector<std::filesystem::path> left;
    const std::string prefix = target.filename().string() + ".";
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path())) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) left.push_back(entry.path());
    }
    return left;
}

}  // namespace quenbril::test
