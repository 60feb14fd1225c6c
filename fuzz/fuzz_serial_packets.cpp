// Feeds arbitrary bytes through a port's packet path: every descriptor kind listens, requests
// wait and time out at points the input chooses. Packets and responses must be valid and within
// their maximum length, and every request must end at most once. Expression descriptors short
// enough for it must find exactly the packets that trying every tail of the buffer finds.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <span>

#include "serialport/SerialPacketRouter.h"

namespace {

using namespace quenbril;

struct Host : SerialPacketRouter::Host {
    bool writesFail = false;
    std::set<SerialRequest::Ptr> ended;  // held, so no address is reused
    std::map<const SerialPacketDescriptor*, std::vector<Bytes>> packets;

    bool writeRequest(const SerialRequest&) override { return !writesFail; }
    void startTimeout(const SerialRequest::Ptr&) override {}
    void stopTimeout() override {}
    void packetReceived(Bytes packet, SerialPacketDescriptor::Ptr descriptor) override {
        if (packet.empty() || packet.size() > descriptor->maximumPacketLength() ||
            !descriptor->dataIsValidPacket(packet)) {
            std::abort();
        }
        packets[descriptor.get()].push_back(std::move(packet));
    }
    void responseReceived(Bytes response, SerialRequest::Ptr request) override {
        if (!request->dataIsValidResponse(response)) std::abort();
        end(request);
    }
    void requestTimedOut(SerialRequest::Ptr request) override { end(request); }
    void propertyChanged(const char*) override {}
    void end(const SerialRequest::Ptr& request) {
        if (!ended.insert(request).second) std::abort();
    }
};

const std::vector<SerialPacketDescriptor::Ptr>& descriptors() {
    static const auto* all = new std::vector<SerialPacketDescriptor::Ptr>{
        SerialPacketDescriptor::withPrefix({0x3C}, {0x3E}, 256, Value()),
        SerialPacketDescriptor::withPrefixString("$", "\r\n", 64, Value()),
        SerialPacketDescriptor::withPacketData({'P', 'I', 'N', 'G'}, Value()),
        SerialPacketDescriptor::withRegularExpression(
            RegexMatcher::make(R"(\$GP[A-Z]{3},[^*]*\*[0-9A-F]{2})"), 24, Value()),
        SerialPacketDescriptor::withRegularExpression(
            RegexMatcher::make(R"(\$GP[A-Z]{3},[^*]*\*[0-9A-F]{2})"), 256, Value()),
        // Outcomes that bytes still to come can change: boundaries, lookarounds, the end.
        SerialPacketDescriptor::withRegularExpression(
            RegexMatcher::make(R"(a\Bb|a\B|(?=ab)a.|(a)\1!|x$|é+!|€)"), 16, Value()),
        SerialPacketDescriptor::make(8, Value(), nullptr),
        SerialPacketDescriptor::make(
            16, Value(), [](std::span<const uint8_t> d) { return d.size() >= 3 && d[0] == d[2]; }),
    };
    return *all;
}

/// Feeds `bytes` to the buffers of the descriptors whose tails are all followed, finding their
/// packets by trying every tail, as the router's results are checked against.
struct EveryTail {
    std::map<const SerialPacketDescriptor*, SerialBuffer> buffers;
    EveryTail() {
        for (const auto& d : descriptors()) {
            if (d->kind() == SerialPacketDescriptor::Kind::Expression &&
                d->maximumPacketLength() <= SerialPacketScanner::kMaxOpenTails) {
                buffers.emplace(d.get(), d->maximumPacketLength());
            }
        }
    }
    void check(std::span<const uint8_t> bytes, Host& host) {
        for (auto& [descriptor, buffer] : buffers) {
            std::vector<Bytes> expected;
            for (uint8_t byte : bytes) {
                buffer.appendByte(byte);
                if (auto packet = descriptor->packetMatchingAtEndOfBuffer(buffer.data())) {
                    expected.push_back(*packet);
                    buffer.clearBuffer();
                }
            }
            if (host.packets[descriptor] != expected) std::abort();
        }
        host.packets.clear();
    }
};

SerialRequest::Ptr makeRequest(uint8_t kind) {
    switch (kind % 3) {
        case 0:
            return SerialRequest::requestWithDataToSend({'?'}, Value(), 1.0, descriptors()[0]);
        case 1:
            return SerialRequest::requestWithDataToSend({'!'}, Value(), 0,
                                                        SerialPacketDescriptor::Ptr{});
        default:
            return SerialRequest::requestWithDataToSend(
                {'#'}, Value(), 0.5, [](std::span<const uint8_t> d) { return d.size() == 5; });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The work per byte grows with the longest buffer; 64 KiB is plenty for every bound.
    size = std::min<size_t>(size, 64 * 1024);
    Host host;
    EveryTail everyTail;
    SerialPacketRouter router(host);
    for (const auto& descriptor : descriptors()) router.startListening(descriptor);
    router.sendRequest(makeRequest(0));
    size_t at = 0;
    while (at < size) {
        uint8_t op = data[at++];
        switch (op % 8) {
            case 6:
                router.timeoutFired(router.pendingRequest());
                break;
            case 7:
                host.writesFail = (op & 0x80) != 0;
                router.sendRequest(makeRequest(op >> 3));
                host.writesFail = false;
                break;
            default: {
                size_t length = std::min<size_t>(op >> 3, size - at);
                std::span<const uint8_t> bytes(data + at, length);
                router.receive(bytes);
                everyTail.check(bytes, host);
                at += length;
            }
        }
    }
    router.reset();
    if (router.pendingRequest() || !router.queuedRequests().empty()) std::abort();
    return 0;
}
