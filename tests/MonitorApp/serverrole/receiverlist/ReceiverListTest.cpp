// The receiver-list editor's rules and its ".wip" file, with no window: the next receiver, the
// address check, loading, saving and storing "UserIPS".

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/receiverlist/ReceiverListModel.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "tests/support/DeepPlist.h"
#include "tests/support/TemporaryFolderTest.h"

namespace quenbril {
namespace {

using Receivers = ReceiverListModel::Receivers;

class ReceiverListTest : public TemporaryFolderTest {
  protected:
    ReceiverListTest() : TemporaryFolderTest("/tmp/quenbril-receiverlist-XXXXXX") {}

    Receivers list_;
    ReceiverListModel model_{&list_};
};

TEST_F(ReceiverListTest, AddFollowsTheLastEntry) {
    model_.add();
    EXPECT_EQ(list_, (Receivers{{"192.168.0.1", 3}}));

    list_ = {{"10.0.0.7", 5}};
    model_.add();
    EXPECT_EQ(list_.back(), (WirelessManager::ReceiverAddress{"10.0.0.8", 5}));

    // The last part stops growing at 253: the address is repeated.
    list_ = {{"10.0.0.252", 1}};
    model_.add();
    model_.add();
    EXPECT_EQ(list_, (Receivers{{"10.0.0.252", 1}, {"10.0.0.253", 1}, {"10.0.0.253", 1}}));

    // An address of another form is repeated with its type.
    list_ = {{"receiver-a", 7}};
    model_.add();
    EXPECT_EQ(list_, (Receivers{{"receiver-a", 7}, {"receiver-a", 7}}));
    list_ = {{"1.2.3.4.5", 2}};
    model_.add();
    EXPECT_EQ(list_.back().address, "1.2.3.4.5");
}

TEST_F(ReceiverListTest, AnAddressEditNeedsExactlyFourPartsAndARowInTheList) {
    list_ = {{"10.0.0.7", 5}, {"10.0.0.8", 6}};
    EXPECT_EQ(model_.commitAddress("10.0.1", 0), ReceiverListModel::Edit::WrongFormat);
    EXPECT_EQ(model_.commitAddress("1.2.3.4.5", 0), ReceiverListModel::Edit::WrongFormat);
    EXPECT_EQ(model_.commitAddress("", 0), ReceiverListModel::Edit::WrongFormat);
    EXPECT_EQ(list_[0].address, "10.0.0.7");
    EXPECT_EQ(model_.commitAddress("1.2.3.4", 2), ReceiverListModel::Edit::NotEnoughDevices);
    EXPECT_EQ(model_.commitAddress("1.2.3.4", -1), ReceiverListModel::Edit::NotEnoughDevices);

    // Only the count of parts is checked; the type stays.
    EXPECT_EQ(model_.commitAddress("a.b.c.d", 1), ReceiverListModel::Edit::Accepted);
    EXPECT_EQ(list_[1], (WirelessManager::ReceiverAddress{"a.b.c.d", 6}));
    EXPECT_EQ(list_.size(), 2u);
}

TEST_F(ReceiverListTest, RowsPastTheListAndNoListChangeNothing) {
    list_ = {{"10.0.0.7", 5}};
    EXPECT_TRUE(model_.objectValue(ReceiverListModel::kIPColumn, 1).isNull());
    EXPECT_TRUE(model_.objectValue("OTHER", 0).isNull());
    EXPECT_EQ(model_.objectValue(ReceiverListModel::kDeviceTypeColumn, 0), Value(5));
    EXPECT_FALSE(model_.setDeviceType(1, 2));
    EXPECT_FALSE(model_.setDeviceType(0, 10));
    EXPECT_TRUE(model_.setDeviceType(0, 9));
    model_.removeRows({4, -1});
    EXPECT_EQ(list_, (Receivers{{"10.0.0.7", 9}}));

    list_ = {{"a.b.c.0", 0}, {"a.b.c.1", 1}, {"a.b.c.2", 2}, {"a.b.c.3", 3}};
    model_.removeRows({0, 2, 2});
    EXPECT_EQ(list_, (Receivers{{"a.b.c.1", 1}, {"a.b.c.3", 3}}));

    ReceiverListModel none;
    none.add();
    EXPECT_EQ(none.numberOfRows(), 0);
    EXPECT_EQ(none.commitAddress("1.2.3.4", 0), ReceiverListModel::Edit::NotEnoughDevices);
    Error error;
    EXPECT_FALSE(none.save(path("x.wip"), &error));
    EXPECT_FALSE(std::filesystem::exists(path("x.wip")));
}

TEST_F(ReceiverListTest, ASavedFileReadsBackAndAFileOfTheOriginalLayoutLoads) {
    list_ = {{"10.0.0.7", 5}, {"192.168.1.20", 0}};
    Error error;
    ASSERT_TRUE(model_.save(path("list.wip"), &error)) << error.description;
    // An XML property list of [string, integer] arrays in list order, with no temporary file
    // left beside it.
    const std::string text = contents(path("list.wip"));
    EXPECT_NE(text.find("<?xml"), std::string::npos);
    EXPECT_LT(text.find("<string>10.0.0.7</string>"), text.find("<string>192.168.1.20</string>"));
    EXPECT_NE(text.find("<integer>5</integer>"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);

    Receivers other;
    ReceiverListModel reader(&other);
    ASSERT_TRUE(reader.load(path("list.wip"), &error)) << error.description;
    EXPECT_EQ(other, list_);

    put(path("original.wip"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<array>\n"
        "\t<array>\n\t\t<string>10.1.1.1</string>\n\t\t<integer>6</integer>\n\t</array>\n"
        "\t<array>\n\t\t<string>10.1.1.2</string>\n\t\t<integer>2</integer>\n\t</array>\n"
        "</array>\n</plist>\n");
    ASSERT_TRUE(model_.load(path("original.wip"), &error)) << error.description;
    EXPECT_EQ(list_, (Receivers{{"10.1.1.1", 6}, {"10.1.1.2", 2}}));
}

TEST_F(ReceiverListTest, LoadReplacesTheListAndStoreWritesItUnderUserIPS) {
    Receivers saved = {{"10.9.9.9", 4}};
    Error error;
    ASSERT_TRUE(ReceiverListFile::write(saved, path("one.wip"), &error));
    list_ = {{"10.0.0.1", 1}, {"10.0.0.2", 2}};
    ASSERT_TRUE(model_.load(path("one.wip"), &error));
    EXPECT_EQ(list_, saved);

    {
        UserDefaults defaults(folder_.string(), "Defaults");
        ASSERT_TRUE(model_.store(defaults));
    }
    UserDefaults reread(folder_.string(), "Defaults");
    EXPECT_EQ(WirelessManager::readReceiverList(reread.objectForKey("UserIPS")), saved);

    // With no list the stored receivers stay.
    ReceiverListModel none;
    EXPECT_TRUE(none.store(reread));
    UserDefaults again(folder_.string(), "Defaults");
    EXPECT_EQ(WirelessManager::readReceiverList(again.objectForKey("UserIPS")), saved);
}

TEST_F(ReceiverListTest, BadFilesAreRefusedAndTheListStays) {
    const Receivers before = {{"10.0.0.1", 1}};
    const std::pair<const char*, const char*> files[] = {
        {"text.wip", "not a property list"},
        {"dict.wip", "<plist><dict><key>a</key><string>b</string></dict></plist>"},
        {"short.wip", "<plist><array><array><string>10.0.0.1</string></array></array></plist>"},
        {"type.wip",
         "<plist><array><array><string>1.2.3.4</string><integer>3</integer></array>"
         "<array><string>1.2.3.5</string><integer>12</integer></array></array></plist>"},
        {"swapped.wip",
         "<plist><array><array><integer>3</integer><string>1.2.3.4</string></array>"
         "</array></plist>"},
    };
    const std::string deep = test::deepXmlPlist(test::kCrashingDepth);
    std::vector<std::pair<const char*, const char*>> all(std::begin(files), std::end(files));
    all.emplace_back("deep.wip", deep.c_str());
    for (const auto& [name, text] : all) {
        put(path(name), text);
        list_ = before;
        Error error;
        EXPECT_FALSE(model_.load(path(name), &error)) << name;
        EXPECT_NE(error.description.find(name), std::string::npos) << error.description;
        EXPECT_EQ(list_, before) << name;
    }
    Error error;
    EXPECT_FALSE(model_.load(path("missing.wip"), &error));
    EXPECT_EQ(list_, before);
}

TEST_F(ReceiverListTest, ASaveIntoAFolderThatCannotBeWrittenIsReported) {
    put(path("plain-file"), "x");
    list_ = {{"10.0.0.1", 1}};
    Error error;
    EXPECT_FALSE(model_.save(path("plain-file") + "/list.wip", &error));
    EXPECT_FALSE(error.description.empty());
    EXPECT_FALSE(model_.save(path("no-folder/list.wip"), &error));
    EXPECT_EQ(contents(path("plain-file")), "x");
}

}  // namespace
}  // namespace quenbril
