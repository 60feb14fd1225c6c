#include "MonitorApp/link/LinkMessageBuilder.h"

#include "MonitorApp/link/LinkCommands.h"

namespace quenbril {

namespace {
Value key(std::string_view k) { return Value(k); }
int64_t lowByte(int32_t v) { return static_cast<int64_t>(static_cast<uint32_t>(v) & 0xFFu); }
}  // namespace

Dictionary LinkMessageBuilder::message(std::string_view command) {
    Dictionary d;
    d.set(key(LinkKey::kCommand), Value(command));
    return d;
}

Dictionary LinkMessageBuilder::message(std::string_view command, Value value) {
    Dictionary d = message(command);
    d.set(key(LinkKey::kValue), std::move(value));
    return d;
}

Dictionary LinkMessageBuilder::clientID(int32_t clientID) {
    return message(LinkCommand::kClientID, Value(clientID));
}

Dictionary LinkMessageBuilder::soloOn(bool soloOn) {
    return message(LinkCommand::kSoloOn, Value(soloOn));
}

Dictionary LinkMessageBuilder::registerToChat(const std::string& sender, const std::string& uuid,
                                              const std::optional<std::string>& messageId) {
    Dictionary value;
    value.set("sender", sender);
    value.set("uuid", uuid);
    if (messageId) value.set("messageId", *messageId);
    return message(LinkCommand::kRegisterToChat, Value(std::move(value)));
}

Dictionary LinkMessageBuilder::chatMessageFromClient(const Dictionary& chatMessage) {
    return message(LinkCommand::kChatMessageFromClient, Value(chatMessage));
}

Dictionary LinkMessageBuilder::chatRemoveMessage(const std::string& messageId) {
    return message(LinkCommand::kChatRemoveMessage, Value(messageId));
}

Dictionary LinkMessageBuilder::channelClicked(int64_t csID) {
    return message(LinkCommand::kChannelClicked, Value(csID));
}

Dictionary LinkMessageBuilder::channelLongClicked(int64_t csID) {
    return message(LinkCommand::kChannelLongClicked, Value(csID));
}

Dictionary LinkMessageBuilder::channelCheckClicked(int64_t csID) {
    return message(LinkCommand::kChannelCheckClicked, Value(csID));
}

Dictionary LinkMessageBuilder::hardMuteClicked(int64_t csID) {
    return message(LinkCommand::kHardMuteClicked, Value(csID));
}

Dictionary LinkMessageBuilder::groupClicked(int32_t group) {
    return message(LinkCommand::kGroupClicked, Value(group));
}

Dictionary LinkMessageBuilder::groupLongClicked(int32_t group) {
    return message(LinkCommand::kGroupLongClicked, Value(group));
}

Dictionary LinkMessageBuilder::markerAdded(const std::string& chatUsername) {
    return message(LinkCommand::kMarkerAdded, Value(chatUsername));
}

Dictionary LinkMessageBuilder::resetWarnings() { return message(LinkCommand::kResetWarnings); }
Dictionary LinkMessageBuilder::clear() { return message(LinkCommand::kClear); }
Dictionary LinkMessageBuilder::hardClear() { return message(LinkCommand::kHardClear); }
Dictionary LinkMessageBuilder::startStream() { return message(LinkCommand::kStartStream); }
Dictionary LinkMessageBuilder::stopStream() { return message(LinkCommand::kStopStream); }

Dictionary LinkMessageBuilder::playbackStarted(int64_t csID, int32_t delayInSamples) {
    Dictionary d = message(LinkCommand::kPlaybackStarted);
    d.set(key(LinkKey::kCSID), Value(csID));
    d.set(key(LinkKey::kDelayInSamples), Value(delayInSamples));
    return d;
}

Dictionary LinkMessageBuilder::playbackStopped(int64_t csID) {
    Dictionary d = message(LinkCommand::kPlaybackStopped);
    d.set(key(LinkKey::kCSID), Value(csID));
    return d;
}

Dictionary LinkMessageBuilder::remoteAddedNote(const std::string& note, int64_t csID,
                                               const std::string& username, ShortTimecode ltc,
                                               double time) {
    Dictionary timecode;
    timecode.set("hours", lowByte(ltc.hours));
    timecode.set("mins", lowByte(ltc.mins));
    timecode.set("secs", lowByte(ltc.secs));
    timecode.set("frame", lowByte(ltc.frame));
    Dictionary d = message(LinkCommand::kRemoteAddedNote);
    d.set(key(LinkKey::kNote), note);
    d.set(key(LinkKey::kCsID), Value(csID));
    d.set(key(LinkKey::kUsername), username);
    d.set(key(LinkKey::kLTC), Value(std::move(timecode)));
    d.set(key(LinkKey::kTime), Value::date(time));
    return d;
}

Dictionary LinkMessageBuilder::removeTimelineEntry(int32_t teID) {
    Dictionary d = message(LinkCommand::kRemoveTimelineEntry);
    d.set(key(LinkKey::kTeID), Value(teID));
    return d;
}

Dictionary LinkMessageBuilder::removeAllTimelineEntries() {
    return message(LinkCommand::kRemoveAllTimelineEntries);
}

}  // namespace quenbril
