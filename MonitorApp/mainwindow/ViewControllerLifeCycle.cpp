// The main window's life cycle: loading, appearing and going away, the connection dialog and
// the start of the client, the status line and the strip area's layout; and the server link's
// delegate, which hands the link's events to its life cycle.

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <sstream>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"
#include "foundation/dispatch/Queue.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

namespace {

constexpr const char* kSettingsKey = "Settings";
constexpr const char* kWindowFrameKey = "mainWindowAutoSave2";
/// The strip of the performer window open at the end of the run.
constexpr const char* kPlayerCsIDKey = "playerCsID";

/// Calls `fn` whenever the watched widget changes size.
class ResizeWatcher : public QObject {
  public:
    ResizeWatcher(QObject* parent, std::function<void()> fn)
        : QObject(parent), fn_(std::move(fn)) {}
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Resize) fn_();
        return false;
    }

  private:
    std::function<void()> fn_;
};

}  // namespace

// ---- Loading ----

void ViewController::viewDidLoad() {
    actions_.resetPanel();
    indicators_.resetHeaderFlashing();
    isInitialized_ = false;
    currentDocumentName_ = "Untitled";
    // The application delegate finds the main window through the strip manager.
    services_.models.strips.setMainViewController(this);

    addActionObservers();
    lifeCycleObservers_.push_back(services_.models.notifications.addObserver(
        "ChannelStripsEdited", [this](const Notification&) { channelStripsEdited(); }));

    // Read now: the server's state may come while the connection dialog is still open.
    readPerformerWindowRecord();

    link_.startTimer();
    // In the server role the receiver registry would start its discovery here; the
    // application has no registry, so there is nothing to start.

    leftLabel_->setText("");
    middleLabel_->setText("");

    audioEngine_ = &services_.models.engine;
    audioEngine_->setDelegate(this);
}

void ViewController::addActionObservers() {
    actions_.addObservers();
    NotificationCenter& center = services_.models.notifications;
    lifeCycleObservers_.push_back(
        center.addObserver(ChatNotification::kChatMessageFromServer,
                           [this](const Notification& n) { chatMessageFromServer(n); }));
    lifeCycleObservers_.push_back(center.addObserver(
        ChatNotification::kChatWindowClosed, [this](const Notification&) { chatWindowClosed(); }));
    lifeCycleObservers_.push_back(
        center.addObserver("ChannelClickStarted", [this](const Notification&) { clickStarted(); }));
    lifeCycleObservers_.push_back(
        center.addObserver("ChannelClickEnded", [this](const Notification&) { clickEnded(); }));
    dispatcher_->levelFrames().clearSCP();
}

// ---- Appearing ----

void ViewController::viewDidAppear() {
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    QWidget* window = this->window();
    window->setMaximumSize(kMaximumWindowSize);
    // Where the screen is smaller (a small one, or a large one at twice the scale), the window
    // fits the screen rather than running off it.
    window->setMinimumSize(WindowFrameAutosave::withinScreen(kMinimumWindowSize, *window));
    updateWindowTitle();
    registerLabelText_.clear();
    refreshStatusLabels();

    // The main view's own background, under the strips and the status line.
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, mainViewBackground());
    setPalette(palette);

    versionNumber_->setText(QString("V%1").arg(QUENBRIL_VERSION));
    if (groupButtonContainer_) {
        services_.models.strips.setGroupButtonView(groupButtonContainer_);
    }

    if (!resizeWatched_) {
        resizeWatched_ = true;
        connect(scrollView_->verticalScrollBar(), &QScrollBar::valueChanged, this,
                [this] { boundDidChange(); });
    }

    if (!isInitialized_) performSegue("showPreferences");

    restoreWindowFrame();

    // The columns come from the viewport's width, so the viewport is watched: the scroll view's
    // own resize arrives before it has resized its viewport. The watcher is kept rather than
    // looked up, since it has no meta-object of its own and a search by its type would match
    // any child.
    if (!resizeWatcher_) {
        QWidget* viewport = scrollView_->viewport();
        resizeWatcher_ = new ResizeWatcher(viewport, [this] {
            centreBackgroundPicture();
            screenResize();
        });
        viewport->installEventFilter(resizeWatcher_);
    }
    centreBackgroundPicture();
}

void ViewController::restoreWindowFrame() {
    WindowFrameAutosave::restoreOrCentre(*window(), kWindowFrameKey, kDefaultWindowSize);
}

void ViewController::centreBackgroundPicture() {
    if (!backgroundPicture_) return;
    QRect frame = backgroundPicture_->geometry();
    frame.moveCenter(scrollView_->viewport()->rect().center());
    backgroundPicture_->setGeometry(frame);
    backgroundPicture_->lower();
}

void ViewController::updateWindowTitle() { window()->setWindowTitle("Quenbril 3 Remote"); }

void ViewController::showOpenInMenu(bool show) {
    openInMenuShown_ = show;
    // The second item of the main menu's second entry, when the window has that menu.
    if (auto* mainWindow = qobject_cast<QMainWindow*>(window())) {
        const QList<QAction*> entries = mainWindow->menuBar()->actions();
        if (entries.size() >= 2 && entries[1]->menu()) {
            const QList<QAction*> items = entries[1]->menu()->actions();
            if (items.size() >= 2) {
                items[1]->setEnabled(show);
                items[1]->setVisible(show);
            }
        }
    }
    updateStatusMessage();
}

// ---- The connection dialog ----

void ViewController::prepareConnectionDialog(const std::shared_ptr<SegueDestination>& destination) {
    showOpenInMenu(false);
    prefViewController_ = std::dynamic_pointer_cast<PreferencesViewController>(destination);
    if (prefViewController_) {
        prefViewController_->setDelegate(this);
        prefViewController_->setInDeviceUID(audioEngine_ ? audioEngine_->currentInputDeviceUID()
                                                         : std::nullopt);
        prefViewController_->setOutDeviceUID(audioEngine_ ? audioEngine_->currentOutputDeviceUID()
                                                          : std::nullopt);
        // The dialog asks as it appears and again every few seconds while it is open.
        std::weak_ptr<PreferencesViewController> dialog = prefViewController_;
        prefViewController_->setDeviceLook([dialog] { listAudioDevices(dialog); });
        // The dialog is open: the status line is the remote's from now on.
        updateStatusMessage();
    }
    link_.attach(*this);
}

void ViewController::listAudioDevices(const std::weak_ptr<PreferencesViewController>& dialog) {
    // Asking the host for its devices can take a while (a sound server may be starting, a JACK
    // library may not answer at all): never on the main thread.
    dispatch::Queue::global()->async([dialog] {
        if (dialog.expired()) return;
        AudioBackend& backend = AudioBackend::shared();
        // The host looks again, so that a sound server started since (or a card plugged in)
        // is listed. Best effort: a backend may keep its list while its streams are open.
        backend.refresh();
        auto convert = [](const std::vector<ATAudioDevice>& devices) {
            std::vector<AudioDevice> list;
            for (const ATAudioDevice& device : devices) {
                list.push_back({device.UID(), device.name(), static_cast<int>(device.deviceID())});
            }
            return list;
        };
        auto inputs = convert(ATAudioDevice::inputDevices(backend));
        auto outputs = convert(ATAudioDevice::outputDevices(backend));
        // After the lists: the words are about the hosts' last look.
        std::string absence = backend.absence();
        dispatch::Queue::main()->async([dialog, inputs = std::move(inputs),
                                        outputs = std::move(outputs),
                                        absence = std::move(absence)]() mutable {
            if (auto living = dialog.lock()) {
                living->setAudioDevices(std::move(inputs), std::move(outputs), std::move(absence));
            }
        });
    });
}

void ViewController::startClient() {
    if (audioEngine_) {
        // The role is stored now, and the engine plays the stream on the confirmed device.
        if (prefViewController_ && prefViewController_->outDeviceUID()) {
            audioEngine_->setCurrentOutputDeviceUID(prefViewController_->outDeviceUID());
        }
        audioEngine_->startClient();
    }
    updateStatusMessage();
    showOpenInMenu(false);
    link_.clientStarted();
    prefViewController_.reset();
    isInitialized_ = true;
    if (auto record = services_.models.defaults.dictionaryForKey(kSettingsKey)) {
        if ((*record)["chatOpen"].boolValue().value_or(false)) showHideChat();
    }
}

void ViewController::readPerformerWindowRecord() {
    reopenPerformer_ = false;
    reopenPerformerCsID_.reset();
    if (auto record = services_.models.defaults.dictionaryForKey(kSettingsKey)) {
        reopenPerformer_ = (*record)["playerOpen"].boolValue().value_or(false);
        if (reopenPerformer_) reopenPerformerCsID_ = (*record)[kPlayerCsIDKey].longLongValue();
    }
}

void ViewController::reopenPerformerWindow() {
    ChannelStripManager& strips = services_.models.strips;
    if (!reopenPerformer_ || strips.controllers().empty()) return;
    reopenPerformer_ = false;
    if (segues_.openPerformerWindow()) return;
    int32_t position =
        reopenPerformerCsID_ ? strips.indexOfChannelStripID(*reopenPerformerCsID_) : -1;
    if (position < 0) position = 0;
    segues_.selectPerformer(PlayerStripLookup::indexOfPlayerInChannelStripIndex(strips, position),
                            position);
    performSegue("editPlayer");
}

// ---- Status line ----

void ViewController::updateStatusMessage() {
    const UserSettingsManager& settings = services_.settings();
    // The connection dialog makes this station a remote: while it is open (at the first start,
    // before any role is stored) the status line is already the remote's.
    if (settings.actAsClient() || prefViewController_) {
        if (serverIsHere()) {
            showConnectedStatus();
            if (settings.micCheckMode()) {
                registerLabelText_ = "MIC CHECK ACT " + std::to_string(settings.currentAct() + 1);
                registerLabelRed_ = true;
            } else if (settings.notebookMode()) {
                registerLabelText_ = "Notebook mode";
                registerLabelRed_ = true;
            } else if (settings.hardMuting()) {
                registerLabelText_ = "HARD MUTING";
                registerLabelRed_ = true;
            } else {
                registerLabelText_.clear();
            }
        } else {
            statusRightRed_ = true;
            setStatusRightText("NOT CONNECTED TO SERVER");
        }
    } else {
        float rate = audioEngine_ ? audioEngine_->sampleRate() : 0.0f;
        char text[64];
        std::snprintf(text, sizeof text, "%d channels / %.02f Hz", channels_,
                      static_cast<double>(rate));
        setStatusRightText(text);
    }
    refreshStatusLabels();
}

void ViewController::refreshStatusLabels() {
    rightLabel_->setText(QString::fromStdString(statusRightText_));
    rightLabel_->setStyleSheet(statusRightRed_ ? "color: red" : "color: white");
    registerLabel_->setText(QString::fromStdString(registerLabelText_));
    if (registerLabelRed_) registerLabel_->setStyleSheet("color: red");
}

// ---- Strip area ----

void ViewController::screenResize() {
    if (stripArea_) {
        stripArea_->scrollToTop();
    } else {
        scrollView_->verticalScrollBar()->setValue(0);
    }
    services_.settings().setColumns(scrollView_->viewport()->width() / kColumnWidth);
    std::weak_ptr<bool> alive = alive_;
    ChannelStripManager* strips = &services_.models.strips;
    dispatch::Queue::main()->after(kLayoutDelay, [alive, strips] {
        if (auto living = alive.lock(); !living || !*living) return;
        ChannelStripManager& manager = *strips;
        manager.updateSizes();
        manager.updatePositions();
    });
}

void ViewController::updateChannelStrips() {
    ChannelStripManager& manager = services_.models.strips;
    if (stripArea_) manager.setSuperView(stripArea_);
    manager.updateChannels();
    screenResize();
}

void ViewController::channelStripsEdited() { screenResize(); }

void ViewController::boundDidChange() { services_.models.strips.scrollViewScrolled(); }

void ViewController::updateWarnings() {
    indicators_.setResetButtonOpacity(
        services_.settings().disableAllWarnings() ? kDimmedResetOpacity : 1.0);
    ChannelStripManager& manager = services_.models.strips;
    manager.updateWarnings();
    setResetAlarm(manager.isWarningOn());
}

ChannelStripController* ViewController::stripForChan(int chan) {
    return services_.models.strips.stripForChannel(chan);
}

bool ViewController::canOpen(const Dictionary& document) {
    const Array* channels = document["channels"].arrayValue();
    if (channels && static_cast<int64_t>(channels->size()) == channels_) return true;
    alert("Wrong amount of channels");
    return false;
}

// ---- Going away ----

void ViewController::viewWillDisappear() {
    WindowFrameAutosave::save(*window(), kWindowFrameKey);

    Dictionary record;
    record.set("chanList", Value(services_.models.strips.propertyArray()));
    if (audioEngine_) {
        record.set("outputChannel", audioEngine_->outputChannel());
        if (auto uid = audioEngine_->currentInputDeviceUID()) record.set("inputDeviceUID", *uid);
        if (auto uid = audioEngine_->currentOutputDeviceUID()) {
            record.set("outputDeviceUID", *uid);
        }
    }
    const std::shared_ptr<PerformerWindow> performer = segues_.openPerformerWindow();
    record.set("playerOpen", performer != nullptr);
    if (performer && performer->boundCsID()) record.set(kPlayerCsIDKey, *performer->boundCsID());
    record.set("chatOpen", segues_.chatTable() != nullptr);
    UserDefaults& defaults = services_.models.defaults;
    if (!defaults.setObject(Value(std::move(record)), kSettingsKey)) {
        log(LogLevel::Warning, "The window's settings could not be saved");
    }
    defaults.synchronize();
}

// ---- The server link's delegate ----

void ViewController::connectedToServer(const std::string& /*host*/) { link_.connectedToServer(); }

void ViewController::disconnectedFromServer(const std::optional<Error>& /*error*/) {
    link_.disconnectedFromServer();
}

void ViewController::discoveryUnavailable(const Error& /*error*/) { link_.discoveryUnavailable(); }

}  // namespace quenbril
