#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

// Records inside the server's messages, as the typed readers hand them out. A field that is
// missing or of the wrong kind is empty, and the reader of the record applies its own rule for a
// missing key. Spans and pointers point into the message and live as long as it does.

/// "StreamData": little-endian float32 samples. `right` is `left` for a mono block. `frames`
/// is the number of whole samples both channels hold (the shorter channel decides).
struct StreamBlock {
    std::span<const uint8_t> left;
    std::span<const uint8_t> right;
    size_t frames = 0;
    bool mono = false;
};

/// A flat array of alternating strip id and value, read as pairs: an element taken while no id
/// is pending becomes the pending id, the next one its value; an id of 0 starts no pair.
template <class T>
struct FlatPairs {
    std::vector<std::pair<int64_t, T>> pairs;
    /// Elements of the array, pairs or not.
    size_t elementCount = 0;
};

/// A chat message dictionary ("ChatMessageFromServer"'s Value and the notification's user info).
struct ChatMessageFields {
    std::optional<std::string> sender, uuid, messageId, message, recipient;
    std::optional<int32_t> type;
};

/// An element of "LTCSample".
struct LtcSampleRecord {
    std::optional<int64_t> csID;
    /// The sample bytes (720 for 180 float32 samples); null when missing or not data.
    const Bytes* sample = nullptr;
    std::optional<int32_t> fps;
    std::optional<float> fromMax;
};

/// The receiver behind one strip ("WirelessInfo"). `frequency` in kHz.
struct WirelessInfoEntry {
    std::optional<std::string> name;
    std::optional<double> frequency;
    std::optional<bool> quadversity, singleLine;
};

/// A mic-check record ("MicCheckState", elements of "MicCheckArray"). `time` in seconds since
/// 2001-01-01; a date that is not finite or out of range reads as missing.
struct MicCheckRecord {
    std::optional<int64_t> csID;
    std::optional<bool> checked;
    std::optional<std::string> user;
    std::optional<double> time;
    std::optional<std::string> note;
    std::optional<bool> needsChecking;
};

/// An element of "HardMuteArray" or "ReceiverMuteArray".
struct MuteFlag {
    std::optional<int64_t> csID;
    std::optional<bool> muted;
};

/// An "LTC" message; a missing key reads as 0. Server times in seconds.
struct LtcReading {
    int64_t csID = 0;
    double receiveTime = 0;
    double sendTime = 0;
    int32_t fps = 0;
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t frames = 0;
};

}  // namespace quenbril
