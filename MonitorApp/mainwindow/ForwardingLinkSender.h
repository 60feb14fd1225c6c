#pragma once

#include "MonitorApp/link/LinkSender.h"

namespace quenbril {

/// The one sender the main window's parts send through: the application (or a test) points it
/// at the server link through connectLinkSenders. Without a target the commands are dropped.
class ForwardingLinkSender final : public LinkSender {
  public:
    void setTarget(LinkSender* target) { target_ = target; }
    void sendDictionary(const Dictionary& message) override {
        if (target_) target_->sendDictionary(message);
    }
    void sendOnConnection(const Dictionary& message) override {
        if (target_) target_->sendOnConnection(message);
    }
    bool maySend() override { return !target_ || target_->maySend(); }

  private:
    LinkSender* target_ = nullptr;
};

}  // namespace quenbril
