#include "MonitorApp/dispatch/LevelFrameBuilder.h"

#include <algorithm>
#include <cstring>

namespace quenbril {

namespace {
constexpr int8_t kAlertSCP = 1;
constexpr int8_t kAlertMarker = 2;
}  // namespace

LevelFrameBuilder::LevelFrameBuilder() {
    std::memset(tmpBuf_, 0, sizeof tmpBuf_);
    std::memset(scpBuf_, 0, sizeof scpBuf_);
}

const int8_t* LevelFrameBuilder::column(std::span<const uint8_t> bytes) {
    std::memset(tmpBuf_, 0, sizeof tmpBuf_);
    const size_t n = std::min(bytes.size(), size_t{kStrips});
    if (n > 0) std::memcpy(tmpBuf_, bytes.data(), n);
    return tmpBuf_;
}

const int8_t* LevelFrameBuilder::alertColumn(size_t n) {
    const size_t used = std::min(n, size_t{kStrips});
    const int8_t alert = markerFlag_ ? kAlertMarker : 0;
    markerFlag_ = false;
    std::memset(tmpBuf_, 0, sizeof tmpBuf_);
    for (size_t i = 0; i < used; ++i) {
        tmpBuf_[i] = alert;
        if (scpBuf_[i] == 1) {
            tmpBuf_[i] = kAlertSCP;
            scpBuf_[i] = 0;
        }
    }
    return tmpBuf_;
}

bool LevelFrameBuilder::markSCP(int32_t position) {
    if (position < 0 || position >= kStrips) return false;
    scpBuf_[position] = 1;
    return true;
}

void LevelFrameBuilder::clearSCP() { std::memset(scpBuf_, 0, sizeof scpBuf_); }

}  // namespace quenbril
