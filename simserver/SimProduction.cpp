#include "simserver/SimProduction.h"

#include <algorithm>

#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "simserver/SimSignals.h"

namespace quenbril {

namespace {

Dictionary message(std::string_view command, Value value) {
    return LinkMessageBuilder::message(command, std::move(value));
}

const char* const kStripNames[] = {
    "Lead vocal", "Juliet",   "Romeo",      "Nurse",      "Mercutio", "Tybalt",
    "Friar",      "Benvolio", "Capulet",    "Lady C",     "Paris",    "Chorus 1",
    "Chorus 2",   "Chorus 3", "Band--Keys", "Band--Bass", "Narrator", "Prince",
    "Balthasar",  "Sampson",  "Gregory",    "Peter",      "Abram",    "Apothecary",
};

struct PlayerSeed {
    const char* name;
    const char* role;
    const char* comments;
};
const PlayerSeed kPlayers[] = {
    {"Ann Lindqvist", "Juliet", "Mic behind the left ear"},
    {"Ben Okafor", "Romeo", "Sweats a lot: check the element at the interval"},
    {"Cleo Marsh", "Nurse", ""},
    {"Dev Raman", "Mercutio", "Quick change in act 3"},
    {"Eli Novak", "", "Swing, covers Tybalt and Paris"},
    {"Fay Duarte", "Narrator", ""},
};

void put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}

/// A small uncompressed RGB TIFF of one colour: the performer's picture.
Bytes solidTiff(uint8_t r, uint8_t g, uint8_t b) {
    constexpr uint16_t kSide = 16;
    constexpr uint32_t kEntries = 10;
    constexpr uint32_t kIfdEnd = 8 + 2 + kEntries * 12 + 4;
    constexpr uint32_t kBitsOffset = kIfdEnd;
    constexpr uint32_t kPixelsOffset = kBitsOffset + 6;
    constexpr uint32_t kPixelBytes = kSide * kSide * 3;
    Bytes t{'I', 'I', 42, 0};
    put32(t, 8);
    put16(t, kEntries);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put16(t, tag);
        put16(t, type);
        put32(t, count);
        put32(t, value);  // a SHORT sits in the low half, little-endian
    };
    constexpr uint16_t kShort = 3, kLong = 4;
    entry(256, kShort, 1, kSide);         // width
    entry(257, kShort, 1, kSide);         // height
    entry(258, kShort, 3, kBitsOffset);   // bits per sample: 8, 8, 8
    entry(259, kShort, 1, 1);             // no compression
    entry(262, kShort, 1, 2);             // RGB
    entry(273, kLong, 1, kPixelsOffset);  // strip offset
    entry(277, kShort, 1, 3);             // samples per pixel
    entry(278, kShort, 1, kSide);         // rows per strip
    entry(279, kLong, 1, kPixelBytes);    // strip byte count
    entry(284, kShort, 1, 1);             // chunky
    put32(t, 0);                          // no further directory
    put16(t, 8);
    put16(t, 8);
    put16(t, 8);
    for (uint32_t i = 0; i < kSide * kSide; ++i) {
        t.push_back(r);
        t.push_back(g);
        t.push_back(b);
    }
    return t;
}

Array idArray(const std::vector<int64_t>& ids) {
    Array a;
    for (int64_t id : ids) a.push_back(Value(id));
    return a;
}

}  // namespace

std::string SimPlayer::displayName() const {
    return roleName.empty() ? name : name + " as " + roleName;
}

std::string SimProduction::playerFor(const std::string& stripName) const {
    // A strip is named after the role whose performer wears its microphone.
    for (const SimPlayer& p : players_) {
        if (!p.roleName.empty() && p.roleName == stripName) return p.displayName();
    }
    return "No player";
}

SimProduction::SimProduction(int channels) {
    channels = std::clamp(channels, 1, 128);
    for (const auto& p : kPlayers) players_.push_back({p.name, p.role, p.comments});
    constexpr size_t kNameCount = std::size(kStripNames);
    for (int i = 0; i < channels; ++i) {
        SimStrip s;
        // Ids look like the random 32-bit ids strips are made with, but stay the same each run.
        s.csID = 0x51A70000LL + 17 * (i + 1);
        s.audioInput = i;
        s.name = i < static_cast<int>(kNameCount) ? kStripNames[i] : "Ch " + std::to_string(i + 1);
        s.wirelessName = "Rx " + std::to_string(i / 2 + 1) + (i % 2 ? " B" : " A");
        s.playerName = playerFor(s.name);
        s.panel = i < (channels + 1) / 2 ? "A" : "B";
        s.groupIndex = i < channels - 1 ? 1 + (i % 4) : 0;
        strips_.push_back(std::move(s));
    }
    // A spare strip the server keeps but does not monitor (no level byte, no strip on the remote).
    if (channels >= 8) {
        SimStrip& spare = strips_[static_cast<size_t>(channels - 2)];
        spare.name = "Spare";
        spare.wirelessName = "No device";
        spare.playerName = "No player";
        spare.enabled = false;
        spare.groupIndex = 0;
    }
    // The last strip carries the show's timecode.
    SimStrip& tc = strips_.back();
    tc.name = "Timecode";
    tc.wirelessName = kTimecodeWirelessName;
    tc.playerName = "No player";
    tc.timecode = true;
    tc.groupIndex = 0;
    for (const SimStrip& s : strips_) {
        if (s.enabled) enabled_.push_back(&s);
    }
}

const SimStrip* SimProduction::strip(int64_t csID) const {
    for (const SimStrip& s : strips_) {
        if (s.csID == csID) return &s;
    }
    return nullptr;
}

std::optional<size_t> SimProduction::positionOf(int64_t csID) const {
    for (size_t i = 0; i < enabled_.size(); ++i) {
        if (enabled_[i]->csID == csID) return i;
    }
    return std::nullopt;
}

std::vector<int64_t> SimProduction::listened() const {
    std::vector<int64_t> ids = active_;
    ids.insert(ids.end(), soloed_.begin(), soloed_.end());
    return ids;
}

bool SimProduction::toggleActive(int64_t csID) {
    if (!positionOf(csID)) return false;
    if (std::find(soloed_.begin(), soloed_.end(), csID) != soloed_.end()) return true;
    auto it = std::find(active_.begin(), active_.end(), csID);
    if (it != active_.end()) {
        active_.erase(it);
    } else {
        active_.push_back(csID);
    }
    return true;
}

bool SimProduction::activateSingle(int64_t csID) {
    if (!positionOf(csID)) return false;
    if (std::find(soloed_.begin(), soloed_.end(), csID) != soloed_.end()) return true;
    if (active_.size() == 1 && active_[0] == csID) {
        active_.clear();
    } else {
        active_.assign(1, csID);
    }
    return true;
}

bool SimProduction::soloOnly(int64_t csID) {
    if (!positionOf(csID)) return false;
    std::erase(active_, csID);
    soloed_.assign(1, csID);
    return true;
}

std::string SimProduction::namesOf(const std::vector<int64_t>& ids) const {
    if (ids.empty()) return "none";
    std::string names;
    for (int64_t id : ids) {
        if (!names.empty()) names += ", ";
        const SimStrip* s = strip(id);
        names += s ? "\"" + s->name + "\"" : std::to_string(id);
    }
    return names;
}

bool SimProduction::toggleGroup(int32_t group) {
    if (group < 1 || group > kGroups) return false;
    int32_t& state = groupStates_[static_cast<size_t>(group - 1)];
    state = state == 0 ? 1 : 0;
    return true;
}

bool SimProduction::setGroupHard(int32_t group) {
    if (group < 1 || group > kGroups) return false;
    groupStates_[static_cast<size_t>(group - 1)] = 2;
    return true;
}

void SimProduction::nextSnapshot() {
    activeSnapshot_ = (activeSnapshot_ + 1) % snapshotTitles().size();
    for (int32_t& state : groupStates_) {
        if (state == 1) state = 0;
    }
}

bool SimProduction::toggleHardMute(int64_t csID) {
    if (!strip(csID)) return false;
    hardMuted_[csID] = !hardMuted_[csID];
    return true;
}

const SimMicCheck* SimProduction::toggleMicCheck(int64_t csID, const std::string& user,
                                                 double now) {
    if (!strip(csID)) return nullptr;
    SimMicCheck& record = micChecks_[csID];
    record.checked = !record.checked;
    record.user = user;
    record.time = now;
    return &record;
}

void SimProduction::setWarning(int64_t csID, int32_t code) {
    if (code == 0) {
        warnings_.erase(csID);
    } else {
        warnings_[csID] = code;
    }
}

Dictionary SimProduction::clientNamesMessage() const {
    return message(LinkCommand::kClientNames,
                   Array{Value("FOH"), Value("Monitors"), Value("Stage left"), Value("Producer")});
}

Dictionary SimProduction::masterVersionMessage() const {
    return message(LinkCommand::kMasterVersion, Value(kMasterVersion));
}

Dictionary SimProduction::channelsMessage() const {
    Array list;
    for (const SimStrip& s : strips_) {
        Dictionary d;
        d.set("name", s.name);
        d.set("wirelessName", s.wirelessName);
        d.set("playerName", s.playerName);
        d.set("panel", s.panel);
        d.set("audioInput", Value(s.audioInput));
        d.set("pan", Value(s.audioInput % 2 ? 30 : -30));
        d.set("gain", Value(0));
        d.set("scpEnabled", Value(!s.timecode));
        d.set("rfWarnEnabled", Value(!s.timecode));
        d.set("channelEnabled", Value(s.enabled));
        d.set("csID", Value(s.csID));
        d.set("audioHistory", Value(!s.timecode));
        d.set("playerVisible", Value(true));
        list.push_back(Value(std::move(d)));
    }
    return message(LinkCommand::kChannels, Value(std::move(list)));
}

std::vector<Dictionary> SimProduction::newPlayerMessages() const {
    std::vector<Dictionary> out;
    for (size_t i = 0; i < players_.size(); ++i) {
        const SimPlayer& p = players_[i];
        Dictionary d;
        d.set("Name", p.name);
        d.set("RoleName", p.roleName);
        d.set("Comments", p.comments);
        auto shade = static_cast<uint8_t>(60 + 30 * i);
        d.set("Image", Value(solidTiff(shade, static_cast<uint8_t>(200 - shade), 160)));
        out.push_back(message(LinkCommand::kNewPlayer, Value(std::move(d))));
    }
    return out;
}

Dictionary SimProduction::groupColorsMessage() const {
    static const uint32_t kColors[] = {0x767676, 0xEEE54E, 0x60A9F0, 0xF68F1D, 0x2DFF72,
                                       0xF500AF, 0x2BECF8, 0xF5005E, 0xF7F6F6};
    Array table;
    for (uint32_t rgb : kColors) {
        Dictionary c;
        c.set("red", Value(((rgb >> 16) & 255) / 255.0));
        c.set("green", Value(((rgb >> 8) & 255) / 255.0));
        c.set("blue", Value((rgb & 255) / 255.0));
        c.set("alpha", Value(1.0));
        table.push_back(Value(std::move(c)));
    }
    return message(LinkCommand::kGroupColors, Value(std::move(table)));
}

Dictionary SimProduction::groupStatesMessage() const {
    Array states;
    for (int32_t s : groupStates_) states.push_back(Value(s));
    return message(LinkCommand::kGroupStates, Value(std::move(states)));
}

const std::vector<std::string>& SimProduction::snapshotTitles() {
    static const std::vector<std::string> titles{"Act 1", "Act 2", "Finale"};
    return titles;
}

Dictionary SimProduction::snapshotNamesMessage() const {
    Array names;
    const auto& titles = snapshotTitles();
    for (size_t i = 0; i < titles.size(); ++i) {
        names.push_back(Value(Array{Value(titles[i]), Value(static_cast<int32_t>(i))}));
    }
    return message(LinkCommand::kSnapshotNames, Value(std::move(names)));
}

Dictionary SimProduction::snapshotMessage() const {
    Dictionary d;
    d.set("title", snapshotTitles()[activeSnapshot_]);
    d.set("orderIndex", Value(static_cast<int32_t>(activeSnapshot_)));
    d.set("midiB1", Value(0));
    d.set("midiB2", Value(127));
    d.set("midiChannel", Value(0));
    d.set("midiCommand", Value(0xB0));
    d.set("groupNames",
          Array{Value(""), Value("Leads"), Value("Family"), Value("Friends"), Value("Band")});
    Array settings;
    for (const SimStrip& s : strips_) {
        if (s.groupIndex == 0) continue;
        Dictionary cs;
        cs.set("csID", Value(s.csID));
        cs.set("groupIndex", Value(s.groupIndex));
        settings.push_back(Value(std::move(cs)));
    }
    d.set("channelSettings", Value(std::move(settings)));
    return message(LinkCommand::kSnapshot, Value(std::move(d)));
}

Dictionary SimProduction::batteryThresholdMessage() const {
    return message(LinkCommand::kBatteryThreshold, Value(kBatteryThreshold));
}

Dictionary SimProduction::wirelessInfoMessage() const {
    Dictionary info;
    for (size_t i = 0; i < enabled_.size(); ++i) {
        const SimStrip& s = *enabled_[i];
        if (s.timecode) continue;
        Dictionary rx;
        rx.set("Name", s.wirelessName);
        rx.set("Frequency", Value(518000.0 + 425.0 * s.audioInput));
        rx.set("Quadversity", Value(s.audioInput % 4 == 0));
        rx.set("SingleLine", Value(false));
        info.set(Value(static_cast<int64_t>(i)), Value(std::move(rx)));
    }
    return message(LinkCommand::kWirelessInfo, Value(std::move(info)));
}

Dictionary SimProduction::soloedChannelsMessage() const {
    return message(LinkCommand::kSoloedChannels, Value(idArray(soloed_)));
}

Dictionary SimProduction::activeChannelsMessage() const {
    return message(LinkCommand::kActiveChannels, Value(idArray(active_)));
}

Dictionary SimProduction::hardMuteArrayMessage() const {
    Array flags;
    for (const SimStrip& s : strips_) {
        auto it = hardMuted_.find(s.csID);
        Dictionary d;
        d.set("csID", Value(s.csID));
        d.set("hardMute", Value(it != hardMuted_.end() && it->second));
        flags.push_back(Value(std::move(d)));
    }
    return message(LinkCommand::kHardMuteArray, Value(std::move(flags)));
}

namespace {
// A strip in use (enabled) needs checking whether or not it was checked: that is what lets a
// remote tell a checked strip (green) from one still to check (red).
Dictionary micCheckRecord(int64_t csID, const SimMicCheck& r, bool inUse) {
    Dictionary d;
    d.set("csID", Value(csID));
    d.set("checked", Value(r.checked));
    d.set("user", r.user);
    d.set("time", Value::date(r.time));
    d.set("note", "");
    d.set("needsChecking", Value(inUse));
    return d;
}
}  // namespace

Dictionary SimProduction::micCheckArrayMessage() const {
    // One record per strip in use, unchecked until a remote ticks it.
    Array records;
    const SimMicCheck none;
    for (const SimStrip* s : enabled_) {
        auto it = micChecks_.find(s->csID);
        records.push_back(
            Value(micCheckRecord(s->csID, it != micChecks_.end() ? it->second : none, true)));
    }
    Dictionary d = message(LinkCommand::kMicCheckArray, Value(std::move(records)));
    d.set(Value(LinkKey::kAct), Value(0));
    return d;
}

Dictionary SimProduction::micCheckStateMessage(int64_t csID) const {
    auto it = micChecks_.find(csID);
    SimMicCheck none;
    const SimStrip* s = strip(csID);
    return message(
        LinkCommand::kMicCheckState,
        Value(micCheckRecord(csID, it != micChecks_.end() ? it->second : none, s && s->enabled)));
}

Dictionary SimProduction::channelWarningsMessage() const {
    Array pairs;
    for (const SimStrip* s : enabled_) {
        auto it = warnings_.find(s->csID);
        pairs.push_back(Value(s->csID));
        pairs.push_back(Value(it != warnings_.end() ? it->second : 0));
    }
    return message(LinkCommand::kChannelWarnings, Value(std::move(pairs)));
}

std::optional<Dictionary> SimProduction::streamMessage(int64_t first, size_t count) const {
    std::vector<size_t> left, right;
    const std::vector<int64_t> heard = listened();
    for (size_t k = 0; k < heard.size(); ++k) {
        if (auto p = positionOf(heard[k])) (k % 2 == 0 ? left : right).push_back(*p);
    }
    if (left.empty()) return std::nullopt;
    Dictionary m = LinkMessageBuilder::message(LinkCommand::kStreamData);
    m.set(Value(LinkKey::kLeftValue), Value(SimSignals::mixBlock(left, first, count)));
    if (!right.empty()) {
        m.set(Value(LinkKey::kRightValue), Value(SimSignals::mixBlock(right, first, count)));
    }
    return m;
}

}  // namespace quenbril
