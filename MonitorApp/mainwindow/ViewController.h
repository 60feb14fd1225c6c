#pragma once

#include <QSize>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/controls/LongClickButtonDelegate.h"
#include "MonitorApp/controls/QBButtonDelegate.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/serverlink/ServerManagerDelegate.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoopAnimation.h"
#include "foundation/Timer.h"
#include "foundation/Value.h"

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QScrollArea;
class QColor;

namespace quenbril {

class ChannelStripController;
class FillView;
class GroupButtonContainer;
class LinkSender;
class LockView;
class QBButton;
class StripArea;
class ToolSelector;

/// The main window controller. It holds the connection life cycle (ViewControllerLifeCycle.cpp,
/// and the server link's delegate in ViewControllerLink.cpp), hands every server message to its
/// dispatcher (`messageReceivedFromServer`, ViewControllerDispatch.cpp, which also gives the
/// dispatcher the window's side) and turns every user action into a command
/// (ViewControllerActions.cpp). Main thread only.
///
/// The application calls the life-cycle functions as the window loads, appears and goes away;
/// logic tests call them directly.
class ViewController : public QWidget,
                       public ServerManagerDelegate,
                       public PreferencesViewControllerDelegate,
                       public PELAudioEngineDelegate,
                       public QBButtonDelegate,
                       public LongClickButtonDelegate {
  public:
    /// Seconds between the connection timer's attempts.
    static constexpr double kConnectionInterval = 5.0;
    /// Seconds after a resize before the strips are laid out anew.
    static constexpr double kLayoutDelay = 0.1;
    /// Strip width the column count is taken from.
    static constexpr int kColumnWidth = 128;
    /// The main window's size limits, and its size while no frame of an earlier run fits.
    static constexpr QSize kMinimumWindowSize{1039, 256};
    static constexpr QSize kMaximumWindowSize{4200, 2000};
    static constexpr QSize kDefaultWindowSize{1280, 800};

    /// Over the shared instances. Its senders have no link until the application (or a test)
    /// hands them one through connectLinkSenders.
    explicit ViewController(QWidget* parent = nullptr);
    /// Over the services of `context`, which outlive the controller.
    explicit ViewController(const RemoteContext& context, QWidget* parent = nullptr);
    ~ViewController() override;

    // ---- Life cycle (ViewControllerLifeCycle.cpp) ----
    /// Observers, the connection timer and the engine.
    void viewDidLoad();
    /// The window's set-up; opens the connection dialog until the client has started.
    void viewDidAppear();
    /// Saves the window frame and the "Settings" record.
    void viewWillDisappear();
    /// The connection timer: asks the link to connect while the client role (or chat mode 1)
    /// is on and the link is down.
    void tryConnection();
    /// The connection dialog was confirmed. When the link came up before the remote role was
    /// set, the server's state went by unused: the link is dropped and made again at once, so
    /// that the server sends it anew (and the reconnection sends the client id).
    void startClient() override;
    /// Hands the dialog the machine's audio devices, read off the main thread.
    static void listAudioDevices(const std::weak_ptr<PreferencesViewController>& dialog);
    void updateStatusMessage();
    /// Shows (true) or hides (false) the menu's "open in" item; then updateStatusMessage.
    void showOpenInMenu(bool show);
    void updateWindowTitle();
    /// Lays the strip area out for the scroll view's size (columns of 128 points).
    void screenResize();
    /// After a "Channels" message: the strips into the strip area, then the layout.
    void updateChannelStrips();
    void channelStripsEdited();
    /// The strip area scrolled.
    void boundDidChange();
    void updateWarnings();
    /// The manager's stripForChannel: no strip is known by channel number.
    ChannelStripController* stripForChan(int chan);
    /// True when `document`'s "channels" has as many entries as this server has channels.
    bool canOpen(const Dictionary& document);
    /// Registers the observers of the strip, chat, mic-check and MIDI notifications
    /// (ViewControllerActions.cpp).
    void addActionObservers();

    // ---- Server link delegate (ViewControllerLink.cpp) ----
    void connectedToServer(const std::string& host) override;
    void disconnectedFromServer(const std::optional<Error>& error) override;
    /// The connection dialog, while open, says that only an address can reach the server.
    void discoveryUnavailable(const Error& error) override;
    /// Whether the server link is up.
    bool linkConnected() const;

    // ---- Server messages (ViewControllerDispatch.cpp) ----
    /// Hands one message of the server to the dispatcher. Throws LinkTypeError for a value of
    /// the wrong kind (the link drops the message); effects before the throw remain.
    void messageReceivedFromServer(const Value& message) override;
    /// Observer of "ChatMessageFromServer": the dispatcher files the message by the chat's
    /// receipt rule.
    void chatMessageFromServer(const Notification& notification);
    /// The dispatcher, with what it keeps (client names, receivers, frames, the latest chat).
    const ServerMessageDispatcher& dispatcher() const { return *dispatcher_; }

    // ---- Notification observers (ViewControllerActions.cpp) ----
    void csClicked(const Notification& notification);
    void csLongClicked(const Notification& notification);
    void csChecked(const Notification& notification);
    void hardMuteClicked(const Notification& notification);
    void csDoubleClicked(const Notification& notification);
    void micCheckKeyClicked(const Notification& notification);
    void chatMessage(const Notification& notification);
    /// The chat window closed: its panes are no longer kept, so "chatOpen" is saved false.
    void chatWindowClosed();
    void MIDIEventReceived(const Notification& notification);
    void clickStarted();
    void clickEnded();

    // ---- Actions ----
    void addMarker();
    void resetClicked();
    void soloClearClicked();
    void soloHardClearClicked();
    void startStream();
    void stopStream();
    void startEngine();
    void stopEngine();
    /// Returns the engine's new mute state.
    bool toggleMute();
    /// Titles the sender "Mute" when the engine is muted now, "Unmute" otherwise, then toggles.
    void mute(QAbstractButton* sender);
    void selectedTool(int segment);
    void showHideSnapshots();
    void showHideChat();
    void channelIOClicked();
    void chatButtonClicked();
    void panelButtonClicked();
    void resetButtonClicked();
    void dismissChatNotifier();
    void clearChat();
    void LongClickButtonClicked(const void* sender);
    void LongClickButtonLongClicked(const void* sender);
    void QBButtonClicked(TitledButton& button);
    void QBButtonLongClicked(TitledButton& button);
    // The header's buttons report here (ViewControllerIndicators.cpp).
    void QBButtonClicked(QBButton& button) override;
    void QBButtonLongClicked(QBButton& button) override;
    void LongClickButtonClicked(LongClickButton& button) override;
    void LongClickButtonLongClicked(LongClickButton& button) override;
    void registerToChat();

    // ---- Segues ----
    /// Makes the destination of `identifier` through the segue table (or the factory a test
    /// set), prepares it and shows it; skipped (with a log line) while no window exists for it.
    void performSegue(const std::string& identifier);
    void prepareForSegue(const std::string& identifier,
                         const std::shared_ptr<SegueDestination>& destination);
    using SegueFactory =
        std::function<std::shared_ptr<SegueDestination>(const std::string& identifier)>;
    void setSegueFactory(SegueFactory factory) { segueFactory_ = std::move(factory); }
    /// The windows of the segues; by default only the connection dialog.
    void setSegueTable(SegueTable table);

    // ---- Indicators and lock (ViewControllerIndicators.cpp) ----
    /// Seconds of one header flash: green to red in 0.5 s and back, four times.
    static constexpr double kHeaderFlashDuration = 4.0;
    /// The long-click bar's time when the user's setting is out of 0..5 s.
    static constexpr double kDefaultLongClickBarDuration = 0.75;
    /// The reset button shows "Alert_reset_red.png" while on, "Alert_reset_up.png" while off.
    void setResetAlarm(bool on);
    bool resetAlarm() const { return resetAlarm_; }
    /// The chat button shows "Chat_red.png" while on, "Chat_up.png" while off.
    void setChatAlarm(bool on);
    bool chatAlarm() const { return chatAlarm_; }
    /// Flashes the header unless it is flashing already (a flash asked for during one is
    /// dropped); after the flash the header shows the "bgroundCont.png" pattern.
    void flashHeader();
    /// Flashes started so far.
    int headerFlashCount() const { return headerFlashCount_; }
    bool isHeaderFlashing() const { return headerFlashing_; }
    /// The header's backdrop: the flash's colour, then the pattern; none before the first flash.
    FillView* headerBackdrop() const { return headerBackdrop_; }
    /// The bar grows across the header while a strip is held for a long click: it reaches the
    /// header's width as the long click fires and stays full until the press ends.
    bool longClickBarRunning() const { return longClickBarRunning_; }
    /// The time of the last bar started.
    double longClickBarDuration() const { return longClickBar_.duration(); }
    /// The bar's time for the user's long-click setting: the setting, or 0.75 s when it is
    /// below 0 or above 5.
    static double longClickBarDurationFor(double setting);
    /// The bar; none before the first long click.
    FillView* longClickBarView() const { return longClickBarView_; }
    /// Locks (true) or unlocks the interface: every lockable panel and the main view are
    /// covered, the header's buttons and the tool selector stop taking clicks, and the user
    /// settings keep the state. The menu bar stays usable.
    void lock(bool on);
    /// The cover over the main view; none before the first lock.
    LockView* lockOverlay() const { return lockView_; }
    /// Titles `button` with `text`, centred, in `color`.
    static void setButtonTitleFor(QAbstractButton* button, const std::string& text,
                                  const QColor& color);
    const std::string& statusRightText() const { return statusRightText_; }
    bool statusRightIsRed() const { return statusRightRed_; }

    // ---- Life-cycle state ----
    bool isInitialized() const { return isInitialized_; }
    /// The connection dialog while it is open.
    const std::shared_ptr<PreferencesViewController>& prefViewController() const {
        return prefViewController_;
    }
    bool isConnectionTimerRunning() const { return connectionTimer_.isValid(); }
    const std::string& registerLabelText() const { return registerLabelText_; }
    bool registerLabelIsRed() const { return registerLabelRed_; }
    bool openInMenuShown() const { return openInMenuShown_; }
    const std::string& currentDocumentName() const { return currentDocumentName_; }
    QScrollArea* scrollView() const { return scrollView_; }
    QLabel* rightLabel() const { return rightLabel_; }

    // ---- Collaborators ----
    /// The strip area the strips are laid out in (the application's strip views). Not owned.
    void setStripArea(StripArea* area) { stripArea_ = area; }
    /// Where the group buttons go (the application's header view). Not owned.
    void setGroupButtonContainer(GroupButtonContainer* container) {
        groupButtonContainer_ = container;
    }
    GroupButtonContainer* groupButtonContainer() const { return groupButtonContainer_; }
    /// Where commands go; the application hands it the server link through
    /// connectLinkSenders. Not owned.
    void setLinkSender(LinkSender* sender) { linkSender_ = sender; }
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }
    void setStripScroller(StripScroller* scroller) { stripScroller_ = scroller; }
    // The header's controls, made by the application. Not owned.
    void setSoloClearButton(QWidget* button) { soloClearButton_ = button; }
    void setChatButton(QBButton* button) { chatButton_ = button; }
    void setResetButton(QBButton* button) { resetButton_ = button; }
    void setPanelButton(QWidget* button) { panelButton_ = button; }
    void setToolSelector(ToolSelector* selector) { toolSelector_ = selector; }
    ToolSelector* toolSelector() const { return toolSelector_; }
    QWidget* headerView() const { return headerView_; }

    // ---- State of the actions ----
    int32_t playerIndex() const { return playerIndex_; }
    int32_t channelIndex() const { return channelIndex_; }
    int32_t currentPanel() const { return currentPanel_; }
    std::shared_ptr<ChatTable> chatVC() const { return chatVC_; }
    std::shared_ptr<ChatButtons> chatButtonVC() const { return chatButtonVC_; }
    std::shared_ptr<ChatNotifier> cnVC() const { return cnVC_; }
    std::shared_ptr<PerformerWindow> playerViewController() const {
        return playerViewController_.lock();
    }

  private:
    /// The window's side of the dispatcher (ViewControllerDispatchWindow.h).
    class DispatchWindow;

    void send(const Dictionary& message);
    void setStatusRightText(std::string text);
    /// The status line of a live link, not red: "Connected to server as <clientName>", or
    /// "Connected to server" while no client name is stored.
    void showConnectedStatus();
    /// Sends "ClientID" with the stored client id, if one is stored.
    void sendStoredClientID();
    /// Drops the link; disconnectedFromServer makes it again.
    void relink();
    /// Shows `text` in a modal alert; logs it while no alert presenter is set.
    void alert(const std::string& text);
    /// A performer window left open at the last run opens again on the first strip's performer,
    /// once the server has sent its initial state (strips and performers).
    void reopenPerformerWindow();

    std::unique_ptr<DispatchWindow> dispatchWindow_;
    std::unique_ptr<ServerMessageDispatcher> dispatcher_;
    int32_t playerIndex_ = 0;
    int32_t channelIndex_ = 0;
    int32_t currentPanel_ = 0;
    std::shared_ptr<ChatTable> chatVC_;
    std::shared_ptr<ChatButtons> chatButtonVC_;
    std::shared_ptr<ChatNotifier> cnVC_;
    std::shared_ptr<SegueDestination> snapselector_;
    std::weak_ptr<PerformerWindow> playerViewController_;
    SegueFactory segueFactory_;

    bool resetAlarm_ = false;
    bool chatAlarm_ = false;
    int headerFlashCount_ = 0;
    bool longClickBarRunning_ = false;
    std::string statusRightText_;
    bool statusRightRed_ = false;

    // Life cycle.
    void buildViews();
    /// The header's buttons and their actions.
    void buildHeaderButtons(QWidget* header, QBoxLayout* layout);
    /// The picture behind the strips, centred at half its size.
    void buildBackgroundPicture();
    /// The saved frame when it is sound and on a screen, else the default frame.
    void restoreWindowFrame();
    void centreBackgroundPicture();
    void prepareConnectionDialog(const std::shared_ptr<SegueDestination>& destination);
    void refreshStatusLabels();
    PELAudioEngine* audioEngine_ = nullptr;
    int32_t channels_ = 0;
    Timer connectionTimer_;
    std::shared_ptr<PreferencesViewController> prefViewController_;
    bool isInitialized_ = false;
    /// The "Settings" record said a performer window was open; it opens with the server's state.
    bool reopenPerformer_ = false;
    bool headerFlashing_ = false;
    bool openInMenuShown_ = true;
    std::string currentDocumentName_;
    std::string registerLabelText_;
    bool registerLabelRed_ = false;
    StripArea* stripArea_ = nullptr;
    GroupButtonContainer* groupButtonContainer_ = nullptr;
    bool isLinkDelegate_ = false;
    // The live link came up while the remote role was off, so the dispatcher dropped the
    // state the server sends at connection.
    bool linkUpWithoutRemoteRole_ = false;
    // This window dropped the link to make it again.
    bool relinking_ = false;
    bool resizeWatched_ = false;
    // Lays the strips out whenever the scroll view's viewport changes size; its child.
    QObject* resizeWatcher_ = nullptr;
    QScrollArea* scrollView_ = nullptr;
    QWidget* headerView_ = nullptr;
    QWidget* groupView_ = nullptr;
    QLabel* leftLabel_ = nullptr;
    QLabel* middleLabel_ = nullptr;
    QLabel* rightLabel_ = nullptr;
    QLabel* registerLabel_ = nullptr;
    QLabel* versionNumber_ = nullptr;
    QLabel* backgroundPicture_ = nullptr;
    std::vector<NotificationObserver> lifeCycleObservers_;
    // Tasks queued on the main run loop check this before they touch the controller.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    LinkSender* linkSender_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
    StripScroller* stripScroller_ = nullptr;
    QWidget* soloClearButton_ = nullptr;
    QBButton* chatButton_ = nullptr;
    QBButton* resetButton_ = nullptr;
    QWidget* panelButton_ = nullptr;
    ToolSelector* toolSelector_ = nullptr;

    // Indicators and lock.
    void endHeaderFlash();
    void setLongClickBarWidth(int width);
    FillView* headerBackdrop_ = nullptr;
    FillView* longClickBarView_ = nullptr;
    LockView* lockView_ = nullptr;
    RunLoopAnimation headerFlash_;
    RunLoopAnimation longClickBar_;
    std::vector<NotificationObserver> actionObservers_;
};

}  // namespace quenbril
