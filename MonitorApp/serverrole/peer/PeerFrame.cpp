#include "MonitorApp/serverrole/peer/PeerFrame.h"

namespace quenbril {

namespace {

void putLittleEndian(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t littleEndian(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t{in[i]} << (8 * i);
    return value;
}

}  // namespace

Bytes PeerFrame::encode(Kind kind, const uint8_t* payload, size_t length) {
    Bytes frame;
    frame.reserve(kHeaderSize + length);
    frame.push_back(kind);
    putLittleEndian(frame, length, 4);
    frame.insert(frame.end(), payload, payload + length);
    return frame;
}

Bytes PeerFrame::greeting(const Greeting& greeting) {
    Bytes payload;
    putLittleEndian(payload, greeting.port, 2);
    putLittleEndian(payload, greeting.identifier, 8);
    payload.insert(payload.end(), greeting.displayName.begin(), greeting.displayName.end());
    return encode(kGreeting, payload);
}

Bytes PeerFrame::streamOpening(const StreamOpening& opening) {
    Bytes payload;
    putLittleEndian(payload, opening.identifier, 8);
    payload.insert(payload.end(), opening.name.begin(), opening.name.end());
    return encode(kStream, payload);
}

std::optional<PeerFrame::Greeting> PeerFrame::parseGreeting(const Bytes& payload) {
    if (payload.size() < 10) return std::nullopt;
    Greeting greeting;
    greeting.port = static_cast<uint16_t>(littleEndian(payload.data(), 2));
    greeting.identifier = littleEndian(payload.data() + 2, 8);
    greeting.displayName.assign(payload.begin() + 10, payload.end());
    return greeting;
}

std::optional<PeerFrame::StreamOpening> PeerFrame::parseStreamOpening(const Bytes& payload) {
    if (payload.size() < 8) return std::nullopt;
    StreamOpening opening;
    opening.identifier = littleEndian(payload.data(), 8);
    opening.name.assign(payload.begin() + 8, payload.end());
    return opening;
}

PeerFrame::Result PeerFrame::next(Bytes& buffer, uint8_t& kind, Bytes& payload) {
    if (buffer.size() < kHeaderSize) return Result::NeedMore;
    const uint64_t length = littleEndian(buffer.data() + 1, 4);
    if (length > kMaxPayload) return Result::TooLong;
    if (buffer.size() < kHeaderSize + length) return Result::NeedMore;
    kind = buffer[0];
    payload.assign(buffer.begin() + kHeaderSize, buffer.begin() + kHeaderSize + length);
    buffer.erase(buffer.begin(), buffer.begin() + kHeaderSize + length);
    return Result::Frame;
}

}  // namespace quenbril
