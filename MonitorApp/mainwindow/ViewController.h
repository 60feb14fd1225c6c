#pragma once

#include <QColor>
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
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/mainwindow/ForwardingLinkSender.h"
#include "MonitorApp/mainwindow/HeaderIndicators.h"
#include "MonitorApp/mainwindow/LinkLifeCycle.h"
#include "MonitorApp/mainwindow/MainWindowActions.h"
#include "MonitorApp/mainwindow/MainWindowServices.h"
#include "MonitorApp/mainwindow/SegueRouter.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/serverlink/ServerManagerDelegate.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QScrollArea;

namespace quenbril {

class ChannelStripController;
class FillView;
class GroupButtonContainer;
class LockView;
class QBButton;
class StripArea;
class ToolSelector;

/// The main window controller: the window's views, its life cycle (loading, appearing, going
/// away), the status line, the strip area's layout, the connection dialog and the lock. What is
/// not the window lives in its parts, and the window's operations forward there: the link's
/// life cycle (LinkLifeCycle), the user actions that become commands (MainWindowActions), the
/// header's indicators (HeaderIndicators), the segues (SegueRouter) and the server's messages
/// (ServerMessageDispatcher; ViewControllerDispatch.cpp gives it the window's side). Main
/// thread only.
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
    static constexpr double kConnectionInterval = LinkLifeCycle::kConnectionInterval;
    /// Seconds after a resize before the strips are laid out anew.
    static constexpr double kLayoutDelay = 0.1;
    /// Strip width the column count is taken from.
    static constexpr int kColumnWidth = 128;
    /// The main window's size limits, and its size while no frame of an earlier run fits.
    static constexpr QSize kMinimumWindowSize{1039, 256};
    static constexpr QSize kMaximumWindowSize{4200, 2000};
    static constexpr QSize kDefaultWindowSize{1280, 800};
    /// The main view's background once it has appeared: white 0.1.
    static QColor mainViewBackground() { return QColor::fromRgbF(0.1f, 0.1f, 0.1f, 1.0f); }

    /// Over `services`, which outlive the controller. Its senders have no link until the
    /// application (or a test) hands them one through connectLinkSenders.
    explicit ViewController(MainWindowServices services, QWidget* parent = nullptr);
    ~ViewController() override;

    /// What the controller was given; the composition hands the same to what it makes beside.
    const MainWindowServices& services() const { return services_; }

    // ---- Life cycle (ViewControllerLifeCycle.cpp) ----
    /// Observers, the connection timer and the engine.
    void viewDidLoad();
    /// The window's set-up; opens the connection dialog until the client has started.
    void viewDidAppear();
    /// Saves the window frame and the "Settings" record.
    void viewWillDisappear();
    void tryConnection() { link_.tryConnection(); }
    /// The connection dialog was confirmed: the engine starts the client and the link sends
    /// the client id (or is made again, see LinkLifeCycle::clientStarted).
    void startClient() override;
    /// Hands the dialog the machine's audio devices, read off the main thread after the host
    /// looked again; nothing reaches a dialog that is gone by then.
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
    /// The reset button dims while every warning is switched off; the strips' warnings are
    /// worked out anew and the button's alarm follows them.
    void updateWarnings();
    static constexpr double kDimmedResetOpacity = 0.3;
    /// The manager's stripForChannel: no strip is known by channel number.
    ChannelStripController* stripForChan(int chan);
    /// True when `document`'s "channels" has as many entries as this server has channels.
    bool canOpen(const Dictionary& document);
    /// Registers the observers of the strip, chat, mic-check and MIDI notifications.
    void addActionObservers();

    // ---- Server link delegate (LinkLifeCycle) ----
    void connectedToServer(const std::string& host) override;
    void disconnectedFromServer(const std::optional<Error>& error) override;
    /// The connection dialog, while open, says that only an address can reach the server.
    void discoveryUnavailable(const Error& error) override;
    /// The socket is connected, the server's state in or not: the chat window that reopens at
    /// the confirmation, before the state comes, asks only this.
    bool linkConnected() const { return link_.isConnected(); }
    /// Connected, and the server's state received since (LinkLifeCycle::serverIsHere).
    bool serverIsHere() const { return link_.serverIsHere(); }

    // ---- Server messages (ViewControllerDispatch.cpp) ----
    /// Hands one message of the server to the dispatcher. Throws LinkTypeError for a value of
    /// the wrong kind (the link drops the message); effects before the throw remain.
    void messageReceivedFromServer(const Value& message) override;
    /// Observer of "ChatMessageFromServer": the dispatcher files the message by the chat's
    /// receipt rule.
    void chatMessageFromServer(const Notification& notification);
    /// The dispatcher, with what it keeps (client names, receivers, frames, the latest chat).
    const ServerMessageDispatcher& dispatcher() const { return *dispatcher_; }

    // ---- User actions (MainWindowActions) ----
    void csClicked(const Notification& n) { actions_.csClicked(n); }
    void csLongClicked(const Notification& n) { actions_.csLongClicked(n); }
    void csChecked(const Notification& n) { actions_.csChecked(n); }
    void hardMuteClicked(const Notification& n) { actions_.hardMuteClicked(n); }
    void csDoubleClicked(const Notification&) {}
    void micCheckKeyClicked(const Notification& n) { actions_.micCheckKeyClicked(n); }
    void chatMessage(const Notification& n) { actions_.chatMessage(n); }
    /// The chat window closed: its panes are no longer kept, so "chatOpen" is saved false.
    void chatWindowClosed() { segues_.chatWindowClosed(); }
    void MIDIEventReceived(const Notification& n) { actions_.MIDIEventReceived(n); }
    void clickStarted() { indicators_.clickStarted(); }
    void clickEnded() { indicators_.clickEnded(); }
    void addMarker() { actions_.addMarker(); }
    void resetClicked() { actions_.resetClicked(); }
    void soloClearClicked() { actions_.soloClearClicked(); }
    void soloHardClearClicked() { actions_.soloHardClearClicked(); }
    void startStream() { actions_.startStream(); }
    void stopStream() { actions_.stopStream(); }
    void startEngine() { actions_.startEngine(); }
    void stopEngine() { actions_.stopEngine(); }
    /// Returns the engine's new mute state.
    bool toggleMute() { return actions_.toggleMute(); }
    /// Titles the sender "Mute" when the engine is muted now, "Unmute" otherwise, then toggles.
    void mute(QAbstractButton* sender);
    void selectedTool(int segment) { actions_.selectedTool(segment); }
    void showHideSnapshots() { performSegue("snapshotSeque"); }
    void showHideChat() { performSegue("showSplit"); }
    void channelIOClicked() { performSegue("showSettings"); }
    void chatButtonClicked();
    void panelButtonClicked() { actions_.panelButtonClicked(); }
    void resetButtonClicked() { resetClicked(); }
    void dismissChatNotifier() { segues_.dismissChatNotifier(); }
    void clearChat() { actions_.clearChat(); }
    void LongClickButtonClicked(const void* sender);
    void LongClickButtonLongClicked(const void* sender);
    void QBButtonClicked(TitledButton& button) { actions_.titledButtonClicked(button); }
    void QBButtonLongClicked(TitledButton& button) { actions_.titledButtonLongClicked(button); }
    // The header's buttons report here.
    void QBButtonClicked(QBButton& button) override;
    void QBButtonLongClicked(QBButton& button) override;
    void LongClickButtonClicked(LongClickButton& button) override;
    void LongClickButtonLongClicked(LongClickButton& button) override;
    void registerToChat() { actions_.registerToChat(); }
    /// Tells the server the stored chat name, which has just changed, as a save of the chat
    /// settings does.
    void chatNameChanged() { actions_.registerNewChatName(); }

    // ---- Segues (SegueRouter) ----
    void performSegue(const std::string& identifier) { segues_.perform(identifier); }
    void prepareForSegue(const std::string& identifier,
                         const std::shared_ptr<SegueDestination>& destination) {
        segues_.prepare(identifier, destination);
    }
    using SegueFactory = SegueRouter::Factory;
    void setSegueFactory(SegueFactory factory) { segues_.setFactory(std::move(factory)); }
    /// The windows of the segues; by default only the connection dialog.
    void setSegueTable(SegueTable table) { segues_.setTable(std::move(table)); }

    // ---- Indicators (HeaderIndicators) and lock ----
    static constexpr double kHeaderFlashDuration = HeaderIndicators::kHeaderFlashDuration;
    static constexpr double kDefaultLongClickBarDuration =
        HeaderIndicators::kDefaultLongClickBarDuration;
    void setResetAlarm(bool on) { indicators_.setResetAlarm(on); }
    bool resetAlarm() const { return indicators_.resetAlarm(); }
    double resetButtonOpacity() const { return indicators_.resetButtonOpacity(); }
    void setChatAlarm(bool on) { indicators_.setChatAlarm(on); }
    bool chatAlarm() const { return indicators_.chatAlarm(); }
    void flashHeader() { indicators_.flashHeader(); }
    int headerFlashCount() const { return indicators_.headerFlashCount(); }
    bool isHeaderFlashing() const { return indicators_.isHeaderFlashing(); }
    FillView* headerBackdrop() const { return indicators_.headerBackdrop(); }
    bool longClickBarRunning() const { return indicators_.longClickBarRunning(); }
    double longClickBarDuration() const { return indicators_.longClickBarDuration(); }
    static double longClickBarDurationFor(double setting) {
        return HeaderIndicators::longClickBarDurationFor(setting);
    }
    FillView* longClickBarView() const { return indicators_.longClickBarView(); }
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
    bool isConnectionTimerRunning() const { return link_.isTimerRunning(); }
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
    void setLinkSender(LinkSender* sender) { sender_.setTarget(sender); }
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }
    void setStripScroller(StripScroller* scroller) { stripScroller_ = scroller; }
    // The header's controls, made by the application. Not owned.
    void setSoloClearButton(QWidget* button) { soloClearButton_ = button; }
    void setChatButton(QBButton* button) { indicators_.setChatButton(button); }
    void setResetButton(QBButton* button) { indicators_.setResetButton(button); }
    QBButton* resetButton() const { return indicators_.resetButton(); }
    void setPanelButton(QWidget* button) { panelButton_ = button; }
    void setToolSelector(ToolSelector* selector) { toolSelector_ = selector; }
    ToolSelector* toolSelector() const { return toolSelector_; }
    QWidget* headerView() const { return headerView_; }

    // ---- State of the actions ----
    int32_t playerIndex() const { return segues_.playerIndex(); }
    int32_t channelIndex() const { return segues_.channelIndex(); }
    int32_t currentPanel() const { return actions_.currentPanel(); }
    std::shared_ptr<ChatTable> chatVC() const { return segues_.chatTable(); }
    std::shared_ptr<ChatButtons> chatButtonVC() const { return segues_.chatButtons(); }
    std::shared_ptr<ChatNotifier> cnVC() const { return segues_.chatNotifier(); }
    std::shared_ptr<PerformerWindow> playerViewController() const {
        return segues_.performerWindow();
    }

  private:
    /// The window's side of the dispatcher and of the parts (ViewControllerDispatchWindow.h).
    class DispatchWindow;

    void setStatusRightText(std::string text) { statusRightText_ = std::move(text); }
    /// The status line of a live link, not red: "Connected to server as <clientName>", or
    /// "Connected to server" while no client name is stored.
    void showConnectedStatus();
    /// Shows `text` in a modal alert; logs it while no alert presenter is set.
    void alert(const std::string& text);
    /// The same alert, shown without waiting for it to be closed: what called keeps going. One
    /// of the same `topic` still open takes the new text instead (AlertPresenter::present).
    void presentAlert(const std::string& text, const std::string& topic = {});
    /// A performer window left open at the last run opens again, once, on the strip it showed
    /// (the first strip when that one is gone), as soon as the server has sent its initial
    /// state (strips and performers) for the first time.
    void reopenPerformerWindow();
    /// Takes from the "Settings" record whether, and on which strip, to reopen it.
    void readPerformerWindowRecord();

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

    MainWindowServices services_;
    ForwardingLinkSender sender_;
    std::unique_ptr<DispatchWindow> dispatchWindow_;
    std::unique_ptr<ServerMessageDispatcher> dispatcher_;
    SegueRouter segues_;
    LinkLifeCycle link_;
    MainWindowActions actions_;

    std::string statusRightText_;
    bool statusRightRed_ = false;
    PELAudioEngine* audioEngine_ = nullptr;
    int32_t channels_ = 0;
    std::shared_ptr<PreferencesViewController> prefViewController_;
    bool isInitialized_ = false;
    /// The "Settings" record said a performer window was open, on this strip; it opens with the
    /// server's state.
    bool reopenPerformer_ = false;
    std::optional<int64_t> reopenPerformerCsID_;
    bool openInMenuShown_ = true;
    std::string currentDocumentName_;
    std::string registerLabelText_;
    bool registerLabelRed_ = false;
    StripArea* stripArea_ = nullptr;
    GroupButtonContainer* groupButtonContainer_ = nullptr;
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

    AlertPresenter* alertPresenter_ = nullptr;
    StripScroller* stripScroller_ = nullptr;
    QWidget* soloClearButton_ = nullptr;
    QWidget* panelButton_ = nullptr;
    ToolSelector* toolSelector_ = nullptr;
    LockView* lockView_ = nullptr;
    HeaderIndicators indicators_;
};

}  // namespace quenbril
