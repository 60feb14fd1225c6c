#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace quenbril {

/// The points of a plot on their way from the feeding thread (often an audio thread) to the GUI
/// thread, without a lock: the writer fills its back buffer and publishes it; the reader takes
/// the newest published one. A spare third buffer lets either side work while the other
/// publishes, so neither ever waits or sees a half-written set.
template <typename Point>
class ATPlotPointBuffer {
  public:
    explicit ATPlotPointBuffer(uint32_t capacity) {
        for (auto& buffer : buffers_) buffer.points.assign(capacity, Point{});
    }

    uint32_t capacity() const { return static_cast<uint32_t>(buffers_[0].points.size()); }

    /// Writer: the buffer to fill; publish() hands it over.
    Point* back() { return buffers_[back_].points.data(); }
    void publish(uint32_t count) {
        buffers_[back_].count = count;
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
    }

    /// Reader: takes the newest published set when there is one; returns whether it did.
    bool take() {
        if (!(middle_.load(std::memory_order_acquire) & kFresh)) return false;
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    /// Reader: the set taken last.
    const Point* front() const { return buffers_[front_].points.data(); }
    uint32_t frontCount() const { return buffers_[front_].count; }

  private:
    static constexpr uint32_t kIndex = 3;
    static constexpr uint32_t kFresh = 4;
    struct Buffer {
        std::vector<Point> points;
        uint32_t count = 0;
    };
    std::array<Buffer, 3> buffers_;
    uint32_t back_ = 0;
    std::atomic<uint32_t> middle_{1};
    uint32_t front_ = 2;
};

}  // namespace quenbril
