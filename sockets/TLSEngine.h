#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

class TLSTrust;

/// One TLS session (OpenSSL) over a byte transport the owner supplies: the owner's read and
/// write functions move the encrypted bytes, so the engine works over any socket and any queue.
/// All calls on one engine must come from one thread at a time (the owner's serial queue); the
/// transport functions are called from inside them.
///
/// Every call answers a status in the numbering the sockets report under the SSL error domain:
/// 0 success, `WouldBlock` (call again when the transport is ready), `TrustPending` (the
/// handshake paused for the owner's trust decision), the closed statuses, and the faults below.
class TLSEngine {
  public:
    enum Status : int {
        Success = 0,
        OtherFailure = -9800,
        WouldBlock = -9803,
        ClosedGracefully = -9805,
        ClosedAbort = -9806,
        UntrustedChain = -9807,
        CertificateExpired = -9814,
        HandshakeFailure = -9824,
        PeerBadCertificate = -9825,
        TrustPending = -9841,
        HostNameMismatch = -9843,
    };

    /// The transport: moves up to `length` bytes, sets `*processed` to the count moved (also
    /// with a non-zero answer) and answers 0 when all were moved, `WouldBlock` when the rest must
    /// wait, `ClosedAbort` when the transport has ended or failed.
    using ReadFunction = std::function<int(uint8_t* buffer, size_t length, size_t* processed)>;
    using WriteFunction =
        std::function<int(const uint8_t* buffer, size_t length, size_t* processed)>;

    // Settings keys, applied in this order by `make`.
    static constexpr const char* kIsServer = "kCFStreamSSLIsServer";
    static constexpr const char* kManuallyEvaluateTrust = "DispatchSocketManuallyEvaluateTrust";
    static constexpr const char* kPeerName = "kCFStreamSSLPeerName";
    /// An array of data: the own certificate and its private key (PEM, one blob), then chain
    /// certificates (PEM or DER).
    static constexpr const char* kCertificates = "kCFStreamSSLCertificates";
    /// Data naming the peer; client sessions with the same id resume each other.
    static constexpr const char* kPeerID = "DispatchSocketSSLPeerID";
    /// 0 leaves the bound unset; 4, 7, 8 and 10 are TLS 1.0, 1.1, 1.2 and 1.3.
    static constexpr const char* kProtocolVersionMin = "DispatchSocketSSLProtocolVersionMin";
    static constexpr const char* kProtocolVersionMax = "DispatchSocketSSLProtocolVersionMax";
    static constexpr const char* kFalseStart = "DispatchSocketSSLSessionOptionFalseStart";
    static constexpr const char* kSendOneByteRecord =
        "DispatchSocketSSLSessionOptionSendOneByteRecord";
    /// An array of 16-bit cipher-suite ids (as on the wire, unsigned).
    static constexpr const char* kCipherSuites = "DispatchSocketSSLCipherSuites";
    /// Data: Diffie-Hellman parameters, PEM or DER.
    static constexpr const char* kDiffieHellmanParameters =
        "DispatchSocketSSLDiffieHellmanParameters";

    /// A session configured from `settings`; none, with the reason in `failure`, when a setting
    /// is refused or the engine cannot be made.
    static std::unique_ptr<TLSEngine> make(const Dictionary& settings, ReadFunction read,
                                           WriteFunction write, std::string* failure);
    /// Frees the session without a close_notify (see `close`).
    ~TLSEngine();
    TLSEngine(const TLSEngine&) = delete;
    TLSEngine& operator=(const TLSEngine&) = delete;

    bool isServer() const;
    bool manuallyEvaluatesTrust() const;
    /// Whether the handshake resumed an earlier session (see `kPeerID`).
    bool resumedSession() const;

    /// One handshake step.
    int handshake();
    /// The peer as the paused handshake saw it (after `TrustPending`); null when there is none.
    std::shared_ptr<TLSTrust> copyPeerTrust() const;
    /// Accepts the peer after `TrustPending`: the next handshake step goes on.
    void trustPeer();

    /// Decrypts up to `length` bytes; may succeed with fewer.
    int read(uint8_t* buffer, size_t length, size_t* processed);
    /// Encrypts and sends `length` bytes; all or none are reported. After `WouldBlock` the engine
    /// holds the record: call again with the same bytes (the same length) before new ones.
    int write(const uint8_t* buffer, size_t length, size_t* processed);
    /// Decrypted bytes the engine holds that a read would return at once.
    size_t bufferedReadBytes() const;

    /// Sends close_notify if the transport takes it now; never waits for the peer's.
    void close();

    struct Impl;

  private:
    explicit TLSEngine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quenbril
