// Feeds arbitrary property lists to the strip manager as the server's strip messages: a
// dictionary whose keys name the messages ("Channels", "ActiveChannels", "ChannelWarnings",
// "BatteryData", "LTCSample", "Snapshot", "GroupStates"...) and whose values are their values.
// Nothing may crash, and the per-strip tables must stay within bounds.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/PropertyList.h"
#include "fuzz/StripFuzzSetup.h"

using namespace quenbril;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StripFuzzSetup setup("strips");
    const std::optional<Value> root = PropertyList::read(data, size);
    if (!root || !root->dictionaryValue()) {
        return 0;
    }
    const Dictionary& messages = *root->dictionaryValue();
    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    auto arrayOf = [&](const char* key) -> const Array* { return messages[key].arrayValue(); };
    // The strip data as the message reader hands it to the manager.
    using R = LinkMessageReader;
    auto read = [&](const char* key, auto reader, auto apply) {
        if (!arrayOf(key)) return;
        const Dictionary message{{"Command", key}, {"Value", messages[key]}};
        if (auto records = reader(message)) apply(*records);
    };
    using Ids = std::vector<int64_t>;
    using IntPairs = FlatPairs<int32_t>;
    using TextPairs = FlatPairs<std::string>;
    if (const Array* a = arrayOf("Channels")) manager.initFromProperyArray(*a);
    read("ActiveChannels", R::stripIDs, [&](const Ids& r) { manager.activeChannelsReceived(r); });
    read("SoloedChannels", R::stripIDs, [&](const Ids& r) { manager.soloChannelsReceived(r); });
    read("AutoSoloedChannels", R::stripIDs,
         [&](const Ids& r) { manager.autoSoloChannelsReceived(r); });
    read("ChannelWarnings", R::intPairs,
         [&](const IntPairs& r) { manager.updateWarningsFromServer(r); });
    read("BatteryData", R::intPairs,
         [&](const IntPairs& r) { manager.updateBatteryDataFromServer(r); });
    read("BatteryTimeData", R::stringPairs,
         [&](const TextPairs& r) { manager.updateBatteryTimeDataFromServer(r); });
    read("AntennaData", R::stringPairs,
         [&](const TextPairs& r) { manager.updateAntennaDataFromServer(r); });
    read("LTCSample", R::ltcSamples,
         [&](const std::vector<LtcSampleRecord>& r) { manager.ltcSampleReceived(r); });
    if (const Dictionary* d = messages["Snapshot"].dictionaryValue()) {
        manager.applySnapshot(SnapshotManager::snapshotFromDictionary(*d));
    }
    manager.applyGroupStates(messages["GroupStates"]);
    manager.updateLTCData();
    manager.updateWarnings();
    manager.setPanelIndex(1);
    manager.setPanelIndex(0);
    setup.loop.runPending();
    setup.loop.advance(0.25);
    if (manager.controllers().size() > static_cast<size_t>(kMaxStrips)) std::abort();
    return 0;
}
