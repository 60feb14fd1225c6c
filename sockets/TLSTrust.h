#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/Value.h"

struct X509_VERIFY_PARAM_st;

namespace quenbril {

/// What a TLS client learned of its peer when it pauses for the owner's trust decision: the
/// peer's certificate chain (DER, leaf first) and the name the client expects the peer to
/// carry. `evaluate()` runs the check a client makes when nobody decides for it.
class TLSTrust {
  public:
    TLSTrust(std::vector<Bytes> chain, std::string peerName);

    const std::vector<Bytes>& certificateChain() const { return chain_; }
    /// Empty when the settings named no peer.
    const std::string& peerName() const { return peerName_; }

    /// 0 when the chain leads to a certificate authority of this system (OpenSSL's default
    /// paths, so SSL_CERT_FILE and SSL_CERT_DIR count) and, with a peer name, names that host
    /// or address; otherwise the TLS status of the fault (untrusted chain, expired, host-name
    /// mismatch).
    int evaluate() const;

    /// The status of an OpenSSL verification result (0 for none).
    static int statusForVerifyResult(long result);
    /// Makes `param` expect `peerName` (an address or a host name; nothing when empty).
    static bool setExpectedPeer(X509_VERIFY_PARAM_st* param, const std::string& peerName);

  private:
    std::vector<Bytes> chain_;
    std::string peerName_;
};

}  // namespace quenbril
