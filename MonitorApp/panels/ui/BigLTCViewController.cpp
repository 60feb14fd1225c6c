#include "MonitorApp/panels/ui/BigLTCViewController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <array>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr std::array<int32_t, 4> kPresetSizes{86, 128, 168, 196};
constexpr int32_t kStep = 10;

QString timecodeText(int32_t hours, int32_t minutes, int32_t seconds, int32_t frames) {
    return QString::asprintf("%02d:%02d:%02d:%02d", hours, minutes, seconds, frames);
}

}  // namespace

BigLTCViewController::BigLTCViewController(const PanelServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildView();
}

BigLTCViewController::~BigLTCViewController() = default;

void BigLTCViewController::buildView() {
    setWindowFlag(Qt::Window);
    setWindowTitle("Timecode");
    bigLabel_ = new QLabel(this);
    bigLabel_->setAlignment(Qt::AlignCenter);
    bigLabel_->setTextFormat(Qt::PlainText);
    setDigitFont(kDefaultFontSize);

    sizeButton_ = new QComboBox(this);
    sizeButton_->addItems({"Small", "Medium", "Large", "Huge"});
    channelButton_ = new QComboBox(this);
    smallerButton_ = new QPushButton("Smaller", this);
    largerButton_ = new QPushButton("Larger", this);
    alwaysOnTop_ = new QCheckBox("Always on top", this);
    dbLabel_ = new QLabel(this);
    statusLabel_ = new QLabel(this);
    for (QWidget* text : {static_cast<QWidget*>(alwaysOnTop_), static_cast<QWidget*>(dbLabel_),
                          static_cast<QWidget*>(statusLabel_)}) {
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        text->setPalette(palette);
    }

    // Chosen items only: rebuilding the menu or showing a size does not count as a choice.
    connect(sizeButton_, &QComboBox::activated, this, [this](int item) { sizeChanged(item); });
    connect(channelButton_, &QComboBox::activated, this, [this] { channelChanged(); });
    connect(smallerButton_, &QPushButton::clicked, this,
            [this] { sizeButtonClicked(kSmallerTag); });
    connect(largerButton_, &QPushButton::clicked, this, [this] { sizeButtonClicked(kLargerTag); });
    connect(alwaysOnTop_, &QCheckBox::clicked, this, [this] { alwaysOnTopChanged(); });

    auto* controls = new QHBoxLayout;
    controls->addWidget(channelButton_);
    controls->addWidget(sizeButton_);
    controls->addWidget(smallerButton_);
    controls->addWidget(largerButton_);
    controls->addStretch(1);
    controls->addWidget(statusLabel_);
    controls->addWidget(dbLabel_);
    controls->addWidget(alwaysOnTop_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(bigLabel_, 1);
    layout->addLayout(controls);
    resize(900, 260);
}

void BigLTCViewController::setDigitFont(int32_t pointSize) {
    QFont font(kFontFamily);
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(pointSize);
    bigLabel_->setFont(font);
}

bool BigLTCViewController::digitsFit(int32_t pointSize) {
    const QScreen* screen = this->screen();
    if (!screen) return true;
    const QFont kept = bigLabel_->font();
    setDigitFont(pointSize);
    // The window at its least around digits of that size, with the frame the window manager
    // puts around it.
    const QSize needed = minimumSizeHint() + (frameGeometry().size() - geometry().size());
    bigLabel_->setFont(kept);
    const QSize available = screen->availableGeometry().size();
    return needed.width() <= available.width() && needed.height() <= available.height();
}

int32_t BigLTCViewController::fittingSize(int32_t pointSize) {
    while (pointSize > kMinStoredFontSize && !digitsFit(pointSize)) --pointSize;
    return pointSize;
}

void BigLTCViewController::showDigitsAt(int32_t pointSize) {
    setDigitFont(pointSize);
    if (!isVisible()) return;
    // The window grows with its digits at once, and stays on the screen.
    resize(size().expandedTo(minimumSizeHint()));
    WindowFrameAutosave::placeOnScreen(*this);
}

void BigLTCViewController::setDigits(const QString& text, const QColor& color) {
    QPalette palette = bigLabel_->palette();
    if (palette.color(QPalette::WindowText) != color) {
        palette.setColor(QPalette::WindowText, color);
        bigLabel_->setPalette(palette);
    }
    if (bigLabel_->text() != text) bigLabel_->setText(text);
}

QColor BigLTCViewController::digitColor() const {
    return bigLabel_->palette().color(QPalette::WindowText);
}

// ---- Life cycle ----

void BigLTCViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setDigits("00:00:00:00", toQColor(ColorHelper::vozodRed()));
    viewLoaded_ = true;
}

void BigLTCViewController::viewWillAppear() {
    fontSize_ = kDefaultFontSize;
    const Value stored = services_.defaults.objectForKey(kFontSizeKey);
    if (stored.isInteger()) {
        const int64_t size = stored.longLongValue().value_or(0);
        if (size >= kMinStoredFontSize && size <= kMaxStoredFontSize) {
            // A size stored on a larger screen shrinks to one whose digits fit this one.
            fontSize_ = fittingSize(static_cast<int32_t>(size));
            setDigitFont(fontSize_);
        }
    }
}

void BigLTCViewController::viewDidAppear() {
    appeared_ = true;
    stripsEdited_ = services_.center.addObserver(
        kChannelStripsEditedNotification, [this](const Notification&) { refreshChannels(); });
    refreshChannels();
    const int64_t source = services_.timecode.tcCSIndex();
    chooseCS(source < 0 ? 0 : source);
    if (chosenCSID_) {
        const int item = channelButton_->findData(QVariant::fromValue<qlonglong>(*chosenCSID_));
        if (item >= 0) channelButton_->setCurrentIndex(item);
    }
    updateWindowLevel();
    WindowFrameAutosave::restore(*this, kFrameName);
    // The refresh runs while the window is shown, so a window opened again runs again.
    start();
    callback();
}

void BigLTCViewController::viewDidDisappear() {
    if (!appeared_) return;
    appeared_ = false;
    WindowFrameAutosave::save(*this, kFrameName);
    stripsEdited_.reset();
    LockableViewController::viewDidDisappear();
    UserDefaults& defaults = services_.defaults;
    defaults.setInteger(fontSize_, kFontSizeKey);
    defaults.synchronize();
    stop();
}

void BigLTCViewController::show() { presentWindow(); }

void BigLTCViewController::closeEvent(QCloseEvent* event) {
    event->accept();
    viewDidDisappear();
}

// ---- The refresh ----

void BigLTCViewController::start() {
    if (timer_.isValid()) return;
    timer_ = RunLoop::main().scheduleTimer(kRefreshInterval, true, [this] { callback(); });
}

void BigLTCViewController::stop() { timer_.invalidate(); }

void BigLTCViewController::callback() {
    LTCManager& manager = services_.timecode;
    const int64_t source = manager.tcCSIndex();
    const SMPTETimecode now = manager.getTimecode(source);
    // The age is the chosen source's own: the manager's last selection may be another source's
    // record when this one has none.
    const std::shared_ptr<ReceivedLTC> record = manager.recordFor(source);
    const QColor red = toQColor(ColorHelper::vozodRed());
    if (!record) {
        setDigits(timecodeText(0, 0, 0, 0), red);
        return;
    }
    const double age = RunLoop::main().now() - record->receiveLocalTime();
    if (age > kMaxAge) {
        setDigits(
            timecodeText(record->hours(), record->minutes(), record->seconds(), record->frames()),
            red);
    } else {
        setDigits(timecodeText(now.hours, now.mins, now.secs, now.frame),
                  toQColor(ColorHelper::vozodGreen()));
    }
}

// ---- Sources ----

void BigLTCViewController::refreshChannels() {
    channelButton_->clear();
    for (const auto& controller : services_.strips.controllers()) {
        const ChannelStripModel& model = controller->model();
        if (model.wirelessName() != kTimecodeWirelessName) continue;
        channelButton_->addItem(QString::fromStdString(model.name().value_or("")),
                                QVariant::fromValue<qlonglong>(model.csID()));
    }
}

void BigLTCViewController::chooseCS(int64_t csID) {
    for (const auto& controller : services_.strips.controllers()) {
        const ChannelStripModel& model = controller->model();
        if (model.csID() == csID || (csID == 0 && model.wirelessName() == kTimecodeWirelessName)) {
            chosenCSID_ = model.csID();
            break;
        }
    }
    services_.timecode.setTcCSIndex(chosenCSID_.value_or(0));
}

void BigLTCViewController::channelChanged() {
    const QVariant tag = channelButton_->currentData();
    if (!tag.isValid()) return;
    const int64_t csID = tag.toLongLong();
    services_.timecode.setTcCSIndex(csID);
    chooseCS(csID);
}

// ---- Size and level ----

void BigLTCViewController::sizeChanged(int item) {
    if (item < 0 || static_cast<size_t>(item) >= kPresetSizes.size()) return;
    showDigitsAt(fittingSize(kPresetSizes[static_cast<size_t>(item)]));
}

void BigLTCViewController::sizeButtonClicked(int tag) {
    if (tag == kSmallerTag && fontSize_ >= 51) {
        fontSize_ -= kStep;
    } else if (tag == kLargerTag && fontSize_ <= 259) {
        // The size stops where the digits still fit the screen.
        if (!digitsFit(fontSize_ + kStep)) return;
        fontSize_ += kStep;
    }
    showDigitsAt(fontSize_);
}

void BigLTCViewController::alwaysOnTopChanged() {
    UserDefaults& defaults = services_.defaults;
    defaults.setBool(alwaysOnTop_->isChecked(), kOnTopKey);
    defaults.synchronize();
    updateWindowLevel();
}

void BigLTCViewController::updateWindowLevel() {
    const bool onTop = services_.defaults.boolForKey(kOnTopKey);
    alwaysOnTop_->setChecked(onTop);
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    // Changing a window's flags takes it off screen.
    if (shown) QWidget::show();
}

}  // namespace quenbril
