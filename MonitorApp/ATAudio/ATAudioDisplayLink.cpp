#include "MonitorApp/ATAudio/ATAudioDisplayLink.h"

#include "foundation/RunLoop.h"

namespace quenbril {

ATAudioDisplayLink::ATAudioDisplayLink(double refreshRate)
    : refreshRate_(refreshRate > 0.0 ? refreshRate : kDefaultRefreshRate) {
    displayLink_ = RunLoop::main().scheduleTimer(1.0 / refreshRate_, true, [this] { update(); });
}

std::unique_ptr<ATAudioDisplayLink> ATAudioDisplayLink::displayLinkWithDelegate(
    ATAudioDisplayLinkDelegate* delegate, double refreshRate) {
    auto link = std::make_unique<ATAudioDisplayLink>(refreshRate);
    link->setDelegate(delegate);
    return link;
}

void ATAudioDisplayLink::update() {
    if (!stopped_ && delegate_) delegate_->displayLinkNeedsDisplay(*this);
}

}  // namespace quenbril
