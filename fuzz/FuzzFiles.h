#pragma once

// Helpers of the fuzz targets that read files the way the application does.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "foundation/FileReplacement.h"

namespace quenbril::fuzz {

/// A fresh "/tmp/quenbril-fuzz-<name>-XXXXXX" folder made the settings home, so that stores
/// read and write there. Its path.
inline std::string useTemporarySettingsHome(const std::string& name) {
    std::string folder = "/tmp/quenbril-fuzz-" + name + "-XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    return folder;
}

/// Puts `size` bytes at `path`, replacing what was there.
inline void putFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || !writeAll(fd, Bytes(data, data + size))) std::abort();
    ::close(fd);
}

}  // namespace quenbril::fuzz
