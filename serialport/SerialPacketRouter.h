#pragma once

#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "serialport/SerialPacketDescriptor.h"
#include "serialport/SerialPacketScanner.h"
#include "serialport/SerialRequest.h"

namespace quenbril {

/// The framing core of a port: the listening descriptors with their buffers, the waiting
/// requests and the pending one with its response buffer. Received bytes go through it one by
/// one; it reports packets, responses and time-outs to its host, which writes requests and keeps
/// the time-out timer. Not thread-safe: the port uses it on its request queue only.
class SerialPacketRouter {
  public:
    class Host {
      public:
        virtual ~Host() = default;
        /// Writes the request's bytes; false when the write failed (and was reported).
        virtual bool writeRequest(const SerialRequest& request) = 0;
        /// Calls timeoutFired(request) after its time-out, replacing any timer running.
        virtual void startTimeout(const SerialRequest::Ptr& request) = 0;
        virtual void stopTimeout() = 0;
        virtual void packetReceived(Bytes packet, SerialPacketDescriptor::Ptr descriptor) = 0;
        virtual void responseReceived(Bytes response, SerialRequest::Ptr request) = 0;
        virtual void requestTimedOut(SerialRequest::Ptr request) = 0;
        /// "packetDescriptors" or "queuedRequests" changed.
        virtual void propertyChanged(const char* property) = 0;
    };

    explicit SerialPacketRouter(Host& host) : host_(host) {}

    void startListening(const SerialPacketDescriptor::Ptr& descriptor);
    void stopListening(const SerialPacketDescriptor::Ptr& descriptor);
    std::vector<SerialPacketDescriptor::Ptr> descriptors() const;

    /// Sends `request` now or queues it behind the pending one; false when it was sent and the
    /// write failed (it is then dropped, a timed one with its time-out, and the next one sent).
    bool sendRequest(const SerialRequest::Ptr& request);
    void cancelQueuedRequest(const SerialRequest::Ptr& request);
    void cancelAllQueuedRequests();
    std::vector<SerialRequest::Ptr> queuedRequests() const;
    const SerialRequest::Ptr& pendingRequest() const { return pending_; }
    void insertQueuedRequest(const SerialRequest::Ptr& request, size_t index);
    void removeQueuedRequest(size_t index);

    /// Runs every byte through the listening buffers, then the pending request's check.
    void receive(std::span<const uint8_t> bytes);
    /// The host's timer for `request` fired.
    void timeoutFired(SerialRequest::Ptr request);  // a copy: callers may pass pendingRequest()
    /// The port closed: drops the waiting and pending requests and empties every buffer.
    void reset();

  private:
    enum class Outcome { Failed, Pending, Completed };

    Outcome start(const SerialRequest::Ptr& request);
    void sendNext();
    bool check(const uint8_t* byte);

    Host& host_;
    /// One per listening descriptor.
    std::vector<std::unique_ptr<SerialPacketScanner>> listeners_;
    std::deque<SerialRequest::Ptr> queue_;
    SerialRequest::Ptr pending_;
    /// The pending request's response, when it has a descriptor.
    std::unique_ptr<SerialPacketScanner> responseScanner_;
};

}  // namespace quenbril
