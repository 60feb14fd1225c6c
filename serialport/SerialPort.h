#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/TimerSource.h"
#include "platform/serial/ModemControl.h"
#include "platform/serial/SerialDevice.h"
#include "serialport/PropertyObservers.h"
#include "serialport/SerialPacketDescriptor.h"
#include "serialport/SerialPacketRouter.h"
#include "serialport/SerialPortDelegate.h"
#include "serialport/SerialRequest.h"

namespace quenbril {

/// One serial device, driven through its device file with termios line settings. There is one
/// port object per device path while anybody holds it.
///
/// Threads: open, close, writes and setters run on the caller's thread; reads, the modem-line
/// poll and removal detection on the global queue; packet and request state on the port's own
/// serial queue; every delegate call and observer call on the main thread.
///
/// Observable properties (addObserver): "isOpen", "CTS", "DSR", "DCD", "packetDescriptors",
/// "queuedRequests".
class SerialPort : public Object,
                   public std::enable_shared_from_this<SerialPort>,
                   private SerialPacketRouter::Host {
  public:
    using Ptr = std::shared_ptr<SerialPort>;

    /// The port of the device at `path` (its live port when one exists); nothing when no
    /// device source knows the path.
    static Ptr serialPortWithPath(const std::string& path);
    /// The port of `device`: the live port of its callout path when one exists, else a new one.
    static Ptr serialPortWithDevice(const SerialDevice& device);
    /// The live port of `path`, never making one.
    static Ptr existingPortWithPath(const std::string& path);

    /// Registry look-ups on a device, as the manager and users need them.
    static std::optional<SerialDevice> deviceFromBSDPath(const std::string& path);
    static std::string bsdCalloutPathFromDevice(const SerialDevice& d) { return d.calloutPath(); }
    static std::string bsdDialinPathFromDevice(const SerialDevice& d) { return d.dialinPath(); }
    static std::string baseNameFromDevice(const SerialDevice& d) { return d.baseName(); }
    static std::string serviceTypeFromDevice(const SerialDevice&) {
        return SerialDevice::kServiceType;
    }
    static std::string modemNameFromDevice(const SerialDevice& d) { return d.name; }
    static std::string suffixFromDevice(const SerialDevice& d) { return d.suffix(); }

    /// At process exit: restores the line settings of every open port and closes it, telling
    /// nobody (delegates may be gone by then).
    static void restoreAllPortsAtExit();

    ~SerialPort() override;
    std::string className() const override { return "SerialPort"; }

    const SerialDevice& device() const { return device_; }
    const std::string& path() const { return device_.path; }
    const std::string& name() const { return device_.name; }
    std::string description() const { return device_.name; }
    bool operator==(const SerialPort& other) const { return path() == other.path(); }

    SerialPortDelegate* delegate() const { return delegate_.load(); }
    void setDelegate(SerialPortDelegate* delegate) { delegate_.store(delegate); }

    /// Opens the device and applies the line settings; false (with an error report) on failure.
    bool open();
    /// Restores the device's original settings and closes it; always true. The delegate hears
    /// serialPortWasClosed before this returns.
    bool close();
    bool isOpen() const { return fd_.load() >= 0; }
    /// The open descriptor, or -1.
    int fileDescriptor() const { return fd_.load(); }
    /// Writes all of `data`; false (with one error report) when closed or the write fails.
    /// Writers are serialised, so concurrent writes never interleave.
    bool sendData(std::span<const uint8_t> data);
    /// Bytes read but not yet handled (by the packet path and the delegate) at which reading
    /// pauses; it goes on once they are down to half.
    static constexpr size_t kMaxReadBacklog = 1024 * 1024;
    /// The longest the request queue spends on received bytes before it lets the requests and
    /// calls waiting for it go first (once the byte under way is done).
    static constexpr double kInputSliceSeconds = 0.005;

    /// Does nothing: the modem lines are polled every 10 ms.
    void pollFrequency(int) {}

    /// The device went away: tells the delegate, then closes. Once per removal.
    void cleanupAfterSystemRemoval();
    /// Logs a warning, then the same as cleanupAfterSystemRemoval.
    void cleanup();

    // Line settings; a change applies at once to an open port.
    uint64_t baudRate() const;
    void setBaudRate(uint64_t baud);
    bool allowsNonStandardBaudRates() const;
    void setAllowsNonStandardBaudRates(bool allow);
    unsigned numberOfStopBits() const;
    void setNumberOfStopBits(unsigned stopBits);
    /// 0 none, 1 odd, 2 even.
    unsigned parity() const;
    /// A value above 2 is stored as 0.
    void setParity(unsigned parity);
    bool shouldEchoReceivedData() const;
    void setShouldEchoReceivedData(bool echo);
    bool usesRTSCTSFlowControl() const;
    /// Reopens an open port to apply the change; the port ends open.
    void setUsesRTSCTSFlowControl(bool uses);
    bool usesDTRDSRFlowControl() const;
    /// Linux has no such termios mode: a change is reported as ENOTSUP and not made.
    void setUsesDTRDSRFlowControl(bool uses);
    bool usesDCDOutputFlowControl() const;
    /// Linux has no such termios mode: a change is reported as ENOTSUP and not made.
    void setUsesDCDOutputFlowControl(bool uses);
    bool RTS() const;
    void setRTS(bool on);
    bool DTR() const;
    void setDTR(bool on);
    /// Where the modem lines are read and set: the tty by default. Takes effect at the next
    /// open.
    void setModemControl(std::shared_ptr<ModemControl> control);
    bool CTS() const { return cts_.load(); }
    bool DSR() const { return dsr_.load(); }
    bool DCD() const { return dcd_.load(); }

    // Packets and requests.
    void startListeningForPacketsMatchingDescriptor(const SerialPacketDescriptor::Ptr& descriptor);
    void stopListeningForPacketsMatchingDescriptor(const SerialPacketDescriptor::Ptr& descriptor);
    std::vector<SerialPacketDescriptor::Ptr> packetDescriptors() const;
    /// Queues `request` on the port's request queue and returns at once, never waiting for the
    /// bytes read before it to be handled: false, queuing nothing, for no request or a closed
    /// port. The request is sent when those before it have ended, and ends with its response,
    /// its time-out or (without a response descriptor) its sending; a timed one whose bytes
    /// cannot be written ends with its time-out at once.
    bool sendRequest(const SerialRequest::Ptr& request);
    /// Removes a waiting request; the pending one stays.
    void cancelQueuedRequest(const SerialRequest::Ptr& request);
    void cancelAllQueuedRequests();
    /// The waiting requests, oldest first; never the pending one.
    std::vector<SerialRequest::Ptr> queuedRequests() const;
    SerialRequest::Ptr pendingRequest() const;
    void insertObjectInRequestsQueueAtIndex(const SerialRequest::Ptr& request, size_t index);
    void removeObjectFromRequestsQueueAtIndex(size_t index);

    int addObserver(PropertyObservers::Callback callback) { return observers_.add(callback); }
    void removeObserver(int id) { observers_.remove(id); }

    explicit SerialPort(SerialDevice device);  // use serialPortWithDevice

  private:
    struct Settings {
        uint64_t baudRate = 19200;
        bool allowsNonStandardBaudRates = false;
        unsigned numberOfStopBits = 1;
        unsigned parity = 0;
        bool echo = false;
        bool rtsCts = false;
        bool dtrDsr = false;
        bool dcdOutput = false;
        bool rts = false;
        bool dtr = false;
    };
    enum class Delivery {
        Post,          // asynchronously on the main queue, also from the main thread
        DirectOrWait,  // on the main thread now, waiting for it from another thread
        DirectOrPost,  // on the main thread now, else posted without waiting
    };

    void applyPortOptions();
    void updateModemLines();
    void readAvailable(uint64_t available);
    /// The chunk's bytes are in the backlog until both the packet path and the delegate are done
    /// with it.
    std::shared_ptr<const Bytes> backloggedChunk(const uint8_t* bytes, size_t count);
    void backlogGrew(size_t count);
    void backlogShrank(size_t count);
    void pollModemLines();
    void noModemLines(int error);
    void deviceVanished();
    void stopSources();
    /// Restores the device's settings and lets go of the descriptor, telling nobody and waiting
    /// for nothing: it closes once the reader has let it go too.
    void letGoQuietly();
    void reportError(int error, bool wait);
    void notifyObservers(const std::string& property);
    template <class Call>
    void tellDelegate(Call call, Delivery delivery);
    template <class Member, class Value>
    void changeSetting(Member member, Value value);

    // The router's host, on the request queue.
    bool writeRequest(const SerialRequest& request) override;
    void startTimeout(const SerialRequest::Ptr& request) override;
    void stopTimeout() override;
    void packetReceived(Bytes packet, SerialPacketDescriptor::Ptr descriptor) override;
    void responseReceived(Bytes response, SerialRequest::Ptr request) override;
    void requestTimedOut(SerialRequest::Ptr request) override;
    void propertyChanged(const char* property) override;

    const SerialDevice device_;
    std::atomic<SerialPortDelegate*> delegate_{nullptr};
    PropertyObservers observers_;

    mutable std::mutex settingsMutex_;
    Settings settings_;

    std::mutex lifecycleMutex_;  // open and close, one at a time
    std::mutex ioMutex_;         // reads, modem-line requests and the closing of fd_
    std::mutex writeMutex_;      // sendData, one writer at a time
    std::atomic<int> fd_{-1};
    // The open descriptor, shared with the reader and each write under way, under ioMutex_: it
    // closes once all have let it go, so that neither the reader nor a writer is ever left with
    // a number that another open got.
    std::shared_ptr<dispatch::SharedDescriptor> descriptor_;
    std::shared_ptr<ModemControl> modemControl_ = ModemControl::tty();  // under ioMutex_
    termios originalPortAttributes_{};
    std::atomic<bool> cts_{false}, dsr_{false}, dcd_{false};
    std::atomic<bool> vanished_{false};
    std::atomic<bool> removalHandled_{false};
    std::atomic<bool> noModemLinesReported_{false};

    std::mutex sourcesMutex_;
    std::shared_ptr<dispatch::DescriptorSource> readPollSource_;
    std::shared_ptr<dispatch::TimerSource> pinPollTimer_;

    // Bytes read and not yet handled: reading stops above the bound, so that a device sending
    // faster than its bytes are handled waits in the kernel (or its flow control) instead of
    // growing this process, and calls that wait for the request queue are answered soon.
    // Locked before sourcesMutex_.
    std::mutex backlogMutex_;
    size_t readBacklog_ = 0;
    /// The reader suspended for the backlog, until it has shrunk to half the bound.
    std::shared_ptr<dispatch::DescriptorSource> pausedReader_;

    // Bytes read and not yet through the packet path, and the closes between them, in order.
    // The request queue takes them a slice at a time (handleInput), so that requests, their
    // time-outs and the calls that wait for the queue never wait behind more than one slice,
    // however slow a descriptor's test is.
    // A close drops the bytes of its opening not yet handled: the port is done with them.
    struct Input {
        std::shared_ptr<const Bytes> chunk;  // none: the port closed here
        uint64_t opening = 0;                // the closes before it was read
    };
    void queueInput(Input input);
    void handleInput();
    std::mutex inputMutex_;
    std::deque<Input> input_;
    bool inputHandlerPosted_ = false;  // under inputMutex_
    std::atomic<uint64_t> closes_{0};  // changed under ioMutex_

    dispatch::QueuePtr requestHandlingQueue_;
    // Touched on requestHandlingQueue_ only.
    SerialPacketRouter router_{*this};
    std::shared_ptr<dispatch::TimerSource> pendingRequestTimeoutTimer_;
    // The input being handled, and how much of it is.
    Input handling_;
    size_t handled_ = 0;
};

}  // namespace quenbril
