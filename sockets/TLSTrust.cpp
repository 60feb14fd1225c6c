#include "sockets/TLSTrust.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

#include "sockets/TLSEngine.h"

namespace quenbril {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr certificateFromDER(const Bytes& der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

}  // namespace

TLSTrust::TLSTrust(std::vector<Bytes> chain, std::string peerName)
    : chain_(std::move(chain)), peerName_(std::move(peerName)) {}

int TLSTrust::statusForVerifyResult(long result) {
    switch (result) {
        case X509_V_OK:
            return TLSEngine::Success;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TLSEngine::CertificateExpired;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TLSEngine::HostNameMismatch;
        default:
            return TLSEngine::UntrustedChain;
    }
}

bool TLSTrust::setExpectedPeer(X509_VERIFY_PARAM* param, const std::string& peerName) {
    if (peerName.empty()) return true;
    // An address is matched against the certificate's IP entries, a name against its DNS ones.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, peerName.c_str()) == 1) return true;
    return X509_VERIFY_PARAM_set1_host(param, peerName.c_str(), peerName.size()) == 1;
}

int TLSTrust::evaluate() const {
    if (chain_.empty()) return TLSEngine::UntrustedChain;
    X509Ptr leaf = certificateFromDER(chain_.front());
    if (!leaf) return TLSEngine::UntrustedChain;
    std::unique_ptr<STACK_OF(X509),
                    decltype([](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); })>
        untrusted(sk_X509_new_null());
    for (size_t i = 1; i < chain_.size(); ++i) {
        if (X509Ptr c = certificateFromDER(chain_[i])) sk_X509_push(untrusted.get(), c.release());
    }
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(),
                                                                  &X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(),
                                                                            &X509_STORE_CTX_free);
    if (!store || !context || X509_STORE_set_default_paths(store.get()) != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1) {
        return TLSEngine::OtherFailure;
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (!setExpectedPeer(param, peerName_)) return TLSEngine::OtherFailure;
    if (X509_verify_cert(context.get()) == 1) return TLSEngine::Success;
    return statusForVerifyResult(X509_STORE_CTX_get_error(context.get()));
}

}  // namespace quenbril
