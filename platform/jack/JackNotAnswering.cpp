#include "platform/jack/JackNotAnswering.h"

namespace quenbril {

std::shared_ptr<BoundedWorker> sharedJackWorker() {
    // Kept to the end of the process, like the thread it may leave stuck in libjack.
    static auto* worker = new std::shared_ptr<BoundedWorker>(std::make_shared<BoundedWorker>(
        "JACK", kJackNotAnswering, BoundedWorker::defaultLimit(), kJackNotAnsweringWhy));
    return *worker;
}

}  // namespace quenbril
