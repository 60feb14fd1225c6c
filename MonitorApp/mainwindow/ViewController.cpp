#include "MonitorApp/mainwindow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/mainwindow/StripAreaScroller.h"
#include "MonitorApp/mainwindow/ViewControllerDispatchWindow.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

ViewController::ViewController(QWidget* parent)
    : ViewController(RemoteContext::fromSharedInstances(QtShortTimeClock::system()), parent) {
    // Until the application has a start-up of its own, it is composed as its main window is made.
    connectLinkSenders(&ServerManager::sharedInstance(), *this);
}

ViewController::ViewController(const RemoteContext& context, QWidget* parent)
    : QWidget(parent),
      dispatchWindow_(std::make_unique<DispatchWindow>(*this)),
      dispatcher_(std::make_unique<ServerMessageDispatcher>(context, *dispatchWindow_)) {
    segueFactory_ = [](const std::string& identifier) -> std::shared_ptr<SegueDestination> {
        if (identifier == "showPreferences") return std::make_shared<PreferencesViewController>();
        return nullptr;
    };
    buildViews();
}

ViewController::~ViewController() {
    *alive_ = false;
    if (isLinkDelegate_ && ServerManager::sharedInstance().delegate() == this) {
        ServerManager::sharedInstance().setDelegate(nullptr);
    }
    if (prefViewController_) prefViewController_->setDelegate(nullptr);
    if (audioEngine_ && audioEngine_->delegate() == this) audioEngine_->setDelegate(nullptr);
}

void ViewController::sendStoredClientID() {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (defaults.objectForKey(ClientDefaultsKeys::kClientID).isNull()) return;
    send(LinkMessageBuilder::clientID(
        static_cast<int32_t>(defaults.integerForKey(ClientDefaultsKeys::kClientID))));
}

void ViewController::showConnectedStatus() {
    statusRightRed_ = false;
    setStatusRightText(DispatchRules::connectedStatusText(
        UserDefaults::standardUserDefaults().stringForKey(ClientDefaultsKeys::kClientName)));
}

void ViewController::setStatusRightText(std::string text) { statusRightText_ = std::move(text); }

void ViewController::alert(const std::string& text) {
    if (alertPresenter_) {
        alertPresenter_->runModal(text);
    } else {
        log(LogLevel::Warning, "%s", text.c_str());
    }
}

// The window's parts the life cycle and the status line use. Their look (pictures, fonts,
// colours, the strip views) comes with the application's views.
void ViewController::buildViews() {
    headerView_ = new QWidget(this);
    versionNumber_ = new QLabel(headerView_);
    leftLabel_ = new QLabel(headerView_);
    middleLabel_ = new QLabel(headerView_);
    registerLabel_ = new QLabel(headerView_);
    auto* groupButtons = new GroupButtonContainerWidget(headerView_);
    groupView_ = groupButtons;
    groupButtonContainer_ = groupButtons;
    auto* header = new QHBoxLayout(headerView_);
    header->addWidget(versionNumber_);
    header->addWidget(leftLabel_);
    header->addWidget(groupView_, 1);
    header->addWidget(middleLabel_);
    header->addWidget(registerLabel_);

    scrollView_ = new QScrollArea(this);
    scrollView_->setWidgetResizable(false);
    auto* stripArea = new StripAreaWidget(*scrollView_);
    stripArea_ = stripArea;
    stripScroller_ = new StripAreaScroller(*stripArea, this);
    rightLabel_ = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headerView_);
    layout->addWidget(scrollView_, 1);
    layout->addWidget(rightLabel_);
}

}  // namespace quenbril
