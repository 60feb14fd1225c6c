#include "MonitorApp/link/LinkProgressDeadline.h"

#include <algorithm>
#include <chrono>

namespace quenbril {

namespace {
double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

/// The least extension: the socket's timer needs a positive time, and a question asked a
/// moment before the deadline should not come back at once.
constexpr double kLeastExtension = 0.01;
}  // namespace

void LinkProgressDeadline::progressed() { lastProgress_ = monotonicSeconds(); }

std::optional<double> LinkProgressDeadline::extension() const {
    if (!lastProgress_) return std::nullopt;
    double left = *lastProgress_ + timeout_ - monotonicSeconds();
    if (left <= 0) return std::nullopt;
    return std::max(left, kLeastExtension);
}

}  // namespace quenbril
