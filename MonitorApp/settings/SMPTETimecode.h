#pragma once

#include <cstdint>

namespace quenbril {

/// A timecode as hours, minutes, seconds and frames.
struct SMPTETimecode {
    int32_t hours = 0;
    int32_t mins = 0;
    int32_t secs = 0;
    int32_t frame = 0;
    bool operator==(const SMPTETimecode&) const = default;
};

}  // namespace quenbril
