// Feeds arbitrary bytes to the peer link as a connection delivers them, in pieces: frames taken
// off the buffer, greetings and stream openings parsed, and message frames handed to the link
// manager as session messages. None may crash or hold more than a frame's bound.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/serverrole/peer/MCManager.h"
#include "MonitorApp/serverrole/peer/PeerFrame.h"
#include "MonitorApp/serverrole/peer/PeerID.h"
#include "foundation/Log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    if (size == 0) return 0;
    // The first byte sets the size of the pieces the bytes arrive in.
    const size_t piece = 1 + data[0] % 64;
    MCManager manager(MCManager::Services{});
    const PeerIDPtr peer = PeerID::make("fuzz peer");
    Bytes buffer;
    for (size_t at = 1; at < size; at += piece) {
        buffer.insert(buffer.end(), data + at, data + std::min(size, at + piece));
        for (;;) {
            uint8_t kind = 0;
            Bytes payload;
            const PeerFrame::Result result = PeerFrame::next(buffer, kind, payload);
            if (result == PeerFrame::Result::TooLong) return 0;  // the connection ends
            if (result == PeerFrame::Result::NeedMore) break;
            if (payload.size() > PeerFrame::kMaxPayload) std::abort();
            switch (kind) {
                case PeerFrame::kGreeting:
                    PeerFrame::parseGreeting(payload);
                    break;
                case PeerFrame::kStream:
                    PeerFrame::parseStreamOpening(payload);
                    break;
                case PeerFrame::kMessage:
                    manager.didReceiveData(payload, peer);
                    break;
                default:
                    return 0;  // the connection ends
            }
        }
        if (buffer.size() > PeerFrame::kHeaderSize + PeerFrame::kMaxPayload) std::abort();
    }
    return 0;
}
