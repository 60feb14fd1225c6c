#pragma once

#include <functional>
#include <memory>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

struct Notification {
    std::string name;
    Dictionary userInfo;
};

class NotificationCenter;

/// The registration of one observer. Move-only; destroying it (or reset()) removes the
/// observer. It may outlive its centre, in which case removing does nothing.
class NotificationObserver {
  public:
    NotificationObserver() = default;
    NotificationObserver(NotificationObserver&& other) noexcept = default;
    NotificationObserver& operator=(NotificationObserver&& other) noexcept;
    NotificationObserver(const NotificationObserver&) = delete;
    NotificationObserver& operator=(const NotificationObserver&) = delete;
    ~NotificationObserver() { reset(); }

    /// Removes the observer. Once this returns, its callback is not running on any other
    /// thread and is never called again (see NotificationCenter on waiting).
    void reset();
    /// True while this still holds a registration.
    explicit operator bool() const { return static_cast<bool>(entry_); }

  private:
    friend class NotificationCenter;
    struct State;
    struct Entry;
    NotificationObserver(std::weak_ptr<State> center, std::shared_ptr<Entry> entry)
        : center_(std::move(center)), entry_(std::move(entry)) {}

    std::weak_ptr<State> center_;
    std::shared_ptr<Entry> entry_;
};

/// Named notifications delivered synchronously: post() calls, on the posting thread and in the
/// order they were added, every observer of the name registered when the post began.
///
/// Observers may be added and removed, and notifications posted, from any thread and from
/// inside a callback:
/// - an observer removed during a delivery is not called afterwards, one added during a
///   delivery is first called for the next post;
/// - a callback may post again (the nested post is delivered in full before the outer one goes
///   on);
/// - removing an observer whose callback is running on another thread waits until that call
///   returns, so that whatever the callback uses may be destroyed right after the removal.
///   A callback removing its own observer, or one whose call it is nested in, does not wait.
///   Do not remove an observer while holding a lock that its callback may take.
/// An exception thrown by a callback ends that post and reaches the poster.
class NotificationCenter {
  public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    /// The process-wide centre. Never destroyed, so tokens in static objects stay safe.
    static NotificationCenter& defaultCenter();

    /// Calls `callback` for every notification posted under `name` until the returned token
    /// goes away. An empty callback registers nothing and gives an empty token.
    [[nodiscard]] NotificationObserver addObserver(std::string name, Callback callback);
    void post(const std::string& name, const Dictionary& userInfo = {});

  private:
    std::shared_ptr<NotificationObserver::State> state_;
};

}  // namespace quenbril
