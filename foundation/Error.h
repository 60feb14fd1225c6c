#pragma once

#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// An error as the socket, serial and storage layers report it: a domain, a code within it, a
/// human-readable description and optional extra details.
struct Error {
    std::string domain;
    int64_t code = 0;
    std::string description;
    Dictionary userInfo;

    static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";
    static constexpr const char* kFailureReasonKey = "NSLocalizedFailureReason";

    /// A POSIX-domain error: code `errnoValue`, description its strerror text, and `reason`
    /// (the failed call, "Error in connect() function") as the failure reason when not empty.
    static Error posix(int errnoValue, const std::string& reason = {});
    /// The same, for the current `errno`.
    static Error fromErrno(const std::string& reason = {});
    static Error make(std::string domain, int64_t code, std::string description);

    /// The failure reason, or an empty string.
    std::string failureReason() const;
    /// "domain code: description (reason)", for logs.
    std::string toString() const;
};

}  // namespace quenbril
