// The serial receive path at 921,600 baud: a pseudo-terminal fed with 100-byte packets at
// 92 KB/s, one prefix/suffix descriptor of maximum length 256 listening. Prints the CPU the
// receive path takes (everything but the feeding thread, as a share of one core) and the time
// from a packet's last byte written to its didReceivePacket on the main queue. First, the
// framing core alone: a prefix/suffix descriptor, and an expression descriptor of maximum
// length 1024 fed bytes it never matches, by trying every tail at every byte (as the port once
// did) and by following the open tails (as it does). Last, the main thread's wait in sendRequest
// (and in a call that waits for the port's queue) behind bytes read and not yet handled by a
// descriptor whose test is slow (`STX.*?ETX`, `(a+)+b` fed text they never match), and how long
// the request then takes to end with its time-out.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "platform/serial/LinkFolderSource.h"
#include "platform/serial/SerialDeviceRegistry.h"
#include "serialport/SerialPacketRouter.h"
#include "serialport/SerialPort.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kPacketLength = 100;
constexpr double kBytesPerSecond = 92160.0;  // 921,600 baud, 10 bits a byte
const double kSeconds = bench::shortOr(10.0, 0.5);

Bytes packet(uint32_t id) {
    Bytes bytes(kPacketLength, 'x');
    bytes[0] = '<';
    std::snprintf(reinterpret_cast<char*>(bytes.data()) + 1, 9, "%08u", id);
    bytes[9] = 'x';
    bytes[kPacketLength - 1] = '>';
    return bytes;
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Receiver : SerialPortDelegate {
    std::vector<Clock::time_point>* written = nullptr;
    std::vector<double> latencies;
    size_t packets = 0;
    void serialPortDidReceivePacket(SerialPort&, const Bytes& bytes,
                                    const SerialPacketDescriptor&) override {
        auto now = Clock::now();
        ++packets;
        unsigned id = static_cast<unsigned>(
            std::strtoul(std::string(bytes.begin() + 1, bytes.begin() + 9).c_str(), nullptr, 10));
        if (id < written->size()) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(now - (*written)[id]).count());
        }
    }
};

struct NullHost : SerialPacketRouter::Host {
    size_t packets = 0;
    bool writeRequest(const SerialRequest&) override { return true; }
    void startTimeout(const SerialRequest::Ptr&) override {}
    void stopTimeout() override {}
    void packetReceived(Bytes, SerialPacketDescriptor::Ptr) override { ++packets; }
    void responseReceived(Bytes, SerialRequest::Ptr) override {}
    void requestTimedOut(SerialRequest::Ptr) override {}
    void propertyChanged(const char*) override {}
};

/// Bytes a second through an expression descriptor of maximum length 1024 that never finds a
/// packet in `stream`.
void expressionAlone(const char* what, const Bytes& stream, size_t everyTailBytes) {
    auto nmea = SerialPacketDescriptor::withRegularExpression(
        RegexMatcher::make(R"(\$GP[A-Z]{3},[^*]*\*[0-9A-F]{2})"), 1024, Value());
    // Every tail at every byte, on a full buffer: the work per byte of the steady state.
    SerialBuffer buffer(nmea->maximumPacketLength());
    buffer.appendData(std::span<const uint8_t>(stream).first(1024));
    size_t found = 0;
    double everyTail = bench::microsecondsPerCall(
        [&] {
            for (size_t i = 0; i < everyTailBytes; ++i) {
                buffer.appendByte(stream[i % stream.size()]);
                found += nmea->packetMatchingAtEndOfBuffer(buffer.data()) ? 1 : 0;
            }
        },
        1, bench::shortOr(3, 1));
    NullHost host;
    SerialPacketRouter router(host);
    router.startListening(nmea);
    double open =
        bench::microsecondsPerCall([&] { router.receive(stream); }, 1, bench::shortOr(5, 1));
    std::printf(
        "expression, maximum 1024, %s: every tail tried %.1f KB/s, open tails followed %.1f "
        "MB/s (%zu packets)\n",
        what, static_cast<double>(everyTailBytes) / everyTail * 1e3,
        static_cast<double>(stream.size()) / open, found + host.packets);
}

/// The framing core alone: nanoseconds per byte through one prefix/suffix descriptor.
void routerAlone() {
    NullHost host;
    SerialPacketRouter router(host);
    router.startListening(SerialPacketDescriptor::withPrefix({'<'}, {'>'}, 256, Value()));
    Bytes stream;
    for (uint32_t i = 0; i < 10000; ++i) {
        Bytes one = packet(i);
        stream.insert(stream.end(), one.begin(), one.end());
    }
    double micros =
        bench::microsecondsPerCall([&] { router.receive(stream); }, 1, bench::shortOr(5, 1));
    std::printf("router alone: %.1f ns per byte (%zu packets)\n",
                micros * 1000.0 / static_cast<double>(stream.size()), host.packets);
}

struct Backlogged : SerialPortDelegate {
    std::atomic<size_t> received{0};
    size_t timeouts = 0;
    void serialPortDidReceiveData(SerialPort&, const Bytes& bytes) override {
        received += bytes.size();
    }
    void serialPortRequestDidTimeout(SerialPort&, const SerialRequest::Ptr&) override {
        ++timeouts;
    }
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// Writes `flood` to the pseudo-terminal, waits until the port has read it all, then sends a
/// request with a 0.5 s time-out from the main thread.
void requestBehindBacklog(ManualRunLoop& loop, const std::string& link, int master,
                          const char* pattern, uint64_t maximumLength, const Bytes& flood) {
    Backlogged delegate;
    auto port = SerialPort::serialPortWithPath(link);
    port->setDelegate(&delegate);
    if (!port->open()) return;
    port->startListeningForPacketsMatchingDescriptor(SerialPacketDescriptor::withRegularExpression(
        RegexMatcher::make(pattern), maximumLength, Value()));
    std::thread writer([&] {
        for (size_t at = 0; at < flood.size();) {
            ssize_t n = ::write(master, flood.data() + at, flood.size() - at);
            if (n > 0) at += static_cast<size_t>(n);
        }
    });
    loop.runUntil([&] { return delegate.received >= flood.size(); }, 60.0);
    writer.join();

    auto start = Clock::now();
    port->sendRequest(SerialRequest::requestWithDataToSend(
        {'?'}, Value(), 0.5, SerialPacketDescriptor::withPrefixString("OK", "\r", 16, Value())));
    const double send = millisecondsSince(start);
    start = Clock::now();
    (void)port->queuedRequests();
    const double call = millisecondsSince(start);
    loop.runUntil([&] { return delegate.timeouts > 0; }, 600.0);
    const double ended = millisecondsSince(start) + send;
    std::printf(
        "%zu KiB unhandled, %s (maximum %llu): sendRequest waited %.2f ms, queuedRequests "
        "%.2f ms; the request timed out %.0f ms after it was sent (0.5 s time-out)\n",
        flood.size() / 1024, pattern, static_cast<unsigned long long>(maximumLength), send, call,
        ended);
    char drained[256];
    while (::read(master, drained, sizeof drained) > 0) {
    }
    port->close();
    port->setDelegate(nullptr);
    loop.runPending();
}

}  // namespace

int main() {
    routerAlone();
    Bytes text(1 << 20);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('a' + i % 26);
    expressionAlone("text that never matches", text, bench::shortOr<size_t>(20000, 2000));
    // Sentences begun and never finished: as many open tails as are followed.
    Bytes begun;
    while (begun.size() < (1 << 20)) {
        for (char c : std::string("$GPGGA,1,2,3")) begun.push_back(static_cast<uint8_t>(c));
    }
    expressionAlone("sentences never finished", begun, bench::shortOr<size_t>(2000, 200));

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    char folder[] = "/tmp/quenbril-serial-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    std::string link = std::string(folder) + "/pty0";
    if (symlink(ptsname(master), link.c_str()) != 0) return 1;
    LinkFolderSource source(folder);
    SerialDeviceRegistry::shared().add(&source);

    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        Bytes stx;
        while (stx.size() < bench::shortOr<size_t>(64 * 1024, 4096)) {
            for (char c : std::string("STX status 0123456789 ")) stx.push_back(uint8_t(c));
        }
        requestBehindBacklog(loop, link, master, "STX.*?ETX", 1024, stx);
        requestBehindBacklog(loop, link, master, "(a+)+b", 1024,
                             Bytes(bench::shortOr<size_t>(512 * 1024, 4096), 'a'));
        fcntl(master, F_SETFL, flags);
    }
    std::vector<Clock::time_point> written;
    written.reserve(static_cast<size_t>(kSeconds * kBytesPerSecond / kPacketLength) + 16);
    Receiver receiver;
    receiver.written = &written;
    {
        auto port = SerialPort::serialPortWithPath(link);
        port->setDelegate(&receiver);
        port->setBaudRate(921600);
        if (!port->open()) return 1;
        port->startListeningForPacketsMatchingDescriptor(
            SerialPacketDescriptor::withPrefix({'<'}, {'>'}, 256, Value()));
        loop.runFor(0.2);

        std::atomic<bool> done{false};
        std::atomic<double> writerCpu{0};
        size_t total = static_cast<size_t>(kSeconds * kBytesPerSecond / kPacketLength);
        std::mutex writtenMutex;
        double cpuBefore = cpuSeconds(RUSAGE_SELF);
        auto start = Clock::now();
        std::thread writer([&] {
            auto interval = std::chrono::duration<double>(kPacketLength / kBytesPerSecond);
            for (uint32_t id = 0; id < total; ++id) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(interval * id));
                Bytes bytes = packet(id);
                {
                    std::lock_guard lock(writtenMutex);
                    written.push_back(Clock::now());
                }
                if (::write(master, bytes.data(), bytes.size()) !=
                    static_cast<ssize_t>(bytes.size())) {
                    std::perror("write");
                }
            }
            timespec cpu{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
            writerCpu = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
            done = true;
        });
        loop.runUntil([&] { return done.load() && receiver.packets >= total; }, kSeconds + 5.0);
        writer.join();
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore - writerCpu.load();
        std::sort(receiver.latencies.begin(), receiver.latencies.end());
        std::printf("pty at %.0f B/s, %zu-byte packets, prefix/suffix maximum 256, %.1f s\n",
                    kBytesPerSecond, kPacketLength, wall);
        std::printf("packets: %zu written, %zu received\n", total, receiver.packets);
        std::printf("receive path CPU: %.2f %% of one core (target <= 10 %%)\n",
                    100.0 * cpu / wall);
        std::printf(
            "byte written -> didReceivePacket: p50 %.3f ms  p99 %.3f ms  max %.3f ms "
            "(target p99 <= 5 ms)\n",
            bench::quantile(receiver.latencies, 0.5), bench::quantile(receiver.latencies, 0.99),
            receiver.latencies.empty() ? 0.0 : receiver.latencies.back());
        port->close();
        port->setDelegate(nullptr);
    }
    loop.runPending();
    RunLoop::setMain(nullptr);
    SerialDeviceRegistry::shared().remove(&source);
    ::close(master);
    std::filesystem::remove_all(folder);
    return 0;
}
