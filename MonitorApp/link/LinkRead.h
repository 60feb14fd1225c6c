#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace quenbril {

/// Thrown where a message is handled and one of its values has the wrong kind. The link
/// catches it around the handling of each message, logs "Something went wrong!" and drops the
/// message.
class LinkTypeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// What a typed reader found in a link message: the value, nothing (the key is missing), or a
/// value of the wrong kind (the whole message is to be dropped).
template <class T>
class LinkRead {
  public:
    enum class Status { Found, Missing, WrongKind };

    static LinkRead found(T value) { return LinkRead(Status::Found, std::move(value)); }
    static LinkRead missing() { return LinkRead(Status::Missing, std::nullopt); }
    static LinkRead wrongKind(std::string what) {
        LinkRead r(Status::WrongKind, std::nullopt);
        r.what_ = std::move(what);
        return r;
    }

    Status status() const { return status_; }
    bool isFound() const { return status_ == Status::Found; }
    bool isMissing() const { return status_ == Status::Missing; }
    bool isWrongKind() const { return status_ == Status::WrongKind; }
    explicit operator bool() const { return isFound(); }

    /// Only when found.
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    /// For a wrong kind: which key of which command.
    const std::string& what() const { return what_; }

    /// The value, or nothing when missing. Throws LinkTypeError for a wrong kind, so a handler
    /// can leave the dropping of the message to the link's catch.
    const std::optional<T>& get() const {
        if (isWrongKind()) throw LinkTypeError(what_);
        return value_;
    }

  private:
    LinkRead(Status status, std::optional<T> value) : status_(status), value_(std::move(value)) {}

    Status status_;
    std::optional<T> value_;
    std::string what_;
};

}  // namespace quenbril
