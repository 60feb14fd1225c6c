#pragma once

#include "foundation/DescriptorWatch.h"
#include "foundation/dispatch/SharedDescriptor.h"
#include "foundation/dispatch/Source.h"

namespace quenbril::dispatch {

/// A read or write source on a descriptor; its handler runs on its queue. A source on the main
/// queue is watched by the main run loop, and its handler runs as soon as the loop sees the
/// descriptor ready, with no other thread woken; any other source is watched by the one epoll
/// thread of the process (Reactor).
///
/// Events are one-shot: after the handler has run, the source is re-armed, so a descriptor that
/// stays readable fires again (once per handler run) until it is read, or the source suspended.
///
/// data() in the handler:
/// - read source: the bytes readable (FIONREAD) at the time the handler runs; 0 means end of
///   stream on a stream socket, pipe or terminal. A listening socket reports 1 (FIONREAD does not
///   apply to it). A datagram socket reports at least 1, so an empty datagram is not taken for an
///   end of stream. A socket with a pending error reports 1 (the read meets the error). When the
///   bytes that raised the event were read before the handler ran, the event is dropped (the
///   handler is not called with a false 0) and the source re-armed.
/// - write source: 1 (writable).
///
/// One read and one write source per descriptor. A source made on a SharedDescriptor holds it
/// until its cancel has finished (or it is dropped), so the descriptor is closed only once every
/// source on it has let it go, whichever thread cancels or closes. A source made on a bare
/// number never closes it: close it once the cancel handler of every source on it has run.
class DescriptorSource : public Source {
  public:
    enum class Type { Read, Write };

    static std::shared_ptr<DescriptorSource> makeRead(std::shared_ptr<SharedDescriptor> descriptor,
                                                      QueuePtr queue);
    static std::shared_ptr<DescriptorSource> makeWrite(std::shared_ptr<SharedDescriptor> descriptor,
                                                       QueuePtr queue);
    static std::shared_ptr<DescriptorSource> makeRead(int fd, QueuePtr queue);
    static std::shared_ptr<DescriptorSource> makeWrite(int fd, QueuePtr queue);

    ~DescriptorSource() override;

    int handle() const { return fd_; }
    Type type() const { return type_; }

    // Use makeRead / makeWrite.
    DescriptorSource(int fd, std::shared_ptr<SharedDescriptor> descriptor, Type type,
                     QueuePtr queue);

  private:
    std::optional<uint64_t> measure(uint64_t pending) override;
    void arm() override;
    void disarm() override;
    void cancelFinished() override;
    // Watching by the main loop: armWatch from any thread, the others on the main thread;
    // startWatch with registrationMutex_ held.
    void armWatch();
    void startWatch();
    void watchFired();

    const int fd_;
    // Let go of once the cancel has finished; destroyed last, after the watching has stopped.
    std::shared_ptr<SharedDescriptor> descriptor_;
    const Type type_;
    const bool watchedByMainLoop_;
    bool datagram_ = false;
    std::mutex registrationMutex_;
    uint64_t registration_ = 0;
    bool disarmed_ = false;
    // The main loop's watch is level-triggered: it stays while the source waits for an event,
    // and goes when an event finds the source unable to take another (suspended, busy).
    DescriptorWatch watch_;
    bool wantsEvent_ = false;  // armed: the next readiness is an event
    bool startPosted_ = false;
};

}  // namespace quenbril::dispatch
