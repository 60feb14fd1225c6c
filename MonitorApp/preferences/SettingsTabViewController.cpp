#include "MonitorApp/preferences/SettingsTabViewController.h"

#include <QCloseEvent>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/preferences/DisplayPreferencesViewController.h"
#include "MonitorApp/preferences/PreferencesPane.h"
#include "MonitorApp/preferences/UserPrefsViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

SettingsTabViewController::SettingsTabViewController(const PreferencesServices& services,
                                                     LinkSender* link, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
      services_(services) {
    // Titled, closable and minimisable, but never zoomed.
    setWindowTitle("Preferences");
    tabView_ = new QTabWidget;
    userPrefs_ = new UserPrefsViewController(services);
    userPrefs_->setLinkSender(link);
    displayPrefs_ = new DisplayPreferencesViewController(services);
    auto* layout = new QVBoxLayout(this);
    // On a screen smaller than the panes (a small one, or one at twice the scale) the window
    // fits the screen, frame included, and the panes scroll, rather than running off it.
    scroller_ = new QScrollArea(this);
    scroller_->setWidgetResizable(true);
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidget(tabView_);
    scroller_->viewport()->setAutoFillBackground(false);
    scroller_->verticalScrollBar()->installEventFilter(this);
    layout->addWidget(scroller_);
    connect(tabView_, &QTabWidget::currentChanged, this, [this](int index) { tabChanged(index); });
    addPane("User", userPrefs_);
    addPane("Display", displayPrefs_);
    viewDidLoad();
}

SettingsTabViewController::~SettingsTabViewController() = default;

void SettingsTabViewController::viewDidLoad() {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(ColorHelper::vozodDarkGray()));
    setPalette(palette);
    setAutoFillBackground(true);
}

void SettingsTabViewController::show() {
    // As large as the panes ask where the screen has room (the scroll area alone would ask
    // for less).
    if (!isVisible()) {
        const QMargins margins = layout()->contentsMargins();
        resize(WindowFrameAutosave::withinScreen(tabView_->sizeHint().grownBy(margins), *this));
    }
    QWidget::show();
    viewDidAppear();
}

void SettingsTabViewController::viewDidAppear() {
    for (PreferencesPane* pane : panes_) pane->setTabDelegate(this);
    if (!paneInSight_) paneDidAppear(tabView_->currentWidget());
}

void SettingsTabViewController::closeWindow() { close(); }

void SettingsTabViewController::setAlertPresenter(AlertPresenter* presenter) {
    alertPresenter_ = presenter;
    for (PreferencesPane* pane : panes_) pane->setAlertPresenter(presenter);
}

void SettingsTabViewController::addPane(const QString& title, PreferencesPane* pane) {
    panes_.push_back(pane);
    pane->setAlertPresenter(alertPresenter_);
    tabView_->addTab(&pane->paneView(), title);
}

bool SettingsTabViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroller_->verticalScrollBar() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        // With the panes scrolling up and down, the window widens by the scroll bar rather
        // than scrolling sideways too.
        const int least = tabView_->minimumSizeHint().expandedTo(tabView_->minimumSize()).width();
        const int bar = scroller_->verticalScrollBar()->sizeHint().width();
        scroller_->setMinimumWidth(event->type() == QEvent::Show ? least + bar : 0);
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsTabViewController::closeEvent(QCloseEvent* event) {
    services_.center.post(kPreferencesChangedNotification);
    if (paneInSight_) paneWillDisappear(paneInSight_);
    // The panes stop following the lock with the window gone.
    for (PreferencesPane* pane : panes_) pane->paneView().viewDidDisappear();
    event->accept();
}

void SettingsTabViewController::tabChanged(int index) {
    // Tabs added while the window is being made are not in sight yet.
    if (!paneInSight_) return;
    paneWillDisappear(paneInSight_);
    paneDidAppear(tabView_->widget(index));
}

void SettingsTabViewController::paneDidAppear(QWidget* page) {
    paneInSight_ = paneOf(page);
    if (paneInSight_) paneInSight_->viewDidAppear();
}

void SettingsTabViewController::paneWillDisappear(PreferencesPane* pane) {
    paneInSight_ = nullptr;
    pane->viewWillDisappear();
}

PreferencesPane* SettingsTabViewController::paneOf(QWidget* page) const {
    for (PreferencesPane* pane : panes_) {
        if (&pane->paneView() == page) return pane;
    }
    return nullptr;
}

}  // namespace quenbril
