#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "foundation/Timer.h"

namespace quenbril {

/// When a device whose connection another program (a patchbay) undid is connected again: at once,
/// unless its last connection held less than kHeld seconds; then after a wait that doubles from
/// kFirstWait up to kLongestWait with each undo in a row, so that a program that keeps undoing
/// it costs a new connection (a JACK client, the device's notifications) a minute rather than
/// one every other poll. Main thread; the waits follow the main loop's clock.
class UndoneConnectionPacing {
  public:
    static constexpr double kFirstWait = 2.0;
    static constexpr double kLongestWait = 60.0;
    static constexpr double kHeld = 60.0;
    /// Connects the device of this name again once its wait ran out.
    using Reconnect = std::function<void(const std::string& device)>;

    explicit UndoneConnectionPacing(Reconnect reconnect) : reconnect_(std::move(reconnect)) {}

    /// Another program undid a connection of `device`: true when the caller connects it again at
    /// once; else `reconnect` does once its wait ran out (a line says so for the row's first).
    bool undone(const std::string& device);
    /// `device` went, or came afresh (re-plugged): its next undo is connected again at once.
    void forget(const std::string& device) { rows_.erase(device); }
    void forgetAll() { rows_.clear(); }

  private:
    struct Row {
        /// The last wait, 0 after a connection made at once.
        double wait = 0;
        double connectedAt = 0;
        Timer pending;
    };

    Reconnect reconnect_;
    std::map<std::string, Row> rows_;
};

}  // namespace quenbril
