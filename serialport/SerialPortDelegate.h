#pragma once

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "serialport/SerialPacketDescriptor.h"
#include "serialport/SerialRequest.h"

namespace quenbril {

class SerialPort;

/// Receives a port's events, every one on the main thread. Every function has an empty default
/// body; the port holds a non-owning pointer, which the delegate clears before it dies.
class SerialPortDelegate {
  public:
    virtual ~SerialPortDelegate() = default;

    virtual void serialPortWasOpened(SerialPort&) {}
    virtual void serialPortWasClosed(SerialPort&) {}
    /// The device went away; the port closes right after.
    virtual void serialPortWasRemovedFromSystem(SerialPort&) {}
    /// Every chunk read, exactly as read.
    virtual void serialPortDidReceiveData(SerialPort&, const Bytes&) {}
    virtual void serialPortDidReceivePacket(SerialPort&, const Bytes& /*packet*/,
                                            const SerialPacketDescriptor&) {}
    virtual void serialPortDidReceiveResponse(SerialPort&, const Bytes& /*response*/,
                                              const SerialRequest::Ptr&) {}
    virtual void serialPortRequestDidTimeout(SerialPort&, const SerialRequest::Ptr&) {}
    /// A system call failed: a POSIX-domain error with errno, its text and the port's path
    /// (under kFilePathKey).
    virtual void serialPortDidEncounterError(SerialPort&, const Error&) {}

    static constexpr const char* kFilePathKey = "NSFilePath";
};

}  // namespace quenbril
