// The main window's life cycle: loading, appearing and going away, the connection timer, the
// start of the client, the status line and the strip area's layout.

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
#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "foundation/dispatch/Queue.h"

namespace quenbril {

namespace {

constexpr const char* kSettingsKey = "Settings";
constexpr const char* kWindowFrameKey = "mainWindowAutoSave2";

UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }

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
    currentPanel_ = 0;
    headerFlashing_ = false;
    isInitialized_ = false;
    currentDocumentName_ = "Untitled";

    ChannelStripManager::sharedInstance();
    LTCManager::sharedInstance();
    ChatManager::sharedInstance();
    // The macros listen to MIDI events from now on, not only once their editor opens.
    ChatMacroManager::sharedInstance();

    addActionObservers();
    lifeCycleObservers_.push_back(NotificationCenter::defaultCenter().addObserver(
        "ChannelStripsEdited", [this](const Notification&) { channelStripsEdited(); }));

    connectionTimer_ =
        RunLoop::main().scheduleTimer(kConnectionInterval, true, [this] { tryConnection(); });
    // In the server role the receiver registry would start its discovery here; the
    // application has no registry, so there is nothing to start.

    leftLabel_->setText("");
    middleLabel_->setText("");

    audioEngine_ = &PELAudioEngine::sharedInstance();
    audioEngine_->setDelegate(this);
}

// ---- Appearing ----

void ViewController::viewDidAppear() {
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    QWidget* window = this->window();
    window->setMaximumSize(kMaximumWindowSize);
    window->setMinimumSize(kMinimumWindowSize);
    updateWindowTitle();
    registerLabelText_.clear();
    refreshStatusLabels();

    versionNumber_->setText(QString("V%1").arg(QUENBRIL_VERSION));
    if (groupButtonContainer_) {
        ChannelStripManager::sharedInstance().setGroupButtonView(groupButtonContainer_);
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
        listAudioDevices(prefViewController_);
        // The dialog is open: the status line is the remote's from now on.
        updateStatusMessage();
    }
    ServerManager& link = ServerManager::sharedInstance();
    link.setDelegate(this);
    isLinkDelegate_ = true;
    link.tryToConnect();
}

void ViewController::tryConnection() {
    const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    if ((settings.actAsClient() || settings.chatMode() == 1) &&
        !ServerManager::sharedInstance().isConnected()) {
        ServerManager::sharedInstance().tryToConnect();
    }
}

void ViewController::listAudioDevices(const std::weak_ptr<PreferencesViewController>& dialog) {
    // Asking the host for its devices can take a while (a sound server may be starting): never
    // on the main thread.
    dispatch::Queue::global()->async([dialog] {
        auto convert = [](const std::vector<ATAudioDevice>& devices) {
            std::vector<AudioDevice> list;
            for (const ATAudioDevice& device : devices) {
                list.push_back({device.UID(), device.name(), static_cast<int>(device.deviceID())});
            }
            return list;
        };
        auto inputs = convert(ATAudioDevice::inputDevices());
        auto outputs = convert(ATAudioDevice::outputDevices());
        dispatch::Queue::main()->async(
            [dialog, inputs = std::move(inputs), outputs = std::move(outputs)]() mutable {
                if (auto living = dialog.lock()) {
                    living->setAudioDevices(std::move(inputs), std::move(outputs));
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
    if (linkUpWithoutRemoteRole_ && linkConnected()) {
        // The server sends its state only as a remote connects.
        relink();
    } else {
        sendStoredClientID();
    }
    prefViewController_.reset();
    isInitialized_ = true;
    if (auto record = defaults().dictionaryForKey(kSettingsKey)) {
        if ((*record)["chatOpen"].boolValue().value_or(false)) showHideChat();
        reopenPerformer_ = (*record)["playerOpen"].boolValue().value_or(false);
    }
}

void ViewController::reopenPerformerWindow() {
    if (!reopenPerformer_ || ChannelStripManager::channelStripControllers().empty()) return;
    reopenPerformer_ = false;
    std::shared_ptr<PerformerWindow> open = playerViewController_.lock();
    if (open && !open->isClosed()) return;
    channelIndex_ = 0;
    playerIndex_ = PlayerStripLookup::indexOfPlayerInChannelStripIndex(0);
    performSegue("editPlayer");
}

// ---- Status line ----

bool ViewController::linkConnected() const { return ServerManager::sharedInstance().isConnected(); }

void ViewController::updateStatusMessage() {
    const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    // The connection dialog makes this station a remote: while it is open (at the first start,
    // before any role is stored) the status line is already the remote's.
    if (settings.actAsClient() || prefViewController_) {
        if (linkConnected()) {
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
    UserSettingsManager::sharedInstance().setColumns(scrollView_->viewport()->width() /
                                                     kColumnWidth);
    std::weak_ptr<bool> alive = alive_;
    dispatch::Queue::main()->after(kLayoutDelay, [alive] {
        if (auto living = alive.lock(); !living || !*living) return;
        ChannelStripManager& manager = ChannelStripManager::sharedInstance();
        manager.updateSizes();
        manager.updatePositions();
    });
}

void ViewController::updateChannelStrips() {
    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    if (stripArea_) manager.setSuperView(stripArea_);
    manager.updateChannels();
    screenResize();
}

void ViewController::channelStripsEdited() { screenResize(); }

void ViewController::boundDidChange() {
    ChannelStripManager::sharedInstance().scrollViewScrolled();
}

void ViewController::updateWarnings() {
    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    manager.updateWarnings();
    setResetAlarm(manager.isWarningOn());
}

ChannelStripController* ViewController::stripForChan(int chan) {
    return ChannelStripManager::sharedInstance().stripForChannel(chan);
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
    record.set("chanList", Value(ChannelStripManager::sharedInstance().propertyArray()));
    if (audioEngine_) {
        record.set("outputChannel", audioEngine_->outputChannel());
        if (auto uid = audioEngine_->currentInputDeviceUID()) record.set("inputDeviceUID", *uid);
        if (auto uid = audioEngine_->currentOutputDeviceUID()) {
            record.set("outputDeviceUID", *uid);
        }
    }
    auto player = playerViewController();
    record.set("playerOpen", player != nullptr && !player->isClosed());
    record.set("chatOpen", chatVC_ != nullptr);
    if (!defaults().setObject(Value(std::move(record)), kSettingsKey)) {
        log(LogLevel::Warning, "The window's settings could not be saved");
    }
    defaults().synchronize();
}

}  // namespace quenbril
