#include "tests/support/WindowManager.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"

namespace quenbril::test {

namespace {

constexpr const char* kProgram = "/usr/bin/openbox";

/// The values of a window-list property of the root window; empty when it is not set.
std::vector<uint32_t> rootWindowList(const char* property) {
    std::vector<uint32_t> windows;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return windows;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const std::string name = property;
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom && atom->atom != XCB_ATOM_NONE) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 4096),
            nullptr);
        if (reply && reply->format == 32) {
            const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            windows.assign(values, values + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    std::free(atom);
    xcb_disconnect(connection);
    return windows;
}

}  // namespace

WindowManager::WindowManager() {
    const char* display = std::getenv("DISPLAY");
    if (!display || ::access(kProgram, X_OK) != 0) return;
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{kProgram, "--sm-disable"},
                                              std::vector<std::pair<std::string, std::string>>{});
    // The manager marks the screen as managed once it has taken it over.
    for (int i = 0; i < 1000 && process_->running(); ++i) {
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

}  // namespace quenbril::test
