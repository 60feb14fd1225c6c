#include "MonitorApp/mainwindow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/mainwindow/StripAreaScroller.h"
#include "MonitorApp/mainwindow/ViewControllerDispatchWindow.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

/// Height of the header in points.
constexpr int kHeaderHeight = 56;

}  // namespace

ViewController::ViewController(MainWindowServices services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      dispatchWindow_(std::make_unique<DispatchWindow>(*this)),
      dispatcher_(std::make_unique<ServerMessageDispatcher>(services_.models, *dispatchWindow_)),
      segues_(services_.settings, *dispatcher_, *dispatchWindow_),
      link_({services_.settings, services_.link, services_.models.defaults, services_.models.strips,
             sender_},
            *dispatchWindow_),
      actions_({services_.models.engine, services_.models.strips, services_.models.notebook,
                services_.models.defaults, services_.models.notifications, services_.settings,
                services_.host, sender_},
               segues_, *dispatcher_, *dispatchWindow_),
      indicators_(services_.settings) {
    SegueTable segues;
    segues.add("showPreferences", [this] {
        return std::make_shared<PreferencesViewController>(
            services_.settings(), services_.models.defaults, services_.link(),
            services_.models.notifications);
    });
    setSegueTable(std::move(segues));
    buildViews();
}

ViewController::~ViewController() {
    *alive_ = false;
    // The strip manager outlives this window: it gives back the strip area and the group
    // buttons, which go with the window's widgets.
    services_.models.strips.releaseSuperView(stripArea_);
    services_.models.strips.releaseGroupButtonView(groupButtonContainer_);
    if (services_.models.strips.mainViewController() == this) {
        services_.models.strips.setMainViewController(nullptr);
    }
    if (prefViewController_) prefViewController_->setDelegate(nullptr);
    if (audioEngine_ && audioEngine_->delegate() == this) audioEngine_->setDelegate(nullptr);
}

void ViewController::showConnectedStatus() {
    statusRightRed_ = false;
    setStatusRightText(DispatchRules::connectedStatusText(
        services_.models.defaults.stringForKey(ClientDefaultsKeys::kClientName)));
}

void ViewController::alert(const std::string& text) {
    if (alertPresenter_) {
        alertPresenter_->runModal(this, text);
    } else {
        log(LogLevel::Warning, "%s", text.c_str());
    }
}

void ViewController::presentAlert(const std::string& text, const std::string& topic) {
    if (alertPresenter_) {
        alertPresenter_->present(this, text, topic);
    } else {
        log(LogLevel::Warning, "%s", text.c_str());
    }
}

// The window's parts: the header (version, buttons, tool selector, group buttons, labels), the
// scroll view of the strips and the status line.
void ViewController::buildViews() {
    headerView_ = new QWidget(this);
    headerView_->setObjectName("headerView");
    headerView_->setAutoFillBackground(true);
    QPalette headerPalette = headerView_->palette();
    headerPalette.setColor(QPalette::Window, toQColor(ColorHelper::vozodLightGray()));
    headerView_->setPalette(headerPalette);
    headerView_->setFixedHeight(kHeaderHeight);
    indicators_.setHeader(headerView_);

    versionNumber_ = new QLabel(headerView_);
    versionNumber_->setObjectName("versionNumber");
    versionNumber_->setFont(QFont("Nexa Light", 14));
    versionNumber_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    versionNumber_->setStyleSheet("color: white; background: transparent");
    versionNumber_->setTextInteractionFlags(Qt::NoTextInteraction);
    leftLabel_ = new QLabel(headerView_);
    middleLabel_ = new QLabel(headerView_);
    registerLabel_ = new QLabel(headerView_);
    registerLabel_->setObjectName("registerLabel");
    registerLabel_->setFont(QFont("Nexa Bold", 14));
    auto* groupButtons = new GroupButtonContainerWidget(headerView_);
    groupView_ = groupButtons;
    groupButtonContainer_ = groupButtons;
    auto* header = new QHBoxLayout(headerView_);
    header->setContentsMargins(12, 4, 12, 4);
    header->addWidget(versionNumber_);
    buildHeaderButtons(headerView_, header);
    header->addWidget(leftLabel_);
    header->addWidget(groupView_, 1);
    header->addWidget(middleLabel_);
    header->addWidget(registerLabel_);

    scrollView_ = new QScrollArea(this);
    scrollView_->setWidgetResizable(false);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    buildBackgroundPicture();
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

void ViewController::buildBackgroundPicture() {
    QPixmap picture(":/images/Quenbril_Background.png");
    // Tests may run without the application's pictures: then there is none behind the strips.
    if (picture.isNull()) return;
    backgroundPicture_ = new QLabel(scrollView_->viewport());
    backgroundPicture_->setObjectName("backgroundPicture");
    backgroundPicture_->setScaledContents(true);
    backgroundPicture_->setPixmap(picture);
    backgroundPicture_->resize(picture.size() / 2);
    backgroundPicture_->lower();
}

}  // namespace quenbril
