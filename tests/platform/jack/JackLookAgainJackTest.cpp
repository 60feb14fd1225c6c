#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/audio/JackAudioBackend.h"
#include "platform/jack/JackServerPresence.h"

namespace quenbril {
namespace {

// A socket file where the server of that name would listen, that nobody answers on: what a
// killed server leaves behind.
class DeadServerSocket {
  public:
    explicit DeadServerSocket(const std::string& path) : path_(path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        bound_ = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
    }
    ~DeadServerSocket() { ::unlink(path_.c_str()); }
    bool bound() const { return bound_; }

  private:
    std::string path_;
    bool bound_ = false;
};

// The server the binary's other tests use, and the clock, put back after each test.
class JackLookAgain : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* name = std::getenv("JACK_DEFAULT_SERVER")) server_ = name;
        if (const char* value = std::getenv("JACK_PROMISCUOUS_SERVER")) promiscuous_ = value;
        const std::string name = "quenbril-lookagain-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::unsetenv("JACK_PROMISCUOUS_SERVER");
        JackServerPresence::setClockForTesting([this] { return now_; });
    }
    void TearDown() override {
        JackServerPresence::setClockForTesting({});
        JackServerPresence::serverAnswered();
        if (server_) ::setenv("JACK_DEFAULT_SERVER", server_->c_str(), 1);
        if (promiscuous_) {
            ::setenv("JACK_PROMISCUOUS_SERVER", promiscuous_->c_str(), 1);
        } else {
            ::unsetenv("JACK_PROMISCUOUS_SERVER");
        }
    }

    // Ticks of the stream watch, a second apart, from `from` to `to` seconds: each asks for the
    // device changes and looks again when they grew, as a unit that is lost or plays on a
    // stand-in does. The looks made after `countFrom` seconds.
    int looksBetween(JackAudioBackend& backend, int seconds, int countFrom) {
        uint64_t seen = backend.deviceChanges();
        int looks = 0;
        for (int tick = 1; tick <= seconds; ++tick) {
            now_ += std::chrono::seconds(1);
            const uint64_t changes = backend.deviceChanges();
            if (changes == seen) continue;
            seen = changes;
            backend.refresh();
            if (tick > countFrom) ++looks;
        }
        return looks;
    }

    std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::now();
    std::optional<std::string> server_;
    std::optional<std::string> promiscuous_;
};

// A socket a killed server left is tried while it may be a starting server's; once it has
// refused for a minute, nothing about it changes and the units on the host are not sent to look
// at it again every half minute for as long as the program runs.
TEST_F(JackLookAgain, ASocketAKilledServerLeftIsNotLookedAtForEver) {
    DeadServerSocket dead(JackServerPresence::socketPath());
    ASSERT_TRUE(dead.bound());
    JackAudioBackend backend;
    EXPECT_EQ(looksBetween(backend, 3600, 60), 0);
}

// Where every open is worth trying (a server open to every user here, or another library than
// JACK 2's), an unanswered socket at the usual place asks for no look on every tick.
TEST_F(JackLookAgain, WhereEveryOpenIsWorthTryingAnUnansweredSocketAsksForNoLookEverySecond) {
    DeadServerSocket dead(JackServerPresence::socketPath());
    ASSERT_TRUE(dead.bound());
    ::setenv("JACK_PROMISCUOUS_SERVER", "1", 1);
    JackAudioBackend backend;
    EXPECT_LE(looksBetween(backend, 120, 0), 10);
}

}  // namespace
}  // namespace quenbril
