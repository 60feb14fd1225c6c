#include "foundation/Error.h"

#include <cerrno>
#include <cstring>

namespace quenbril {

Error Error::posix(int errnoValue, const std::string& reason) {
    Error e = make(kPosixDomain, errnoValue, std::strerror(errnoValue));
    if (!reason.empty()) e.userInfo.set(kFailureReasonKey, Value(reason));
    return e;
}

Error Error::fromErrno(const std::string& reason) { return posix(errno, reason); }

Error Error::make(std::string domain, int64_t code, std::string description) {
    Error e;
    e.domain = std::move(domain);
    e.code = code;
    e.description = std::move(description);
    return e;
}

std::string Error::failureReason() const {
    const std::string* s = userInfo[kFailureReasonKey].stringValue();
    return s ? *s : std::string();
}

std::string Error::toString() const {
    std::string s = domain + " " + std::to_string(code) + ": " + description;
    std::string reason = failureReason();
    if (!reason.empty()) s += " (" + reason + ")";
    return s;
}

}  // namespace quenbril
