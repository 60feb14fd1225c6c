#pragma once

#include "foundation/Value.h"

namespace quenbril {

/// Where commands to the server go (the server link sends each as one frame).
class LinkSender {
  public:
    virtual ~LinkSender() = default;
    virtual void sendDictionary(const Dictionary& message) = 0;
};

}  // namespace quenbril
