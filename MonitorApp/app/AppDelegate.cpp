#include "MonitorApp/app/AppDelegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "DarIrudovOzuzari/ZICrashes.h"
#include "MonitorApp/app/SettingsFile.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/lockable/LockNotifications.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "MonitorApp/preferences/StripRefresh.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "RizUdidadIzezozure/ZIAnalytics.h"
#include "ZurIrirur/AppSecret.h"
#include "ZurIrirur/ZIZurIrirur.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kChatMessagesChanged = "ChatMessagesChanged";
constexpr const char* kChatMessage = "ChatMessage";

/// Adds an item with a Ctrl shortcut (none when `keys` is empty).
QAction* addItem(QMenu* menu, const char* title, const char* keys, std::function<void()> fn) {
    QAction* item = menu->addAction(title);
    if (keys && *keys) item->setShortcut(QKeySequence(keys));
    QObject::connect(item, &QAction::triggered, item, [fn = std::move(fn)] { fn(); });
    return item;
}

UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }

}  // namespace

AppDelegate::AppDelegate(QMenuBar& menuBar, AlertPresenter& alerts, FilePanel& files)
    : menuBar_(menuBar),
      alerts_(alerts),
      files_(files),
      toolHandler_([this](int tool) {
          if (ViewController* controller = getMainVC()) controller->selectedTool(tool);
      }),
      quitHandler_([] { QCoreApplication::exit(0); }) {
    buildMenus();
    // Whoever locks, the menu follows the lock.
    lockObserver_ = NotificationCenter::defaultCenter().addObserver(
        LockNotification::kLocked, [this](const Notification& n) {
            locked(n.userInfo[LockNotification::kLockOnKey].boolValue().value_or(false));
        });
    locked(settings().isLocked());
}

void AppDelegate::locked(bool on) {
    for (QAction* item : lockedItems_) item->setEnabled(!on);
}

AppDelegate::~AppDelegate() = default;

ViewController* AppDelegate::getMainVC() {
    if (!viewController_)
        viewController_ = ChannelStripManager::sharedInstance().mainViewController();
    return viewController_;
}

// The menu: the application entry, "File" (whose second item is the "open in" item the main
// window hides; the player list comes after it), "Remote" with the lock, mute, alerts, modes
// and tools, and "Chat" whose first seven items are the quick messages.
void AppDelegate::buildMenus() {
    QMenu* app = menuBar_.addMenu("Quenbril");
    addItem(app, "Preferences…", "Ctrl+,", [this] { preferencesClicked(); });
    app->addSeparator();
    addItem(app, "Export Settings…", "Ctrl+E", [this] { exportUserPreferences(); });
    addItem(app, "Import Settings…", "Ctrl+I", [this] { importUserPreferences(); });
    app->addSeparator();
    QAction* quit = addItem(app, "Quit", "Ctrl+Q", [this] {
        if (quitHandler_) quitHandler_();
    });
    quit->setMenuRole(QAction::QuitRole);

    QMenu* file = menuBar_.addMenu("File");
    addItem(file, "Channel Strips…", "Ctrl+Shift+C", [this] { openChannelStrips(); });
    // The "open in" item: hidden as the connection dialog opens, and not shown again.
    file->addAction("Open In…")->setEnabled(false);
    addItem(file, "Players…", "", [this] { playersClicked(); });
    addItem(file, "Mic Check…", "", [this] {
        if (micCheckWindowHandler_) micCheckWindowHandler_();
    });
    addItem(file, "Timecode…", "", [this] {
        if (timecodeWindowHandler_) timecodeWindowHandler_();
    });

    QMenu* remote = menuBar_.addMenu("Remote");
    lockItem_ = addItem(remote, "Lock", "Ctrl+L", [this] { lockClicked(*lockItem_); });
    muteItem_ = addItem(remote, "Mute", "Ctrl+M", [this] { toggleMute(*muteItem_); });
    remote->addSeparator();
    addItem(remote, "Reset Alerts", "Ctrl+R", [this] { resetAlertsClicked(); });
    addItem(remote, "Solo Clear", "Ctrl+K", [this] { soloClearClicked(); });
    addItem(remote, "Show Snapshots", "Ctrl+Shift+S", [this] { showSnapshotsClicked(); });
    addItem(remote, "Add Marker", "Ctrl+D", [this] { addMarkerClicked(); });
    remote->addSeparator();
    hardMuteItem_ =
        addItem(remote, "Hard Mute", "Ctrl+H", [this] { hardMuteClicked(*hardMuteItem_); });
    micCheckItem_ = addItem(remote, "Mic Check Mode", "Ctrl+Shift+M",
                            [this] { micCheckModeClicked(*micCheckItem_); });
    notebookModeItem_ = addItem(remote, "Notebook Mode", "Ctrl+Shift+N",
                                [this] { notebookModeClicked(*notebookModeItem_); });
    // The items show the modes' states; the actions set them from the settings.
    for (QAction* item : {hardMuteItem_, micCheckItem_, notebookModeItem_})
        item->setCheckable(true);
    addItem(remote, "Notebook…", "", [this] {
        if (notebookHandler_) notebookHandler_();
    });
    remote->addSeparator();
    addItem(remote, "Selection Tool", "Ctrl+1", [this] { selectionClicked(); });
    addItem(remote, "Selection Zoom Tool", "Ctrl+2", [this] { selectionZoomClicked(); });
    addItem(remote, "Zoom Tool", "Ctrl+3", [this] { zoomClicked(); });

    chatMenu_ = menuBar_.addMenu("Chat");
    // Each quick message has the key of the chat window's button that sends it: message n is
    // the button "F<8 - n>", the clicked channel "F8".
    for (int i = 0; i < kQuickMessageItems; ++i) {
        QAction* item =
            chatMenu_->addAction(QString("Quick message %1").arg(kQuickMessageItems - i));
        item->setData(kQuickMessageItems - i);
        item->setShortcut(QKeySequence(Qt::Key_F1 + i));
        QObject::connect(item, &QAction::triggered, item, [this, item] { chatButtonClick(*item); });
    }
    struct Tagged {
        const char* title;
        const char* keys;
        int tag;
    };
    for (const Tagged& entry :
         {Tagged{"Send Clicked Channel", "Ctrl+Shift+T", 0}, Tagged{"Page", "Ctrl+P", kPageTag},
          Tagged{"Clear Chat", "Ctrl+Shift+X", kClearChatTag}}) {
        QAction* item = chatMenu_->addAction(entry.title);
        item->setShortcut(QKeySequence(entry.keys));
        if (entry.tag == 0)
            item->setShortcuts({QKeySequence(entry.keys), QKeySequence(Qt::Key_F8)});
        item->setData(entry.tag);
        QObject::connect(item, &QAction::triggered, item, [this, item] { chatButtonClick(*item); });
    }
    chatMenu_->addSeparator();
    // What rests while locked: every item that sends to the server or changes the show.
    for (const char* title : {"Mute", "Reset Alerts", "Solo Clear", "Show Snapshots", "Add Marker",
                              "Hard Mute", "Mic Check Mode", "Notebook Mode", "Selection Tool",
                              "Selection Zoom Tool", "Zoom Tool", "Send Clicked Channel", "Page"}) {
        if (QAction* item = itemTitled(title)) lockedItems_.push_back(item);
    }
    for (int i = 0; i < kQuickMessageItems; ++i) lockedItems_.push_back(chatMenu_->actions()[i]);
    addItem(chatMenu_, "MIDI Macros…", "", [this] {
        if (chatMacrosHandler_) chatMacrosHandler_();
    });
}

void AppDelegate::applicationDidFinishLaunching() {
    // The appearance is dark already (ApplicationAppearance).
    chatMessagesChanged_ = NotificationCenter::defaultCenter().addObserver(
        kChatMessagesChanged, [this](const Notification&) { updateChatMenu(); });
    updateChatMenu();
    // Telemetry stays on this machine; the crash service writes a report of a crash and names
    // the last run's reports.
    ZIZurIrirur::start(kZurIrirurAppSecret, {&ZIAnalytics::kService, &ZICrashes::kService});
    reportSettingsFileTrouble();
}

void AppDelegate::reportSettingsFileTrouble() {
    // The log alone told no one that every setting was gone, or that no change would be kept.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (const auto aside = defaults.takeSetAside()) {
        alerts_.present(getMainVC(), "The settings file " + aside->file + " could not be read (" +
                                         aside->reason + "). It was kept as " + aside->movedTo +
                                         " and the settings start empty.");
    }
    if (const auto unreadable = defaults.takeUnreadable()) {
        alerts_.present(getMainVC(), "The settings file " + unreadable->file + " cannot be read (" +
                                         unreadable->reason +
                                         "). It is left as it is and the settings start empty; "
                                         "settings changed now will not be kept.");
    }
}

void AppDelegate::updateChatMenu() {
    const QList<QAction*> items = chatMenu_->actions();
    if (items.size() < kQuickMessageItems + 1) return;
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    for (int i = 0; i < kQuickMessageItems; ++i) {
        const std::string key = UserSettingsManager::chatButtonKey(kQuickMessageItems - i);
        std::optional<std::string> text = defaults.stringForKey(key);
        if (!text) {
            text = "Custom message " + std::to_string(i + 1);
            defaults.setObject(Value(*text), key);
        }
        items[i]->setText(QString("Send \"%1\"").arg(QString::fromStdString(*text)));
    }
    defaults.synchronize();
}

int AppDelegate::tag(const QAction& item) { return item.data().toInt(); }

QAction* AppDelegate::itemTitled(const std::string& title) const {
    const QString wanted = QString::fromStdString(title);
    for (QAction* entry : menuBar_.actions()) {
        if (!entry->menu()) continue;
        for (QAction* item : entry->menu()->actions()) {
            if (item->text() == wanted) return item;
        }
    }
    return nullptr;
}

// ---- Actions ----

void AppDelegate::lockClicked(QAction& sender) {
    const bool lock = sender.text() == "Lock";
    if (lockHandler_) {
        lockHandler_(lock);
    } else {
        log(LogLevel::Warning, "The lock is not available");
    }
    sender.setText(lock ? "Unlock" : "Lock");
}

void AppDelegate::toggleMute(QAction& sender) {
    if (ViewController* controller = getMainVC()) {
        sender.setText(controller->toggleMute() ? "Unmute" : "Mute");
    }
}

void AppDelegate::postChatMessage(const std::string& message, unsigned type) {
    const std::string username = settings().chatUsername();
    Dictionary userInfo;
    userInfo.set("message", Value(message));
    userInfo.set("sender", Value(username));
    userInfo.set("uuid", Value(ChatManager::uuid()));
    userInfo.set("type", Value(type));
    userInfo.set("recipient", Value("All"));
    NotificationCenter::defaultCenter().post(kChatMessage, userInfo);
}

void AppDelegate::chatButtonClick(QAction& sender) {
    const int t = tag(sender);
    if (t == kPageTag) {
        postChatMessage(settings().chatUsername() + " paging!", 5);
    } else if (t == kClearChatTag) {
        if (ViewController* controller = getMainVC()) controller->clearChat();
    } else if (t != 0) {
        ChatManager::sendMacro(t, settings().chatUsername());
    } else {
        const std::string& clicked =
            ChannelStripManager::sharedInstance().previouslyClickedChannel();
        if (!clicked.empty()) postChatMessage(clicked, 0);
    }
}

void AppDelegate::showSnapshotsClicked() {
    if (ViewController* controller = getMainVC()) controller->showHideSnapshots();
}
void AppDelegate::openChannelStrips() {
    // The main window's segue for this item shares its name with the preferences' one, so the
    // application opens the editor through its own handler.
    if (channelStripsHandler_) {
        channelStripsHandler_();
    } else if (ViewController* controller = getMainVC()) {
        controller->channelIOClicked();
    }
}
void AppDelegate::addMarkerClicked() {
    if (ViewController* controller = getMainVC()) controller->addMarker();
}
void AppDelegate::selectionClicked() { toolHandler_(0); }
void AppDelegate::selectionZoomClicked() { toolHandler_(1); }
void AppDelegate::zoomClicked() { toolHandler_(2); }
void AppDelegate::soloClearClicked() {
    if (ViewController* controller = getMainVC()) controller->soloClearClicked();
}

void AppDelegate::playersClicked() {
    if (playersHandler_) {
        playersHandler_();
    } else {
        log(LogLevel::Warning, "The player list is not available");
    }
}

void AppDelegate::resetAlertsClicked() {
    if (ViewController* controller = getMainVC()) {
        controller->resetClicked();
        controller->dismissChatNotifier();
    }
}

void AppDelegate::micCheckModeClicked(QAction& sender) {
    UserSettingsManager& s = settings();
    s.setMicCheckMode(!s.micCheckMode());
    sender.setChecked(s.micCheckMode());
    if (s.notebookMode() && s.micCheckMode()) {
        s.setNotebookMode(false);
        notebookModeItem_->setChecked(false);
    }
    ChannelStripManager::sharedInstance().updateAppearances();
    if (ViewController* controller = getMainVC()) controller->updateStatusMessage();
}

void AppDelegate::notebookModeClicked(QAction& sender) {
    UserSettingsManager& s = settings();
    s.setNotebookMode(!s.notebookMode());
    sender.setChecked(s.notebookMode());
    if (s.notebookMode() && s.micCheckMode()) {
        s.setMicCheckMode(false);
        micCheckItem_->setChecked(false);
        ChannelStripManager::sharedInstance().updateStates();
    }
    if (ViewController* controller = getMainVC()) controller->updateStatusMessage();
}

void AppDelegate::hardMuteClicked(QAction& sender) {
    UserSettingsManager& s = settings();
    s.setHardMuting(!s.hardMuting());
    sender.setChecked(s.hardMuting());
    if (ViewController* controller = getMainVC()) controller->updateStatusMessage();
}

void AppDelegate::preferencesClicked() {
    if (ViewController* controller = getMainVC()) controller->performSegue("showSettings");
}

void AppDelegate::exportUserPreferences() {
    const Dictionary settingsFile = SettingsFile::make();
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Save;
    request.allowedTypes = {SettingsFile::kExtension};
    request.suggestedName = std::string("Quenbril Settings.") + SettingsFile::kExtension;
    std::optional<std::string> path = files_.runModal(menuBar_.window(), request);
    if (!path) return;
    Error error;
    if (!SettingsFile::write(settingsFile, *path, &error)) {
        Alert alert;
        alert.messageText = "Problem exporting settings!";
        alert.informativeText = error.description;
        alerts_.runModal(menuBar_.window(), alert);
    }
}

void AppDelegate::importUserPreferences() {
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Open;
    request.allowedTypes = {SettingsFile::kExtension};
    std::optional<std::string> path = files_.runModal(menuBar_.window(), request);
    if (!path) return;
    Error error;
    std::optional<Dictionary> settingsFile = SettingsFile::read(*path, &error);
    if (!settingsFile) {
        Alert alert;
        alert.messageText = "Problem importing settings!";
        alert.informativeText = error.description;
        alerts_.runModal(menuBar_.window(), alert);
        return;
    }
    const std::string chatName = settings().chatUsername();
    const bool stored = SettingsFile::apply(*settingsFile);
    // Other stations write to this station by its chat name: a new one is the server's to know
    // at once, or their messages go to the old name and this station's own go out under a name
    // nobody lists.
    if (settings().chatUsername() != chatName) {
        if (ViewController* controller = getMainVC()) controller->chatNameChanged();
    }
    // What was imported shows at once, as after a save of the preferences: the strips, the
    // chat's quick messages and buttons, and the chat menu. "PreferencesChanged" is not posted:
    // it clears every strip's warning until the server's next warnings, and an import changes
    // no warning.
    refreshEveryStrip(ChannelStripManager::sharedInstance());
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.post(kChatMessagesChanged);
    center.post(ChatNotification::kChatButtonsChanged);
    center.post(kSettingsChangedNotification);
    if (!stored) {
        Alert alert;
        alert.messageText = "Problem importing settings!";
        alert.informativeText = "Part of the settings of " + *path + " could not be stored.";
        alerts_.runModal(menuBar_.window(), alert);
    }
}

}  // namespace quenbril
