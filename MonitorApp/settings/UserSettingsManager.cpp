#include "MonitorApp/settings/UserSettingsManager.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <variant>

#include "foundation/Log.h"
#include "foundation/NumberRange.h"
#include "foundation/SharedInstance.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

// The shared settings live in the application's defaults.
SharedInstance<UserSettingsManager> shared([] {
    return std::make_unique<UserSettingsManager>(UserDefaults::standardUserDefaults());
});

using Self = UserSettingsManager;

struct BoolField {
    bool (Self::*get)() const;
    void (Self::*set)(bool);
    bool importDefault;
};
struct IntField {
    int (Self::*get)() const;
    void (Self::*set)(int);
    int importDefault;
};
struct FloatField {
    double (Self::*get)() const;
    void (Self::*set)(float);
};
struct StringField {
    std::string (Self::*get)() const;
    void (Self::*set)(std::string);
};
using Field = std::variant<BoolField, IntField, FloatField, StringField>;

// What reading a record does when a key is missing (or holds a value of the wrong kind).
enum class Missing {
    Keep,     // the current value stays
    Zero,     // NO or 0
    Default,  // the import's default for the key
};

struct Entry {
    const char* key;
    Field field;
    Missing onLoad;
    // Not exported when `onImport` is empty.
    std::optional<Missing> onImport;
};

// The stored record, in the order the settings are declared. Keys are the property names.
const std::vector<Entry>& entries() {
    using M = Missing;
    static const std::vector<Entry> table = {
        {"showImages", IntField{&Self::showImages, &Self::setShowImages, 15}, M::Keep, M::Keep},
        {"actAsClient", BoolField{&Self::actAsClient, &Self::setActAsClient, false}, M::Zero, {}},
        {"soloOn", BoolField{&Self::soloOn, &Self::setSoloOn, true}, M::Zero, M::Zero},
        {"debugTextOn", BoolField{&Self::debugTextOn, &Self::setDebugTextOn, false}, M::Zero, {}},
        {"disableAllWarnings",
         BoolField{&Self::disableAllWarnings, &Self::setDisableAllWarnings, false},
         M::Zero,
         {}},
        {"rfRecover", BoolField{&Self::rfRecover, &Self::setRfRecover, true}, M::Keep, {}},
        {"chatFlash", BoolField{&Self::chatFlash, &Self::setChatFlash, false}, M::Zero, M::Zero},
        {"titleShows", IntField{&Self::titleShows, &Self::setTitleShows, 0}, M::Keep, M::Default},
        {"flipChannelStrip", BoolField{&Self::flipChannelStrip, &Self::setFlipChannelStrip, false},
         M::Keep, M::Default},
        {"chatMacroCount", IntField{&Self::chatMacroCount, &Self::setChatMacroCount, 8}, M::Keep,
         M::Default},
        {"warningSensitivity",
         IntField{&Self::warningSensitivity, &Self::setWarningSensitivity, 0},
         M::Zero,
         {}},
        {"lowSensitivity",
         IntField{&Self::lowSensitivity, &Self::setLowSensitivity, 0},
         M::Zero,
         {}},
        {"rfThreshold", IntField{&Self::rfThreshold, &Self::setRfThreshold, 50}, M::Keep, {}},
        {"batThreshold", IntField{&Self::batThreshold, &Self::setBatThreshold, 30}, M::Keep, {}},
        {"midiChannel", IntField{&Self::midiChannel, &Self::setMidiChannel, 15}, M::Keep, {}},
        {"midiCommand", IntField{&Self::midiCommand, &Self::setMidiCommand, 176}, M::Keep, {}},
        {"chatUsername", StringField{&Self::chatUsername, &Self::setChatUsername}, M::Keep,
         M::Keep},
        {"chatMode", IntField{&Self::chatMode, &Self::setChatMode, 0}, M::Keep, {}},
        {"qbIdentifier", StringField{&Self::qbIdentifier, &Self::setQbIdentifier}, M::Keep,
         M::Keep},
        {"chatIdentifier",
         StringField{&Self::chatIdentifier, &Self::setChatIdentifier},
         M::Keep,
         {}},
        {"showRFA", BoolField{&Self::showRFA, &Self::setShowRFA, true}, M::Keep, M::Default},
        {"showRFB", BoolField{&Self::showRFB, &Self::setShowRFB, true}, M::Keep, M::Default},
        {"showRFC", BoolField{&Self::showRFC, &Self::setShowRFC, true}, M::Keep, M::Default},
        {"showRFD", BoolField{&Self::showRFD, &Self::setShowRFD, true}, M::Keep, M::Default},
        {"showAudio", BoolField{&Self::showAudio, &Self::setShowAudio, true}, M::Keep, M::Default},
        {"showQuality", BoolField{&Self::showQuality, &Self::setShowQuality, true}, M::Keep,
         M::Default},
        {"showBatteryAlerts",
         BoolField{&Self::showBatteryAlerts, &Self::setShowBatteryAlerts, true}, M::Keep, M::Keep},
        {"showSCPAlerts", BoolField{&Self::showSCPAlerts, &Self::setShowSCPAlerts, true}, M::Keep,
         M::Keep},
        {"showRFAlerts", BoolField{&Self::showRFAlerts, &Self::setShowRFAlerts, true}, M::Keep,
         M::Keep},
        {"chatFontSize", IntField{&Self::chatFontSize, &Self::setChatFontSize, 0}, M::Keep,
         M::Default},
        {"chatButtonSize", IntField{&Self::chatButtonSize, &Self::setChatButtonSize, 0}, M::Keep,
         M::Default},
        {"streamingMode", IntField{&Self::streamingMode, &Self::setStreamingMode, 0}, M::Zero, {}},
        {"flashTimeout", IntField{&Self::flashTimeout, &Self::setFlashTimeout, 0}, M::Keep,
         M::Keep},
        {"longClickDuration", FloatField{&Self::longClickDuration, &Self::setLongClickDuration},
         M::Keep, M::Keep},
    };
    return table;
}

Value valueOf(const Self& self, const Field& field) {
    return std::visit(
        [&](const auto& f) -> Value {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, FloatField>) {
                // A single-precision number, as the record has always carried it.
                return Value(static_cast<float>((self.*f.get)()));
            } else {
                return Value((self.*f.get)());
            }
        },
        field);
}

// Applies `value` to the field when it has the field's kind (any number for the numeric
// fields, a string for the strings); otherwise the `missing` rule applies.
void apply(Self& self, const Field& field, const Value& value, Missing missing) {
    std::visit(
        [&](const auto& f) {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, BoolField>) {
                if (auto v = value.boolValue()) {
                    (self.*f.set)(*v);
                } else if (missing != Missing::Keep) {
                    (self.*f.set)(missing == Missing::Zero ? false : f.importDefault);
                }
            } else if constexpr (std::is_same_v<F, IntField>) {
                if (auto v = value.intValue()) {
                    (self.*f.set)(*v);
                } else if (missing != Missing::Keep) {
                    (self.*f.set)(missing == Missing::Zero ? 0 : f.importDefault);
                }
            } else if constexpr (std::is_same_v<F, FloatField>) {
                // A NaN or an infinity reads as a value of the wrong kind.
                if (auto v = numberInRange(value, -FLT_MAX, FLT_MAX)) {
                    (self.*f.set)(static_cast<float>(*v));
                }
            } else {
                if (const std::string* v = value.stringValue()) {
                    (self.*f.set)(*v);
                }
            }
        },
        field);
}

int randomRemoteNumber() {
    std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, 999)(generator);
}

bool isChatSettingsEntry(const std::string& key, const Value& value) {
    for (int n = 1; n <= 7; ++n) {
        if (key == UserSettingsManager::chatButtonKey(n)) return value.isString();
        if (key == UserSettingsManager::chatButtonMidiKey(n)) return value.isArray();
    }
    if (key == "chatSettings") return value.isDictionary();
    return false;
}

}  // namespace

UserSettingsManager& UserSettingsManager::sharedInstance() { return shared.get(); }

void UserSettingsManager::resetSharedInstance() { shared.reset(); }

UserSettingsManager::UserSettingsManager(UserDefaults& defaults)
    : defaults_(defaults), chatUsername_("Remote_" + std::to_string(randomRemoteNumber())) {
    if (auto record = defaults_.dictionaryForKey(kUserSettingsKey)) {
        applyStoredRecord(*record);
    }
    debugTextOn_ = false;
}

void UserSettingsManager::applyStoredRecord(const Dictionary& record) {
    for (const Entry& entry : entries()) {
        apply(*this, entry.field, record[entry.key], entry.onLoad);
    }
}

Dictionary UserSettingsManager::storedRecord() const {
    Dictionary record;
    for (const Entry& entry : entries()) {
        record.set(entry.key, valueOf(*this, entry.field));
    }
    return record;
}

bool UserSettingsManager::saveSettings() const {
    if (!defaults_.setObject(storedRecord(), kUserSettingsKey)) {
        log(LogLevel::Error, "Could not store the user settings");
        return false;
    }
    return true;
}

Dictionary UserSettingsManager::getSettings() const {
    Dictionary settings;
    for (const Entry& entry : entries()) {
        if (entry.onImport) {
            settings.set(entry.key, valueOf(*this, entry.field));
        }
    }
    return settings;
}

void UserSettingsManager::setSettings(const Dictionary& settings) {
    for (const Entry& entry : entries()) {
        if (entry.onImport) {
            apply(*this, entry.field, settings[entry.key], *entry.onImport);
        }
    }
}

Dictionary UserSettingsManager::getChatSettings() {
    const UserDefaults& defaults = UserDefaults::standardUserDefaults();
    Dictionary settings;
    auto copy = [&](const std::string& key) {
        Value value = defaults.objectForKey(key);
        if (!value.isNull()) settings.set(key, value);
    };
    for (int n = 1; n <= 7; ++n) {
        copy(chatButtonKey(n));
        copy(chatButtonMidiKey(n));
    }
    copy("chatSettings");
    return settings;
}

bool UserSettingsManager::setChatSettings(const Dictionary& settings) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    bool written = true;
    for (const auto& [key, value] : settings) {
        const std::string* name = key.stringValue();
        if (!name || !isChatSettingsEntry(*name, value)) {
            log(LogLevel::Warning, "Ignoring the chat setting %s", key.description().c_str());
            continue;
        }
        written = defaults.setObject(value, *name) && written;
    }
    return written;
}

std::string UserSettingsManager::chatUsername() const {
    std::lock_guard<std::mutex> lock(stringMutex_);
    return chatUsername_;
}

void UserSettingsManager::setChatUsername(std::string v) {
    std::lock_guard<std::mutex> lock(stringMutex_);
    chatUsername_ = std::move(v);
}

std::string UserSettingsManager::qbIdentifier() const {
    std::lock_guard<std::mutex> lock(stringMutex_);
    return qbIdentifier_;
}

void UserSettingsManager::setQbIdentifier(std::string v) {
    std::lock_guard<std::mutex> lock(stringMutex_);
    qbIdentifier_ = std::move(v);
}

std::string UserSettingsManager::chatIdentifier() const {
    std::lock_guard<std::mutex> lock(stringMutex_);
    return chatIdentifier_;
}

void UserSettingsManager::setChatIdentifier(std::string v) {
    std::lock_guard<std::mutex> lock(stringMutex_);
    chatIdentifier_ = std::move(v);
}

std::string UserSettingsManager::chatReceiver() const {
    std::lock_guard<std::mutex> lock(stringMutex_);
    return chatReceiver_;
}

void UserSettingsManager::setChatReceiver(std::string v) {
    std::lock_guard<std::mutex> lock(stringMutex_);
    chatReceiver_ = std::move(v);
}

void UserSettingsManager::setChatMacroCount(int v) {
    chatMacroCount_ = std::clamp(v, 0, kMaxChatMacroCount);
}

void UserSettingsManager::setLongRingBufLen(int v) {
    longRingBufLen_ = std::max(v, kMinLongRingBufLen);
}

void UserSettingsManager::setColumns(int v) { columns_ = std::max(v, 1); }

void UserSettingsManager::setLongClickDuration(float v) {
    longClickDuration_ = std::isnan(v) ? 0.75f : std::clamp(v, 0.0f, kMaxLongClickDuration);
}

}  // namespace quenbril
