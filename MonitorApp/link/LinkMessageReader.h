#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/link/LinkRecords.h"
#include "foundation/Value.h"

namespace quenbril {

/// Typed readers of the server's messages. Each answers the value, "missing" (no such key, or
/// a null), or "wrong kind" (the message is to be dropped whole with "Something went wrong!").
/// Inside arrays, an element of the wrong kind is skipped (a message's skipped elements are
/// counted in one log line); inside records, a field of the wrong kind reads as missing. Pointers
/// and spans point into the message.
///
/// Readers that take a `key` read the "Value" by default; the comment names the commands.
class LinkMessageReader {
  public:
    /// "Command": every message.
    static LinkRead<std::string> command(const Dictionary& message);
    /// The command of a message that repeats a whole state (LinkCommand::kWholeStates), else
    /// empty. Points into the message.
    static std::string_view wholeState(const Dictionary& message);

    /// Strings: "ChatRemoveMessage".
    static LinkRead<std::string> string(const Dictionary& message,
                                        std::string_view key = LinkKey::kValue);
    /// Numbers as int: "BatteryThreshold", and "MicCheckArray"'s "Act".
    static LinkRead<int32_t> int32(const Dictionary& message,
                                   std::string_view key = LinkKey::kValue);
    /// Numbers as bool: "ClientsEnabled", "InitialDataReady".
    static LinkRead<bool> boolean(const Dictionary& message,
                                  std::string_view key = LinkKey::kValue);
    /// Numbers as float: "MasterVersion".
    static LinkRead<float> float32(const Dictionary& message,
                                   std::string_view key = LinkKey::kValue);
    /// A strip id: "SCPOnChannel".
    static LinkRead<int64_t> stripID(const Dictionary& message);
    /// Dictionaries handed on whole: "ChatColors" (and its "NValue"), "ChatMessageFromServer",
    /// "Snapshot", "NewPlayer".
    static LinkRead<const Dictionary*> dictionary(const Dictionary& message,
                                                  std::string_view key = LinkKey::kValue);
    /// Arrays handed on whole: "ChatClients", and "NotebookEntries"' "Values".
    static LinkRead<const Array*> array(const Dictionary& message,
                                        std::string_view key = LinkKey::kValue);
    /// Any value a property list can hold: "GroupColors".
    static LinkRead<Value> propertyList(const Dictionary& message);

    /// "ClientNames".
    static LinkRead<std::vector<std::string>> clientNames(const Dictionary& message);
    /// "ChatMessageHistory": the archived chat messages.
    static LinkRead<std::vector<std::shared_ptr<const Object>>> chatMessageHistory(
        const Dictionary& message);
    /// The fields of a chat message dictionary (never fails: wrong kinds read as missing).
    static ChatMessageFields chatMessage(const Dictionary& chatMessage);
    /// "StreamData": "LeftValue" is required for a block, "RightValue" optional.
    static LinkRead<StreamBlock> streamData(const Dictionary& message);

    /// "ChannelWarnings", "BatteryData".
    static LinkRead<FlatPairs<int32_t>> intPairs(const Dictionary& message);
    /// "BatteryTimeData", "AntennaData".
    static LinkRead<FlatPairs<std::string>> stringPairs(const Dictionary& message);
    /// "ActiveChannels", "SoloedChannels", "AutoSoloedChannels".
    static LinkRead<std::vector<int64_t>> stripIDs(const Dictionary& message);
    /// "LTCSample".
    static LinkRead<std::vector<LtcSampleRecord>> ltcSamples(const Dictionary& message);
    /// "GroupStates": one entry per element, empty for an element that is not a number.
    static LinkRead<std::vector<std::optional<int32_t>>> groupStates(const Dictionary& message);
    /// "Channels": the strip dictionaries, in order.
    static LinkRead<std::vector<const Dictionary*>> channels(const Dictionary& message);
    /// "WirelessInfo": by strip position.
    static LinkRead<std::map<int64_t, WirelessInfoEntry>> wirelessInfo(const Dictionary& message);
    /// "MicCheckState".
    static LinkRead<MicCheckRecord> micCheckState(const Dictionary& message);
    /// "MicCheckArray" (the act: `int32(message, LinkKey::kAct)`).
    static LinkRead<std::vector<MicCheckRecord>> micCheckArray(const Dictionary& message);
    /// "HardMuteArray" with `flagKey` "hardMute", "ReceiverMuteArray" with "receiverMute".
    static LinkRead<std::vector<MuteFlag>> muteFlags(const Dictionary& message,
                                                     std::string_view flagKey);
    /// "SnapshotNames": the entries that are arrays.
    static LinkRead<std::vector<const Array*>> snapshotNames(const Dictionary& message);
    /// "LevelData", "RfLevelData", "RfLevelDataA".."D", "RfLevelDataDiv", "QLData",
    /// "QualityLevelData" (whose bytes are signed).
    static LinkRead<std::span<const uint8_t>> stripBytes(const Dictionary& message);
    /// "LTC": the top-level fields.
    static LinkRead<LtcReading> ltc(const Dictionary& message);
};

}  // namespace quenbril
