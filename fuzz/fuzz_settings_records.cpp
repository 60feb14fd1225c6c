// Feeds arbitrary property lists to the readers of outside records: a strip dictionary, an
// "LTC" message (stored, then read back at several ages), a player dictionary, exported
// general settings and colour values. None may crash, overflow or loop for long.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/Player.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

namespace {

quenbril::ManualRunLoop& loop() {
    static quenbril::ManualRunLoop manual(800000000.0);
    return manual;
}

void readColors(const quenbril::Value& value) {
    using quenbril::ColorHelper;
    if (const quenbril::Array* array = value.arrayValue()) {
        ColorHelper::colorForArray(*array);
        for (const quenbril::Value& element : *array) {
            if (ColorHelper::isColorDictionary(element)) {
                ColorHelper::colorFromDic(*element.dictionaryValue());
            }
        }
    } else if (const std::string* text = value.stringValue()) {
        ColorHelper::colorFromHexString(*text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    // The settings read the store at start: give them an empty one of their own.
    char pattern[] = "/tmp/quenbril-fuzz-settings-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    setenv("XDG_CONFIG_HOME", pattern, 1);
    quenbril::RunLoop::setMain(&loop());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    std::optional<Value> parsed = PropertyList::read(data, size);
    if (!parsed) return 0;
    if (const Dictionary* d = parsed->dictionaryValue()) {
        ChannelStripModel(*d).property();
        Player(*d).propertyDic();

        UserSettingsManager settings(UserDefaults::standardUserDefaults());
        settings.setSettings(*d);
        settings.getSettings();

        LTCManager ltc;
        ltc.tcReceived(*d);
        const int64_t id = (*d)["CSID"].longLongValue().value_or(0);
        for (double step : {0.0, 0.03, 1.5, 0.1}) {
            loop().advance(step);
            ltc.getTimecode(id);
        }
        for (const auto& [key, value] : *d) readColors(value);
    } else {
        readColors(*parsed);
    }
    return 0;
}
