#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "foundation/RunLoop.h"
#include "foundation/Value.h"

namespace quenbril {

class ChannelStripManager;
class UserSettingsManager;

/// One channel strip: its stored record, its live state and its view. Fills the view from the
/// record, runs the strip's timecode display and, in the server role, evaluates its warnings.
class ChannelStripController {
  public:
    /// Makes the strip views (128 x 128). The widget layer installs one at start; without one,
    /// controllers have no view and every view call is skipped.
    using ViewFactory = std::function<std::unique_ptr<ChannelStripView>()>;
    static void setViewFactory(ViewFactory factory);

    /// A new strip (a new record with a fresh id), with a view; the record's audio history off.
    /// `manager` is the strip's owner, whose services it reads; it outlives the strip.
    explicit ChannelStripController(ChannelStripManager& manager);
    /// A strip built from a strip dictionary, with a view.
    ChannelStripController(ChannelStripManager& manager, const Dictionary& dictionary);
    /// A strip built from a strip dictionary without a view and without a manager (the strip
    /// lists of hosted remotes): only its record and state are used.
    static std::unique_ptr<ChannelStripController> makeWithoutView(const Dictionary& dictionary);

    ~ChannelStripController();
    ChannelStripController(const ChannelStripController&) = delete;
    ChannelStripController& operator=(const ChannelStripController&) = delete;

    ChannelStripModel& model() { return model_; }
    const ChannelStripModel& model() const { return model_; }
    /// Whether messages that name strips by id can reach this strip. An id of 0 names no strip,
    /// so a strip that has one is shown but never addressed: look-ups, solo sets, timecode.
    bool isAddressable() const { return model_.csID() != 0; }
    /// Whether a message naming strip `csID` is meant for this one.
    bool isAddressedBy(int64_t csID) const { return isAddressable() && model_.csID() == csID; }
    ChannelStripState& state() { return state_; }
    const ChannelStripState& state() const { return state_; }
    /// The strip view, or null.
    ChannelStripView* view() const { return view_.get(); }
    bool audioAvailable() const { return audioAvailable_; }
    void setAudioAvailable(bool v) { audioAvailable_ = v; }
    int32_t counter() const { return counter_; }
    void setCounter(int32_t v) { counter_ = v; }
    int32_t warningCounter() const { return warningCounter_; }

    /// Fills the view from the record: title, input, alternative input text, picture.
    void update();

    /// Starts the repeating 0.2 s timecode display on the main run loop (once).
    void startLTCTimer();
    void stopLTCTimer();
    bool ltcTimerRunning() const { return ltcTimer_.isValid(); }
    /// One tick of the timecode display.
    void ltcTimerCallback();

    /// The warning code to report for the strip: cycles through the raised warnings.
    int32_t warningStatus();
    /// The server role's warning evaluation under the switches and sensitivity `settings` hold
    /// (nothing in the remote role).
    void updateWarnings(const UserSettingsManager& settings);
    void resetWarnings() { state_.reset(); }

    /// Local state changes (never used in the remote role, where the server decides).
    void clickedNotification();
    void longClickedNotification();
    void applyGroupState(int32_t groupState);

  private:
    struct WithoutView {};
    ChannelStripController(WithoutView, const Dictionary& dictionary);
    void showState();

    ChannelStripManager* manager_ = nullptr;
    ChannelStripModel model_;
    ChannelStripState state_;
    std::unique_ptr<ChannelStripView> view_;
    bool audioAvailable_ = false;
    int32_t counter_ = 0;
    int32_t warningCounter_ = 0;
    Timer ltcTimer_;
};

}  // namespace quenbril
