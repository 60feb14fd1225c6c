#pragma once

#include <condition_variable>
#include <deque>
#include <thread>

#include "foundation/dispatch/Queue.h"

namespace quenbril::dispatch {

/// A serial queue: its own thread, or a drain of its blocks submitted to its target. Made through
/// Queue::makeSerial.
class SerialQueue : public Queue {
  public:
    static QueuePtr make(std::string label, QueuePtr target);
    SerialQueue(std::string label, QueuePtr target);
    ~SerialQueue() override;

    bool tryRunInPlace(const Block& block, bool brief) override;

  private:
    struct Worker;

    void submit(Block wrapped) override;
    void drain();

    std::shared_ptr<Worker> worker_;
    std::thread thread_;
};

}  // namespace quenbril::dispatch
