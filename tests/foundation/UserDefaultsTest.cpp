#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

namespace quenbril {
namespace {

namespace fs = std::filesystem;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Each test gets a fresh XDG_CONFIG_HOME and a fresh shared store; restart() drops the store
// and reads the file again, as the next run of the program would.
class UserDefaultsTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quenbril-defaults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        UserDefaults::resetStandardUserDefaults();
    }

    void TearDown() override {
        UserDefaults::resetStandardUserDefaults();
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static UserDefaults& restart() {
        UserDefaults::resetStandardUserDefaults();
        return UserDefaults::standardUserDefaults();
    }

    fs::path folder() const { return fs::path(root_) / "Quenbril"; }
    fs::path file() const { return folder() / "Quenbril.plist"; }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(UserDefaultsTest, ValuesOfEveryKindSurviveARestart) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.path(), file().string());
    EXPECT_FALSE(fs::exists(folder())) << "nothing is written before the first change";

    EXPECT_TRUE(defaults.setBool(true, "useManualIP"));
    EXPECT_TRUE(defaults.setInteger(-1234567890123, "clientID"));
    EXPECT_TRUE(defaults.setDouble(0.125, "horizontalZoom"));
    EXPECT_TRUE(defaults.setObject(Value("10.0.0.7"), "manualIP"));
    EXPECT_TRUE(defaults.setObject(Value(Array{1, "two", Dictionary{{"three", 3.5}}}), "chanList"));
    EXPECT_TRUE(
        defaults.setObject(Value(Dictionary{{"soloOn", false}, {"columns", 6}}), "UserSettings"));
    EXPECT_TRUE(defaults.setObject(Value(Bytes{0, 1, 254, 255}), "Image"));
    EXPECT_TRUE(defaults.setObject(Value::date(800000000.0), "when"));
    EXPECT_TRUE(defaults.setObject(Value("gone soon"), "scratch"));
    EXPECT_TRUE(defaults.removeObjectForKey("scratch"));

    const Bytes text = readFile(file());
    EXPECT_EQ(std::string(text.begin(), text.begin() + 5), "<?xml");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"});
    EXPECT_EQ(fs::status(folder()).permissions() & fs::perms::all, fs::perms::owner_all);

    UserDefaults& after = restart();
    EXPECT_NE(&after, &defaults);
    EXPECT_TRUE(after.boolForKey("useManualIP"));
    EXPECT_TRUE(after.objectForKey("useManualIP").isBool()) << "a bool stays a bool";
    EXPECT_EQ(after.integerForKey("clientID"), -1234567890123);
    EXPECT_DOUBLE_EQ(after.doubleForKey("horizontalZoom"), 0.125);
    EXPECT_FLOAT_EQ(after.floatForKey("horizontalZoom"), 0.125f);
    EXPECT_EQ(after.stringForKey("manualIP"), "10.0.0.7");
    EXPECT_EQ(after.arrayForKey("chanList"), (Array{1, "two", Dictionary{{"three", 3.5}}}));
    EXPECT_EQ(after.dictionaryForKey("UserSettings"),
              (Dictionary{{"soloOn", false}, {"columns", 6}}));
    EXPECT_EQ(after.dataForKey("Image"), (Bytes{0, 1, 254, 255}));
    EXPECT_EQ(after.objectForKey("when"), Value::date(800000000.0));
    EXPECT_TRUE(after.objectForKey("scratch").isNull());
    EXPECT_EQ(after.storedValues().size(), 8u);
}

TEST_F(UserDefaultsTest, FolderFollowsXdgConfigHomeElseHome) {
    setenv("HOME", root_.c_str(), 1);
    const std::string underHome = root_ + "/.config/Quenbril/Quenbril.plist";
    setenv("XDG_CONFIG_HOME", "relative/paths/are/ignored", 1);
    EXPECT_EQ(restart().path(), underHome);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(restart().path(), underHome);
    EXPECT_TRUE(restart().setBool(true, "made"));
    EXPECT_TRUE(fs::exists(underHome));
}

TEST_F(UserDefaultsTest, StoredValuesOverrideRegisteredDefaultsWhichAreNeverWritten) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.registerDefaults({{"columns", 4}, {"qbIdentifier", "quenbril"}});
    defaults.registerDefaults({{"columns", 5}});
    EXPECT_EQ(defaults.integerForKey("columns"), 5) << "a later registration wins";
    EXPECT_EQ(defaults.stringForKey("qbIdentifier"), "quenbril");

    EXPECT_TRUE(defaults.setInteger(8, "columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 8);
    EXPECT_EQ(defaults.objectForKey("columns"), Value(8));
    EXPECT_EQ(defaults.storedValues(), (Dictionary{{"columns", 8}}));
    EXPECT_EQ(PropertyList::readFile(file()), Value(Dictionary{{"columns", 8}}));

    EXPECT_TRUE(defaults.removeObjectForKey("columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 5);

    UserDefaults& after = restart();
    EXPECT_EQ(after.integerForKey("columns"), 0) << "registrations last for one run";
    EXPECT_EQ(after.stringForKey("qbIdentifier"), std::nullopt);
}

TEST_F(UserDefaultsTest, ValuesOfTheWrongKindReadAsMissing) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setObject(Value("YES"), "soloOn"));
    ASSERT_TRUE(defaults.setObject(Value(Dictionary{{"a", 1}}), "chanList"));
    ASSERT_TRUE(defaults.setObject(Value(42), "manualIP"));
    ASSERT_TRUE(defaults.setObject(Value("bytes"), "Image"));

    EXPECT_FALSE(defaults.boolForKey("soloOn"));
    EXPECT_EQ(defaults.integerForKey("soloOn"), 0);
    EXPECT_EQ(defaults.doubleForKey("soloOn"), 0);
    EXPECT_EQ(defaults.arrayForKey("chanList"), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.dataForKey("Image"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.objectForKey("soloOn"), Value("YES")) << "the raw value is still there";

    // Missing means the registered default applies, when it has the right kind.
    defaults.registerDefaults({{"soloOn", true}, {"chanList", Array{}}, {"manualIP", 7}});
    EXPECT_TRUE(defaults.boolForKey("soloOn"));
    EXPECT_EQ(defaults.arrayForKey("chanList"), Array{});
    EXPECT_EQ(defaults.stringForKey("manualIP"), std::nullopt);

    // Numbers convert into each other as number objects do.
    ASSERT_TRUE(defaults.setDouble(2.9, "columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 2);
    EXPECT_TRUE(defaults.boolForKey("columns"));
    ASSERT_TRUE(defaults.setBool(true, "flag"));
    EXPECT_EQ(defaults.integerForKey("flag"), 1);
}

TEST_F(UserDefaultsTest, ValuesAPropertyListCannotHoldAreRefusedAndChangeNothing) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setInteger(3, "columns"));
    EXPECT_FALSE(defaults.setObject(Value(Color{1, 0, 0, 1}), "columns"));
    EXPECT_FALSE(defaults.setObject(Value(Dictionary{{3, "number key"}}), "groups"));
    EXPECT_FALSE(defaults.setObject(Value(Array{Value()}), "withNull"));
    EXPECT_EQ(defaults.storedValues(), (Dictionary{{"columns", 3}}));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(restart().storedValues(), (Dictionary{{"columns", 3}}));

    // A null value removes the key, as with removeObjectForKey.
    EXPECT_TRUE(UserDefaults::standardUserDefaults().setObject(Value(), "columns"));
    EXPECT_TRUE(restart().storedValues().empty());
}

TEST_F(UserDefaultsTest, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setObject(Value("old"), "manualIP"));
    const Bytes before = readFile(file());

    // Cap the size of files this process may write, so the new file's write fails after its
    // first few kilobytes; the file to replace is smaller than the cap.
    ASSERT_LT(before.size(), 4096u);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = saved;
    capped.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    const bool saved1 = defaults.setObject(Value(Bytes(65536, 0xAB)), "Image");
    const bool saved2 = defaults.synchronize();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved1);
    EXPECT_FALSE(saved2) << "the retry failed too";
    EXPECT_EQ(readFile(file()), before);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"}) << "no stray file";
    EXPECT_EQ(defaults.dataForKey("Image"), Bytes(65536, 0xAB)) << "kept for this run";

    // Once writing works again, synchronize saves what was not saved.
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(restart().dataForKey("Image"), Bytes(65536, 0xAB));
}

TEST_F(UserDefaultsTest, ATemporaryFileLeftByACrashIsIgnoredAndRemoved) {
    ASSERT_TRUE(UserDefaults::standardUserDefaults().setInteger(2, "columns"));
    writeFile(folder() / "Quenbril.plist.tmp-Ab3dE9", "<?xml version=\"1.0\"?><pli");

    UserDefaults& after = restart();
    EXPECT_EQ(after.integerForKey("columns"), 2);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"});
}

TEST_F(UserDefaultsTest, AnUnwritableLocationMakesSettersFail) {
    // A file where the folder must go: no one, not even root, can write below it.
    writeFile(fs::path(root_) / "blocked", "");
    setenv("XDG_CONFIG_HOME", (root_ + "/blocked").c_str(), 1);
    UserDefaults& defaults = restart();
    EXPECT_FALSE(defaults.setBool(true, "useManualIP"));
    EXPECT_FALSE(defaults.removeObjectForKey("useManualIP"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(defaults.objectForKey("useManualIP").isNull());

    // A folder where the file must go: it cannot be read, and it is not replaced.
    fs::create_directories(file());
    UserDefaults other(folder().string(), "Quenbril");
    EXPECT_FALSE(other.setInteger(1, "columns"));
    EXPECT_TRUE(fs::is_directory(file()));
}

TEST_F(UserDefaultsTest, ADamagedFileIsMovedAsideAndTheStoreStartsEmpty) {
    fs::create_directories(folder());
    const std::string damaged[] = {
        "<?xml version=\"1.0\"?><plist><dict><key>columns</key><integ",
        "",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        writeFile(file(), text);
        UserDefaults defaults(folder().string(), "Quenbril");
        EXPECT_TRUE(defaults.storedValues().empty());
        EXPECT_FALSE(fs::exists(file()));
        std::vector<std::string> names = folderEntries();
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("Quenbril.plist.corrupt-", 0), 0u) << names[0];
        const Bytes kept = readFile(folder() / names[0]);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), text);

        EXPECT_TRUE(defaults.setInteger(5, "columns"));
        EXPECT_EQ(UserDefaults(folder().string(), "Quenbril").integerForKey("columns"), 5);
        fs::remove(folder() / names[0]);
    }
}

TEST_F(UserDefaultsTest, AFileHoldingAValueWeCannotWriteBackStillLetsUsSave) {
    // Written elsewhere: dates this far out do not fit the store's date range.
    fs::create_directories(folder());
    writeFile(file(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>future</key><date>2200-01-01T00:00:00Z</date>"
              "<key>past</key><date>1800-01-01T00:00:00Z</date>"
              "<key>columns</key><integer>3</integer></dict></plist>");
    UserDefaults& defaults = restart();
    EXPECT_EQ(defaults.integerForKey("columns"), 3);
    EXPECT_TRUE(defaults.setBool(true, "soloOn"));
    UserDefaults& after = restart();
    EXPECT_EQ(after.integerForKey("columns"), 3);
    EXPECT_TRUE(after.boolForKey("soloOn"));
}

TEST_F(UserDefaultsTest, WritesFromSeveralThreadsAreAllKept) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    constexpr int kThreads = 4;
    constexpr int kWrites = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < kWrites; ++i) {
                std::string key = "k" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_TRUE(defaults.setInteger(t * 100 + i, key));
                EXPECT_EQ(defaults.integerForKey(key), t * 100 + i);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    UserDefaults& after = restart();
    EXPECT_EQ(after.storedValues().size(), size_t{kThreads * kWrites});
    EXPECT_EQ(after.integerForKey("k3-9"), 309);
}

}  // namespace
}  // namespace quenbril
