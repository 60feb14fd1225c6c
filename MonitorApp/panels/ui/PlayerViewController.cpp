#include "MonitorApp/panels/ui/PlayerViewController.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <utility>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/ClickableTextField.h"
#include "MonitorApp/controls/FieldLineBreaks.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/panels/ui/DragDropImageView.h"
#include "MonitorApp/panels/ui/EKGScrollView.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/GPURendererSingle.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr int kActorTag = 10;
constexpr int kSliderScale = 100;
constexpr double kDrawInterval = 0.1;
constexpr double kFlashInterval = 0.5;
/// The history spans five minutes; replays count samples at 48 kHz whatever the engine runs at.
constexpr float kHistorySeconds = 300.0f;
constexpr float kReplaySampleRate = 48000.0f;
constexpr const char* kPlayerUpdated = "playerUpdated";
const QSize kDefaultSize(900, 560);

/// "%d m %d s ago" of a whole number of seconds.
QString agoText(int seconds, bool nowAtZero) {
    const int minutes = static_cast<int>(seconds / 60.0);
    const int rest = seconds - 60 * minutes;
    if (nowAtZero && minutes <= 0 && rest <= 0) return QStringLiteral("Now");
    return QStringLiteral("%1 m %2 s ago").arg(minutes).arg(rest);
}

QColor labelColor(const Array& stored) {
    if (stored.size() < 3) return {};
    return toQColor(ColorHelper::colorForArray(stored));
}

}  // namespace

PlayerViewController::PlayerViewController(const PanelServices& services, LinkSender* link,
                                           QWidget* parent)
    : LockableViewController(services.center, services.settings, parent),
      services_(services),
      link_(link) {
    setWindowFlag(Qt::Window);
    // Window level 3: above normal windows.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    buildViews();
}

PlayerViewController::~PlayerViewController() {
    timer_.invalidate();
    flashTimer_.invalidate();
}

void PlayerViewController::setAlertPresenter(AlertPresenter* alerts) {
    alerts_ = alerts;
    imageView_->setAlertPresenter(alerts);
}

void PlayerViewController::buildViews() {
    auto* layout = new QVBoxLayout(this);

    auto* statusRow = new QHBoxLayout;
    showHidePlayer_ = new QPushButton("-", this);
    showHidePlayer_->setFixedWidth(32);
    connect(showHidePlayer_, &QPushButton::clicked, this, [this] { showHideClicked(); });
    battery_ = new QLabel(this);
    battery_->setTextFormat(Qt::PlainText);
    statusRow->addWidget(showHidePlayer_);
    statusRow->addWidget(battery_, 1);
    layout->addLayout(statusRow);

    actorSection_ = new QWidget(this);
    auto* actorLayout = new QHBoxLayout(actorSection_);
    actorLayout->setContentsMargins(0, 0, 0, 0);
    imageView_ = new DragDropImageView(actorSection_);
    imageView_->setFixedSize(120, 120);
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(imageView_);
    browseButton_ = new QPushButton("Browse…", actorSection_);
    connect(browseButton_, &QPushButton::clicked, this, [this] { browseClicked(); });
    pictureColumn->addWidget(browseButton_);
    actorLayout->addLayout(pictureColumn);
    auto* fields = new QVBoxLayout;
    name_ = new QLineEdit(actorSection_);
    name_->setPlaceholderText("Real name");
    roleName_ = new QLineEdit(actorSection_);
    roleName_->setPlaceholderText("Role");
    comments_ = new QPlainTextEdit(actorSection_);
    comments_->setPlaceholderText("Comments");
    // Names and roles may run over several lines and hold tabs.
    FieldLineBreaks::install(name_);
    FieldLineBreaks::install(roleName_);
    fields->addWidget(name_);
    fields->addWidget(roleName_);
    fields->addWidget(comments_, 1);
    actorLayout->addLayout(fields, 1);
    layout->addWidget(actorSection_);
    noPlayerView_ = new QLabel(this);
    noPlayerView_->hide();

    auto* labelRow = new QHBoxLayout;
    labels_ = new QLabel("Show:", this);
    labelRow->addWidget(labels_);
    UserSettingsManager& settings = services_.settings;
    const std::vector<std::pair<int, const char*>> levelLabels{
        {12, "Audio ON"}, {22, "RF A ON"}, {32, "RF B ON"},
        {52, "RF C ON"},  {62, "RF D ON"}, {42, "Quality ON"}};
    for (const auto& [tag, text] : levelLabels) {
        auto* label = new ClickableTextField(settings, tag, text, this);
        levelLabels_[tag] = label;
        labelRow->addWidget(label);
    }
    labelRow->addStretch(1);
    layout->addLayout(labelRow);

    dataView_ = new QWidget(this);
    dataView_->setAutoFillBackground(true);
    QPalette black = dataView_->palette();
    black.setColor(QPalette::Window, Qt::black);
    dataView_->setPalette(black);
    auto* dataLayout = new QVBoxLayout(dataView_);
    dataLayout->setContentsMargins(1, 1, 1, 1);
    scrollView_ = new EKGScrollView(services_, dataView_);
    scrollView_->setMinimumHeight(160);
    dataLayout->addWidget(scrollView_);
    layout->addWidget(dataView_, 1);

    auto* timeRow = new QHBoxLayout;
    leftLabel_ = new QLabel(this);
    middleLabel_ = new QLabel(this);
    rightLabel_ = new QLabel(this);
    middleLabel_->setAlignment(Qt::AlignCenter);
    rightLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    timeRow->addWidget(leftLabel_, 1);
    timeRow->addWidget(middleLabel_, 1);
    timeRow->addWidget(rightLabel_, 1);
    layout->addLayout(timeRow);

    auto* buttons = new QHBoxLayout;
    horizontalZoom_ = new QSlider(Qt::Horizontal, this);
    horizontalZoom_->setRange(static_cast<int>(kMinZoom * kSliderScale),
                              static_cast<int>(std::lround(kMaxZoom * kSliderScale)));
    horizontalZoom_->setFixedWidth(160);
    connect(horizontalZoom_, &QSlider::valueChanged, this, [this] { horizontalZoomChanged(); });
    followRealTime_ = new QPushButton("Follow", this);
    connect(followRealTime_, &QPushButton::clicked, this, [this] { followRealTimeChanged(); });
    backToLiveButton_ = new QPushButton("Back to Live", this);
    connect(backToLiveButton_, &QPushButton::clicked, this, [this] { backToLiveClicked(); });
    // The export would have to write audio the remote does not have.
    exportButton_ = new QPushButton("Export…", this);
    exportButton_->setEnabled(false);
    exportButton_->setToolTip(kExportToolTip);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportClicked(); });
    cancelButton_ = new QPushButton("Cancel", this);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelClicked(); });
    saveButton_ = new QPushButton("Save", this);
    saveButton_->setDefault(true);
    connect(saveButton_, &QPushButton::clicked, this, [this] { okClicked(); });
    buttons->addWidget(horizontalZoom_);
    buttons->addWidget(followRealTime_);
    buttons->addWidget(backToLiveButton_);
    buttons->addWidget(exportButton_);
    buttons->addStretch(1);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(saveButton_);
    layout->addLayout(buttons);

    scrollView_->setBoundsChangedHandler([this] { boundDidChange(); });
    setStatusColor(Qt::white);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void PlayerViewController::show() {
    if (!loaded_) viewDidLoad();
    isClosed_ = false;
    viewWillAppear();
    QWidget::show();
    raise();
    activateWindow();
    viewDidAppear();
}

void PlayerViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    loaded_ = true;
    isClosed_ = false;
    ownLockView_ = new LockView(this);
    ownLockView_->setGeometry(0, 0, width(), 0);
    ownLockView_->hide();
}

void PlayerViewController::viewWillAppear() {
    WindowFrameAutosave::restoreOrCentre(*this, kFrameName, kDefaultSize);
    setViews();
    updateButtons();
}

void PlayerViewController::viewDidAppear() {
    float zoom = services_.defaults.floatForKey(kZoomKey);
    if (!(zoom >= kMinZoom)) zoom = kMinZoom;
    if (zoom > kMaxZoom) zoom = kMaxZoom;
    {
        const QSignalBlocker blocker(horizontalZoom_);
        setZoomValue(zoom);
    }
    observers_.clear();
    NotificationCenter& center = services_.center;
    observers_.push_back(center.addObserver(kPlaybackStartedNotification,
                                            [this](const Notification&) { startPlayback(); }));
    observers_.push_back(center.addObserver(
        kChannelStripsEditedNotification, [this](const Notification&) { channelStripsEdited(); }));
    appeared_ = true;
    updateScrollContent();
    goToEnd();
    backToLiveButton_->setEnabled(false);
    timer_ = RunLoop::main().scheduleTimer(kDrawInterval, true, [this] { drawChannels(); });
    flashTimer_ = RunLoop::main().scheduleTimer(kFlashInterval, true, [this] { flash(); });
}

void PlayerViewController::viewWillDisappear() {
    if (isClosed_) return;
    timer_.invalidate();
    flashTimer_.invalidate();
    isClosed_ = true;
    appeared_ = false;
    WindowFrameAutosave::save(*this, kFrameName);
    observers_.clear();
    LockableViewController::viewDidDisappear();
    if (auto closed = std::exchange(closedHandler_, nullptr)) closed();
    // The editor never touched the replay; a channel view may be replaying meanwhile.
    if (!readOnly_) return;
    PlaybackManager& playback = services_.playback;
    playback.setPlayedCSID(-1);
    playback.setDelayInSamples(0);
    sendPlaybackStopped();
}

void PlayerViewController::closeEvent(QCloseEvent* event) {
    viewWillDisappear();
    LockableViewController::closeEvent(event);
}

void PlayerViewController::changeEvent(QEvent* event) {
    LockableViewController::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || readOnly_ ||
        !(windowState() & Qt::WindowMaximized)) {
        return;
    }
    // After the window system has had its say: it reports the maximise it made (or was asked
    // for) once more, and a window that is no longer maximised by then was zoomed already.
    QTimer::singleShot(0, this, [this] {
        if (readOnly_ || !(windowState() & Qt::WindowMaximized)) return;
        setWindowState(windowState() & ~Qt::WindowMaximized);
        zoom();
    });
}

void PlayerViewController::zoom() {
    // As zooms go: a window at its zoomed frame goes back to where it was, any other is zoomed.
    if (unzoomedFrame_ && geometry() == zoomedFrame_) {
        setGeometry(*std::exchange(unzoomedFrame_, std::nullopt));
        return;
    }
    const QScreen* shown = screen();
    const QRect room = shown ? shown->availableGeometry() : geometry();
    const QRect standard = imageView_->windowWillUseStandardFrame(*this, room);
    unzoomedFrame_ = geometry();
    setGeometry(standard);
    zoomedFrame_ = geometry();
}

void PlayerViewController::resizeEvent(QResizeEvent* event) {
    LockableViewController::resizeEvent(event);
    if (!appeared_) return;
    updateScrollContent();
    goToEnd();
}

// ---------------------------------------------------------------------------------------------
// Binding

ChannelStripController* PlayerViewController::controller() const {
    if (!boundCsID_) return nullptr;
    return services_.strips.controllerWithCSID(*boundCsID_);
}

void PlayerViewController::bindStrip(int32_t index) {
    const auto& controllers = services_.strips.controllers();
    if (index >= 0 && static_cast<size_t>(index) < controllers.size()) {
        boundCsID_ = controllers[static_cast<size_t>(index)]->model().csID();
    } else {
        boundCsID_.reset();
    }
}

void PlayerViewController::setChannelIndex(int32_t index) {
    channelIndex_ = index;
    bindStrip(index);
}

bool PlayerViewController::hasPlayer() const {
    const auto& players = services_.players.players();
    return playerIndex_ >= 0 && static_cast<size_t>(playerIndex_) < players.size();
}

void PlayerViewController::clearPerformer() {
    name_->clear();
    roleName_->clear();
    comments_->clear();
    imageView_->clearPicture();
}

void PlayerViewController::fillPerformer() {
    clearPerformer();
    const Player& player = *services_.players.players()[playerIndex_];
    if (player.name()) name_->setText(QString::fromStdString(*player.name()));
    if (player.roleName()) roleName_->setText(QString::fromStdString(*player.roleName()));
    if (player.comments()) comments_->setPlainText(QString::fromStdString(*player.comments()));
    imageView_->showStoredPicture(player.image());
}

void PlayerViewController::setViews() {
    // The editor from the player list has no strip: the renderer keeps what it draws.
    if (readOnly_) {
        bindStrip(channelIndex_);
        scrollView_->setChanIndex(channelIndex_);
    }
    updateQuadversity();
    ChannelStripController* strip = controller();
    showActor(strip ? strip->model().playerVisible() : true);

    if (hasPlayer()) {
        fillPerformer();
        showHidePlayer_->setEnabled(true);
    } else {
        clearPerformer();
        if (readOnly_) {
            showActor(false);
            showHidePlayer_->setEnabled(false);
        }
    }

    // The picture is framed where it can be changed.
    imageView_->setFrameShape(readOnly_ ? QFrame::NoFrame : QFrame::Box);
    name_->setReadOnly(readOnly_);
    roleName_->setReadOnly(readOnly_);
    comments_->setReadOnly(readOnly_);
    imageView_->setAcceptDrops(!readOnly_);
    saveButton_->setVisible(!readOnly_);
    cancelButton_->setVisible(!readOnly_);
    battery_->setVisible(readOnly_);
    browseButton_->setVisible(!readOnly_);
    labels_->setVisible(readOnly_);
    dataView_->setVisible(readOnly_);
    scrollView_->setVisible(readOnly_);
    leftLabel_->setVisible(readOnly_);
    middleLabel_->setVisible(readOnly_);
    rightLabel_->setVisible(readOnly_);
    exportButton_->setVisible(readOnly_);
    for (auto& [tag, label] : levelLabels_) label->setVisible(readOnly_);
    if (readOnly_) {
        updateTitle(channelIndex_);
        updateQuadversity();
    } else {
        setWindowTitle(hasPlayer() ? name_->text() : QStringLiteral("New Player"));
    }
    updateScrollContent();
    goToEnd();
}

void PlayerViewController::updatePlayer(int32_t playerIndex, int32_t channelIndex) {
    // A replay of the strip shown so far ends before another strip is shown.
    if (services_.playback.delayInSamples() > 0) backToLiveClicked();
    playerIndex_ = playerIndex;
    channelIndex_ = channelIndex;
    bindStrip(channelIndex);
    scrollView_->setChanIndex(channelIndex);
    updateQuadversity();
    updateTitle(channelIndex);
    backToLiveButton_->setEnabled(false);
    if (!hasPlayer()) {
        clearPerformer();
        showActor(false);
        showHidePlayer_->setEnabled(false);
    } else {
        fillPerformer();
        showHidePlayer_->setEnabled(true);
        ChannelStripController* strip = controller();
        showActor(strip ? strip->model().playerVisible() : true);
    }
    updateButtons();
    backToLiveClicked();
}

void PlayerViewController::channelStripsEdited() {
    if (!readOnly_ || !boundCsID_) return;
    const int64_t csID = *boundCsID_;
    const int32_t index = services_.strips.indexOfChannelStripID(csID);
    if (index < 0) {
        // The strip is gone: its replay ends, and nothing more names it.
        if (services_.playback.delayInSamples() > 0) {
            send(LinkMessageBuilder::playbackStopped(csID));
        }
        scrollView_->stopPlayback();
        services_.playback.setPlayedCSID(-1);
        boundCsID_.reset();
        channelIndex_ = -1;
        playerIndex_ = -1;
        scrollView_->setChanIndex(-1);
        scrollView_->setAudioHistoryAvailable(false);
        setStatusColor(Qt::white);
        battery_->setText("");
        backToLiveButton_->setEnabled(false);
        backToLiveButton_->hide();
        clearPerformer();
        showActor(false);
        showHidePlayer_->setEnabled(false);
        setWindowTitle(QStringLiteral("No strip"));
        return;
    }
    updatePlayer(PlayerStripLookup::indexOfPlayerInChannelStripIndex(services_.strips, index),
                 index);
    scrollView_->setChanIndex(index);
    updateQuadversity();
}

void PlayerViewController::updateTitle(int32_t channelIndex) {
    const auto& controllers = services_.strips.controllers();
    if (channelIndex < 0 || static_cast<size_t>(channelIndex) >= controllers.size()) return;
    const ChannelStripModel& model = controllers[static_cast<size_t>(channelIndex)]->model();
    if (model.audioHistory() && readOnly_) {
        PlaybackManager& playback = services_.playback;
        playback.setPlayedCSID(model.csID());
        playback.setDelayInSamples(0);
        setStatusColor(Qt::white);
        horizontalZoom_->show();
        followRealTime_->show();
        scrollView_->setAudioHistoryAvailable(true);
    } else {
        scrollView_->setAudioHistoryAvailable(false);
        horizontalZoom_->hide();
        followRealTime_->hide();
    }
    setWindowTitle(QStringLiteral("%1 - Input %2")
                       .arg(QString::fromStdString(model.name().value_or("")))
                       .arg(model.audioInput() + 1));
    colourLevelLabels();
    updateQuadversity();
}

void PlayerViewController::colourLevelLabels() {
    const std::map<int, Array> colours{
        {12, services_.colors.audioColor()}, {22, services_.colors.rfAColor()},
        {32, services_.colors.rfBColor()},   {52, services_.colors.rfCColor()},
        {62, services_.colors.rfDColor()},   {42, services_.colors.qlColor()}};
    for (const auto& [tag, stored] : colours) {
        QPalette palette = levelLabels_[tag]->palette();
        const QColor colour = labelColor(stored);
        palette.setColor(QPalette::WindowText,
                         colour.isValid() ? colour : this->palette().color(QPalette::WindowText));
        levelLabels_[tag]->setPalette(palette);
    }
}

void PlayerViewController::updateQuadversity() {
    if (!readOnly_) return;
    setTaggedHidden(52, !quadversity_);
    setTaggedHidden(62, !quadversity_);
}

void PlayerViewController::setTaggedHidden(int tag, bool hidden) {
    for (QWidget* view : viewsWithTag(tag)) view->setHidden(hidden);
}

std::vector<QWidget*> PlayerViewController::viewsWithTag(int tag) const {
    if (tag == kActorTag) return {actorSection_};
    auto it = levelLabels_.find(tag);
    if (it == levelLabels_.end()) return {};
    return {it->second};
}

void PlayerViewController::updateButtons() {
    if (readOnly_) {
        horizontalZoom_->show();
        followRealTime_->show();
        ChannelStripController* strip = controller();
        const bool history = strip && strip->model().audioHistory();
        backToLiveButton_->setVisible(history);
        backToLiveButton_->setEnabled(false);
    } else {
        horizontalZoom_->hide();
        followRealTime_->hide();
        showHidePlayer_->hide();
        backToLiveButton_->hide();
    }
}

void PlayerViewController::showActor(bool show) {
    for (QWidget* view : viewsWithTag(kActorTag)) view->setHidden(!show);
    showingActor_ = show;
    showHidePlayer_->setText(show ? "-" : "+");
    noPlayerView_->hide();
    if (show) comments_->moveCursor(QTextCursor::Start);
    playerTriggered_ = true;
}

void PlayerViewController::showHideClicked() {
    showActor(!showingActor_);
    if (ChannelStripController* strip = controller()) {
        strip->model().setPlayerVisible(showingActor_);
    }
    playerTriggered_ = true;
}

void PlayerViewController::setBatteryText(const std::string& text) {
    battery_->setText(QString::fromStdString(text));
}

void PlayerViewController::setRendererQuadversity(bool quadversity) {
    scrollView_->setQuadversity(quadversity);
}

void PlayerViewController::setRendererSingleLine(bool singleLine) {
    scrollView_->setSingleLine(singleLine);
}

void PlayerViewController::lock(bool locked) {
    if (!ownLockView_) return;
    if (locked) {
        ownLockView_->show();
        ownLockView_->cover();
    } else {
        ownLockView_->uncover();
        ownLockView_->hide();
    }
}

void PlayerViewController::setStatusColor(const QColor& color) {
    statusColor_ = color;
    QPalette palette = battery_->palette();
    palette.setColor(QPalette::WindowText, color);
    battery_->setPalette(palette);
}

// ---------------------------------------------------------------------------------------------
// The history: zoom, scrolling, replays

float PlayerViewController::zoomValue() const {
    return static_cast<float>(horizontalZoom_->value()) / kSliderScale;
}

void PlayerViewController::setZoomValue(float zoom) {
    horizontalZoom_->setValue(static_cast<int>(std::lround(zoom * kSliderScale)));
}

void PlayerViewController::updateScrollContent() {
    scrollView_->updateScrollContent(zoomValue());
    scrollView_->goToEnd();
}

void PlayerViewController::goToEnd() { scrollView_->goToEnd(); }

void PlayerViewController::horizontalZoomChanged() {
    updateScrollContent();
    goToEnd();
    UserDefaults& defaults = services_.defaults;
    defaults.setObject(Value(zoomValue()), kZoomKey);
    defaults.synchronize();
}

void PlayerViewController::followRealTimeChanged() { goToEnd(); }

void PlayerViewController::drawChannels() {
    if (!playerTriggered_) return;
    playerTriggered_ = false;
    scrollView_->updateScrollContent(zoomValue());
}

void PlayerViewController::boundDidChange() {
    followRealTime_->setEnabled(!scrollView_->lastColumnVisible());
}

void PlayerViewController::flash() {
    const float width = static_cast<float>(scrollView_->documentWidth());
    // Before the first layout there is no document to place the labels on.
    if (width > 0) {
        const QRectF visible = scrollView_->visibleRect();
        const int right = static_cast<int>(
            kHistorySeconds -
            kHistorySeconds * static_cast<float>(visible.x() + visible.width()) / width);
        const int left = static_cast<int>(
            kHistorySeconds - kHistorySeconds * static_cast<float>(visible.x()) / width);
        const int middle = (right + left) / 2;
        leftLabel_->setText(agoText(left, false));
        middleLabel_->setText(agoText(middle, false));
        rightLabel_->setText(agoText(right, true));
    }
    if (services_.playback.delayInSamples() > 0) {
        setStatusColor(flashCounter_ % 2 == 1 ? QColor(Qt::transparent) : QColor(Qt::red));
    }
    ++flashCounter_;
}

void PlayerViewController::startPlayback() {
    ChannelStripController* strip = controller();
    if (!readOnly_ || !strip || !scrollView_->audioHistoryAvailable()) return;
    const int32_t delay = services_.playback.delayInSamples();
    setStatusColor(Qt::red);
    const float seconds = static_cast<float>(delay) / kReplaySampleRate;
    const int whole = static_cast<int>(seconds);
    const int minutes = static_cast<int>(whole / 60.0);
    const int rest = static_cast<int>(seconds - 60.0f * static_cast<float>(minutes));
    battery_->setText(minutes != 0
                          ? QStringLiteral("PLAYING BACK %1 MIN %2 SECS AGO").arg(minutes).arg(rest)
                          : QStringLiteral("PLAYING BACK %1 SECS AGO").arg(rest));
    backToLiveButton_->setEnabled(true);
    send(LinkMessageBuilder::playbackStarted(strip->model().csID(), delay));
}

void PlayerViewController::backToLiveClicked() {
    if (controller()) {
        setStatusColor(Qt::white);
        battery_->setText("");
    }
    scrollView_->stopPlayback();
    backToLiveButton_->setEnabled(false);
    sendPlaybackStopped();
}

void PlayerViewController::sendPlaybackStopped() {
    // Only a strip the window shows is named.
    if (ChannelStripController* strip = controller()) {
        send(LinkMessageBuilder::playbackStopped(strip->model().csID()));
    }
}

void PlayerViewController::send(const Dictionary& message) {
    if (link_) link_->sendDictionary(message);
}

// ---------------------------------------------------------------------------------------------
// The editor

void PlayerViewController::okClicked() {
    const std::string name = name_->text().toStdString();
    const std::string role = roleName_->text().toStdString();
    const std::string comments = comments_->toPlainText().toStdString();
    if (name.empty()) {
        if (alerts_) alerts_->runModal(this, std::string("Real name can't be empty"));
        return;
    }
    PlayerManager& manager = services_.players;
    bool duplicate = false;
    for (const auto& player : manager.players()) {
        if (player->name().value_or("") == name && player->roleName().value_or("") == role) {
            duplicate = true;
        }
    }
    if (duplicate && playerIndex_ == -1) {
        if (alerts_) {
            alerts_->runModal(this, "You already have " + name + " as " + role +
                                        ". Either real name or role name must be different");
        }
        return;
    }

    // The list may have changed while the window was open: the index is checked now.
    std::shared_ptr<Player> player;
    if (playerIndex_ != -1) {
        if (!hasPlayer()) {
            close();
            return;
        }
        player = manager.players()[static_cast<size_t>(playerIndex_)];
        player->setName(name);
        player->setComments(comments);
        player->setRoleName(role);
        if (!imageView_->imageData().empty()) player->setImage(imageView_->imageData());
    } else {
        player = std::make_shared<Player>();
        player->setName(name);
        if (!role.empty()) player->setRoleName(role);
        if (!comments.empty()) player->setComments(comments);
        if (!imageView_->imageData().empty()) player->setImage(imageView_->imageData());
        manager.players().push_back(player);
    }
    Dictionary info;
    info.set("Name", Value(name));
    services_.center.post(kPlayerUpdated, info);
    close();
}

void PlayerViewController::cancelClicked() { close(); }

void PlayerViewController::browseClicked() {
    if (!files_) return;
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Open;
    std::optional<std::string> path = files_->runModal(this, request);
    if (!path || isClosed_) return;
    QLOG("Picture chosen: %s", path->c_str());
    imageView_->setWithURL(*path);
}

void PlayerViewController::exportClicked() {
    // Disabled: a remote has no audio of the strip to write.
}

}  // namespace quenbril
