#include "MonitorApp/chat/ui/ChatSplitViewController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QShortcut>

#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatButtonViewController.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

ChatSplitViewController::ChatSplitViewController(const ChatServices& services,
                                                 AlertPresenter* alerts)
    : QSplitter(Qt::Horizontal), services_(services) {
    setWindowFlags(Qt::Window);
    setWindowTitle("Chat");
    setChildrenCollapsible(true);
    table_ = new ChatTableViewController(services);
    table_->setAlertPresenter(alerts);
    buttons_ = new ChatButtonViewController(services);
    buttons_->viewDidLoad();
    addWidget(table_);
    addWidget(buttons_);
    // A wider window widens the messages; the quick messages keep their width.
    setStretchFactor(0, 1);
    setStretchFactor(1, 0);
    // F1 to F8 send the quick messages whose buttons carry those labels, wherever the
    // window's focus is.
    for (int key = 1; key <= ChatButton::kSlotCount; ++key) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1 + (key - 1)), this);
        connect(shortcut, &QShortcut::activated, this, [this, key] {
            if (buttons_) buttons_->sendKey(key);
        });
    }
    // Each pane loads its view as it is made, as every panel here does.
    connect(this, &QSplitter::splitterMoved, this, [this] { splitViewDidResizeSubviews(); });
    // A quit leaves the window open: its frame is kept for the next run, which opens it again.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible()) WindowFrameAutosave::save(*this, kFrameName);
    });
}

ChatSplitViewController::~ChatSplitViewController() {
    if (table_) table_->setDelegate(nullptr);
    if (buttons_) buttons_->setChatTargetRef(nullptr);
}

std::shared_ptr<void> ChatSplitViewController::owner() { return weak_from_this().lock(); }

std::shared_ptr<ChatTable> ChatSplitViewController::firstChild() {
    return std::shared_ptr<ChatTable>(owner(), table_);
}

std::shared_ptr<ChatButtons> ChatSplitViewController::lastChild() {
    return std::shared_ptr<ChatButtons>(owner(), buttons_);
}

// ---- Appearing and going away ----

void ChatSplitViewController::show() {
    // The level first: a change of the window's flags places it anew, by its frame's corner
    // where the stored place is its inside's, and the window would come back lower each time.
    updateWindowLevel();
    WindowFrameAutosave::restoreOrCentre(*this, kFrameName, kDefaultSize);
    // A window moved partly off the screen comes back fully on it.
    WindowFrameAutosave::placeOnScreen(*this);
    if (!appeared_) {
        const int available = std::max(width() - handleWidth(), 0);
        setSizes({std::max(available - kButtonsWidth, 0), std::min(kButtonsWidth, available)});
    }
    QSplitter::show();
    viewDidAppear();
}

void ChatSplitViewController::viewDidAppear() {
    appeared_ = true;
    table_->setDelegate(this);
    buttons_->setChatTargetRef(table_->chatTarget());
    table_->viewDidAppear();
    buttons_->viewDidAppear();
    settingsObserver_ = services_.center.addObserver(
        kSettingsChangedNotification, [this](const Notification&) { settingsChanged(); });
    updateWindowLevel();
}

void ChatSplitViewController::viewWillDisappear() {
    settingsObserver_.reset();
    table_->viewWillDisappear();
    buttons_->viewWillDisappear();
    WindowFrameAutosave::save(*this, kFrameName);
}

void ChatSplitViewController::closeEvent(QCloseEvent* event) {
    viewWillDisappear();
    event->accept();
    // The main window lets go of the panes now; the window itself goes on the next turn of the
    // run loop, after this event.
    if (auto self = weak_from_this().lock()) RunLoop::main().post([self] {});
    services_.center.post(ChatNotification::kChatWindowClosed);
}

// ---- The panes ----

void ChatSplitViewController::expandCollapseClicked(bool expand) {
    if (!table_ || !buttons_) return;
    const int available = std::max(width() - handleWidth(), 0);
    if (expand) {
        const int divider = std::clamp(static_cast<int>(divPos_), 0, available);
        setSizes({divider, available - divider});
    } else {
        divPos_ = static_cast<float>(table_->width());
        setSizes({available, 0});
    }
    splitViewDidResizeSubviews();
}

void ChatSplitViewController::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    splitViewDidResizeSubviews();
}

void ChatSplitViewController::splitViewDidResizeSubviews() {
    if (buttons_) buttons_->resizeButtons();
}

void ChatSplitViewController::settingsChanged() {
    updateWindowLevel();
    table_->reloadData();
}

// ---- Level ----

bool ChatSplitViewController::floatsOnTop() const {
    auto settings = services_.defaults.dictionaryForKey("chatSettings");
    return !settings || (*settings)["onTop"].longLongValue().value_or(0) != 0;
}

void ChatSplitViewController::updateWindowLevel() {
    const bool onTop = floatsOnTop();
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    // A new level takes the window off the screen; a shown one comes back at once.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown) QSplitter::show();
}

}  // namespace quenbril
