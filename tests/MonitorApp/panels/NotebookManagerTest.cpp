#include <gtest/gtest.h>

#include "MonitorApp/panels/NotebookManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {
namespace {

class NotebookTest : public testing::Test {
  protected:
    static constexpr double kNow = 800000000.0;
    void SetUp() override {
        RunLoop::setMain(&loop_);
        NotebookManager::resetSharedInstance();
        observer_ = NotificationCenter::defaultCenter().addObserver(
            NotebookManager::kNoteAddedNotification, [this](const Notification&) { ++posted; });
    }
    void TearDown() override {
        observer_.reset();
        NotebookManager::resetSharedInstance();
        RunLoop::setMain(nullptr);
    }
    static NotebookManager& notebook() { return NotebookManager::sharedInstance(); }

    ManualRunLoop loop_{kNow};
    NotificationObserver observer_;
    int posted = 0;
};

Dictionary note(int64_t csID, int32_t teID, const char* text) {
    return Dictionary{{"Note", text}, {"Creator", "bob"}, {"Time", Date{1000.0}},
                      {"csID", csID}, {"teID", teID},     {"Hours", 1},
                      {"Mins", 2},    {"Secs", 3},        {"Frame", 4}};
}

TEST_F(NotebookTest, ARefreshReplacesEveryEntryInTheServersOrder) {
    // An entry put in the list directly is the server's, replaced with the rest.
    notebook().notebookEntries().push_back(std::make_shared<TimelineEntry>());
    notebook().refreshFromArray(Array{note(7, 2, "b"), Value("junk"), note(0, 1, "a")});
    auto& entries = notebook().notebookEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]->note(), "b");
    EXPECT_EQ(entries[0]->csID(), 7);
    EXPECT_EQ(entries[0]->teID(), 2);
    EXPECT_EQ(entries[0]->time(), 1000.0);
    EXPECT_EQ(entries[0]->ltc(), (SMPTETimecode{1, 2, 3, 4}));
    EXPECT_EQ(entries[1]->csID(), 0);  // a note with no strip
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(notebook().array(), (Array{note(7, 2, "b"), note(0, 1, "a")}));
    notebook().refreshFromArray(Array{});  // empties the notebook, and still posts
    EXPECT_TRUE(notebook().notebookEntries().empty());
    EXPECT_EQ(posted, 2);
}

TEST_F(NotebookTest, ANewListKeepsTheLocalNotesAfterItInTheirOrder) {
    notebook().refreshFromArray(Array{note(7, 1, "server a")});
    auto local = [](const char* text, int64_t csID) {
        auto e = std::make_shared<TimelineEntry>();
        e->setNote(std::string(text));
        e->setCsID(csID);
        return e;
    };
    auto pinned = local("typed first", 9);
    auto unpinned = local("typed second", 0);
    auto removed = local("typed third", 0);
    for (const auto& e : {pinned, unpinned, removed}) notebook().addLocalEntry(e);
    // The user removes the third (only this remote had it).
    std::erase(notebook().notebookEntries(), removed);

    // A server note of id 0 is the server's: it is not kept as if it were typed here.
    notebook().refreshFromArray(Array{note(7, 1, "server a"), note(8, 0, "server b")});
    notebook().refreshFromArray(Array{note(7, 1, "server a"), note(8, 0, "server b")});
    std::vector<std::string> texts;
    for (const auto& e : notebook().notebookEntries()) texts.push_back(e->note().value_or(""));
    EXPECT_EQ(texts,
              (std::vector<std::string>{"server a", "server b", "typed first", "typed second"}));
    EXPECT_EQ(notebook().notebookEntries()[2], pinned) << "the same note, strip and all";
    EXPECT_EQ(notebook().notebookEntries()[3], unpinned);
    EXPECT_EQ(posted, 3);
}

TEST_F(NotebookTest, FieldsOfTheWrongKindReadAsMissing) {
    auto e = TimelineEntry::makeWithProperty(
        Dictionary{{"Note", 5}, {"Time", "yesterday"}, {"csID", "x"}, {"teID", 1e12}});
    EXPECT_FALSE(e->note());
    EXPECT_FALSE(e->time());
    EXPECT_EQ(e->csID(), 0);
    EXPECT_EQ(e->teID(), INT32_MAX);  // out-of-range numbers saturate
}

TEST_F(NotebookTest, ThePropertyOfAFreshEntryFillsTheEntryIn) {
    TimelineEntry e;
    Dictionary p = e.property();
    EXPECT_EQ(p.size(), 9u);
    EXPECT_EQ(p["Note"], Value(""));
    EXPECT_EQ(p["Time"], Value(Date{kNow}));
    EXPECT_EQ(e.note(), "");
    EXPECT_EQ(e.creator(), "");
    EXPECT_EQ(e.time(), kNow);
}

TEST_F(NotebookTest, ShortTimecodesKeepTheLowEightBits) {
    EXPECT_EQ(NotebookManager::dictionaryFromSMPTETimecode({1, 2, 3, 4}),
              (Dictionary{{"hours", 1}, {"mins", 2}, {"secs", 3}, {"frame", 4}}));
    EXPECT_EQ(NotebookManager::dictionaryFromSMPTETimecode({300, -1, 0, 256}),
              (Dictionary{{"hours", 44}, {"mins", 255}, {"secs", 0}, {"frame", 0}}));
    EXPECT_EQ(NotebookManager::SMPTETimecodeFromDictionary(
                  Dictionary{{"hours", 300}, {"mins", -1}, {"secs", "x"}}),
              (SMPTETimecode{44, 255, 0, 0}));
}

}  // namespace
}  // namespace quenbril
