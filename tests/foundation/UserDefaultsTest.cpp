#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "foundation/BoundedFileRead.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "tests/foundation/TestSupport.h"
#include "tests/support/DeepPlist.h"
#include "tests/support/KilledSave.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril {
namespace {

namespace fs = std::filesystem;
using test::readFile;

void writeFile(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Each test gets a fresh XDG_CONFIG_HOME and a fresh shared store; restart() drops the store
// and reads the file again, as the next run of the program would.
class UserDefaultsTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-defaults-XXXXXX"));
        UserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        UserDefaults::resetStandardUserDefaults();
        leaveTemporarySettings();
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
};

TEST_F(UserDefaultsTest, ValuesOfEveryKindSurviveARestart) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.path(), file().string());
    EXPECT_FALSE(fs::exists(folder())) << "nothing is written before the first change";

    const Array list{1, "two", Dictionary{{"three", 3.5}}};
    const Dictionary settings{{"soloOn", false}, {"columns", 6}};
    EXPECT_TRUE(defaults.setBool(true, "useManualIP"));
    EXPECT_TRUE(defaults.setInteger(-1234567890123, "clientID"));
    EXPECT_TRUE(defaults.setDouble(0.125, "horizontalZoom"));
    EXPECT_TRUE(defaults.setObject(Value("10.0.0.7"), "manualIP"));
    EXPECT_TRUE(defaults.setObject(Value(list), "chanList"));
    EXPECT_TRUE(defaults.setObject(Value(settings), "UserSettings"));
    EXPECT_TRUE(defaults.setObject(Value(Bytes{0, 1, 254, 255}), "Image"));
    EXPECT_TRUE(defaults.setObject(Value::date(800000000.0), "when"));

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
    EXPECT_EQ(after.stringForKey("manualIP"), "10.0.0.7");
    EXPECT_EQ(after.arrayForKey("chanList"), list);
    EXPECT_EQ(after.dictionaryForKey("UserSettings"), settings);
    EXPECT_EQ(after.dataForKey("Image"), (Bytes{0, 1, 254, 255}));
    EXPECT_EQ(after.objectForKey("when"), Value::date(800000000.0));
    EXPECT_EQ(after.storedValues().size(), 8u);
}

TEST_F(UserDefaultsTest, FolderFollowsXdgConfigHomeElseHome) {
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", root_.c_str(), 1);
    const std::string underHome = root_ + "/.config/Quenbril/Quenbril.plist";
    setenv("XDG_CONFIG_HOME", "relative/paths/are/ignored", 1);
    EXPECT_EQ(restart().path(), underHome);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(restart().path(), underHome);
    EXPECT_TRUE(restart().setBool(true, "made"));
    EXPECT_TRUE(fs::exists(underHome));
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(UserDefaultsTest, StoredValuesOfTheRightKindOverrideRegisteredDefaults) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.registerDefaults({{"columns", 4}, {"qbIdentifier", "quenbril"}, {"soloOn", true}});
    defaults.registerDefaults({{"columns", 5}, {"manualIP", 7}});
    EXPECT_EQ(defaults.integerForKey("columns"), 5) << "a later registration wins";
    EXPECT_EQ(defaults.stringForKey("qbIdentifier"), "quenbril");

    EXPECT_TRUE(defaults.setInteger(8, "columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 8);
    EXPECT_EQ(PropertyList::readFile(file()), Value(Dictionary{{"columns", 8}}))
        << "registered defaults are never written";
    EXPECT_TRUE(defaults.removeObjectForKey("columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 5);

    // A stored value of the wrong kind reads as missing: the registered default applies when it
    // has the right kind.
    ASSERT_TRUE(defaults.setObject(Value("NO"), "soloOn"));
    ASSERT_TRUE(defaults.setObject(Value(42), "manualIP"));
    EXPECT_TRUE(defaults.boolForKey("soloOn"));
    EXPECT_EQ(defaults.stringForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.arrayForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.dataForKey("manualIP"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("qbIdentifier"), 0);
    EXPECT_EQ(defaults.objectForKey("soloOn"), Value("NO")) << "the raw value is still there";
    // Numbers convert into each other as number objects do.
    ASSERT_TRUE(defaults.setDouble(2.9, "columns"));
    EXPECT_EQ(defaults.integerForKey("columns"), 2);
    EXPECT_TRUE(defaults.boolForKey("columns"));
    ASSERT_TRUE(defaults.setBool(true, "flag"));
    EXPECT_EQ(defaults.integerForKey("flag"), 1);

    UserDefaults& after = restart();
    EXPECT_EQ(after.stringForKey("qbIdentifier"), std::nullopt) << "registrations last one run";
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

TEST_F(UserDefaultsTest, OnlyTemporaryFilesOfEndedProcessesAreRemovedAtStartUp) {
    ASSERT_TRUE(UserDefaults::standardUserDefaults().setInteger(2, "columns"));
    const std::string crashed =
        "Quenbril.plist.tmp-" + std::to_string(test::goneProcessID()) + "-Ab3dE9";
    const std::string running = "Quenbril.plist.tmp-" + std::to_string(getppid()) + "-Zy8xW7";
    writeFile(folder() / crashed, "<?xml version=\"1.0\"?><pli");
    writeFile(folder() / running, "<?xml version=\"1.0\"?><pli");
    EXPECT_EQ(restart().integerForKey("columns"), 2);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"Quenbril.plist", running}));
}

TEST_F(UserDefaultsTest, AStoreStartingUpLeavesAnotherStoresWriteUnderWayAlone) {
    UserDefaults writer(folder().string(), "Quenbril");
    std::vector<std::string> seenDuringWrite;
    writer.setBeforeReplaceForTesting([&] {
        // A second copy of the program starts while the first is between its write and its
        // rename.
        UserDefaults starting(folder().string(), "Quenbril");
        seenDuringWrite = folderEntries();
    });
    EXPECT_TRUE(writer.setInteger(4, "columns"));
    ASSERT_EQ(seenDuringWrite.size(), 1u);
    EXPECT_EQ(seenDuringWrite[0].rfind("Quenbril.plist.tmp-" + std::to_string(getpid()) + "-", 0),
              0u)
        << seenDuringWrite[0];
    EXPECT_EQ(UserDefaults(folder().string(), "Quenbril").integerForKey("columns"), 4);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"});
}

TEST_F(UserDefaultsTest, StoresSharingAFileKeepEachOthersChanges) {
    fs::create_directories(folder());
    writeFile(file(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>shared</key><integer>1</integer><key>kept</key><integer>2</integer>"
              "</dict></plist>");
    UserDefaults first(folder().string(), "Quenbril");
    UserDefaults second(folder().string(), "Quenbril");

    EXPECT_TRUE(first.setInteger(10, "fromFirst"));
    EXPECT_TRUE(second.setInteger(20, "fromSecond"));
    EXPECT_EQ(second.integerForKey("fromFirst"), 10) << "a merging save reads the other's keys";
    // A removal is an own change: the other store's next save must not bring the key back.
    EXPECT_TRUE(first.removeObjectForKey("shared"));
    EXPECT_TRUE(second.setInteger(21, "fromSecond"));
    // Of two changes to one key, the later save wins.
    EXPECT_TRUE(first.setInteger(1, "both"));
    EXPECT_TRUE(second.setInteger(2, "both"));
    EXPECT_TRUE(first.setInteger(11, "fromFirst"));

    const Dictionary expected{{"kept", 2}, {"fromFirst", 11}, {"fromSecond", 21}, {"both", 2}};
    EXPECT_EQ(UserDefaults(folder().string(), "Quenbril").storedValues(), expected);
    EXPECT_EQ(first.storedValues(), expected);

    // A file damaged since it was read is moved aside, and the store's values replace it.
    writeFile(file(), "<?xml version=\"1.0\"?><plist><dict><key>columns</key><integ");
    EXPECT_TRUE(second.setInteger(22, "fromSecond"));
    EXPECT_EQ(folderEntries().size(), 2u);
    EXPECT_EQ(UserDefaults(folder().string(), "Quenbril").storedValues(),
              (Dictionary{{"kept", 2}, {"fromFirst", 10}, {"fromSecond", 22}, {"both", 2}}));
}

TEST_F(UserDefaultsTest, TwoProcessesWritingAtOnceKeepAllTheirKeys) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    // Each process writes through one long-lived store and through stores made afresh, whose
    // start-up runs while the other process writes.
    auto writeKeys = [this](const std::string& prefix) {
        UserDefaults lasting(folder().string(), "Quenbril");
        int failures = 0;
        for (int i = 0; i < 40; ++i) {
            const std::string key = prefix + std::to_string(i);
            if (i % 2 == 0) {
                failures += lasting.setInteger(i, key) ? 0 : 1;
            } else {
                failures += UserDefaults(folder().string(), "Quenbril").setInteger(i, key) ? 0 : 1;
            }
        }
        return failures;
    };
    fs::create_directories(folder());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(go[1]);
        char byte;
        const bool started = read(go[0], &byte, 1) == 1;
        _exit(started ? std::min(writeKeys("child-"), 100) : 101);
    }
    close(go[0]);
    ASSERT_EQ(write(go[1], "x", 1), 1);
    close(go[1]);
    const int parentFailures = writeKeys("parent-");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writes that failed in the child";
    EXPECT_EQ(parentFailures, 0);

    const Dictionary stored = UserDefaults(folder().string(), "Quenbril").storedValues();
    EXPECT_EQ(stored.size(), 80u);
    EXPECT_EQ(stored["child-39"], Value(39));
    EXPECT_EQ(stored["parent-38"], Value(38));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"});
}

TEST_F(UserDefaultsTest, AReadOnlyFileIsNotReplacedAndTheFailureIsReported) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setInteger(3, "columns"));
    const Bytes before = readFile(file());
    fs::permissions(file(), fs::perms::owner_read | fs::perms::group_read);

    EXPECT_FALSE(defaults.setInteger(5, "columns"));
    EXPECT_FALSE(defaults.removeObjectForKey("columns"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(readFile(file()), before);
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"}) << "no stray file";

    // Made writable again, the file takes what was not saved.
    fs::permissions(file(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(defaults.setInteger(6, "columns"));
    EXPECT_EQ(restart().integerForKey("columns"), 6);
}

TEST_F(UserDefaultsTest, ASymlinkedFileIsWrittenThroughToItsTarget) {
    const fs::path elsewhere = fs::path(root_) / "dotfiles";
    fs::create_directories(elsewhere);
    fs::create_directories(folder());
    writeFile(elsewhere / "quenbril.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>columns</key><integer>3</integer></dict></plist>");
    fs::permissions(elsewhere / "quenbril.plist",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("../dotfiles/quenbril.plist", file());

    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.integerForKey("columns"), 3);
    EXPECT_TRUE(defaults.setInteger(7, "columns"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file())));
    EXPECT_EQ(fs::read_symlink(file()), "../dotfiles/quenbril.plist");
    EXPECT_EQ(fs::status(elsewhere / "quenbril.plist").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
        << "the target keeps its mode";
    EXPECT_EQ(restart().integerForKey("columns"), 7);

    // A link whose target does not exist yet gets it made.
    fs::remove(file());
    fs::create_symlink(elsewhere / "new.plist", file());
    EXPECT_TRUE(restart().setBool(true, "soloOn"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file())));
    EXPECT_TRUE(UserDefaults(elsewhere.string(), "new").boolForKey("soloOn"));
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

TEST_F(UserDefaultsTest, AnOversizedFileIsMovedAsideUnreadAndTheStoreStartsEmpty) {
    // A well-formed file, only too large: read, it would be rewritten whole on every change.
    fs::create_directories(folder());
    const std::string head =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>columns</key><integer>2"
        "</integer><key>pad</key><string>";
    const std::string tail = "</string></dict></plist>";
    writeFile(file(),
              head + std::string(kMaxUserFileSize + 1 - head.size() - tail.size(), 'x') + tail);
    UserDefaults defaults(folder().string(), "Quenbril");
    EXPECT_TRUE(defaults.storedValues().empty());
    std::vector<std::string> names = folderEntries();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("Quenbril.plist.corrupt-", 0), 0u) << names[0];
    EXPECT_EQ(fs::file_size(folder() / names[0]), kMaxUserFileSize + 1);

    EXPECT_TRUE(defaults.setInteger(5, "columns"));
    EXPECT_EQ(UserDefaults(folder().string(), "Quenbril").integerForKey("columns"), 5);
}

TEST_F(UserDefaultsTest, AFileNestedPastAnyBoundIsMovedAsideAndTheStoreStartsEmpty) {
    // It ended every start of the program: the parser's tree overflowed the stack.
    fs::create_directories(folder());
    writeFile(file(), test::deepXmlPlist(test::kCrashingDepth));
    UserDefaults& defaults = restart();
    EXPECT_TRUE(defaults.storedValues().empty());
    std::vector<std::string> names = folderEntries();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("Quenbril.plist.corrupt-", 0), 0u) << names[0];
    EXPECT_TRUE(defaults.setInteger(5, "columns"));
    EXPECT_EQ(restart().integerForKey("columns"), 5);
}

TEST_F(UserDefaultsTest, AValueThatWouldMakeAFileTooLargeToReadIsRefusedAndTheOldFileStays) {
    // The next start would set such a file aside, and every setting with it.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setObject(Value("127.0.0.9"), "manualIP"));
    const Bytes before = readFile(file());
    // In base64, 50 MB of data take more than 64 MiB.
    const Value huge(Array{Dictionary{{"red", 1.0}, {"pad", Bytes(50'000'000, 7)}}});
    EXPECT_FALSE(defaults.setObject(huge, "groupColors"));
    EXPECT_TRUE(defaults.objectForKey("groupColors").isNull());
    EXPECT_EQ(readFile(file()), before);
    EXPECT_TRUE(defaults.setInteger(3, "columns")) << "later saves go on";

    UserDefaults& after = restart();
    EXPECT_EQ(after.stringForKey("manualIP"), "127.0.0.9");
    EXPECT_EQ(after.integerForKey("columns"), 3);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"Quenbril.plist"});
}

TEST_F(UserDefaultsTest, AFileOfTooManyElementsIsSetAsideUnparsed) {
    // 64 MiB of them took half a minute and 1.7 GB at every start.
    fs::create_directories(folder());
    std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>pad</key><array>";
    for (size_t i = 0; i < PropertyList::kMaxElements; ++i) text += "<true/>";
    writeFile(file(), text + "</array></dict></plist>");
    UserDefaults& defaults = restart();
    EXPECT_TRUE(defaults.storedValues().empty());
    auto aside = defaults.takeSetAside();
    ASSERT_TRUE(aside);
    EXPECT_NE(aside->reason.find("elements"), std::string::npos) << aside->reason;
    EXPECT_TRUE(fs::exists(aside->movedTo));
    EXPECT_TRUE(defaults.setInteger(5, "columns"));
    EXPECT_EQ(restart().integerForKey("columns"), 5);
}

TEST_F(UserDefaultsTest, AFileThatWouldBeWrittenBackLargerThanTheStoreReadsIsSetAside) {
    // Kept, such a file refused every save of the run, and each took seconds. A string of
    // 64 MiB that the writer's header makes a little more; a megabyte that its indentation
    // makes more than 64 MiB.
    const std::string head =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>columns</key>"
        "<integer>2</integer><key>pad</key>";
    const std::string tail = "</dict></plist>";
    const std::string string = head + "<string>" +
                               std::string(kMaxUserFileSize - head.size() - tail.size() - 17, 'x') +
                               "</string>" + tail;
    ASSERT_EQ(string.size(), kMaxUserFileSize);
    std::string indented = head;
    constexpr int kDepth = 500;
    for (int i = 0; i < kDepth; ++i) indented += "<array>";
    for (int i = 0; i < 150000; ++i) indented += "<true/>";
    for (int i = 0; i < kDepth; ++i) indented += "</array>";
    indented += tail;
    ASSERT_LT(indented.size(), kMaxUserFileSize / 32);
    fs::create_directories(folder());
    for (const std::string* text : {&string, static_cast<const std::string*>(&indented)}) {
        writeFile(file(), *text);
        UserDefaults& defaults = restart();
        EXPECT_TRUE(defaults.storedValues().empty());
        auto aside = defaults.takeSetAside();
        ASSERT_TRUE(aside) << "set aside as a damaged file is, for the alert";
        EXPECT_EQ(aside->file, file().string());
        EXPECT_NE(aside->reason.find("written back"), std::string::npos) << aside->reason;
        EXPECT_EQ(fs::file_size(aside->movedTo), text->size());
        fs::remove(aside->movedTo);
        EXPECT_TRUE(defaults.setInteger(5, "columns"));
        EXPECT_EQ(restart().integerForKey("columns"), 5);
    }

    // Left by another writer while this store runs: set aside at the next save, which goes on.
    writeFile(file(), indented);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().setBool(true, "soloOn"));
    auto aside = UserDefaults::standardUserDefaults().takeSetAside();
    ASSERT_TRUE(aside);
    EXPECT_NE(aside->reason.find("written back"), std::string::npos) << aside->reason;
    UserDefaults& after = restart();
    EXPECT_EQ(after.integerForKey("columns"), 5);
    EXPECT_TRUE(after.boolForKey("soloOn"));
}

TEST_F(UserDefaultsTest, ARefusedSaveIsLoggedOnceUntilASaveGoesThrough) {
    // A full disk refused each of a stream of saves with a line of its own.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_TRUE(defaults.setObject(Value(Bytes(65536, 1)), "Image"));
    auto countLines = [](const std::string& text, std::string_view what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    auto capFileSize = [&](bool capped) {
        rlimit limit = saved;
        if (capped) limit.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    };
    const LogLevel level = logLevel();
    setLogLevel(LogLevel::Info);
    testing::internal::CaptureStderr();
    capFileSize(true);
    int refused = 0;
    for (int i = 0; i < 50; ++i) refused += defaults.setInteger(i, "columns") ? 0 : 1;
    refused += defaults.synchronize() ? 0 : 1;
    capFileSize(false);
    const bool savedAgain = defaults.synchronize();
    capFileSize(true);
    const bool refusedAgain = !defaults.setInteger(99, "columns");
    capFileSize(false);
    const std::string logged = testing::internal::GetCapturedStderr();
    setLogLevel(level);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(refused, 51);
    EXPECT_TRUE(savedAgain);
    EXPECT_TRUE(refusedAgain);
    EXPECT_EQ(countLines(logged, "Settings not saved"), 2u) << logged;
    EXPECT_EQ(countLines(logged, "saved to " + file().string() + " again"), 1u) << logged;
    EXPECT_EQ(restart().integerForKey("columns"), 49);
}

TEST_F(UserDefaultsTest, AFileOfTooManyEscapesIsMovedAsideUnparsed) {
    // libplist would have taken minutes over this 10 MB text, and hours over 64 MiB.
    fs::create_directories(folder());
    std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>pad</key><string>";
    for (int i = 0; i < 2000000; ++i) text += "&amp;";
    writeFile(file(), text + "</string></dict></plist>");
    EXPECT_TRUE(restart().storedValues().empty());
    std::vector<std::string> names = folderEntries();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("Quenbril.plist.corrupt-", 0), 0u) << names[0];
}

TEST_F(UserDefaultsTest, AFifoInPlaceOfTheFileIsNeitherWaitedForNorWrittenOver) {
    fs::create_directories(folder());
    ASSERT_EQ(mkfifo(file().c_str(), 0600), 0);
    auto start = std::async(std::launch::async, [&] {
        UserDefaults defaults(folder().string(), "Quenbril");
        const auto unreadable = defaults.takeUnreadable();
        return defaults.setInteger(5, "columns") ? "saved"
               : unreadable                      ? unreadable->reason
                                                 : "not told";
    });
    if (start.wait_for(test::scaledDuration(10.0)) != std::future_status::ready) {
        const int writer = open(file().c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        start.wait();
        FAIL() << "the store waited on a FIFO";
    }
    EXPECT_EQ(start.get(), "Not a regular file") << "told, and in words";
    EXPECT_TRUE(fs::is_fifo(file()));
}

TEST_F(UserDefaultsTest, AFileHoldingAValueWeCannotWriteBackStillLetsUsSave) {
    // Written elsewhere: dates this far out do not fit the store's date range.
    fs::create_directories(folder());
    writeFile(file(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>future</key><date>2200-01-01T00:00:00Z</date>"
              "<key>past</key><date>1800-01-01T00:00:00Z</date>"
              "<key>columns</key><integer>3</integer></dict></plist>");
    EXPECT_EQ(restart().integerForKey("columns"), 3);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().setBool(true, "soloOn"));
    UserDefaults& after = restart();
    EXPECT_EQ(after.integerForKey("columns"), 3);
    EXPECT_TRUE(after.boolForKey("soloOn"));
}

TEST_F(UserDefaultsTest, WritesFromSeveralThreadsAreAllKept) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 10; ++i) {
                std::string key = "k" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_TRUE(defaults.setInteger(t * 100 + i, key));
                EXPECT_EQ(defaults.integerForKey(key), t * 100 + i);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    UserDefaults& after = restart();
    EXPECT_EQ(after.storedValues().size(), 40u);
    EXPECT_EQ(after.integerForKey("k3-9"), 309);
}

}  // namespace
}  // namespace quenbril
