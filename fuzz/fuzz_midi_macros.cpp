// Feeds arbitrary bytes as the stored MIDI macro list ("ChatMacros" in the settings file), then
// MIDI events made from the same bytes through the macros, a learn, and a save. None may crash.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "fuzz/FuzzFiles.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    quenbril::fuzz::useTemporarySettingsHome("macros");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    std::optional<Value> stored = PropertyList::read(Bytes(data, data + size));
    if (!stored) return 0;
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (!defaults.setObject(*stored, ChatMacroManager::kDefaultsKey)) return 0;
    const auto chatName = [] { return UserSettingsManager::sharedInstance().chatUsername(); };
    ChatMacroManager macros(chatName);
    // Events with the fields of the first stored macros, and one of the wrong kinds.
    for (size_t i = 0; i < std::min<size_t>(macros.macros().size(), 4); ++i) {
        NotificationCenter::defaultCenter().post("MIDIEventReceived", macros.macros()[i]);
    }
    NotificationCenter::defaultCenter().post(
        "MIDIEventReceived",
        Dictionary{{"byte1", size > 0 ? data[0] : 0}, {"byte2", "x"}, {"channel", 1.5}});
    macros.learn("fuzz");
    NotificationCenter::defaultCenter().post("MIDIEventReceived",
                                             Dictionary{{"byte1", 60}, {"command", 144}});
    macros.saveValues();
    ChatMacroManager reloaded(chatName);
    if (reloaded.macros().size() != macros.macros().size()) std::abort();
    defaults.removeObjectForKey(ChatMacroManager::kDefaultsKey);
    return 0;
}
