#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/jack/JackServerPresence.h"

namespace quenbril {
namespace {

// A listening socket where a server of that name would have its own.
class FakeServerSocket {
  public:
    explicit FakeServerSocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~FakeServerSocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

TEST(JackServerPresence, NoClientIsWorthOpeningWithoutASocketOrSoonOnOneThatRefused) {
    const std::string name = "quenbril-presence-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    ::unsetenv("JACK_PROMISCUOUS_SERVER");
    const std::string path = JackServerPresence::socketPath();
    EXPECT_EQ(path, "/dev/shm/jack_" + name + "_" + std::to_string(::getuid()) + "_0");
    auto now = std::chrono::steady_clock::now();
    JackServerPresence::setClockForTesting([&now] { return now; });
    // However the test ends, the real clock is back before `now` goes.
    struct RealClockAgain {
        ~RealClockAgain() { JackServerPresence::setClockForTesting({}); }
    } realClockAgain;

    EXPECT_FALSE(JackServerPresence::worthAnOpen());
    {
        FakeServerSocket server(path);
        ASSERT_TRUE(server.bound());
        EXPECT_TRUE(JackServerPresence::worthAnOpen());
        // A server still starting may refuse its first opens: its socket is tried again soon,
        // then less and less often while it keeps refusing, as a killed server's would.
        JackServerPresence::noServerAnswered();
        EXPECT_FALSE(JackServerPresence::worthAnOpen());
        now += std::chrono::milliseconds(250);
        EXPECT_TRUE(JackServerPresence::worthAnOpen());
        now += std::chrono::seconds(5);
        JackServerPresence::noServerAnswered();
        now += std::chrono::milliseconds(999);
        EXPECT_FALSE(JackServerPresence::worthAnOpen());
        now += std::chrono::milliseconds(1);
        EXPECT_TRUE(JackServerPresence::worthAnOpen());
        JackServerPresence::noServerAnswered();
    }
    {
        // A new server's socket is tried at once.
        FakeServerSocket server(path);
        ASSERT_TRUE(server.bound());
        EXPECT_TRUE(JackServerPresence::worthAnOpen());
        JackServerPresence::serverAnswered();
        EXPECT_TRUE(JackServerPresence::worthAnOpen());
    }
    EXPECT_FALSE(JackServerPresence::worthAnOpen());
    ::unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
}  // namespace quenbril
