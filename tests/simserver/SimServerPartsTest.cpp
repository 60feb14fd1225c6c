// The stand-in's parts without sockets: flags, production, chat routing and history, notebook.

#include <gtest/gtest.h>

#include <cmath>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/ArchiveClassRegistry.h"
#include "simserver/SimChat.h"
#include "simserver/SimChatMessage.h"
#include "simserver/SimNotebook.h"
#include "simserver/SimOptions.h"
#include "simserver/SimProduction.h"
#include "simserver/SimSignals.h"

namespace quenbril {
namespace {

std::optional<SimOptions> parse(std::vector<std::string> args, std::string* error = nullptr) {
    return SimOptions::parse(args, error);
}

TEST(SimOptions, DefaultsEveryFlagAndRefusals) {
    auto d = parse({});
    ASSERT_TRUE(d);
    EXPECT_EQ(std::tuple(d->port, d->channels, d->publish), std::tuple(57576, 16, true));
    auto o = parse({"--port", "0", "--channels=128", "--name", "Stage", "--no-publish"});
    ASSERT_TRUE(o);
    EXPECT_EQ(std::tuple(o->port, o->channels, o->name, o->publish),
              std::tuple(0, 128, "Stage", false));
    EXPECT_TRUE(parse({"--help"})->help);
    EXPECT_TRUE(parse({"--version"})->version);
    EXPECT_EQ(d->snapshotInterval, 0.0);
    EXPECT_EQ(parse({"--snapshot-interval", "1"})->snapshotInterval, 1.0);
    EXPECT_EQ(parse({"--snapshot-interval=2.5"})->snapshotInterval, 2.5);
    EXPECT_EQ(parse({"--snapshot-interval", "0"})->snapshotInterval, 0.0);

    for (auto args : std::vector<std::vector<std::string>>{{"--port", "65536"},
                                                           {"--port", "-1"},
                                                           {"--port", "12ab"},
                                                           {"--port"},
                                                           {"--channels", "0"},
                                                           {"--channels", "129"},
                                                           {"--name", ""},
                                                           {"--snapshot-interval", "-1"},
                                                           {"--snapshot-interval", "1s"},
                                                           {"--snapshot-interval", "nan"},
                                                           {"--snapshot-interval", "86401"},
                                                           {"--snapshot-interval"},
                                                           {"--bogus"}}) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(SimOptions, HelpAndHintSayAManualAddressUsesTheDefaultPort) {
    std::string usage = SimOptions::usage("quenbril-simserver");
    EXPECT_NE(usage.find("the only port a remote's"), std::string::npos) << usage;
    EXPECT_NE(usage.find("--snapshot-interval S"), std::string::npos) << usage;
    std::string standard = SimOptions::connectHint(SimOptions::kDefaultPort, false);
    EXPECT_NE(standard.find("address 127.0.0.1"), std::string::npos) << standard;
    for (bool announced : {true, false}) {
        std::string other = SimOptions::connectHint(40000, announced);
        EXPECT_NE(other.find("Port 40000 is not 57576"), std::string::npos) << other;
        EXPECT_EQ(other.find("127.0.0.1"), std::string::npos) << other;
        EXPECT_NE(other.find(announced ? "announcement" : "no remote"), std::string::npos) << other;
    }
}

TEST(SimProduction, TheActiveSnapshotMovesOnAndStartsOverAfterTheLast) {
    SimProduction production(4);
    const Value names = production.snapshotNamesMessage()["Value"];
    ASSERT_EQ(names.arrayValue()->size(), 3u);
    auto active = [&] {
        const Value snapshot = production.snapshotMessage()["Value"];
        return std::pair(*snapshot["title"].stringValue(), *snapshot["orderIndex"].intValue());
    };
    EXPECT_EQ(active(), std::pair(std::string("Act 1"), 0));
    std::vector<std::pair<std::string, int32_t>> seen;
    for (int i = 0; i < 3; ++i) {
        production.nextSnapshot();
        seen.push_back(active());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int32_t>>{
                        {"Act 2", 1}, {"Finale", 2}, {"Act 1", 0}}));
    // A snapshot releases the groups that are on and leaves the hard ones, as a remote does.
    production.toggleGroup(8);
    production.setGroupHard(5);
    production.nextSnapshot();
    EXPECT_EQ(production.groupStatesMessage()["Value"], Value(Array{0, 0, 0, 0, 2, 0, 0, 0}));
    // Each order index is the last element of its entry in the list.
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*names.arrayValue())[size_t(i)].arrayValue()->back(), Value(i));
    }
}

TEST(SimProduction, OneStripIsTheTimecodeStripAndDisabledStripsHaveNoPosition) {
    SimProduction one(1);
    ASSERT_EQ(one.strips().size(), 1u);
    EXPECT_TRUE(one.strips()[0].timecode);
    EXPECT_EQ(one.enabledStrips().size(), 1u);

    SimProduction full(128);
    EXPECT_EQ(full.strips().size(), 128u);
    EXPECT_EQ(full.enabledStrips().size(), 127u);
    auto spare = std::find_if(full.strips().begin(), full.strips().end(),
                              [](const SimStrip& s) { return !s.enabled; });
    ASSERT_NE(spare, full.strips().end());
    EXPECT_FALSE(full.positionOf(spare->csID));
    EXPECT_FALSE(full.toggleActive(spare->csID)) << "a strip no remote shows cannot be active";
    EXPECT_EQ(full.positionOf(full.strips().back().csID), 126u);
}

TEST(SimProduction, EachStripsPerformerPlaysThatStripsRole) {
    SimProduction p(24);
    int worn = 0;
    for (const SimStrip& s : p.strips()) {
        if (s.playerName == "No player") continue;
        ++worn;
        auto player = std::find_if(p.players().begin(), p.players().end(), [&](const SimPlayer& x) {
            return x.displayName() == s.playerName;
        });
        ASSERT_NE(player, p.players().end()) << s.playerName;
        EXPECT_EQ(player->roleName, s.name) << s.playerName;
    }
    EXPECT_GE(worn, 4);
    auto named = [&](const char* name) {
        return std::find_if(p.strips().begin(), p.strips().end(),
                            [&](const SimStrip& s) { return s.name == name; })
            ->playerName;
    };
    EXPECT_EQ(named("Juliet"), "Ann Lindqvist as Juliet");
    EXPECT_EQ(named("Romeo"), "Ben Okafor as Romeo");
    EXPECT_EQ(named("Lead vocal"), "No player");
}

TEST(SimProduction, MicCheckRecordsKeepEveryStripInUseToCheck) {
    SimProduction p(8);
    const int64_t first = p.enabledStrips()[0]->csID;
    ASSERT_TRUE(p.toggleMicCheck(first, "alice", 10));
    const Dictionary array = p.micCheckArrayMessage();
    const Value& records = array["Value"];
    ASSERT_EQ(records.count(), p.enabledStrips().size());
    for (size_t i = 0; i < records.count(); ++i) {
        EXPECT_EQ(records.at(i)["needsChecking"].boolValue(), true) << i;
        EXPECT_EQ(records.at(i)["checked"].boolValue(), i == 0) << i;
    }
    // Checked and still needing a check: the state a remote draws green.
    const Value state = p.micCheckStateMessage(first)["Value"];
    EXPECT_EQ(state["checked"].boolValue(), true);
    EXPECT_EQ(state["needsChecking"].boolValue(), true);
    EXPECT_EQ(state["user"], Value("alice"));
}

TEST(SimProduction, MessagesSurviveTheCodec) {
    SimProduction p(16);
    for (const Dictionary& m :
         {p.channelsMessage(), p.snapshotMessage(), p.wirelessInfoMessage(), p.groupColorsMessage(),
          p.micCheckArrayMessage(), p.newPlayerMessages()[0]}) {
        auto body = LinkCodec::encodeBody(m);
        ASSERT_TRUE(body);
        EXPECT_EQ(LinkCodec::decodeBody(*body), m);
    }
    // The player picture is a little-endian TIFF.
    Dictionary player = p.newPlayerMessages()[0];
    const Bytes* tiff = player["Value"]["Image"].dataValue();
    ASSERT_TRUE(tiff && tiff->size() > 8);
    EXPECT_EQ((*tiff)[0], 'I');
    EXPECT_EQ((*tiff)[2], 42);
}

TEST(SimSignals, LevelsStayOnTheByteScaleAndTonesDiffer) {
    for (size_t p = 0; p < 128; ++p) {
        for (double t : {0.0, 1.3, 77.7, 3600.0}) {
            EXPECT_LE(SimSignals::levelByte(p, t), 110);
            EXPECT_LE(SimSignals::rfDiversityByte(p, t), 100);
            EXPECT_GE(SimSignals::battery(p, t), 1);
        }
    }
    EXPECT_NE(SimSignals::toneFrequency(0), SimSignals::toneFrequency(127));
    EXPECT_EQ(SimSignals::toneBlock(3, 0, 480).size(), 480u * 4);
    EXPECT_EQ(SimSignals::timecodePicture(12.0).size(), 720u);
    // The past of a strip is silence before the server started.
    EXPECT_EQ(SimSignals::toneSample(0, -1), 0.0f);
}

TEST(SimSignals, TimecodeOfTodayCountsFramesFromMidnight) {
    // 2026-12-06 12:34:56.48 UTC in seconds since 2001: times 25 frames a second, about 2e10.
    const double today = 818253296.48;
    const int64_t frame = ((12 * 60 + 34) * 60 + 56) * 25 + 12;
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(today), frame);
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(today + 86400.0), frame) << "the next day";
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(today - 45296.48), 0) << "midnight";
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(today - 45296.48 - 0.02), 86400 * 25 - 1);
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(-0.02), 86400 * 25 - 1) << "before 2001";
    EXPECT_EQ(SimSignals::timecodeFrameOfDay(std::nan("")), 0);
    // The picture is that of the frame of the day: the same a day later, another one a
    // frame later.
    EXPECT_EQ(SimSignals::timecodePicture(today), SimSignals::timecodePicture(today + 86400.0));
    EXPECT_NE(SimSignals::timecodePicture(today), SimSignals::timecodePicture(today + 0.06));
}

TEST(SimChat, AddresseesAreTheNamedUserOrEveryoneAndAlwaysTheSender) {
    SimChat chat;
    EXPECT_TRUE(chat.registerClient(1, "Alice", "10.0.0.1", "u1"));
    EXPECT_TRUE(chat.registerClient(2, "Bob", "10.0.0.2", "u2"));
    EXPECT_TRUE(chat.registerClient(3, "Bob", "10.0.0.3", "u3"));  // same name, two desks
    EXPECT_FALSE(chat.registerClient(1, "Alicia", "10.0.0.1", "u1"));
    EXPECT_EQ(chat.client(1)->chatName, "Alicia");

    EXPECT_EQ(chat.addressees("Bob", 1), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(chat.addressees("Nobody", 2), (std::vector<uint64_t>{2}));
    EXPECT_EQ(chat.addressees("All", 2), (std::vector<uint64_t>{2, 1, 3}));
    EXPECT_EQ(chat.addressees("", 9), (std::vector<uint64_t>{9, 1, 2, 3}));
    EXPECT_TRUE(chat.removeClient(2));
    EXPECT_FALSE(chat.removeClient(2));
    EXPECT_EQ(chat.clientsMessage()["Value"].count(), 2u);
}

TEST(SimChat, EveryUserKeepsAPaletteColourByNameAndByChatId) {
    SimChat chat;
    chat.registerClient(1, "Alice", "10.0.0.1", "u1");
    chat.registerClient(2, "Bob", "10.0.0.2", "u2");
    chat.registerClient(3, "Carol", "10.0.0.3", "");  // no chat id: by name only
    Dictionary m = chat.colorsMessage();
    EXPECT_EQ(m["Command"], Value("ChatColors"));
    EXPECT_EQ(m["Value"], Value(Dictionary{{"Alice", 1}, {"Bob", 2}, {"Carol", 3}}));
    EXPECT_EQ(m["NValue"], Value(Dictionary{{"u1", *ColorHelper::colorForChatGroup(1)},
                                            {"u2", *ColorHelper::colorForChatGroup(2)}}));
    auto body = LinkCodec::encodeBody(m);
    ASSERT_TRUE(body);
    EXPECT_EQ(LinkCodec::decodeBody(*body), m) << "colours travel as archived colours";

    // A user who leaves frees the colour for the next; the others keep theirs. A rename keeps
    // the colour too.
    chat.removeClient(1);
    chat.registerClient(4, "Dave", "10.0.0.4", "u4");
    chat.registerClient(2, "Bobby", "10.0.0.2", "u2");
    EXPECT_EQ(chat.colorsMessage()["Value"],
              Value(Dictionary{{"Bobby", 2}, {"Carol", 3}, {"Dave", 1}}));
    // Beyond eight users the colours repeat, always within the palette's 1 to 8.
    for (uint64_t id = 10; id < 20; ++id) chat.registerClient(id, "U" + std::to_string(id), "", "");
    const Dictionary colours = chat.colorsMessage();
    for (const auto& [name, index] : *colours["Value"].dictionaryValue()) {
        EXPECT_GE(*index.intValue(), 1);
        EXPECT_LE(*index.intValue(), 8);
    }
}

TEST(SimChat, HistoryKeepsTheLatestMessagesAndMarksRemovedOnes) {
    SimChat chat;
    for (int i = 0; i < 250; ++i) {
        auto n = std::to_string(i);
        chat.addToHistory({{"message", "text " + n}, {"messageId", "ID-" + n}}, 1000.0 + i);
    }
    EXPECT_TRUE(chat.removeMessage("id-249"));  // the id is matched without regard to case
    EXPECT_FALSE(chat.removeMessage("ID-0"));   // dropped from the history long ago
    Value history = chat.historyMessage()["Value"];
    ASSERT_EQ(history.count(), SimChat::kHistoryLimit);
    auto at = [&](size_t i) {
        auto object = history.at(i).objectValue();
        return object ? dynamic_cast<const SimChatMessage*>(object->get()) : nullptr;
    };
    ASSERT_TRUE(at(0) && at(SimChat::kHistoryLimit - 1));
    EXPECT_EQ(at(0)->message, "text 50");
    EXPECT_EQ(at(0)->date, 1050.0);
    EXPECT_EQ(at(SimChat::kHistoryLimit - 1)->message, "<message removed>");
}

TEST(SimNotebook, IdsAreNewAndRemovalsFindThem) {
    SimNotebook book;
    int32_t a = *book.add({});
    EXPECT_NE(*book.add({}), a);
    EXPECT_TRUE(book.remove(a));
    EXPECT_FALSE(book.remove(a));
    EXPECT_NE(*book.add({}), a);
    EXPECT_EQ(book.entriesMessage()["Values"].count(), 2u);
    book.clear();
    EXPECT_EQ(book.entriesMessage()["Values"].count(), 0u);
}

/// The body of the frame that carries `message`.
size_t encodedSize(const Dictionary& message) {
    SimChatMessage::registerEncoder(ArchiveClassRegistry::shared());
    auto body = LinkCodec::encodeBody(message);
    EXPECT_TRUE(body);
    return body ? body->size() : SIZE_MAX;
}

TEST(SimNotebook, ALargeNoteIsRefusedAndTheNotebookStaysWithinItsBytes) {
    SimNotebook book;
    SimNotebook::Entry big;
    big.note = std::string(SimNotebook::kMaxEntryBytes - 5, 'n');
    big.creator = "Alice";
    EXPECT_TRUE(book.add(big)) << "exactly at the bound";
    big.creator = "Alice!";
    EXPECT_FALSE(book.add(big));
    EXPECT_EQ(book.entries().size(), 1u);

    // Notes at the bound push out the oldest long before the count bound.
    std::optional<int32_t> last;
    for (int i = 0; i < 100; ++i)
        last = book.add(big = {0, 0, std::string(16000, 'a' + i % 26), "Bob"});
    ASSERT_TRUE(last);
    EXPECT_EQ(book.entries().back().teID, *last);
    EXPECT_LT(book.entries().size(), 100u);
    EXPECT_LE(book.bytes(), SimNotebook::kMaxBytes);
    EXPECT_LE(encodedSize(book.entriesMessage()), SimNotebook::kMaxBytes);
    EXPECT_TRUE(book.remove(*last));
    EXPECT_EQ(book.bytes(), book.entries().size() * SimNotebook::cost(book.entries()[0]));

    // Empty notes cost their dictionaries: the frame stays within the bound too.
    book.clear();
    EXPECT_EQ(book.bytes(), 0u);
    for (int i = 0; i < 6000; ++i) book.add({0, 1000 + i % 16, "", "", 8e8 + i, 1, 2, 3, 4});
    EXPECT_LE(encodedSize(book.entriesMessage()), SimNotebook::kMaxBytes);
}

TEST(SimChat, ALargeMessageIsRefusedAndTheHistoryStaysWithinItsBytes) {
    SimChat chat;
    std::string text(SimChat::kMaxMessageBytes - 5, 'm');
    EXPECT_TRUE(chat.addToHistory({{"message", text}, {"sender", "Alice"}}, 1.0));
    EXPECT_FALSE(chat.addToHistory({{"message", text}, {"sender", "Alice!"}}, 2.0));
    EXPECT_EQ(chat.historyMessage()["Value"].count(), 1u);

    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(chat.addToHistory({{"message", std::string(15000, 'a' + i % 26)},
                                       {"messageId", "ID-" + std::to_string(i)}},
                                      10.0 + i));
    }
    EXPECT_LE(chat.historyBytes(), SimChat::kMaxHistoryBytes);
    EXPECT_LE(encodedSize(chat.historyMessage()), SimChat::kMaxHistoryBytes);
    EXPECT_TRUE(chat.removeMessage("ID-99")) << "the newest is kept";

    SimChat small;
    for (size_t i = 0; i < SimChat::kHistoryLimit; ++i) {
        small.addToHistory({{"message", "Places"},
                            {"sender", "Alice"},
                            {"recipient", "All"},
                            {"uuid", std::string(36, 'U')},
                            {"messageId", std::string(36, 'A' + i % 26)}},
                           8e8 + static_cast<double>(i));
    }
    EXPECT_LE(encodedSize(small.historyMessage()), small.historyBytes());
}

}  // namespace
}  // namespace quenbril
