#pragma once

#include <memory>
#include <span>
#include <string>

#include "foundation/Value.h"
#include "serialport/SerialPacketDescriptor.h"

namespace quenbril {

/// Bytes to send and the response they expect: the port sends one request at a time and ends
/// each with its response, its time-out, or (without a response descriptor) its sending.
/// Requests are known by identity.
class SerialRequest {
  public:
    using Ptr = std::shared_ptr<SerialRequest>;

    /// `timeoutInterval` in seconds; 0 or less means no time-out. No descriptor: no response.
    static Ptr requestWithDataToSend(Bytes dataToSend, Value userInfo, double timeoutInterval,
                                     SerialPacketDescriptor::Ptr responseDescriptor);
    /// The response is what `evaluator` accepts (any non-empty data without one), at most
    /// SerialPacketDescriptor::kEvaluatorMaximumLength bytes long.
    static Ptr requestWithDataToSend(Bytes dataToSend, Value userInfo, double timeoutInterval,
                                     SerialResponseEvaluator evaluator);

    const Bytes& dataToSend() const { return dataToSend_; }
    const Value& userInfo() const { return userInfo_; }
    double timeoutInterval() const { return timeoutInterval_; }
    const SerialPacketDescriptor::Ptr& responseDescriptor() const { return responseDescriptor_; }
    const std::string& UUIDString() const { return uuid_; }

    bool dataIsValidResponse(std::span<const uint8_t> data) const;
    std::string description() const;

    SerialRequest(Bytes dataToSend, Value userInfo, double timeoutInterval,
                  SerialPacketDescriptor::Ptr responseDescriptor);  // use requestWithDataToSend

  private:
    const Bytes dataToSend_;
    const Value userInfo_;
    const double timeoutInterval_;
    const SerialPacketDescriptor::Ptr responseDescriptor_;
    const std::string uuid_;
};

}  // namespace quenbril
