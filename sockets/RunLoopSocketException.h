#pragma once

#include <stdexcept>
#include <string>

namespace quenbril {

/// What the run-loop sockets throw when they are misused (closed, bound twice, no delegate...):
/// the exception's name ("RunLoopSocketException", "RunLoopUdpSocketException") and its reason.
class RunLoopSocketException : public std::runtime_error {
  public:
    RunLoopSocketException(std::string name, const std::string& reason)
        : std::runtime_error(reason), name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::string reason() const { return what(); }

  private:
    std::string name_;
};

}  // namespace quenbril
