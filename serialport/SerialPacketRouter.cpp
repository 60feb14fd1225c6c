#include "serialport/SerialPacketRouter.h"

#include <algorithm>

namespace quenbril {

void SerialPacketRouter::startListening(const SerialPacketDescriptor::Ptr& descriptor) {
    if (!descriptor) return;
    for (const auto& listener : listeners_) {
        if (*listener->descriptor() == *descriptor) return;
    }
    listeners_.push_back(std::make_unique<SerialPacketScanner>(descriptor));
    host_.propertyChanged("packetDescriptors");
}

void SerialPacketRouter::stopListening(const SerialPacketDescriptor::Ptr& descriptor) {
    if (!descriptor) return;
    size_t removed = std::erase_if(
        listeners_, [&](const auto& listener) { return *listener->descriptor() == *descriptor; });
    if (removed > 0) host_.propertyChanged("packetDescriptors");
}

std::vector<SerialPacketDescriptor::Ptr> SerialPacketRouter::descriptors() const {
    std::vector<SerialPacketDescriptor::Ptr> all;
    for (const auto& listener : listeners_) all.push_back(listener->descriptor());
    return all;
}

bool SerialPacketRouter::sendRequest(const SerialRequest::Ptr& request) {
    if (!request) return false;
    if (pending_) {
        queue_.push_back(request);
        host_.propertyChanged("queuedRequests");
        return true;
    }
    Outcome outcome = start(request);
    if (outcome != Outcome::Pending) sendNext();
    return outcome != Outcome::Failed;
}

void SerialPacketRouter::cancelQueuedRequest(const SerialRequest::Ptr& request) {
    if (request && std::erase(queue_, request) > 0) host_.propertyChanged("queuedRequests");
}

void SerialPacketRouter::cancelAllQueuedRequests() {
    queue_.clear();
    host_.propertyChanged("queuedRequests");
}

std::vector<SerialRequest::Ptr> SerialPacketRouter::queuedRequests() const {
    return {queue_.begin(), queue_.end()};
}

void SerialPacketRouter::insertQueuedRequest(const SerialRequest::Ptr& request, size_t index) {
    if (!request) return;
    index = std::min(index, queue_.size());
    queue_.insert(queue_.begin() + static_cast<ptrdiff_t>(index), request);
    host_.propertyChanged("queuedRequests");
}

void SerialPacketRouter::removeQueuedRequest(size_t index) {
    if (index >= queue_.size()) return;
    queue_.erase(queue_.begin() + static_cast<ptrdiff_t>(index));
    host_.propertyChanged("queuedRequests");
}

void SerialPacketRouter::receive(std::span<const uint8_t> bytes) {
    for (const uint8_t& byte : bytes) {
        for (const auto& listener : listeners_) {
            auto packet = listener->append(byte);
            if (!packet || packet->empty()) continue;
            listener->clear();
            host_.packetReceived(std::move(*packet), listener->descriptor());
        }
        if (check(&byte)) sendNext();
    }
}

void SerialPacketRouter::timeoutFired(SerialRequest::Ptr request) {
    // A fire that raced with the response (or a reset) finds another request pending.
    if (!request || pending_ != request) return;
    // Cleared at once, so that a late response cannot complete the request as well.
    pending_ = nullptr;
    host_.stopTimeout();
    host_.requestTimedOut(request);
    sendNext();
}

void SerialPacketRouter::reset() {
    bool hadRequests = !queue_.empty();
    queue_.clear();
    pending_ = nullptr;
    responseScanner_.reset();
    host_.stopTimeout();
    for (const auto& listener : listeners_) listener->clear();
    if (hadRequests) host_.propertyChanged("queuedRequests");
}

SerialPacketRouter::Outcome SerialPacketRouter::start(const SerialRequest::Ptr& request) {
    const auto& descriptor = request->responseDescriptor();
    responseScanner_ = descriptor ? std::make_unique<SerialPacketScanner>(descriptor) : nullptr;
    pending_ = request;
    if (request->timeoutInterval() > 0) host_.startTimeout(request);
    if (!host_.writeRequest(*request)) {
        // The write was reported; the request is dropped, so the queue never stalls behind a
        // request that was never sent. A timed one ends as its caller awaits, with its time-out:
        // no response can come.
        host_.stopTimeout();
        pending_ = nullptr;
        if (request->timeoutInterval() > 0) host_.requestTimedOut(request);
        return Outcome::Failed;
    }
    return check(nullptr) ? Outcome::Completed : Outcome::Pending;
}

void SerialPacketRouter::sendNext() {
    pending_ = nullptr;
    host_.stopTimeout();
    responseScanner_.reset();
    while (!queue_.empty()) {
        SerialRequest::Ptr next = queue_.front();
        queue_.pop_front();
        host_.propertyChanged("queuedRequests");
        if (start(next) == Outcome::Pending) return;
        pending_ = nullptr;
        host_.stopTimeout();
    }
}

bool SerialPacketRouter::check(const uint8_t* byte) {
    if (!pending_) return false;
    SerialRequest::Ptr request = pending_;
    const auto& descriptor = request->responseDescriptor();
    // Without a response descriptor the request is complete once its bytes are written.
    if (!descriptor) return byte == nullptr;
    if (!byte) return false;
    auto response = responseScanner_->append(*byte);
    if (!response) return false;
    host_.stopTimeout();
    if (!response->empty()) host_.responseReceived(std::move(*response), request);
    return true;
}

}  // namespace quenbril
