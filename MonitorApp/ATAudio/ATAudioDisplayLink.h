#pragma once

#include <memory>

#include "MonitorApp/ATAudio/ATAudioDisplayLinkDelegate.h"
#include "foundation/Timer.h"

namespace quenbril {

/// A timer at the display's refresh rate on the main run loop. It ticks from creation, but
/// reaches its delegate only between start() and stop(). Main thread only: the views it drives
/// may only be touched there.
class ATAudioDisplayLink {
  public:
    static constexpr double kDefaultRefreshRate = 60.0;

    explicit ATAudioDisplayLink(double refreshRate = kDefaultRefreshRate);
    ATAudioDisplayLink(const ATAudioDisplayLink&) = delete;
    ATAudioDisplayLink& operator=(const ATAudioDisplayLink&) = delete;
    static std::unique_ptr<ATAudioDisplayLink> displayLinkWithDelegate(
        ATAudioDisplayLinkDelegate* delegate, double refreshRate = kDefaultRefreshRate);

    void start() { stopped_ = false; }
    void stop() { stopped_ = true; }
    /// Tells the delegate, unless stopped.
    void update();

    bool stopped() const { return stopped_; }
    double refreshRate() const { return refreshRate_; }
    ATAudioDisplayLinkDelegate* delegate() const { return delegate_; }
    void setDelegate(ATAudioDisplayLinkDelegate* delegate) { delegate_ = delegate; }

  private:
    bool stopped_ = true;
    ATAudioDisplayLinkDelegate* delegate_ = nullptr;
    double refreshRate_ = kDefaultRefreshRate;
    Timer displayLink_;
};

}  // namespace quenbril
