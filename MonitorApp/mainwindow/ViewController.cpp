#include "MonitorApp/mainwindow/ViewController.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
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

/// A plain push button seen as the header's titled image button.
class PushButtonTitle : public TitledButton {
  public:
    explicit PushButtonTitle(QPushButton* button) : button_(button) {}
    std::string title() const override { return button_->text().toStdString(); }
    void setTitle(const std::string& title) override {
        button_->setText(QString::fromStdString(title));
    }

  private:
    QPushButton* button_;
};

QPushButton* headerButton(QWidget* header, const char* title) {
    auto* button = new QPushButton(title, header);
    button->setObjectName(QString(title) + "Button");
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedHeight(36);
    return button;
}

}  // namespace

ViewController::ViewController(QWidget* parent)
    : ViewController(RemoteContext::fromSharedInstances(QtShortTimeClock::system()), parent) {}

ViewController::ViewController(const RemoteContext& context, QWidget* parent)
    : QWidget(parent),
      dispatchWindow_(std::make_unique<DispatchWindow>(*this)),
      dispatcher_(std::make_unique<ServerMessageDispatcher>(context, *dispatchWindow_)) {
    SegueTable segues;
    segues.add("showPreferences", [] { return std::make_shared<PreferencesViewController>(); });
    setSegueTable(std::move(segues));
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
        alertPresenter_->runModal(text);
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
    const Color gray = ColorHelper::vozodLightGray();
    QPalette headerPalette = headerView_->palette();
    headerPalette.setColor(QPalette::Window, QColor::fromRgbF(gray.red, gray.green, gray.blue));
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
    registerLabel_->setFont(QFont("Nexa Bold", 14));
    groupView_ = new QWidget(headerView_);
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
    rightLabel_ = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headerView_);
    layout->addWidget(scrollView_, 1);
    layout->addWidget(rightLabel_);
}

}  // namespace quenbril

namespace quenbril {

// The header's buttons as plain push buttons: "Reset", "Solo clear" (a click clears the solos),
// "Snaps", "Chat", the panel button "A"/"B" and the three tools.
void ViewController::buildHeaderButtons(QWidget* header, QBoxLayout* layout) {
    QPushButton* reset = headerButton(header, "Reset");
    connect(reset, &QPushButton::clicked, this, [this] { resetButtonClicked(); });
    QPushButton* soloClear = headerButton(header, "Solo clear");
    connect(soloClear, &QPushButton::clicked, this, [this] { soloClearClicked(); });
    QPushButton* snaps = headerButton(header, "Snaps");
    connect(snaps, &QPushButton::clicked, this, [this] { showHideSnapshots(); });
    QPushButton* chat = headerButton(header, "Chat");
    connect(chat, &QPushButton::clicked, this, [this] { chatButtonClicked(); });
    QPushButton* panel = headerButton(header, "A");
    connect(panel, &QPushButton::clicked, this, [this, panel] {
        PushButtonTitle title(panel);
        QBButtonClicked(title);
    });
    for (QPushButton* button : {reset, soloClear, snaps, chat, panel}) layout->addWidget(button);

    auto* tools = new QButtonGroup(header);
    const char* toolTitles[] = {"Select", "Sel. zoom", "Zoom"};
    for (int tool = 0; tool < 3; ++tool) {
        QPushButton* button = headerButton(header, toolTitles[tool]);
        button->setCheckable(true);
        button->setChecked(tool == UserSettingsManager::sharedInstance().selectedTool());
        tools->addButton(button, tool);
        layout->addWidget(button);
    }
    connect(tools, &QButtonGroup::idClicked, this, [this](int tool) { selectedTool(tool); });
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
