#pragma once

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include "foundation/dispatch/Queue.h"

namespace quenbril::dispatch {

/// The global concurrent queue: a pool of threads made on first use and kept until exit.
/// Reached through Queue::global().
class GlobalQueue : public Queue {
  public:
    GlobalQueue();
    ~GlobalQueue() override;

    /// The threads of the pool: enough for a few blocking look-ups side by side.
    static unsigned threadCount();

  private:
    void submit(Block wrapped) override;
    void work();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Block> blocks_;
    std::vector<std::thread> threads_;
    bool stop_ = false;
};

}  // namespace quenbril::dispatch
