#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace quenbril {

/// Builds the messages the remote sends to the server: dictionaries with "Command" and, as
/// each command has it, a "Value" or top-level keys. Numbers keep their kinds on the link:
/// strip ids are 64-bit integers, flags are bools.
class LinkMessageBuilder {
  public:
    /// {"Command": command} alone.
    static Dictionary message(std::string_view command);
    /// {"Command": command, "Value": value}.
    static Dictionary message(std::string_view command, Value value);

    static Dictionary clientID(int32_t clientID);
    static Dictionary soloOn(bool soloOn);
    /// {"sender", "uuid"} and, when the chat settings are saved, a fresh "messageId".
    static Dictionary registerToChat(const std::string& sender, const std::string& uuid,
                                     const std::optional<std::string>& messageId = {});
    /// The user info of a "ChatMessage" notification, sent unchanged.
    static Dictionary chatMessageFromClient(const Dictionary& chatMessage);
    static Dictionary chatRemoveMessage(const std::string& messageId);
    static Dictionary channelClicked(int64_t csID);
    static Dictionary channelLongClicked(int64_t csID);
    static Dictionary channelCheckClicked(int64_t csID);
    static Dictionary hardMuteClicked(int64_t csID);
    /// `group` is the button's number, 1 to 8.
    static Dictionary groupClicked(int32_t group);
    static Dictionary groupLongClicked(int32_t group);
    static Dictionary markerAdded(const std::string& chatUsername);
    static Dictionary resetWarnings();
    static Dictionary clear();
    static Dictionary hardClear();
    static Dictionary startStream();
    static Dictionary stopStream();
    static Dictionary playbackStarted(int64_t csID, int32_t delayInSamples);
    static Dictionary playbackStopped(int64_t csID);

    /// A timecode as "RemoteAddedNote" carries it: each field as an unsigned 8-bit number
    /// (only the low 8 bits are kept).
    struct ShortTimecode {
        int32_t hours = 0;
        int32_t mins = 0;
        int32_t secs = 0;
        int32_t frame = 0;
    };
    /// `time` in seconds since 2001-01-01.
    static Dictionary remoteAddedNote(const std::string& note, int64_t csID,
                                      const std::string& username, ShortTimecode ltc, double time);
    static Dictionary removeTimelineEntry(int32_t teID);
    static Dictionary removeAllTimelineEntries();
};

}  // namespace quenbril
