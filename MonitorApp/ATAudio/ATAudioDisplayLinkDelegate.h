#pragma once

namespace quenbril {

class ATAudioDisplayLink;

/// Told once per display refresh while its link runs, on the main thread.
class ATAudioDisplayLinkDelegate {
  public:
    virtual ~ATAudioDisplayLinkDelegate() = default;
    virtual void displayLinkNeedsDisplay(ATAudioDisplayLink& /*link*/) {}
};

}  // namespace quenbril
