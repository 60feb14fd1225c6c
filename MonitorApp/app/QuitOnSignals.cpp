#include "MonitorApp/app/QuitOnSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

sigset_t quitSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void QuitOnSignals::blockSignals() {
    const sigset_t set = quitSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitOnSignals::QuitOnSignals(std::function<void()> quit) {
    const sigset_t set = quitSignals();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        log(LogLevel::Warning, "Stop signals will end the program without saving its state");
        return;
    }
    watch_ = RunLoop::main().watchDescriptor(
        fd_, RunLoop::Condition::Readable, [fd = fd_, quit = std::move(quit)] {
            signalfd_siginfo info;
            bool received = false;
            while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                received = true;
            }
            if (received) quit();
        });
}

QuitOnSignals::~QuitOnSignals() {
    watch_.cancel();
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quenbril
