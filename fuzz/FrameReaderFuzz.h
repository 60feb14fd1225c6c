#pragma once

// Shared body of the two frame-reader fuzz targets: the input is fed whole and again in
// chunks whose sizes the input itself chooses; both must give the same frames, and every frame
// must be one the reading side accepts.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MonitorApp/LinkFrameReader.h"

namespace quenbril {

inline std::vector<LinkFrame> drainFrames(LinkFrameReader& reader) {
    std::vector<LinkFrame> frames;
    while (auto f = reader.takeFrame()) frames.push_back(std::move(*f));
    return frames;
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
    return 0;
}

}  // namespace quenbril
