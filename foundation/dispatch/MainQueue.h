#pragma once

#include "foundation/dispatch/Queue.h"

namespace quenbril::dispatch {

/// The main queue: its blocks are posted to RunLoop::main(). Reached through Queue::main().
class MainQueue : public Queue {
  public:
    MainQueue();

  private:
    void submit(Block wrapped) override;
};

}  // namespace quenbril::dispatch
