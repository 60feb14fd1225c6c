#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "DispatcherTestEnvironment.h"
#include "MonitorApp/link/LinkRead.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

Bytes bytes(size_t n, uint8_t value) { return Bytes(n, value); }

Bytes floats(std::initializer_list<float> values) {
    Bytes out;
    for (float f : values) {
        uint8_t b[4];
        std::memcpy(b, &f, 4);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

// ---- Frames ----

TEST_F(DispatcherTest, ALevelFrameOf200BytesWrites128LevelAnd128AlertBytes) {
    const int levelStart = engine().levelRingBuffer().bufferStart();
    dispatch("LevelData", bytes(200, 40));
    EXPECT_EQ(engine().levelRingBuffer().bufferStart(), levelStart + 1);
    EXPECT_EQ(newestColumn(engine().levelRingBuffer()), std::vector<int8_t>(128, 40));
    EXPECT_EQ(newestColumn(engine().alertRingBuffer()), std::vector<int8_t>(128, 0));
}

TEST_F(DispatcherTest, AMarkerMarksTheNextLevelFrameAndAnSCPWinsOverIt) {
    buildStrips(30);
    dispatch("SCPOnChannel", Value(int64_t{4}));  // level index 3
    dispatch("MarkerAdded", "bob");
    EXPECT_TRUE(dispatcher->markerFlag());
    dispatch("LevelData", bytes(10, 1));
    std::vector<int8_t> alerts = newestColumn(engine().alertRingBuffer());
    for (int i = 0; i < 128; ++i) EXPECT_EQ(alerts[i], i == 3 ? 1 : i < 10 ? 2 : 0) << i;
    EXPECT_FALSE(dispatcher->markerFlag());
    std::vector<int8_t> levels = newestColumn(engine().levelRingBuffer());
    EXPECT_EQ(levels[9], 1);
    EXPECT_EQ(levels[10], 0);
}

TEST_F(DispatcherTest, AnSCPStaysPendingUntilAFrameReachesItsStrip) {
    buildStrips(30);
    dispatch("SCPOnChannel", Value(int64_t{21}));   // level index 20
    dispatch("SCPOnChannel", Value(int64_t{999}));  // no such strip: ignored
    dispatch("LevelData", bytes(10, 0));
    dispatch("LevelData", bytes(10, 0));
    EXPECT_EQ(newestColumn(engine().alertRingBuffer())[20], 0);
    EXPECT_TRUE(dispatcher->levelFrames().scpPending(20));
    dispatch("LevelData", bytes(21, 0));
    EXPECT_EQ(newestColumn(engine().alertRingBuffer())[20], 1);
    dispatch("LevelData", bytes(21, 0));
    EXPECT_EQ(newestColumn(engine().alertRingBuffer())[20], 0);
}

TEST_F(DispatcherTest, HistoryFramesGoToTheirOwnHistories) {
    struct Case {
        const char* command;
        CharRingBuffer& history;
    };
    std::vector<Case> cases{{"RfLevelData", engine().rfLevelRingBuffer()},
                            {"RfLevelDataA", engine().rfALevelRingBuffer()},
                            {"RfLevelDataB", engine().rfBLevelRingBuffer()},
                            {"RfLevelDataC", engine().rfCLevelRingBuffer()},
                            {"RfLevelDataD", engine().rfDLevelRingBuffer()},
                            {"RfLevelDataDiv", engine().rfDivLevelRingBuffer()},
                            {"QLData", engine().qlRingBuffer()}};
    for (size_t k = 0; k < cases.size(); ++k) {
        dispatch(cases[k].command, bytes(5, static_cast<uint8_t>(k + 1)));
        for (size_t j = 0; j < cases.size(); ++j) {
            EXPECT_EQ(cases[j].history.getLatestSample(0), j <= k ? int8_t(j + 1) : 0)
                << cases[k].command << " / " << cases[j].command;
        }
        EXPECT_EQ(cases[k].history.getLatestSample(5), 0);
    }
    EXPECT_EQ(engine().levelRingBuffer().getLatestSample(0), 0);
}

TEST_F(DispatcherTest, StreamBlocksFillTheStreamRing) {
    RingBuffer& ring = engine().clientRing();
    dispatch(Dictionary{{"Command", "StreamData"},
                        {"LeftValue", floats({0.5f, 0.25f, 0.125f})},
                        {"RightValue", floats({-0.5f, -0.25f})}});
    EXPECT_EQ(ring.dataInBuffer(), 2);
    dispatch(Dictionary{{"Command", "StreamData"}, {"LeftValue", floats({0.75f})}});
    EXPECT_EQ(ring.dataInBuffer(), 3);
    dispatch(Dictionary{{"Command", "StreamData"}, {"RightValue", floats({1.0f})}});
    EXPECT_EQ(ring.dataInBuffer(), 3);
    std::vector<float> left(3), right(3);
    float* channels[2] = {left.data(), right.data()};
    int got = 0;
    ring.consume(channels, 3, &got, 2);
    EXPECT_EQ(left, (std::vector<float>{0.5f, 0.25f, 0.75f}));
    EXPECT_EQ(right, (std::vector<float>{-0.5f, -0.25f, 0.75f}));
}

// ---- Roles and kinds ----

TEST_F(DispatcherTest, TheServerRoleHandlesOnlyTheChatAndItsNeighbours) {
    settings().setActAsClient(false);
    NotificationRecorder chat(ChatNotification::kChatMessageFromServer);
    dispatch("LevelData", bytes(128, 50));
    dispatch("Channels", Array{strip(1)});
    dispatch("OpenedEditing");
    EXPECT_EQ(newestColumn(engine().levelRingBuffer()), std::vector<int8_t>(128, 0));
    EXPECT_TRUE(manager().controllers().empty());
    EXPECT_EQ(window.statusRight, "unset");
    dispatch("ChatClients", Array{Dictionary{{"chatName", "bob"}}});
    EXPECT_EQ(ChatManager::sharedInstance().chatClients().size(), 1u);
    dispatch("ChatMessageFromServer", Dictionary{{"message", "x"}});
    EXPECT_EQ(chat.posted.size(), 1u);
    dispatch("MarkerAdded");
    EXPECT_TRUE(dispatcher->markerFlag());
}

TEST_F(DispatcherTest, ValuesOfTheWrongKindDropTheMessage) {
    EXPECT_THROW(dispatch("LevelData", "loud"), LinkTypeError);
    EXPECT_THROW(dispatch("Channels", Dictionary{}), LinkTypeError);
    EXPECT_THROW(dispatcher->messageReceivedFromServer(Value("LevelData")), LinkTypeError);
    EXPECT_THROW(dispatch(Dictionary{{"Command", 7}}), LinkTypeError);
    EXPECT_THROW(dispatch(Dictionary{{"Command", "NotebookEntries"}, {"Values", "x"}}),
                 LinkTypeError);
    dispatch("NoSuchCommand", 1);  // ignored
    dispatch(Dictionary{});        // no command: ignored
    EXPECT_EQ(engine().levelRingBuffer().getLatestSample(0), 0);
}

// ---- Settings and session ----

TEST_F(DispatcherTest, GroupColoursAreStoredOnlyWhenWellFormed) {
    Dictionary red{{"red", 1.0}, {"green", 0.0}, {"blue", 0.0}, {"alpha", 1.0}};
    dispatch("GroupColors", Array{red});
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    dispatch("GroupColors", Array{red, "blue"});
    dispatch("GroupColors",
             Array{Dictionary{{"red", "x"}, {"green", 0}, {"blue", 0}, {"alpha", 1}}});
    dispatch("GroupColors", red);
    dispatch("GroupColors", 5);
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    UserDefaults::resetStandardUserDefaults();  // stored for the next run
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
}

TEST_F(DispatcherTest, GroupColoursWithNumbersOutOfRangeAreRefusedLikeAWrongKind) {
    Dictionary red{{"red", 1.0}, {"green", 0.0}, {"blue", 0.0}, {"alpha", 1.0}};
    dispatch("GroupColors", Array{red});
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e308, -0.25, 1.5}) {
        Dictionary colour = red;
        colour.set("green", bad);
        dispatch("GroupColors", Array{red, colour});
        Dictionary alpha = red;
        alpha.set("alpha", bad);
        dispatch("GroupColors", Array{alpha});
    }
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
}

TEST_F(DispatcherTest, GroupColoursAreBoundedInCountAndKeysAndEverySettingOutlivesThem) {
    // A colour with 14 MB beside its components made a settings file too large to read again.
    defaults().setObject("127.0.0.9", "manualIP");
    Dictionary red{{"red", 1.0}, {"green", 0.0}, {"blue", 0.0}, {"alpha", 1.0}};
    Dictionary padded = red;
    padded.set("pad", std::string(14 << 20, '&'));
    dispatch("GroupColors", Array{padded});
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    EXPECT_LT(std::filesystem::file_size(defaults().path()), 4096u);
    dispatch("GroupColors", Array(ColorHelper::kMaxGroupColors + 1, Value(red)));
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(defaults().stringForKey("manualIP"), "127.0.0.9");
    EXPECT_EQ(defaults().objectForKey("groupColors"), Value(Array{red}));
}

TEST_F(DispatcherTest, InitialDataReadyRegistersToAChatServerOrAsksForAnUpdate) {
    dispatch("MasterVersion", 3.8);
    dispatch("InitialDataReady", true);
    EXPECT_EQ(window.chatRegistrations, 1);

    dispatch("MasterVersion", 3.79);
    dispatch("InitialDataReady", true);
    dispatch("InitialDataReady", false);
    EXPECT_EQ(window.chatRegistrations, 1);
    EXPECT_EQ(window.alerts,
              std::vector<std::string>{
                  "Please update your Quenbril server. You are currently using server version "
                  "3.79. Minimum requirement for this remote version is 3.80."});
}

TEST_F(DispatcherTest, InitialDataReadyFocusesTheLevelDisplayWhateverItsValue) {
    manager().setSuperView(&area);
    dispatch("MasterVersion", 3.8);
    dispatch("InitialDataReady", true);
    EXPECT_EQ(area.focused, 1);
    dispatch("InitialDataReady", false);
    dispatch("InitialDataReady");
    EXPECT_EQ(area.focused, 3);
    dispatch("MasterVersion", 2.0);
    dispatch("InitialDataReady", true);  // the update alert, and the focus all the same
    EXPECT_EQ(area.focused, 4);
    EXPECT_EQ(window.alerts.size(), 1u);
}

TEST_F(DispatcherTest, TheEditingStateShowsInTheStatusLine) {
    dispatch("OpenedEditing");
    EXPECT_TRUE(window.statusRightRed);
    EXPECT_EQ(window.statusRight, "Server editing channels!");
    defaults().setObject("FOH", "clientName");
    dispatch("ClosedEditing");
    EXPECT_FALSE(window.statusRightRed);
    EXPECT_EQ(window.statusRight, "Connected to server as FOH");
}

TEST_F(DispatcherTest, ClosedEditingWithoutAStoredClientNameStillSaysConnected) {
    // A dialog continued automatically stores no client name: the editing text must not stay.
    dispatch("OpenedEditing");
    dispatch("ClosedEditing");
    EXPECT_FALSE(window.statusRightRed);
    EXPECT_EQ(window.statusRight, "Connected to server");
}

TEST_F(DispatcherTest, ClientNamesAreKeptAndTitleTheDialog) {
    EXPECT_EQ(dispatcher->clientNames(),
              (std::vector<std::string>{"Client 1", "Client 2", "Client 3", "Client 4"}));
    dispatch("ClientNames", Array{"A", 3, "B"});
    EXPECT_EQ(dispatcher->clientNames(), (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(window.dialogClientNames.size(), 1u);
    EXPECT_EQ(window.dialogClientNames[0], (std::vector<std::string>{"A", "B"}));
    dispatch("ClientNames");
    EXPECT_FALSE(dispatcher->clientNames());
    EXPECT_EQ(window.dialogClientNames.size(), 1u);
}

TEST_F(DispatcherTest, SettingsAndTheNotebookReachTheirOwners) {
    dispatch("BatteryThreshold", 25);
    EXPECT_EQ(settings().batThreshold(), 25);
    dispatch("ClientsEnabled", false);
    EXPECT_FALSE(settings().clientsEnabled());
    dispatch("MasterVersion", 3.9);
    EXPECT_FLOAT_EQ(settings().masterVersion(), 3.9f);

    NotificationRecorder added("NoteAdded");
    dispatch("NotebookEntries");  // no "Values": nothing
    EXPECT_TRUE(added.posted.empty());
    dispatch(Dictionary{{"Command", "NotebookEntries"},
                        {"Values", Array{Dictionary{{"Note", "n"}, {"teID", 3}}, 5}}});
    ASSERT_EQ(NotebookManager::sharedInstance().notebookEntries().size(), 1u);
    EXPECT_EQ(NotebookManager::sharedInstance().notebookEntries()[0]->teID(), 3);
    EXPECT_EQ(added.posted.size(), 1u);
}

TEST_F(DispatcherTest, SnapshotsSelectByOrderIndex) {
    NotificationRecorder updated("SnapshotsUpdated");
    dispatch("SnapshotNames", Array{Array{"Act 1", 4}, Array{}, Array{"Act 2", 9}});
    EXPECT_EQ(SnapshotManager::sharedInstance().snapshotNames(),
              (Array{Array{"Act 1", 4}, Array{"Act 2", 9}}));
    dispatch("Snapshot", Dictionary{{"title", "Act 2"}, {"orderIndex", 9}});
    EXPECT_EQ(SnapshotManager::sharedInstance().selectedSnapshot(), 1);
    dispatch("Snapshot", Dictionary{{"title", "new"}, {"orderIndex", 12}});
    EXPECT_EQ(SnapshotManager::sharedInstance().selectedSnapshot(), 2);
    EXPECT_EQ(updated.posted.size(), 3u);
}

}  // namespace
}  // namespace quenbril
