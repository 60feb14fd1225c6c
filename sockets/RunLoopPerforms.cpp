#include "sockets/RunLoopPerforms.h"

#include <algorithm>

#include "foundation/CancelToken.h"
#include "foundation/RunLoop.h"

namespace quenbril {

RunLoopPerforms::~RunLoopPerforms() { cancelAll(); }

void RunLoopPerforms::perform(RunLoop& loop, std::function<void()> task) {
    // Tokens of tasks that already ran are dropped here, so the list stays as short as the
    // number of tasks still waiting.
    std::erase_if(pending_, [](const auto& token) { return token->isCancelled(); });
    auto token = std::make_shared<CancelToken>();
    pending_.push_back(token);
    loop.post([token, task = std::move(task)] {
        if (token->isCancelled()) return;
        token->cancel();
        task();
    });
}

void RunLoopPerforms::cancelAll() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& token : pending) token->cancel();
}

}  // namespace quenbril
