#include "MonitorApp/mainwindow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/ui/GroupButtonContainerWidget.h"
#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/controls/LongClickButton.h"
#include "MonitorApp/controls/QBButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/ToolSelector.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/mainwindow/StripAreaScroller.h"
#include "MonitorApp/mainwindow/ViewControllerDispatchWindow.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

/// Height of the header in points.
constexpr int kHeaderHeight = 56;

/// Size of the header's image buttons in points.
constexpr int kHeaderButtonWidth = 72;
constexpr int kHeaderButtonHeight = 44;
/// Width of the tool selector: three tools of 40 points.
constexpr int kToolSelectorWidth = 120;

}  // namespace

ViewController::ViewController(QWidget* parent)
    : ViewController(RemoteContext::fromSharedInstances(QtShortTimeClock::system()), parent) {}

ViewController::ViewController(const RemoteContext& context, QWidget* parent)
    : QWidget(parent),
      dispatchWindow_(std::make_unique<DispatchWindow>(*this)),
      dispatcher_(std::make_unique<ServerMessageDispatcher>(context, *dispatchWindow_)) {
    SegueTable segues;
    segues.add("showPreferences", [&settings = context.settings, &defaults = context.defaults] {
        return std::make_shared<PreferencesViewController>(settings, defaults,
                                                           ServerManager::sharedInstance());
    });
    setSegueTable(std::move(segues));
    buildViews();
}

ViewController::~ViewController() {
    *alive_ = false;
    // The strip manager outlives this window: it gives back the strip area and the group
    // buttons, which go with the window's widgets.
    if (ChannelStripManager* strips = ChannelStripManager::existingInstance()) {
        strips->releaseSuperView(stripArea_);
        strips->releaseGroupButtonView(groupButtonContainer_);
    }
    if (isLinkDelegate_ && ServerManager::sharedInstance().delegate() == this) {
        ServerManager::sharedInstance().setDelegate(nullptr);
    }
    if (prefViewController_) prefViewController_->setDelegate(nullptr);
    if (audioEngine_ && audioEngine_->delegate() == this) audioEngine_->setDelegate(nullptr);
}

void ViewController::setSegueTable(SegueTable table) {
    segueFactory_ = [table = std::move(table)](const std::string& identifier) {
        return table.make(identifier);
    };
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
        alertPresenter_->runModal(this, text);
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

}  // namespace quenbril

namespace quenbril {

// The header's buttons: the image buttons "Reset", "Snaps", "Chat" and the panel button
// "A"/"B" report to this controller as their delegate (by title); "Solo clear" is a long-click
// button (a click clears the solos, a long click hard-clears them); then the tool selector.
void ViewController::buildHeaderButtons(QWidget* header, QBoxLayout* layout) {
    auto imageButton = [&](const char* title, const char* upImage) {
        auto* button = new QBButton(header, QBButton::Style::Header);
        button->setObjectName(QString(title) + "Button");
        button->setTitle(title);
        if (upImage) button->setUpImage(upImage);
        button->setDelegate(this);
        button->setFixedSize(kHeaderButtonWidth, kHeaderButtonHeight);
        return button;
    };
    QBButton* reset = imageButton("Reset", "Alert_reset_up.png");
    auto* soloClear = new LongClickButton(header);
    soloClear->setObjectName("SoloClearButton");
    soloClear->setText("Solo clear");
    soloClear->setFocusPolicy(Qt::NoFocus);
    soloClear->setFixedHeight(kHeaderButtonHeight);
    soloClear->setDelegate(this);
    QBButton* snaps = imageButton("Snaps", nullptr);
    QBButton* chat = imageButton("Chat", "Chat_up.png");
    QBButton* panel = imageButton("A", nullptr);
    for (QWidget* button : std::initializer_list<QWidget*>{reset, soloClear, snaps, chat, panel}) {
        layout->addWidget(button);
    }
    setResetButton(reset);
    setSoloClearButton(soloClear);
    setChatButton(chat);
    setPanelButton(panel);

    auto* tools = new ToolSelector(UserSettingsManager::sharedInstance(), header);
    tools->setObjectName("toolSelector");
    tools->setFixedSize(kToolSelectorWidth, kHeaderButtonHeight);
    layout->addWidget(tools);
    setToolSelector(tools);
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
