#include "serialport/SerialRequest.h"

#include <cstdio>

#include "serialport/RandomUuid.h"

namespace quenbril {

SerialRequest::SerialRequest(Bytes dataToSend, Value userInfo, double timeoutInterval,
                             SerialPacketDescriptor::Ptr responseDescriptor)
    : dataToSend_(std::move(dataToSend)),
      userInfo_(std::move(userInfo)),
      timeoutInterval_(timeoutInterval),
      responseDescriptor_(std::move(responseDescriptor)),
      uuid_(randomUuidString()) {}

SerialRequest::Ptr SerialRequest::requestWithDataToSend(
    Bytes dataToSend, Value userInfo, double timeoutInterval,
    SerialPacketDescriptor::Ptr responseDescriptor) {
    return std::make_shared<SerialRequest>(std::move(dataToSend), std::move(userInfo),
                                           timeoutInterval, std::move(responseDescriptor));
}

SerialRequest::Ptr SerialRequest::requestWithDataToSend(Bytes dataToSend, Value userInfo,
                                                        double timeoutInterval,
                                                        SerialResponseEvaluator evaluator) {
    auto descriptor = SerialPacketDescriptor::make(SerialPacketDescriptor::kEvaluatorMaximumLength,
                                                   Value(), std::move(evaluator));
    return requestWithDataToSend(std::move(dataToSend), std::move(userInfo), timeoutInterval,
                                 std::move(descriptor));
}

bool SerialRequest::dataIsValidResponse(std::span<const uint8_t> data) const {
    return !responseDescriptor_ || responseDescriptor_->dataIsValidPacket(data);
}

std::string SerialRequest::description() const {
    char self[64];
    std::snprintf(self, sizeof self, "<SerialRequest: %p>", static_cast<const void*>(this));
    char interval[64];
    std::snprintf(interval, sizeof interval, "%f", timeoutInterval_);
    return std::string(self) + " data: " + Value(dataToSend_).description() +
           " userInfo: " + userInfo_.description() + " timeout interval: " + interval;
}

}  // namespace quenbril
