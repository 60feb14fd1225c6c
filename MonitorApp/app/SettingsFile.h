#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// The exported settings file (".qcf"): an XML property list whose root holds the dictionaries
/// "color" (the colour theme), "chat" (quick messages and chat settings) and "general" (the
/// user settings that travel).
class SettingsFile {
  public:
    static constexpr const char* kExtension = "qcf";
    /// Larger files are refused unread.
    static constexpr std::size_t kMaxFileSize = 64u << 20;

    /// The settings as they are stored now.
    static Dictionary make();
    /// Writes `settings` to `path` as an XML property list, atomically: the file is either the
    /// old one or the whole new one. False with `error` set when it could not be written.
    static bool write(const Dictionary& settings, const std::string& path, Error* error);
    /// The root dictionary of the file; nothing, with `error` set, when the file cannot be read,
    /// is too large, is no property list or its root is no dictionary.
    static std::optional<Dictionary> read(const std::string& path, Error* error);
    /// Applies what the file holds, in this order and each only when present as a dictionary:
    /// the chat settings, the general settings, the colours. Unknown keys and values of the
    /// wrong kind are left out by the stores. Everything applied is stored at once (the
    /// general settings too, which nothing else would store before the next start reads the
    /// old record) and the colour theme takes the colours. False when a store could not be
    /// written.
    static bool apply(const Dictionary& settings);
};

}  // namespace quenbril
