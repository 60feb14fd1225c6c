#include "MonitorApp/chat/ui/ChatSettingsViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/chat/ui/ChatButton.h"
#include "MonitorApp/chat/ui/ChatMacroViewController.h"
#include "MonitorApp/controls/TextLengthLimit.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/preferences/PreferenceNotifications.h"
#include "MonitorApp/preferences/PreferencesAlerts.h"
#include "MonitorApp/preferences/SettingsTabViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/midi/MidiDeviceManager.h"

namespace quenbril {

namespace {

constexpr const char* kChatSettingsKey = "chatSettings";
constexpr const char* kMIDIEventReceived = "MIDIEventReceived";

/// The switches of "chatSettings", in the order the chat window reads them.
constexpr std::array<const char*, 4> kSwitchKeys = {"userMes", "snaps", "alerts", "onTop"};

/// The whole seconds the text gives, when it is a finite number (never below 0).
std::optional<int> secondsFrom(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    if (value <= 0) return 0;
    if (value >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

}  // namespace

ChatSettingsViewController::ChatSettingsViewController(const ChatServices& services,
                                                       QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    buildForm();
    viewDidLoad();
}

ChatSettingsViewController::~ChatSettingsViewController() = default;

void ChatSettingsViewController::buildForm() {
    chatUsername_ = new QLineEdit(this);
    chatUsername_->setMaximumWidth(160);

    auto* quick = new QGroupBox("Quick messages", this);
    auto* quickGrid = new QGridLayout(quick);
    for (int i = 0; i < kQuickMessageCount; ++i) {
        Slot& slot = slots_[static_cast<size_t>(i)];
        slot.number = i + 1;
        slot.text = new QLineEdit(quick);
        slot.learn = new QPushButton(kLearnTitle, quick);
        // Each row is labelled with the key of the chat window's button it edits (slot n is
        // the button "F<8 - n>"), in the keys' order.
        const int key = ChatButton::kSlotCount - slot.number;
        quickGrid->addWidget(new QLabel(QString("F%1").arg(key), quick), key - 1, 0);
        quickGrid->addWidget(slot.text, key - 1, 1);
        quickGrid->addWidget(slot.learn, key - 1, 2);
    }
    Slot& notifier = slots_.back();
    notifier.number = kNotifierSlot;
    notifier.learn = new QPushButton(kLearnTitle, quick);
    quickGrid->addWidget(new QLabel("Close page", quick), kQuickMessageCount, 0, 1, 2);
    quickGrid->addWidget(notifier.learn, kQuickMessageCount, 2);
    quickGrid->setColumnStretch(1, 1);
    for (const Slot& slot : slots_) {
        QPushButton* button = slot.learn;
        connect(button, &QPushButton::clicked, this, [this, button] { midiLearn(button); });
    }

    fontSize_ = new QComboBox(this);
    fontSize_->addItems({"Large", "Medium", "Small", "System"});
    buttonSize_ = new QComboBox(this);
    buttonSize_->addItems({"Large", "Medium", "Small"});
    chatFlash_ = new QCheckBox("Flash the header on new messages", this);
    flashTimeout_ = new QLineEdit(this);
    flashTimeout_->setMaximumWidth(80);
    // The chat window shows everything until told otherwise.
    userMes_ = new QCheckBox("Show user messages", this);
    snaps_ = new QCheckBox("Show snapshot changes", this);
    alerts_ = new QCheckBox("Show alerts", this);
    onTop_ = new QCheckBox("Chat window on top", this);
    for (QCheckBox* box : {userMes_, snaps_, alerts_, onTop_}) box->setChecked(true);

    auto* form = new QFormLayout;
    form->addRow("Chat name", chatUsername_);
    form->addRow("Chat font size", fontSize_);
    form->addRow("Quick button size", buttonSize_);
    form->addRow(chatFlash_);
    form->addRow("Close pages after (s, 0 never)", flashTimeout_);
    auto* switches = new QGroupBox("Chat window", this);
    auto* switchGrid = new QGridLayout(switches);
    switchGrid->addWidget(userMes_, 0, 0);
    switchGrid->addWidget(snaps_, 0, 1);
    switchGrid->addWidget(alerts_, 1, 0);
    switchGrid->addWidget(onTop_, 1, 1);

    auto* apply = new QPushButton("Apply", this);
    auto* saveAndClose = new QPushButton("Save and close", this);
    saveAndClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(saveAndClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(quick);
    layout->addWidget(switches);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(apply, &QPushButton::clicked, this, [this] { applyClicked(); });
    connect(saveAndClose, &QPushButton::clicked, this, [this] { this->saveAndClose(); });
}

void ChatSettingsViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    // The pane cuts its texts as they are typed (or set).
    std::vector<QLineEdit*> fields{chatUsername_};
    for (const Slot& slot : slots_) {
        if (slot.text) fields.push_back(slot.text);
    }
    for (QLineEdit* field : fields) {
        connect(field, &QLineEdit::textChanged, this,
                [this, field] { controlTextDidChange(field); });
    }
}

QLineEdit* ChatSettingsViewController::textField(int slot) const {
    if (slot < 1 || slot > kQuickMessageCount) return nullptr;
    return slots_[static_cast<size_t>(slot - 1)].text;
}

QPushButton* ChatSettingsViewController::learnButton(int slot) const {
    if (slot == kNotifierSlot) return slots_.back().learn;
    if (slot < 1 || slot > kQuickMessageCount) return nullptr;
    return slots_[static_cast<size_t>(slot - 1)].learn;
}

const ChatSettingsViewController::Slot* ChatSettingsViewController::slotOf(
    const QPushButton* button) const {
    for (const Slot& slot : slots_) {
        if (slot.learn == button) return &slot;
    }
    return nullptr;
}

void ChatSettingsViewController::viewDidAppear() {
    UserDefaults& defaults = services_.defaults;
    // A stored index the pop-up no longer has leaves the pop-up as it is.
    if (services_.settings.chatFontSize() >= 0 &&
        services_.settings.chatFontSize() < fontSize_->count()) {
        fontSize_->setCurrentIndex(services_.settings.chatFontSize());
    }
    if (services_.settings.chatButtonSize() >= 0 &&
        services_.settings.chatButtonSize() < buttonSize_->count()) {
        buttonSize_->setCurrentIndex(services_.settings.chatButtonSize());
    }
    for (const Slot& slot : slots_) {
        if (slot.text) {
            slot.text->setText(QString::fromStdString(
                defaults.stringForKey(UserSettingsManager::chatButtonKey(slot.number))
                    .value_or("")));
        }
        if (!defaults.objectForKey(UserSettingsManager::chatButtonMidiKey(slot.number)).isNull()) {
            slot.learn->setText(kClearTitle);
        }
    }
    chatFlash_->setChecked(services_.settings.chatFlash());
    chatUsername_->setText(QString::fromStdString(services_.settings.chatUsername()));
    loadSettings();
    midiObserver_ = services_.center.addObserver(
        kMIDIEventReceived, [this](const Notification& n) { MIDIEventReceived(n); });
}

void ChatSettingsViewController::viewWillDisappear() {
    saveSettings();
    midiObserver_.reset();
}

void ChatSettingsViewController::loadSettings() {
    // A stored value that is not a dictionary reads as missing: the switches stay as they are.
    if (auto stored = services_.defaults.dictionaryForKey(kChatSettingsKey)) {
        const std::array<QCheckBox*, 4> boxes = {userMes_, snaps_, alerts_, onTop_};
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (auto on = (*stored)[kSwitchKeys[i]].intValue()) boxes[i]->setChecked(*on != 0);
        }
    }
    chatFlash_->setChecked(services_.settings.chatFlash());
    flashTimeout_->setText(QString::number(services_.settings.flashTimeout()));
}

void ChatSettingsViewController::controlTextDidChange(QLineEdit* field) {
    const QString text = field->text();
    const QString cut =
        limitToCodePoints(text, field == chatUsername_ ? kMaxNameLength : kMaxTextLength);
    if (cut == text) return;
    // Keep the caret where it was while typing, within the new text.
    const int caret = std::min(field->cursorPosition(), static_cast<int>(cut.size()));
    field->setText(cut);
    field->setCursorPosition(caret);
}

void ChatSettingsViewController::midiLearn(QPushButton* sender) {
    const Slot* slot = slotOf(sender);
    if (!slot) return;
    log(LogLevel::Debug, "Learning %d", slot->number);
    // At most one learn is pending: another button's pending learn ends. A button whose event
    // is stored keeps saying so.
    if (learningButton_ && learningButton_ != sender) {
        if (learningButton_->text() == kLearningTitle) learningButton_->setText(kLearnTitle);
        learningButton_ = nullptr;
        learningMacro_ = -1;
    }
    const QString title = sender->text();
    if (title == kClearTitle) {
        // Forgotten at once, without a save.
        UserDefaults& defaults = services_.defaults;
        const bool stored =
            defaults.removeObjectForKey(UserSettingsManager::chatButtonMidiKey(slot->number)) &&
            defaults.synchronize();
        if (!stored) reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);
        sender->setText(kLearnTitle);
    } else if (title == kLearnTitle) {
        if (!MidiDeviceManager::sharedDeviceManager().hasInput()) {
            // Nothing could ever be learnt: the user is told instead of "Learning..." for ever.
            if (alertPresenter_)
                alertPresenter_->runModal(this, ChatMacroViewController::kNoMidiInputAlert);
            return;
        }
        sender->setText(kLearningTitle);
        learningButton_ = sender;
        learningMacro_ = slot->number;
    } else {
        sender->setText(kLearnTitle);
        learningButton_ = nullptr;
        learningMacro_ = -1;
    }
}

void ChatSettingsViewController::MIDIEventReceived(const Notification& notification) {
    if (learningMacro_ < 0) return;
    // The main window lets events that come right after a learn pass by.
    services_.settings.setMacroLastUpdated(RunLoop::main().now());
    const Dictionary& e = notification.userInfo;
    const Array event = DispatchRules::midiKey(
        e["channel"].intValue().value_or(0), e["command"].intValue().value_or(0),
        e["byte1"].intValue().value_or(0), e["byte2"].intValue().value_or(0));
    UserDefaults& defaults = services_.defaults;
    const bool stored =
        defaults.setObject(Value(event), UserSettingsManager::chatButtonMidiKey(learningMacro_)) &&
        defaults.synchronize();
    if (!stored) reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);
    if (learningButton_) learningButton_->setText(kClearTitle);
    learningMacro_ = -1;
}

std::string ChatSettingsViewController::nameToSave() {
    const QString name = chatUsername_->text();
    if (!name.trimmed().isEmpty()) return name.toStdString();
    // Messages with an empty sender are dropped from every history: such a name would lose
    // this user's messages.
    const std::string kept = services_.settings.chatUsername();
    chatUsername_->setText(QString::fromStdString(kept));
    const std::string text = "The chat name cannot be empty. It stays \"" + kept + "\".";
    if (alertPresenter_) {
        alertPresenter_->runModal(this, text);
    } else {
        log(LogLevel::Warning, "%s", text.c_str());
    }
    return kept;
}

void ChatSettingsViewController::saveSettings() {
    UserDefaults& defaults = services_.defaults;
    NotificationCenter& center = services_.center;
    bool stored = true;

    services_.settings.setChatFontSize(fontSize_->currentIndex());
    services_.settings.setChatButtonSize(buttonSize_->currentIndex());
    for (const Slot& slot : slots_) {
        // An emptied field keeps the stored text: a slot's text cannot be cleared here.
        if (slot.text && !slot.text->text().isEmpty()) {
            stored &= defaults.setObject(Value(slot.text->text().toStdString()),
                                         UserSettingsManager::chatButtonKey(slot.number));
        }
    }
    if (auto seconds = secondsFrom(flashTimeout_->text()))
        services_.settings.setFlashTimeout(*seconds);
    flashTimeout_->setText(QString::number(services_.settings.flashTimeout()));
    center.post(ChatNotification::kChatMessagesChanged);

    services_.settings.setChatFlash(chatFlash_->isChecked());
    services_.settings.setChatUsername(nameToSave());
    if (linkSender_) {
        linkSender_->sendDictionary(LinkMessageBuilder::registerToChat(
            services_.settings.chatUsername(), ChatManager::uuid(), UUIDString::make()));
    }

    Dictionary switches;
    const std::array<QCheckBox*, 4> boxes = {userMes_, snaps_, alerts_, onTop_};
    for (size_t i = 0; i < boxes.size(); ++i) {
        switches.set(kSwitchKeys[i], int64_t{boxes[i]->isChecked() ? 1 : 0});
    }
    stored &= defaults.setObject(Value(std::move(switches)), kChatSettingsKey);
    stored &= defaults.synchronize();
    center.post(kSettingsChangedNotification);

    stored &= services_.settings.saveSettings();
    if (!stored) reportPreferencesNotSaved(this, alertPresenter_, services_.defaults);
}

void ChatSettingsViewController::saveAndClose() {
    saveSettings();
    if (tabDelegate_) tabDelegate_->closeWindow();
}

}  // namespace quenbril
