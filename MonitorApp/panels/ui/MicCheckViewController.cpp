#include "MonitorApp/panels/ui/MicCheckViewController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/panels/ui/MicCheckTableModel.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

/// The check boxes of the black table: a grey box with a light rim and a white tick, where the
/// table's own colours would draw an unchecked box black on black.
class CheckBoxDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->palette.setColor(QPalette::Base, QColor(72, 72, 76));
        // The box's rim is drawn a shade darker than the window colour.
        option->palette.setColor(QPalette::Window, QColor(230, 230, 230));
        option->palette.setColor(QPalette::Text, Qt::white);
    }
};

}  // namespace

MicCheckViewController::MicCheckViewController(const PanelServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildView();
}

MicCheckViewController::~MicCheckViewController() = default;

void MicCheckViewController::buildView() {
    setWindowFlag(Qt::Window);
    model_ = new MicCheckTableModel(services_.strips, this);
    tableView_ = new QTableView(this);
    ListWindow::setUpTable(tableView_, true);
    // A selected row keeps white text on a blue that stands out from the black rows, whatever
    // the application's own selection colours.
    tableView_->setStyleSheet(
        "QTableView { background-color: black; color: white; selection-background-color: "
        "#2a5f9e; selection-color: white; }");
    tableView_->setItemDelegateForColumn(MicCheckTableModel::kChecked,
                                         new CheckBoxDelegate(tableView_));

    actSelector_ = new QComboBox(this);
    actSelector_->addItem("Current act");
    for (int act = 1; act <= kActs; ++act) actSelector_->addItem(QString("Act %1").arg(act));
    actLabel_ = new QLabel(this);
    actLabel_->setStyleSheet("color: white;");
    onTop_ = new QCheckBox("Always on top", this);
    onTop_->setStyleSheet("QCheckBox { color: white; }");
    QHBoxLayout* buttons =
        ListWindow::buttonBar(this, {{&checkButton_, "Check", [this] { checkedClicked(); }}},
                              {{&closeButton_, "Close", [this] { closeClicked(); }}});
    checkButton_->setToolTip("Checks the selected channels, or unchecks the checked ones");
    sendStatus_ = new QLabel("Not sent: not connected to the server.", this);
    sendStatus_->setObjectName("sendStatus");
    // A warning's yellow, which reads well on the window's black.
    sendStatus_->setStyleSheet("color: #FFE664");
    sendStatus_->hide();
    // Beside the Check button, before the bar's stretch.
    buttons->insertWidget(1, sendStatus_);

    connect(actSelector_, &QComboBox::currentIndexChanged, this, [this] { update(); });
    connect(onTop_, &QCheckBox::clicked, this, [this] { onTopChanged(); });
    // A click in the check box column ticks that row alone.
    connect(tableView_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() != MicCheckTableModel::kChecked) return;
        tableView_->selectRow(index.row());
        checkedClicked();
    });

    auto* top = new QHBoxLayout;
    top->addWidget(actSelector_);
    top->addWidget(actLabel_, 1);
    top->addWidget(onTop_);
    ListWindow::layOut(this, 12, -1, top, tableView_, buttons);
    resize(640, 480);
}

// ---- Life cycle ----

void MicCheckViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    tableView_->setModel(model_);
    viewLoaded_ = true;
}

void MicCheckViewController::viewDidAppear() {
    appeared_ = true;
    WindowFrameAutosave::restore(*this, kFrameName);
    stripChecked_ =
        services_.center.addObserver(kChannelStripCheckedNotification, [this](const Notification&) {
            // The records are the server's again.
            sendStatus_->hide();
            update();
        });
    updateWindowLevel();
    update();
}

void MicCheckViewController::viewDidDisappear() {
    if (!appeared_) return;
    appeared_ = false;
    stripChecked_.reset();
    LockableViewController::viewDidDisappear();
    WindowFrameAutosave::save(*this, kFrameName);
}

void MicCheckViewController::show() { presentWindow(); }

void MicCheckViewController::closeEvent(QCloseEvent* event) {
    event->accept();
    viewDidDisappear();
}

// ---- Actions ----

int64_t MicCheckViewController::shownAct() const {
    const int item = actSelector_->currentIndex();
    if (item <= 0) return int64_t{services_.settings.currentAct()} + 1;
    return item;
}

void MicCheckViewController::update() {
    const QString title = QString("Showing ACT %1").arg(shownAct());
    setWindowTitle(title);
    actLabel_->setText(title);
    model_->reloadData();
}

int MicCheckViewController::numberOfRowsInTableView() const {
    return static_cast<int>(services_.strips.controllers().size());
}

std::vector<int> MicCheckViewController::selectedRows() const {
    return ListWindow::selectedRows(tableView_);
}

void MicCheckViewController::checkedClicked() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return;
    // A tick the server cannot hear is not made here either: the record would show a check
    // nobody else sees, and the server's next records would take it away unannounced.
    if (link_ && !link_->maySend()) {
        sendStatus_->show();
        return;
    }
    sendStatus_->hide();
    const std::string user = services_.settings.chatUsername();
    for (int row : rows) {
        // The rows name the strips of the last reload; a "Channels" message may have removed
        // one since, and a strip no longer listed is not ticked.
        ChannelStripController* controller = model_->controllerAt(row);
        if (!controller) continue;
        MicCheckState& check = controller->state().micCheckState();
        check.setChecked(!check.checked());
        check.setUser(user);
        check.setTime(Date{RunLoop::main().now()});
        if (ChannelStripView* view = controller->view())
            view->updateAppearance(controller->state());
        update();
        services_.center.post(kChannelCheckClickedNotification,
                              Dictionary{{"index", controller->model().csID()},
                                         {"sender", user},
                                         {"uuid", ChatManager::uuid()}});
    }
}

void MicCheckViewController::onTopChanged() {
    UserDefaults& defaults = services_.defaults;
    defaults.setBool(onTop_->isChecked(), kOnTopKey);
    defaults.synchronize();
    updateWindowLevel();
}

void MicCheckViewController::updateWindowLevel() {
    const bool onTop = services_.defaults.boolForKey(kOnTopKey);
    onTop_->setChecked(onTop);
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    // Changing a window's flags takes it off screen.
    if (shown) QWidget::show();
}

void MicCheckViewController::closeClicked() { close(); }

}  // namespace quenbril
