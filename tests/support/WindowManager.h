#pragma once

// A window manager (openbox) on the test's X display, started and stopped by its process id, and
// what it says about the windows: their stacking order. Where stacking, frames and placement
// matter, a bare X server shows nothing a user would see.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quenbril::test {

class ChildProcess;

class WindowManager {
  public:
    /// Starts the manager on $DISPLAY and waits until it manages the screen.
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    /// False when no manager could be started (none installed, or no display).
    bool running() const { return running_; }

    /// The managed windows from bottom to top, as the manager stacks them (X window ids, as
    /// QWidget::winId() gives them).
    static std::vector<uint32_t> stackingOrder();
    /// Whether `upper` is stacked above `lower`; false when either is not managed.
    static bool above(uint32_t upper, uint32_t lower);

    /// A rectangle on the root window, in the X server's pixels.
    struct Area {
        int x = 0, y = 0, width = 0, height = 0;
        bool contains(const Area& other) const {
            return other.x >= x && other.y >= y && other.x + other.width <= x + width &&
                   other.y + other.height <= y + height;
        }
    };
    /// The window with the frame the manager drew round it (title bar and borders, its
    /// _NET_FRAME_EXTENTS), as the X server has it now; none before the manager has set the
    /// extents.
    static std::optional<Area> frameOf(uint32_t window);
    /// The screen's free area the manager announces (_NET_WORKAREA of the current desktop),
    /// or the whole screen when it announces none.
    static Area workArea();

  private:
    std::unique_ptr<ChildProcess> process_;
    bool running_ = false;
};

}  // namespace quenbril::test
