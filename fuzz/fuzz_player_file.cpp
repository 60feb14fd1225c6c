// Feeds arbitrary bytes to the player file's reader and the players made from it, as a file
// the operator loads into the player list. None may crash, and what was read must write back
// as a player file that reads again.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/panels/PlayerFile.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    // The player manager reads the store at start: give it an empty one of its own.
    char pattern[] = "/tmp/quenbril-fuzz-players-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    setenv("XDG_CONFIG_HOME", pattern, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    const Bytes bytes(data, data + size);
    std::optional<Array> players = PlayerFile::fromBytes(bytes, "fuzz.pla", nullptr);
    if (!players) return 0;
    PlayerManager manager(UserDefaults::standardUserDefaults());
    manager.updateFromArray(*players);
    Array written;
    for (const auto& player : manager.players()) {
        player->displayName();
        written.push_back(player->propertyDic());
    }
    std::optional<Bytes> xml = PropertyList::write(Value(written), PropertyList::Format::Xml);
    if (!xml || !PlayerFile::fromBytes(*xml, "fuzz.pla", nullptr)) std::abort();
    return 0;
}
