#include "MonitorApp/settings/ColorHelper.h"

#include <array>
#include <cctype>
#include <cmath>

#include "foundation/Log.h"
#include "foundation/NumberRange.h"
#include "foundation/SharedInstance.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

// The shared theme is read from the application's defaults.
SharedInstance<ColorHelper> shared([] {
    return std::make_unique<ColorHelper>(UserDefaults::standardUserDefaults());
});

constexpr const char* kBorderKey = "colorForChannelStripBorder";

// Each component in the stored theme is 0..1.
const Array kDefaultAudio{0.5, 1.0, 0.5};
const Array kDefaultRF{1.0, 0.5, 0.0};
const Array kDefaultRFA{0.5, 0.5, 1.0};
const Array kDefaultRFB{1.0, 0.5, 0.5};
const Array kDefaultRFC{0.0, 1.0, 1.0};
const Array kDefaultRFD{1.0, 1.0, 0.0};
const Array kDefaultQL{1.0, 0.0, 1.0};
const Array kDefaultBorder{0.5, 0.5, 0.5};

constexpr std::array<const char*, 9> kGroupTable = {
    "#767676", "#EEE54E", "#60A9F0", "#F68F1D", "#2DFF72",
    "#F500AF", "#2BECF8", "#F5005E", "#F7F6F6",
};
constexpr std::array<const char*, 9> kChatTable = {
    "#FFFFFF", "#EEE54E", "#60A9F0", "#F68F1D", "#2DFF72",
    "#F500AF", "#2BECF8", "#F5005E", "#F7F6F6",
};

// A colour component is a finite number in 0..1: a NaN or an infinity stored once would be
// read back at every start.
bool isComponent(const Value& value) { return numberInRange(value, 0.0, 1.0).has_value(); }

// Red, green and blue, and perhaps alpha.
bool isColorArray(const Value& value) {
    const Array* array = value.arrayValue();
    if (!array || array->size() < 3 || array->size() > 4) return false;
    for (size_t i = 0; i < 3; ++i) {
        if (!isComponent((*array)[i])) return false;
    }
    return true;
}

bool isLineThickness(const Value& value) {
    auto v = numberInRange(value, 0.0, ColorHelper::kMaxLineThickness);
    return v && *v > 0.0;
}

Array storedColor(const UserDefaults& defaults, const char* key, const Array& fallback) {
    Value value = defaults.objectForKey(key);
    if (isColorArray(value)) return *value.arrayValue();
    if (!value.isNull()) {
        log(LogLevel::Warning, "The stored %s is not a colour; using the default", key);
    }
    return fallback;
}

Color rgb255(int red, int green, int blue) {
    return Color{red / 255.0, green / 255.0, blue / 255.0, 1.0};
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

ColorHelper& ColorHelper::sharedInstance() { return shared.get(); }

void ColorHelper::resetSharedInstance() { shared.reset(); }

ColorHelper::ColorHelper(const UserDefaults& defaults) : defaults_(defaults) { updateColors(); }

void ColorHelper::updateColors() {
    audioColor_ = storedColor(defaults_, "colorForAudio", kDefaultAudio);
    rfColor_ = storedColor(defaults_, "colorForRF", kDefaultRF);
    rfAColor_ = storedColor(defaults_, "colorForRFA", kDefaultRFA);
    rfBColor_ = storedColor(defaults_, "colorForRFB", kDefaultRFB);
    rfCColor_ = storedColor(defaults_, "colorForRFC", kDefaultRFC);
    rfDColor_ = storedColor(defaults_, "colorForRFD", kDefaultRFD);
    qlColor_ = storedColor(defaults_, "colorForQL", kDefaultQL);
    Value thickness = defaults_.objectForKey(kLineThicknessKey);
    lineThickness_ = isLineThickness(thickness) ? *thickness.floatValue() : 1.0f;
}

Array ColorHelper::colorForAudio() { return sharedInstance().audioColor_; }
Array ColorHelper::colorForRF() { return sharedInstance().rfColor_; }
Array ColorHelper::colorForRFA() { return sharedInstance().rfAColor_; }
Array ColorHelper::colorForRFB() { return sharedInstance().rfBColor_; }
Array ColorHelper::colorForRFC() { return sharedInstance().rfCColor_; }
Array ColorHelper::colorForRFD() { return sharedInstance().rfDColor_; }
Array ColorHelper::colorForQL() { return sharedInstance().qlColor_; }
float ColorHelper::lineThickness() { return sharedInstance().lineThickness_; }

Array ColorHelper::colorForChannelStripBorder() {
    return storedColor(UserDefaults::standardUserDefaults(), kBorderKey, kDefaultBorder);
}

Color ColorHelper::colorForArray(const Array& array) {
    auto component = [&](size_t i) -> double {
        return i < array.size() ? array[i].floatValue().value_or(0.0f) : 0.0;
    };
    return Color{component(0), component(1), component(2), 1.0};
}

bool ColorHelper::saveColorForKey(std::string_view key, const Color& color) {
    Array array{static_cast<float>(color.red), static_cast<float>(color.green),
                static_cast<float>(color.blue)};
    return UserDefaults::standardUserDefaults().setObject(array, key);
}

Color ColorHelper::colorFromHexString(std::string_view hex) {
    // Like a scan of a hexadecimal number: leading blanks and a "0x" are allowed, reading
    // stops at the first other character, and an overflow keeps the largest value.
    std::string_view rest = hex.empty() ? hex : hex.substr(1);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) {
        rest.remove_prefix(1);
    }
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X') &&
        isHexDigit(rest[2])) {
        rest.remove_prefix(2);
    }
    uint32_t v = 0;
    for (char c : rest) {
        if (!isHexDigit(c)) break;
        const uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        if (v > (UINT32_MAX >> 4)) {
            v = UINT32_MAX;
            break;
        }
        v = (v << 4) | digit;
    }
    return rgb255((v >> 16) & 255, (v >> 8) & 255, v & 255);
}

std::optional<Color> ColorHelper::colorForGroup(int32_t index) {
    if (index >= 0) {
        auto stored = UserDefaults::standardUserDefaults().arrayForKey(kGroupColorsKey);
        if (stored && static_cast<size_t>(index) < stored->size()) {
            const Value& element = (*stored)[static_cast<size_t>(index)];
            if (isColorDictionary(element)) {
                return colorFromDic(*element.dictionaryValue());
            }
        }
    }
    return defaultColorForGroup(index);
}

std::optional<Color> ColorHelper::defaultColorForGroup(int32_t index) {
    if (index >= 0 && index < static_cast<int32_t>(kGroupTable.size())) {
        return colorFromHexString(kGroupTable[static_cast<size_t>(index)]);
    }
    return std::nullopt;
}

std::optional<Color> ColorHelper::colorForChatGroup(int index) {
    if (index >= 0 && index < static_cast<int>(kChatTable.size())) {
        return colorFromHexString(kChatTable[static_cast<size_t>(index)]);
    }
    return std::nullopt;
}

Color ColorHelper::colorForChatName(const std::optional<std::string>& name) {
    if (!name) return *colorForChatGroup(0);
    Dictionary& colors = chatColors_;
    const Value& stored = colors[std::string_view(*name)];
    int index = 0;
    if (!stored.isNull()) {
        index = stored.intValue().value_or(0);
        if (index < 0 || index > 8) index = 0;
    } else {
        index = static_cast<int>(colors.size() & 7);
        colors.set(*name, index);
    }
    return *colorForChatGroup(index);
}

Dictionary ColorHelper::dicForColor(const Color& color) {
    return Dictionary{
        {"red", color.red},
        {"green", color.green},
        {"blue", color.blue},
        {"alpha", color.alpha},
    };
}

Color ColorHelper::colorFromDic(const Dictionary& d) {
    auto component = [&](const char* key) -> double { return d[key].floatValue().value_or(0.0f); };
    return Color{component("red"), component("green"), component("blue"), component("alpha")};
}

void ColorHelper::testColors() {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(kGroupColorsKey);
    defaults.synchronize();
    const Color group = colorForGroup(0).value_or(Color{});
    const Color back = colorFromDic(dicForColor(group));
    log(LogLevel::Debug, "Group colour 0 through a dictionary: %.3f %.3f %.3f %.3f", back.red,
        back.green, back.blue, back.alpha);
}

bool ColorHelper::isColorDictionary(const Value& value) {
    const Dictionary* d = value.dictionaryValue();
    return d && isComponent((*d)["red"]) && isComponent((*d)["green"]) &&
           isComponent((*d)["blue"]) && isComponent((*d)["alpha"]);
}

std::optional<Array> ColorHelper::groupColorTable(const Value& value) {
    const Array* colors = value.arrayValue();
    if (!colors || colors->size() > kMaxGroupColors) return std::nullopt;
    Array table;
    table.reserve(colors->size());
    for (const Value& c : *colors) {
        if (!isColorDictionary(c)) return std::nullopt;
        // Only the components are kept: anything else beside them would be stored for good.
        const Dictionary& d = *c.dictionaryValue();
        table.emplace_back(Dictionary{
            {"red", d["red"]}, {"green", d["green"]}, {"blue", d["blue"]}, {"alpha", d["alpha"]}});
    }
    return table;
}

namespace {

// The keys of the colour part of the settings file, and what each must hold.
enum class ColorSetting { ColorArray, LineThickness, GroupColors };
constexpr std::array<std::pair<const char*, ColorSetting>, 9> kColorSettings = {{
    {"groupColors", ColorSetting::GroupColors},
    {"colorForAudio", ColorSetting::ColorArray},
    {"colorForRF", ColorSetting::ColorArray},
    {"colorForRFA", ColorSetting::ColorArray},
    {"colorForRFB", ColorSetting::ColorArray},
    {"colorForRFC", ColorSetting::ColorArray},
    {"colorForRFD", ColorSetting::ColorArray},
    {"colorForChannelStripBorder", ColorSetting::ColorArray},
    {"lineThickness", ColorSetting::LineThickness},
}};

// The value to store for a setting of `kind`; none when it is not of that kind.
std::optional<Value> fitted(ColorSetting kind, const Value& value) {
    switch (kind) {
        case ColorSetting::ColorArray:
            if (isColorArray(value)) return value;
            break;
        case ColorSetting::LineThickness:
            if (isLineThickness(value)) return value;
            break;
        case ColorSetting::GroupColors:
            if (auto table = ColorHelper::groupColorTable(value)) return Value(std::move(*table));
            break;
    }
    return std::nullopt;
}

}  // namespace

Dictionary ColorHelper::getColorSettings() {
    const UserDefaults& defaults = UserDefaults::standardUserDefaults();
    Dictionary settings;
    for (const auto& [key, kind] : kColorSettings) {
        Value value = defaults.objectForKey(key);
        if (!value.isNull()) settings.set(key, value);
    }
    return settings;
}

bool ColorHelper::setColorSettings(const Dictionary& settings) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    bool written = true;
    for (const auto& [key, kind] : kColorSettings) {
        const Value& value = settings[key];
        if (value.isNull()) continue;
        std::optional<Value> stored = fitted(kind, value);
        if (!stored) {
            log(LogLevel::Warning, "Ignoring the colour setting %s of the wrong kind", key);
            continue;
        }
        written = defaults.setObject(*stored, key) && written;
    }
    return written;
}

Color ColorHelper::colorForLinkGroup(int index) {
    // Stand-ins for the platform's text background (dark appearance), brown, red, orange,
    // olive, green, blue, purple and light grey.
    static const std::array<Color, 9> colors = {{
        {0.118, 0.118, 0.118, 1},
        {0.6, 0.4, 0.2, 1},
        {1, 0, 0, 1},
        {1, 0.5, 0, 1},
        {0.6, 0.6, 0, 1},
        {0, 1, 0, 1},
        {0, 0, 1, 1},
        {0.5, 0, 0.5, 1},
        {0.7, 0.7, 0.7, 1},
    }};
    if (index < 0) return colors[0];
    if (index <= 8) return colors[static_cast<size_t>(index)];
    Color color = colors[1 + static_cast<size_t>(index & 7)];
    if (index & 8) {
        color = Color{color.red * 0.7, color.green * 0.7, color.blue * 0.7, 1};
    }
    return color;
}

Color ColorHelper::vozodDarkGray() { return rgb255(98, 98, 98); }
Color ColorHelper::vozodDarkerGray() { return rgb255(46, 46, 48); }
Color ColorHelper::vozodLightGray() { return rgb255(88, 88, 88); }
Color ColorHelper::vozodGreen() { return rgb255(178, 255, 51); }
Color ColorHelper::vozodRed() { return rgb255(229, 57, 53); }
Color ColorHelper::messageRemovedColor() { return Color{0.5, 0.5, 0.5, 1}; }

}  // namespace quenbril
