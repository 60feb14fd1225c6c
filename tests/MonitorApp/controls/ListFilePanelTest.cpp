#include <gtest/gtest.h>

#include "MonitorApp/controls/ListFilePanel.h"
#include "foundation/Error.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

struct Alerted {
    std::string message;
    std::string info;
};

// Both buttons ask for the list's file type only, run the file work on the chosen path and word
// a failure with the file's name; a cancelled panel or a missing one runs nothing.
TEST(ListFilePanelTest, AsksForTheListsTypeAndWordsFailuresWithTheFilesName) {
    ListFilePanel files("receivers", "wip", "Receivers");
    std::vector<std::string> ran;
    std::vector<Alerted> alerts;
    auto failed = [&](const std::string& m, const std::string& i) { alerts.push_back({m, i}); };
    auto succeed = [&](const std::string& path, Error*) {
        ran.push_back(path);
        return true;
    };
    auto fail = [&](const std::string& path, Error* error) {
        ran.push_back(path);
        error->description = "No such file.";
        return false;
    };

    EXPECT_FALSE(files.load(nullptr, succeed, failed));  // no panel
    RecordingFilePanel panel;
    files.setFilePanel(&panel);
    panel.answers = {std::nullopt, "/tmp/a/List.wip", "/tmp/b/Gone.wip", "/tmp/c/Out.wip"};
    EXPECT_FALSE(files.load(nullptr, succeed, failed));  // cancelled
    EXPECT_TRUE(files.load(nullptr, succeed, failed));
    EXPECT_FALSE(files.load(nullptr, fail, failed));
    EXPECT_FALSE(files.saveAs(nullptr, fail, failed));
    EXPECT_EQ(ran,
              (std::vector<std::string>{"/tmp/a/List.wip", "/tmp/b/Gone.wip", "/tmp/c/Out.wip"}));

    ASSERT_EQ(panel.requests.size(), 4u);
    EXPECT_EQ(panel.requests[0].kind, FilePanel::Request::Kind::Open);
    EXPECT_EQ(panel.requests[0].allowedTypes, std::vector<std::string>{"wip"});
    EXPECT_EQ(panel.requests[3].kind, FilePanel::Request::Kind::Save);
    EXPECT_EQ(panel.requests[3].allowedTypes, std::vector<std::string>{"wip"});
    EXPECT_EQ(panel.requests[3].suggestedName, "Receivers.wip");

    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].message, "The receivers of \"Gone.wip\" could not be loaded.");
    EXPECT_EQ(alerts[0].info, "No such file.");
    EXPECT_EQ(alerts[1].message, "The receivers could not be saved to \"Out.wip\".");
}

}  // namespace
}  // namespace quenbril
