#pragma once

#include <QColor>
#include <QRect>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;

namespace quenbril {

class ChannelStripController;
class ClickableTextField;
class DragDropImageView;
class EKGScrollView;
class LinkSender;
class LockView;

/// The performer window, in one of two modes chosen before it is shown.
///
/// Channel view (read-only), opened by a strip click with a zoom tool: the strip's performer,
/// the receiver's status line, the level labels and the strip's five-minute history, in which a
/// click asks the server to replay the strip from there ("PlaybackStarted") and back-to-live
/// ends it ("PlaybackStopped"). The window holds its strip by csID: after every "Channels" it
/// finds the strip again, or, when the strip is gone, shows none, ends a running replay and
/// sends nothing more about it.
///
/// Player editor, opened by the player list: edits one player of the player manager (or a new
/// one) with checks, and binds no strip.
///
/// Floats above normal windows and keeps its frame. Main thread only; the timers run on the
/// main run loop.
class PlayerViewController : public LockableViewController, public PerformerWindow {
  public:
    static constexpr const char* kFrameName = "playerWindowAutoSave9";
    static constexpr const char* kZoomKey = "horizontalZoom";
    static constexpr float kMinZoom = 1.0f;
    static constexpr float kMaxZoom = 6.7f;
    static constexpr const char* kExportToolTip = "Audio export is not available on a remote.";

    /// `link`: where the replay commands go (the server link); none drops them. Not owned.
    explicit PlayerViewController(const PanelServices& services, LinkSender* link = nullptr,
                                  QWidget* parent = nullptr);
    ~PlayerViewController() override;

    void setAlertPresenter(AlertPresenter* alerts);
    void setFilePanel(FilePanel* files) { files_ = files; }

    // PerformerWindow
    int32_t channelIndex() const override { return channelIndex_; }
    int32_t playerIndex() const override { return playerIndex_; }
    bool isClosed() const override { return isClosed_; }
    void setReadOnly(bool readOnly) override { readOnly_ = readOnly; }
    void setPlayerIndex(int32_t index) override { playerIndex_ = index; }
    void setChannelIndex(int32_t index) override;
    void setQuadversity(bool quadversity) override { quadversity_ = quadversity; }
    void updatePlayer(int32_t playerIndex, int32_t channelIndex) override;
    void updateTitle(int32_t channelIndex) override;
    void setBatteryText(const std::string& text) override;
    void setRendererQuadversity(bool quadversity) override;
    void setRendererSingleLine(bool singleLine) override;
    void lock(bool locked) override;
    /// Loads the view the first time, lays it out, shows the window and starts its timers.
    void show() override;

    bool readOnly() const { return readOnly_; }
    bool quadversity() const { return quadversity_; }
    /// The bound strip, found by its csID; none in the editor or once the strip is gone.
    ChannelStripController* controller() const;
    std::optional<int64_t> boundCsID() const override { return boundCsID_; }

    // The steps of opening and closing, in order.
    void viewDidLoad() override;
    void viewWillAppear();
    void viewDidAppear();
    void viewWillDisappear();
    /// Called once as the window goes (the player list reloads after its editor).
    void setClosedHandler(std::function<void()> handler) { closedHandler_ = std::move(handler); }

    void setViews();
    void showActor(bool show);
    void updateButtons();
    void updateQuadversity();
    /// Sizes the history for the zoom and scrolls to the live end.
    void updateScrollContent();
    void goToEnd();
    void sendPlaybackStopped();
    /// The history was clicked: the replay text, the command.
    void startPlayback();
    /// Every 0.5 s: the time labels and the replay text's blink.
    void flash();
    /// Every 0.1 s: re-sizes the history after a layout change.
    void drawChannels();
    /// After a "Channels": finds the bound strip again by its csID.
    void channelStripsEdited();
    /// The history scrolled: the follow button is enabled while the live end is out of sight.
    void boundDidChange();

    // Actions.
    void okClicked();
    void cancelClicked();
    void browseClicked();
    void exportClicked();
    void showHideClicked();
    void horizontalZoomChanged();
    void followRealTimeChanged();
    void backToLiveClicked();

    /// The zoom slider's value (1.0 to 6.7).
    float zoomValue() const;
    void setZoomValue(float zoom);

    QLineEdit* nameField() const { return name_; }
    QLineEdit* roleField() const { return roleName_; }
    QPlainTextEdit* commentsField() const { return comments_; }
    DragDropImageView* imageView() const { return imageView_; }
    QPushButton* showHidePlayer() const { return showHidePlayer_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* browseButton() const { return browseButton_; }
    QPushButton* backToLiveButton() const { return backToLiveButton_; }
    QPushButton* followRealTimeButton() const { return followRealTime_; }
    QPushButton* exportButton() const { return exportButton_; }
    QSlider* horizontalZoom() const { return horizontalZoom_; }
    QLabel* battery() const { return battery_; }
    QLabel* leftLabel() const { return leftLabel_; }
    QLabel* middleLabel() const { return middleLabel_; }
    QLabel* rightLabel() const { return rightLabel_; }
    EKGScrollView* scrollView() const { return scrollView_; }
    QWidget* actorSection() const { return actorSection_; }
    /// The views with that tag (10 the performer section, 12 to 62 the level labels).
    std::vector<QWidget*> viewsWithTag(int tag) const;
    bool showingActor() const { return showingActor_; }
    bool playerTriggered() const { return playerTriggered_; }
    uint32_t flashCounter() const { return flashCounter_; }
    /// The status line's text colour (transparent while the replay text blinks off).
    QColor statusColor() const { return statusColor_; }
    LockView* ownLockView() const { return ownLockView_; }

    /// The editor's zoom: to the picture's size at the window's origin (the picture view's
    /// standard frame), and back to the frame before it.
    void zoom();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    /// A maximise of the editor is its zoom.
    void changeEvent(QEvent* event) override;

  private:
    void buildViews();
    /// Binds the strip at `index` by its csID (none outside the list).
    void bindStrip(int32_t index);
    void fillPerformer();
    void clearPerformer();
    bool hasPlayer() const;
    void setStatusColor(const QColor& color);
    void setTaggedHidden(int tag, bool hidden);
    void colourLevelLabels();
    void send(const Dictionary& message);

    PanelServices services_;
    LinkSender* link_;
    AlertPresenter* alerts_ = nullptr;
    FilePanel* files_ = nullptr;

    bool readOnly_ = false;
    bool isClosed_ = false;
    std::function<void()> closedHandler_;
    bool quadversity_ = false;
    int32_t channelIndex_ = -1;
    int32_t playerIndex_ = -1;
    std::optional<int64_t> boundCsID_;
    bool loaded_ = false;
    bool appeared_ = false;
    bool showingActor_ = false;
    bool playerTriggered_ = false;
    uint32_t flashCounter_ = 0;
    QColor statusColor_ = Qt::white;

    Timer timer_;
    Timer flashTimer_;
    std::vector<NotificationObserver> observers_;

    QWidget* actorSection_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* roleName_ = nullptr;
    QPlainTextEdit* comments_ = nullptr;
    DragDropImageView* imageView_ = nullptr;
    QLabel* noPlayerView_ = nullptr;
    QPushButton* showHidePlayer_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* backToLiveButton_ = nullptr;
    QPushButton* followRealTime_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QLabel* battery_ = nullptr;
    QLabel* labels_ = nullptr;
    QWidget* dataView_ = nullptr;
    std::map<int, ClickableTextField*> levelLabels_;
    EKGScrollView* scrollView_ = nullptr;
    QSlider* horizontalZoom_ = nullptr;
    QLabel* leftLabel_ = nullptr;
    QLabel* middleLabel_ = nullptr;
    QLabel* rightLabel_ = nullptr;
    LockView* ownLockView_ = nullptr;
    /// The frame before the zoom and the one it gave, while zoomed.
    std::optional<QRect> unzoomedFrame_;
    QRect zoomedFrame_;
};

}  // namespace quenbril
