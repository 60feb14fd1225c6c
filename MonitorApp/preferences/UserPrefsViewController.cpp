#include "MonitorApp/preferences/UserPrefsViewController.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/controls/TextLengthLimit.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "MonitorApp/preferences/PreferencesAlerts.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/preferences/StripRefresh.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

/// The client id whose station the server keeps out of single solo mode.
constexpr int64_t kSoloExcludedClientID = 4;

/// The duration the text gives, when the whole text is a finite number.
std::optional<float> durationFrom(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return static_cast<float>(value);
}

}  // namespace

UserPrefsViewController::UserPrefsViewController(const PreferencesServices& services,
                                                 QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildForm();
    viewDidLoad();
}

UserPrefsViewController::~UserPrefsViewController() = default;

void UserPrefsViewController::buildForm() {
    soloOn_ = new QCheckBox("Single solo mode", this);
    longClickDuration_ = new QLineEdit(this);
    longClickDuration_->setMaximumWidth(80);
    auto* apply = new QPushButton("Apply", this);
    auto* saveAndClose = new QPushButton("Save and close", this);
    saveAndClose->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(soloOn_);
    form->addRow("Long click duration (s)", longClickDuration_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(saveAndClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(apply, &QPushButton::clicked, this, [this] { applyClicked(); });
    connect(saveAndClose, &QPushButton::clicked, this, [this] { this->saveAndClose(); });
}

void UserPrefsViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    delegateTextField(longClickDuration_);
}

void UserPrefsViewController::viewDidAppear() {
    const UserSettingsManager& settings = services_.settings;
    soloOn_->setChecked(settings.soloOn());
    const int64_t clientID = services_.defaults.integerForKey(ClientDefaultsKeys::kClientID);
    const bool selectable = settings.clientsEnabled() && clientID != kSoloExcludedClientID;
    soloOn_->setEnabled(selectable);
    soloOn_->setToolTip(selectable ? QString() : QString(kSoloToolTip));
    longClickDuration_->setText(QString::asprintf("%.2f", settings.longClickDuration()));
}

void UserPrefsViewController::viewWillDisappear() { save(); }

void UserPrefsViewController::delegateTextField(QLineEdit* field) {
    connect(field, &QLineEdit::textChanged, this, [this, field] { controlTextDidChange(field); });
}

void UserPrefsViewController::controlTextDidChange(QLineEdit* field) {
    const QString text = field->text();
    QString fixed = field == longClickDuration_ ? QString(text).replace(',', '.')
                                                : limitToCodePoints(text, kMaxTextLength);
    if (fixed == text) return;
    // Keep the caret where it was while typing, within the new text.
    const int caret = std::min(field->cursorPosition(), static_cast<int>(fixed.size()));
    field->setText(fixed);
    field->setCursorPosition(caret);
}

void UserPrefsViewController::save() {
    UserSettingsManager& settings = services_.settings;
    settings.setSoloOn(soloOn_->isChecked());
    if (auto duration = durationFrom(longClickDuration_->text())) {
        settings.setLongClickDuration(*duration);
    }
    // Stored at once: nothing else may save the record before the program ends.
    if (!settings.saveSettings())
        reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);
    if (linkSender_) linkSender_->sendDictionary(LinkMessageBuilder::soloOn(settings.soloOn()));
    refreshEveryStrip(services_.strips);
    services_.center.post(kSettingsChangedNotification);
}

void UserPrefsViewController::saveAndClose() {
    save();
    if (tabDelegate_) tabDelegate_->closeWindow();
}

}  // namespace quenbril
