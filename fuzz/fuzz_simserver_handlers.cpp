// Decodes the input as the body of a frame from a remote and hands the message to the stand-in's
// command handling as if that remote had sent it. The stand-in runs in this process, once, with
// one remote connected over loopback whose bytes are read and thrown away after every input;
// the state the commands build (notes, chat, solo, groups) carries over from input to input.
// Any crash, leak or undefined behaviour is a fault; a dropped message is the normal outcome.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "MonitorApp/link/LinkCodec.h"
#include "foundation/ArchiveClassRegistry.h"
#include "foundation/Log.h"
#include "simserver/SimChatMessage.h"
#include "simserver/SimServer.h"

using namespace quenbril;

namespace {

class Stage {
  public:
    Stage() {
        setLogLevel(LogLevel::None);
        SimChatMessage::registerEncoder(ArchiveClassRegistry::shared());
        SimOptions options;
        options.port = 0;
        options.publish = false;
        server_ = new SimServer(options);
        if (!server_->start()) std::abort();
    }

    /// Hands the message to the remote of this stage, connecting a new one when the server
    /// dropped the last (a command may legitimately make it do so).
    void handle(const Dictionary& message) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (fd_ < 0) connect();
            if (server_->handleFromRemote(remote_, message)) break;
            ::close(fd_);
            fd_ = -1;
        }
        drain();
    }

  private:
    void connect() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(server_->port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        // Remotes are numbered in the order they connect, and only this stage connects.
        ++remote_;
        // The server accepts on its own queue; wait until it knows the remote (it answers
        // an unknown command of its own by ignoring it).
        const Dictionary probe{{"Command", "FuzzStageProbe"}};
        for (int i = 0; i < 2000 && !server_->handleFromRemote(remote_, probe); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    /// Throws away what the server sent so far, so that its write queue never fills.
    void drain() {
        static uint8_t buffer[1 << 16];
        while (::recv(fd_, buffer, sizeof buffer, 0) > 0) {
        }
    }

    SimServer* server_ = nullptr;  // lives as long as the process
    int fd_ = -1;
    uint64_t remote_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Stage* stage = new Stage;
    auto message = LinkCodec::decodeBody(data, size);
    if (message) stage->handle(*message);
    return 0;
}
