#pragma once

// Shared body of the two frame-reader fuzz targets: the input is fed whole and again in
// chunks whose sizes the input itself chooses; both must give the same frames, and every frame
// must be one the reading side accepts. Each body then goes through the message decoder and,
// on the remote's side, through every typed reader.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkMessageReader.h"

namespace quenbril {

inline std::vector<LinkFrame> drainFrames(LinkFrameReader& reader) {
    std::vector<LinkFrame> frames;
    while (auto f = reader.takeFrame()) frames.push_back(std::move(*f));
    return frames;
}

inline void readEverything(const Dictionary& m) {
    using R = LinkMessageReader;
    (void)R::command(m);
    (void)R::string(m);
    (void)R::int32(m);
    (void)R::int32(m, LinkKey::kAct);
    (void)R::boolean(m);
    (void)R::float32(m);
    (void)R::stripID(m);
    (void)R::dictionary(m);
    (void)R::dictionary(m, LinkKey::kNValue);
    (void)R::propertyList(m);
    (void)R::clientNames(m);
    (void)R::chatMessageHistory(m);
    if (auto d = R::dictionary(m); d.isFound()) (void)R::chatMessage(**d);
    (void)R::streamData(m);
    (void)R::intPairs(m);
    (void)R::stringPairs(m);
    (void)R::stripIDs(m);
    (void)R::ltcSamples(m);
    (void)R::groupStates(m);
    (void)R::channels(m);
    (void)R::wirelessInfo(m);
    (void)R::micCheckState(m);
    (void)R::micCheckArray(m);
    (void)R::muteFlags(m, "hardMute");
    (void)R::snapshotNames(m);
    (void)R::stripBytes(m);
    (void)R::ltc(m);
}

inline int fuzzFrameReader(LinkPeer side, const uint8_t* data, size_t size) {
    LinkFrameReader whole(side);
    whole.feed(data, size);
    auto expected = drainFrames(whole);
    for (const LinkFrame& f : expected) {
        if (f.body.empty() || f.body.size() > size_t(LinkFrameHeader::kMaxLength)) std::abort();
        if (side == LinkPeer::Remote &&
            (f.marker != LinkFrameHeader::kServerMarker || f.body.size() <= 3)) {
            std::abort();
        }
    }

    LinkFrameReader chunked(side);
    size_t pos = 0, step = 0;
    while (pos < size) {
        size_t n = 1 + data[step++ % size] % 13;
        if (n > size - pos) n = size - pos;
        chunked.feed(data + pos, n);
        pos += n;
    }
    if (drainFrames(chunked) != expected || chunked.failed() != whole.failed()) std::abort();

    for (const LinkFrame& f : expected) {
        auto message = LinkCodec::decodeBody(f.body);
        if (message && side == LinkPeer::Remote) readEverything(*message);
    }
    return 0;
}

}  // namespace quenbril
