#include "MonitorApp/preferences/SettingsTabViewController.h"

#include <QCloseEvent>
#include <QPalette>
#include <QTabWidget>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/preferences/DisplayPreferencesViewController.h"
#include "MonitorApp/preferences/UserPrefsViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

SettingsTabViewController::SettingsTabViewController(LinkSender* link, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint) {
    // Titled, closable and minimisable, but never zoomed.
    setWindowTitle("Preferences");
    tabView_ = new QTabWidget(this);
    userPrefs_ = new UserPrefsViewController;
    userPrefs_->setLinkSender(link);
    displayPrefs_ = new DisplayPreferencesViewController;
    tabView_->addTab(userPrefs_, "User");
    tabView_->addTab(displayPrefs_, "Display");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabView_);
    connect(tabView_, &QTabWidget::currentChanged, this, [this](int index) { tabChanged(index); });
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
    QWidget::show();
    viewDidAppear();
}

void SettingsTabViewController::viewDidAppear() {
    userPrefs_->setTabDelegate(this);
    displayPrefs_->setTabDelegate(this);
    if (!paneInSight_) paneDidAppear(tabView_->currentWidget());
}

void SettingsTabViewController::closeWindow() { close(); }

void SettingsTabViewController::setAlertPresenter(AlertPresenter* presenter) {
    userPrefs_->setAlertPresenter(presenter);
    displayPrefs_->setAlertPresenter(presenter);
}

void SettingsTabViewController::closeEvent(QCloseEvent* event) {
    NotificationCenter::defaultCenter().post(kPreferencesChangedNotification);
    if (paneInSight_) paneWillDisappear(paneInSight_);
    // The panes stop following the lock with the window gone.
    userPrefs_->viewDidDisappear();
    displayPrefs_->viewDidDisappear();
    event->accept();
}

void SettingsTabViewController::tabChanged(int index) {
    // Tabs added while the window is being made are not in sight yet.
    if (!paneInSight_) return;
    paneWillDisappear(paneInSight_);
    paneDidAppear(tabView_->widget(index));
}

void SettingsTabViewController::paneDidAppear(QWidget* pane) {
    paneInSight_ = pane;
    if (pane == userPrefs_) userPrefs_->viewDidAppear();
    if (pane == displayPrefs_) displayPrefs_->viewDidAppear();
}

void SettingsTabViewController::paneWillDisappear(QWidget* pane) {
    paneInSight_ = nullptr;
    if (pane == userPrefs_) userPrefs_->viewWillDisappear();
    if (pane == displayPrefs_) displayPrefs_->viewWillDisappear();
}

}  // namespace quenbril
