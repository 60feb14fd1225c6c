#pragma once

#include "foundation/Value.h"

namespace quenbril {

/// Where commands to the server go (the server link sends each as one frame).
class LinkSender {
  public:
    virtual ~LinkSender() = default;
    /// A user's command: sent only while the server is here.
    virtual void sendDictionary(const Dictionary& message) = 0;
    /// A message about the connection itself (who this remote is, its solo mode): it goes as
    /// soon as the link is up, before the server's state is in.
    virtual void sendOnConnection(const Dictionary& message) { sendDictionary(message); }
    /// Whether a user's command would be sent now. An action asks first and, refused, changes
    /// nothing: what the user sees must not suggest the server heard it.
    virtual bool maySend() { return true; }
};

}  // namespace quenbril
