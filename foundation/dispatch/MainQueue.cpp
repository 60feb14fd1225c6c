#include "foundation/dispatch/MainQueue.h"

#include "foundation/RunLoop.h"

namespace quenbril::dispatch {

MainQueue::MainQueue() : Queue(Kind::Main, "main", nullptr) {}

void MainQueue::submit(Block wrapped) { RunLoop::postToMain(std::move(wrapped)); }

}  // namespace quenbril::dispatch
