#include "simserver/SimStreamPacer.h"

#include <cmath>

#include "simserver/SimSignals.h"

namespace quenbril {

std::optional<SimStreamPacer::Block> SimStreamPacer::due(double t) {
    if (!(t > 0)) return std::nullopt;
    const auto target = static_cast<int64_t>(std::floor(t * SimSignals::kSampleRate));
    if (target - next_ > kMaxCatchUpFrames) next_ = target - kMaxCatchUpFrames;
    if (target <= next_) return std::nullopt;
    Block block{next_, static_cast<size_t>(target - next_)};
    next_ = target;
    return block;
}

}  // namespace quenbril
