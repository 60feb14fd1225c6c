#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorApp/audio/ServerRoleStrips.h"
#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripDelegate.h"
#include "MonitorApp/channelstrips/GroupButtonView.h"
#include "MonitorApp/channelstrips/PanelRenderer.h"
#include "MonitorApp/channelstrips/Snapshot.h"
#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/channelstrips/StripServices.h"
#include "MonitorApp/link/LinkRecords.h"
#include "MonitorApp/link/LinkSender.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/Value.h"
#include "platform/midi/MidiConnectionManager.h"

namespace quenbril {

class ViewController;

/// The one owner of the channel strips: the ordered list of strip controllers (the order of the
/// server's last "Channels" list), the look-ups by id and by position, the layout of the strip
/// views in panels A and B, the level display's map, the group buttons and snapshots, and the
/// handlers of the server's per-strip data. It is also the program's one MIDI input: every
/// message of a connected device becomes "MIDIEventReceived". In the server role its strips are
/// the engine's capture channels. Main thread only.
class ChannelStripManager : public MidiConnectionManagerDelegate, public ServerRoleStrips {
  public:
    using Controllers = std::vector<std::unique_ptr<ChannelStripController>>;

    /// The one manager, made on first use over the shared services.
    static ChannelStripManager& sharedInstance();
    /// Tests: drops the shared instance (its strips, timers and observers).
    static void resetSharedInstance();

    /// A manager over `services`, which its strips read too.
    explicit ChannelStripManager(const StripServices& services);
    ~ChannelStripManager() override;
    ChannelStripManager(const ChannelStripManager&) = delete;
    ChannelStripManager& operator=(const ChannelStripManager&) = delete;

    // ---- Collaborators, installed by the application (tests install fakes) ----
    const StripServices& services() const { return services_; }
    /// Where group commands go; none drops them.
    void setLinkSender(LinkSender* sender) { linkSender_ = sender; }
    LinkSender* linkSender() const { return linkSender_; }

    // ---- Set-up ----
    /// Sets up the panels and the level display in the strip area (the first call makes them;
    /// later calls only keep the new area).
    void setSuperView(StripArea* area);
    StripArea* superView() const { return area_; }
    /// Forgets the strip area, and the level display it owns, when it is `area`: the window that
    /// handed it over calls this before the area goes.
    void releaseSuperView(const StripArea* area);
    bool useMetal() const { return useMetal_; }
    /// Makes the eight group buttons in the container (first call only).
    void setGroupButtonView(GroupButtonContainer* container);
    /// Forgets the container and its group buttons when it is `container`; the next container
    /// handed over gets buttons of its own.
    void releaseGroupButtonView(const GroupButtonContainer* container);
    const std::vector<GroupButtonView*>& groupButtons() const { return groupButtons_; }
    PanelRenderer* renderer() const { return renderer_; }
    /// Not owned; the manager never calls it.
    ChannelStripDelegate* delegate() const { return delegate_; }
    void setDelegate(ChannelStripDelegate* delegate) { delegate_ = delegate; }
    /// The main window's controller, which sets itself as it loads and clears itself as it
    /// goes; the application delegate finds it here. Not owned.
    ViewController* mainViewController() const { return mainViewController_; }
    void setMainViewController(ViewController* controller) { mainViewController_ = controller; }

    // ---- Building and saving ----
    /// Replaces every strip with those of a "Channels" list. Disabled strips are dropped, and
    /// so are strips past the 128th; an entry that is not a dictionary is skipped.
    void initFromProperyArray(const Array& channels);
    /// Every strip's dictionary, in list order.
    Array propertyArray() const;
    /// Refreshes the panel flags, every strip's view, the positions and the level map.
    void updateChannels();

    // ---- Look-ups ----
    static Controllers& channelStripControllers();
    Controllers& controllers() { return controllers_; }
    const Controllers& controllers() const { return controllers_; }
    /// The first strip with that id; none for 0, which names no strip.
    ChannelStripController* controllerWithCSID(int64_t csID) const;
    static ChannelStripController* controllerByID(int64_t csID);
    static int32_t controllerIndexByID(int64_t csID);
    /// The list position of a controller of the shared list, or -1.
    static int32_t controllerIndexOf(const ChannelStripController* controller);
    /// The list position of a controller of this manager's list, or -1.
    int32_t positionOf(const ChannelStripController* controller) const;
    /// The position of the strip among the enabled strips (its level byte), or -1.
    int32_t indexOfChannelStripID(int64_t csID) const;
    static ChannelStripController* controllerByIndexInPanel(const Controllers& controllers,
                                                            int32_t index, std::string_view panel);
    static int32_t indexInPanel(const Controllers& controllers,
                                const ChannelStripController* controller);
    static int32_t controllersInPanel(const Controllers& controllers, std::string_view panel);
    static ChannelStripController* controllerByIndexInCurrentPanel(int32_t index);
    int32_t enabledChannels(std::string_view panel) const;
    bool isWarningOn() const;
    std::string activeChannelNamesForChat() const;
    /// List positions of the strips soloed or hard-soloed, and of the active strips.
    Array hardSoloedChannels() const;
    Array activeChannels() const;

    // ---- Strip editor ----
    /// Adds a strip on a free audio input with an id no other strip has. False, changing
    /// nothing, when there are 128 strips already or no input is free.
    bool createChannelStrip();
    /// Where new strips' ids come from (a random draw unless set; tests install a sequence).
    /// A draw that is 0 or another strip's id is drawn again.
    using StripIDSource = std::function<int64_t()>;
    void setStripIDSource(StripIDSource source);
    void removeChannelStrips(const std::vector<int32_t>& positions);
    void removeChannelStrip(int32_t position);
    int32_t findFreeAudioInput() const;
    /// Whether no strip of this manager's list takes audio input `input`.
    bool isInputChannelAvailable(int32_t input) const;

    // ---- Views and panels ----
    int32_t panelIndex() const { return panelIndex_; }
    void setPanelIndex(int32_t panelIndex);
    void updatePositions();
    void updateSizes();
    void updateRendererMap();
    void scrollUp();
    void setKeyboardFocus();
    void updateStates();
    void updateAppearances();
    void preferencesChanged();
    void allChannelsOff();
    void reset();
    void scrollViewScrolled();
    void scrollEnded();
    bool isScrolling() const { return scrolling_; }
    /// Seconds between ticks of the draw timer.
    static constexpr double kDrawInterval = 0.05;
    /// The draw timer's tick: per-panel level views would redraw here. The level display
    /// redraws itself on its own timer, and no such view is made, so nothing is left to draw.
    void drawChannels() {}
    /// What previouslyClickedChannel reads before any strip is clicked.
    static constexpr const char* kNoChannelClicked = "(No channel clicked)";
    const std::string& previouslyClickedChannel() const { return previouslyClickedChannel_; }
    void setPreviouslyClickedChannel(std::string text) {
        previouslyClickedChannel_ = std::move(text);
    }
    /// Panel flags of the enabled strips: 1 for panel B.
    const std::array<uint8_t, kMaxStrips>& panelArray() const { return panelArray_; }
    void clientClickedChannel(int32_t index, const std::string& fromIP);
    void clientLongClickedChannel(int32_t index);

    // ---- MIDI ----
    /// 1 for a device with at least one source (it is connected), else 0.
    int64_t connectionManagerShouldConnectToNewlyAddedDevice(MidiConnectionManager& manager,
                                                             const MidiDevice& device) override;
    /// Nothing is done with the note-ons a vanished device left hanging.
    void connectionManagerDeviceWasDisconnected(
        MidiConnectionManager& manager, const MidiDevice& device,
        const std::vector<MidiCommand>& unterminatedNoteOns) override;
    /// Posts "MIDIEventReceived" {"byte1", "byte2", "channel", "command"}.
    void handleMIDICommand(const MidiCommand& command);
    /// Keeps the last destination of a device whose model contains "Launchpad".
    void findEndpoint();
    /// Nothing is sent to the Launchpad.
    void updateLaunchpad() {}
    const std::optional<MidiDestinationEndpoint>& launchpadEndpoint() const {
        return launchpadEndpoint_;
    }
    MidiConnectionManager* connectionManager() const { return connectionManager_.get(); }
    /// The Launchpad's grid is 16 notes wide with 8 pads a row; the strips go 8 a row.
    static int32_t channelToLPChannel(int32_t channel) { return (channel / 8) * 16 + channel % 8; }
    static int32_t lpChannelToChannel(int32_t note) { return note % 16 + (note / 16) * 8; }
    /// Long click of a pad: the strip index in the user information's "index".
    void midiDeviceLongClick(const Notification& notification);

    // ---- Snapshots and groups ----
    void applySnapshot(const Snapshot& snapshot);
    /// Sets the group buttons from a "GroupStates" value: exactly eight numbers, else nothing
    /// changes ("Wrong amount of groups"). Answers whether it was applied.
    bool applyGroupStates(const Value& states);
    void groupClicked(const Notification& notification);
    void groupLongClicked(const Notification& notification);
    Array groupAssignments();
    void soloClear();
    void soloHardClear();
    static Color colorForIndex(int32_t index);

    // ---- Server data ----
    // They take the records the link's message reader made of the message, which has read the
    // id/value arrays by the pending-id rule and skipped (and logged) the elements of the
    // wrong kind.
    void activeChannelsReceived(const std::vector<int64_t>& ids);
    void soloChannelsReceived(const std::vector<int64_t>& ids);
    void autoSoloChannelsReceived(const std::vector<int64_t>& ids);
    /// Queues the warning update on the main run loop and returns at once.
    void updateWarningsFromServer(const FlatPairs<int32_t>& pairs);
    /// The warning update itself (one pass over the pairs).
    void applyWarningsFromServer(const FlatPairs<int32_t>& pairs);
    bool warningIgnored(int32_t code) const;
    void updateBatteryDataFromServer(const FlatPairs<int32_t>& pairs);
    void updateBatteryTimeDataFromServer(const FlatPairs<std::string>& pairs);
    void updateAntennaDataFromServer(const FlatPairs<std::string>& pairs);
    void ltcSampleReceived(const std::vector<LtcSampleRecord>& samples);
    void updateLTCData();
    /// The server role's warning pass, sent to the hosted remotes.
    void updateWarnings();
    /// The server role's per-frame level update (128 level bytes).
    void updateLevels(const uint8_t* levels) override;
    // The strips as the server role's engine reads them.
    int stripCount() const override { return static_cast<int>(controllers_.size()); }
    const ChannelStripModel& stripModel(int index) const override {
        return controllers_[static_cast<size_t>(index)]->model();
    }
    ChannelStripState& stripState(int index) override {
        return controllers_[static_cast<size_t>(index)]->state();
    }
    /// Level frames from the server go straight to the engine's histories, which the level
    /// display draws; nothing is left for the strips to do with them.
    void updateLevelsFromServer(const uint8_t* levels, int length) {
        (void)levels;
        (void)length;
    }
    void updateRfLevelsFromServer(const uint8_t* levels, int length) {
        (void)levels;
        (void)length;
    }
    // The strips come whole from the server's "Channels" and their states from its solo and
    // group messages, so these have nothing to do on a remote.
    void createChannelStrips() {}
    void resetAllChannels() {}
    void activateChannels(const Array& channels) { (void)channels; }
    /// Changes nothing and answers 0.
    int32_t setGroupState(int32_t state, int32_t groupIndex) {
        (void)state;
        (void)groupIndex;
        return 0;
    }
    /// No strip is known by channel number: always none.
    ChannelStripController* stripForChannel(int32_t channel) const {
        (void)channel;
        return nullptr;
    }

  private:
    void startMidi();
    void removeAllViews();
    void showLTCParameters(ChannelStripController& controller);

    StripServices services_;
    Controllers controllers_;
    std::vector<GroupButtonView*> groupButtons_;
    int32_t panelIndex_ = 0;
    bool useMetal_ = false;
    StripArea* area_ = nullptr;
    GroupButtonContainer* groupButtonView_ = nullptr;
    PanelRenderer* renderer_ = nullptr;
    ChannelStripDelegate* delegate_ = nullptr;
    ViewController* mainViewController_ = nullptr;
    LinkSender* linkSender_ = nullptr;
    StripIDSource stripIDSource_ = &ChannelStripModel::randomStripID;
    std::string previouslyClickedChannel_ = kNoChannelClicked;
    std::array<uint8_t, kMaxStrips> panelArray_{};
    bool scrolling_ = false;
    Timer scrollTimer_;
    Timer drawTimer_;
    std::vector<NotificationObserver> observers_;
    std::unique_ptr<MidiConnectionManager> connectionManager_;
    std::optional<MidiDestinationEndpoint> launchpadEndpoint_;
    // Tasks queued on the main run loop check this before they touch the manager.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quenbril
