#include "tests/support/WindowManager.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

namespace {

constexpr const char* kProgram = "/usr/bin/openbox";

/// A connection of its own to $DISPLAY, closed with the object.
class Connection {
  public:
    Connection() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~Connection() { xcb_disconnect(connection_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return !xcb_connection_has_error(connection_); }
    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const {
        return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }

  private:
    xcb_connection_t* connection_;
};

/// The 32-bit values of a property of `window`; empty when it is not set.
std::vector<uint32_t> values(const Connection& connection, xcb_window_t window,
                             const std::string& name, xcb_atom_t type) {
    std::vector<uint32_t> found;
    xcb_connection_t* c = connection.get();
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom && atom->atom != XCB_ATOM_NONE) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, atom->atom, type, 0, 4096), nullptr);
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            found.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    std::free(atom);
    return found;
}

/// The values of a window-list property of the root window; empty when it is not set.
std::vector<uint32_t> rootWindowList(const char* property) {
    const Connection connection;
    if (!connection.ok()) return {};
    return values(connection, connection.root(), property, XCB_ATOM_WINDOW);
}

}  // namespace

WindowManager::WindowManager() {
    const char* display = std::getenv("DISPLAY");
    if (!display || ::access(kProgram, X_OK) != 0) return;
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{kProgram, "--sm-disable"},
                                              std::vector<std::pair<std::string, std::string>>{});
    // The manager marks the screen as managed once it has taken it over, within seconds.
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10.0);
    while (std::chrono::steady_clock::now() < deadline && process_->running()) {
        if (!rootWindowList("_NET_SUPPORTING_WM_CHECK").empty()) {
            running_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

WindowManager::~WindowManager() = default;

std::vector<uint32_t> WindowManager::stackingOrder() {
    return rootWindowList("_NET_CLIENT_LIST_STACKING");
}

bool WindowManager::above(uint32_t upper, uint32_t lower) {
    const std::vector<uint32_t> order = stackingOrder();
    const auto up = std::find(order.begin(), order.end(), upper);
    const auto low = std::find(order.begin(), order.end(), lower);
    return up != order.end() && low != order.end() && up > low;
}

std::optional<WindowManager::Area> WindowManager::frameOf(uint32_t window) {
    const Connection connection;
    if (!connection.ok()) return std::nullopt;
    xcb_connection_t* c = connection.get();
    // Left, right, top, bottom.
    const std::vector<uint32_t> extents =
        values(connection, window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
    if (extents.size() != 4) return std::nullopt;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, connection.root(), 0, 0), nullptr);
    std::optional<Area> frame;
    if (geometry && origin) {
        frame = Area{origin->dst_x - static_cast<int>(extents[0]),
                     origin->dst_y - static_cast<int>(extents[2]),
                     geometry->width + static_cast<int>(extents[0] + extents[1]),
                     geometry->height + static_cast<int>(extents[2] + extents[3])};
    }
    std::free(geometry);
    std::free(origin);
    return frame;
}

WindowManager::Area WindowManager::workArea() {
    const Connection connection;
    if (!connection.ok()) return {};
    const std::vector<uint32_t> desktop =
        values(connection, connection.root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
    const std::vector<uint32_t> areas =
        values(connection, connection.root(), "_NET_WORKAREA", XCB_ATOM_CARDINAL);
    const size_t at = 4 * (desktop.empty() ? 0 : desktop.front());
    if (at + 4 <= areas.size()) {
        return Area{static_cast<int>(areas[at]), static_cast<int>(areas[at + 1]),
                    static_cast<int>(areas[at + 2]), static_cast<int>(areas[at + 3])};
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    return Area{0, 0, screen->width_in_pixels, screen->height_in_pixels};
}

}  // namespace quenbril::test
