#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// Small decisions of the server-message dispatcher and the user actions, kept free of the
/// window so they can be checked alone.
class DispatchRules {
  public:
    /// The oldest server that runs the chat.
    static constexpr float kMinimumChatServerVersion = 3.8f;

    /// Whether a server of this version is registered to the chat (compared in single
    /// precision, so a server reporting 3.8 qualifies).
    static bool registersToChat(float serverVersion);
    /// The alert shown to a user of an older server.
    static std::string updateAlertText(float serverVersion);
    /// The topic of that alert: one is shown at a time, whatever versions a server reports.
    static constexpr const char* kUpdateAlertTopic = "ServerVersion";

    /// The status line of a live link: "Connected to server as <clientName>", or "Connected to
    /// server" while no client name is stored.
    static std::string connectedStatusText(const std::optional<std::string>& clientName);

    /// The position of the first snapshot name entry whose last element, as an int, is
    /// `orderIndex`; the entry count when none is. Entries that are not arrays, or are empty,
    /// match nothing.
    static int32_t snapshotSelection(const Array& snapshotNames, int32_t orderIndex);

    /// The MIDI trigger of a quick message as the chat settings store it:
    /// [channel, command, byte1, byte2].
    static Array midiKey(int32_t channel, int32_t command, int32_t byte1, int32_t byte2);

    /// "%@(%d)": a strip's name and its one-based input, as the quick-message button shows it.
    static std::string stripLabel(const std::string& name, int32_t audioInput);
};

}  // namespace quenbril
