#include "MonitorApp/preferences/DisplayPreferencesViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "MonitorApp/preferences/PreferencesAlerts.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/preferences/StripRefresh.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr int kMinMacros = 4;
constexpr int kMaxMacros = 8;
constexpr int kThicknessItems = 4;
constexpr int kBorderItems = 5;
/// How near the stored thickness must be to an item's thickness to select it.
constexpr float kThicknessTolerance = 0.1f;

/// The theme's user-defaults keys, removed by a reset.
constexpr std::array<const char*, 9> kThemeKeys = {
    "colorForAudio",
    "colorForRF",
    "colorForRFA",
    "colorForRFB",
    "colorForRFC",
    "colorForRFD",
    "colorForQL",
    ColorHelper::kLineThicknessKey,
    "colorForChannelStripBorder",
};

QComboBox* popUp(QWidget* parent, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    return box;
}

}  // namespace

DisplayPreferencesViewController::DisplayPreferencesViewController(
    const PreferencesServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildForm();
    viewDidLoad();
}

DisplayPreferencesViewController::~DisplayPreferencesViewController() = default;

void DisplayPreferencesViewController::buildForm() {
    lineThickness_ = popUp(this, {"1 pt", "2 pt", "3 pt", "4 pt"});
    audioColor_ = new ColorWell(this);
    rfColor_ = new ColorWell(this);
    rfAColor_ = new ColorWell(this);
    rfBColor_ = new ColorWell(this);
    rfCColor_ = new ColorWell(this);
    rfDColor_ = new ColorWell(this);
    qlColor_ = new ColorWell(this);
    channelStripBorderWidth_ = popUp(this, {"1 pt", "2 pt", "3 pt", "4 pt", "5 pt"});
    numberOfMacrosInChat_ = popUp(this, {"4", "5", "6", "7", "8"});
    flipChannelStripLabels_ = new QCheckBox("Flip channel strip labels", this);
    channelStripBorderColor_ = new ColorWell(this);
    playerOpacity_ = new QSlider(Qt::Horizontal, this);
    playerOpacity_->setRange(0, 100);
    titleShow_ = popUp(this, {"Strip name", "Role name", "Performer name", "Receiver name"});
    showSCPAlerts_ = new QCheckBox("Show SCP alerts", this);
    showBatteryAlerts_ = new QCheckBox("Show battery alerts", this);
    showRFAlerts_ = new QCheckBox("Show RF alerts", this);

    auto* colors = new QGroupBox("Level display", this);
    auto* colorGrid = new QGridLayout(colors);
    const std::array<std::pair<const char*, ColorWell*>, 7> levelWells = {{
        {"Audio", audioColor_},
        {"RF", rfColor_},
        {"RF A", rfAColor_},
        {"RF B", rfBColor_},
        {"RF C", rfCColor_},
        {"RF D", rfDColor_},
        {"Quality", qlColor_},
    }};
    for (int i = 0; i < static_cast<int>(levelWells.size()); ++i) {
        colorGrid->addWidget(new QLabel(levelWells[i].first, colors), i % 4, (i / 4) * 2);
        colorGrid->addWidget(levelWells[i].second, i % 4, (i / 4) * 2 + 1);
    }
    colorGrid->addWidget(new QLabel("Line thickness", colors), 4, 0);
    colorGrid->addWidget(lineThickness_, 4, 1, 1, 3);

    auto* strips = new QGroupBox("Channel strips", this);
    auto* stripGrid = new QGridLayout(strips);
    stripGrid->addWidget(new QLabel("Border width", strips), 0, 0);
    stripGrid->addWidget(channelStripBorderWidth_, 0, 1);
    stripGrid->addWidget(new QLabel("Border colour", strips), 1, 0);
    stripGrid->addWidget(channelStripBorderColor_, 1, 1);
    stripGrid->addWidget(new QLabel("Title shows", strips), 2, 0);
    stripGrid->addWidget(titleShow_, 2, 1);
    stripGrid->addWidget(new QLabel("Player picture", strips), 3, 0);
    stripGrid->addWidget(playerOpacity_, 3, 1);
    stripGrid->addWidget(flipChannelStripLabels_, 4, 0, 1, 2);

    auto* alerts = new QGroupBox("Alerts and chat", this);
    auto* alertGrid = new QGridLayout(alerts);
    alertGrid->addWidget(showSCPAlerts_, 0, 0, 1, 2);
    alertGrid->addWidget(showBatteryAlerts_, 1, 0, 1, 2);
    alertGrid->addWidget(showRFAlerts_, 2, 0, 1, 2);
    alertGrid->addWidget(new QLabel("Chat macros", alerts), 3, 0);
    alertGrid->addWidget(numberOfMacrosInChat_, 3, 1);
    alertGrid->setColumnStretch(2, 1);

    auto* reset = new QPushButton("Reset to defaults", this);
    auto* cancel = new QPushButton("Cancel", this);
    auto* apply = new QPushButton("Apply", this);
    auto* saveAndClose = new QPushButton("Save and close", this);
    saveAndClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reset);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(apply);
    buttons->addWidget(saveAndClose);

    auto* columns = new QHBoxLayout;
    columns->addWidget(colors);
    columns->addWidget(strips);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(alerts);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(reset, &QPushButton::clicked, this, [this] { resetToDefaults(); });
    connect(cancel, &QPushButton::clicked, this, [this] { cancelClicked(); });
    connect(apply, &QPushButton::clicked, this, [this] { applyClicked(); });
    connect(saveAndClose, &QPushButton::clicked, this, [this] { this->saveAndClose(); });
}

std::array<std::pair<const char*, ColorWell*>, 8> DisplayPreferencesViewController::wells() const {
    return {{
        {"colorForAudio", audioColor_},
        {"colorForRF", rfColor_},
        {"colorForRFA", rfAColor_},
        {"colorForRFB", rfBColor_},
        {"colorForRFC", rfCColor_},
        {"colorForRFD", rfDColor_},
        {"colorForQL", qlColor_},
        {"colorForChannelStripBorder", channelStripBorderColor_},
    }};
}

void DisplayPreferencesViewController::setColorPicker(const ColorWell::Picker& picker) {
    for (const auto& [key, well] : wells()) well->setPicker(picker);
}

void DisplayPreferencesViewController::viewDidLoad() { LockableViewController::viewDidLoad(); }

void DisplayPreferencesViewController::viewDidAppear() {
    const UserSettingsManager& settings = services_.settings;
    showLineThickness();
    showThemeColors();
    const int border = settings.channelStripBorder();
    if (border >= 1 && channelStripBorderWidth_->count() > border - 1) {
        channelStripBorderWidth_->setCurrentIndex(border - 1);
    }
    const int macros = settings.chatMacroCount();
    if (macros >= kMinMacros && numberOfMacrosInChat_->count() > macros - kMinMacros) {
        numberOfMacrosInChat_->setCurrentIndex(macros - kMinMacros);
    }
    playerOpacity_->setValue(settings.showImages());
    // A title mode past the items would leave the pop-up without a selection.
    const int title = settings.titleShows();
    if (title >= 0 && title < titleShow_->count()) titleShow_->setCurrentIndex(title);
    flipChannelStripLabels_->setChecked(settings.flipChannelStrip());
    readFromUserDefaults();
}

void DisplayPreferencesViewController::viewWillDisappear() { save(); }

void DisplayPreferencesViewController::showLineThickness() {
    const float thickness = services_.colors.thickness();
    for (int i = 0; i < kThicknessItems; ++i) {
        if (std::fabs(thickness - static_cast<float>(i + 1)) < kThicknessTolerance) {
            lineThickness_->setCurrentIndex(i);
            return;
        }
    }
}

void DisplayPreferencesViewController::showThemeColors() {
    const ColorHelper& colors = services_.colors;
    audioColor_->setColor(ColorHelper::colorForArray(colors.audioColor()));
    rfColor_->setColor(ColorHelper::colorForArray(colors.rfColor()));
    rfAColor_->setColor(ColorHelper::colorForArray(colors.rfAColor()));
    rfBColor_->setColor(ColorHelper::colorForArray(colors.rfBColor()));
    rfCColor_->setColor(ColorHelper::colorForArray(colors.rfCColor()));
    rfDColor_->setColor(ColorHelper::colorForArray(colors.rfDColor()));
    qlColor_->setColor(ColorHelper::colorForArray(colors.qlColor()));
    channelStripBorderColor_->setColor(
        ColorHelper::colorForArray(ColorHelper::colorForChannelStripBorder()));
}

void DisplayPreferencesViewController::readFromUserDefaults() {
    const UserSettingsManager& settings = services_.settings;
    const int border = settings.channelStripBorder();
    if (border >= 1 && border < channelStripBorderWidth_->count()) {
        channelStripBorderWidth_->setCurrentIndex(border - 1);
    }
    const int macros = settings.chatMacroCount();
    if (macros >= kMinMacros && macros <= kMaxMacros) {
        numberOfMacrosInChat_->setCurrentIndex(macros - kMinMacros);
    }
    flipChannelStripLabels_->setChecked(settings.flipChannelStrip());
    showSCPAlerts_->setChecked(settings.showSCPAlerts());
    showRFAlerts_->setChecked(settings.showRFAlerts());
    showBatteryAlerts_->setChecked(settings.showBatteryAlerts());
}

void DisplayPreferencesViewController::save() {
    UserDefaults& defaults = services_.defaults;
    UserSettingsManager& settings = services_.settings;
    NotificationCenter& center = services_.center;

    bool stored = true;
    for (const auto& [key, well] : wells()) {
        stored &= ColorHelper::saveColorForKey(key, well->color());
    }
    stored &=
        defaults.setDouble(lineThickness_->currentIndex() + 1, ColorHelper::kLineThicknessKey);
    stored &= defaults.synchronize();
    // The wells pick through a modal dialog, so no colour panel is left open to close here.

    settings.setTitleShows(titleShow_->currentIndex());
    settings.setChannelStripBorder(channelStripBorderWidth_->currentIndex() + 1);
    settings.setChatMacroCount(numberOfMacrosInChat_->currentIndex() + kMinMacros);
    settings.setFlipChannelStrip(flipChannelStripLabels_->isChecked());
    settings.setShowSCPAlerts(showSCPAlerts_->isChecked());
    settings.setShowRFAlerts(showRFAlerts_->isChecked());
    settings.setShowBatteryAlerts(showBatteryAlerts_->isChecked());

    stored &= settings.saveSettings();
    services_.colors.updateColors();
    center.post(ChatNotification::kChatButtonsChanged);

    settings.setShowImages(playerOpacity_->value());
    stored &= settings.saveSettings();
    if (!stored) reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);

    refreshEveryStrip(services_.strips);
    center.post(kSettingsChangedNotification);
}

void DisplayPreferencesViewController::saveAndClose() {
    save();
    if (tabDelegate_) tabDelegate_->closeWindow();
}

void DisplayPreferencesViewController::cancelClicked() {
    // There is no discarding cancel: the pane saves as the window closes, or at once when it
    // stands alone.
    if (tabDelegate_) {
        tabDelegate_->closeWindow();
    } else {
        save();
    }
}

void DisplayPreferencesViewController::resetToDefaults() {
    UserDefaults& defaults = services_.defaults;
    for (const char* key : kThemeKeys) defaults.removeObjectForKey(key);
    services_.colors.updateColors();
    showLineThickness();
    showThemeColors();

    UserSettingsManager& settings = services_.settings;
    settings.setChannelStripBorder(2);
    settings.setFlipChannelStrip(false);
    settings.setChatMacroCount(kMaxMacros);
    settings.setShowSCPAlerts(true);
    settings.setShowRFAlerts(true);
    settings.setShowBatteryAlerts(true);
    readFromUserDefaults();
}

}  // namespace quenbril
