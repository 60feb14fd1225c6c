// TLSEngine: OpenSSL behind the owner's transport. A custom BIO turns OpenSSL's reads and
// writes into calls of the owner's functions, and every OpenSSL answer becomes one status.

#include "sockets/TLSEngine.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <vector>

#include "sockets/TLSTrust.h"

namespace quenbril {

namespace {

constexpr const char* kRefusedKeys[] = {
    "kCFStreamSSLAllowsAnyRoot",
    "kCFStreamSSLAllowsExpiredRoots",
    "kCFStreamSSLValidatesCertificateChain",
    "kCFStreamSSLAllowsExpiredCertificates",
    "kCFStreamSSLLevel",
};

std::optional<bool> flagOf(const Value& v) {
    if (v.isBool()) return *v.boolValue();
    if (v.isInteger()) return *v.longLongValue() != 0;
    if (v.isReal()) return *v.doubleValue() != 0;
    return std::nullopt;
}

/// The protocol numbers of the settings; 0 leaves the bound unset (answered as 0).
std::optional<int> protocolVersionOf(int64_t number) {
    switch (number) {
        case 0:
            return 0;
        case 4:
            return TLS1_VERSION;
        case 7:
            return TLS1_1_VERSION;
        case 8:
            return TLS1_2_VERSION;
        case 10:
            return TLS1_3_VERSION;
        default:
            return std::nullopt;
    }
}

bool isNumericAddress(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

Bytes derOf(X509* certificate) {
    int length = i2d_X509(certificate, nullptr);
    if (length <= 0) return {};
    Bytes out(static_cast<size_t>(length));
    unsigned char* p = out.data();
    i2d_X509(certificate, &p);
    return out;
}

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

BioPtr memoryBio(const Bytes& data) {
    return BioPtr(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
}

/// A certificate in PEM or, failing that, DER.
X509* certificateOf(const Bytes& data) {
    if (BioPtr bio = memoryBio(data)) {
        if (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) return x;
    }
    ERR_clear_error();
    const unsigned char* p = data.data();
    return d2i_X509(nullptr, &p, static_cast<long>(data.size()));
}

/// Client sessions by peer id, so that a later connection to the same peer resumes.
class SessionCache {
  public:
    static SessionCache& shared() {
        static SessionCache* cache = new SessionCache;
        return *cache;
    }
    SSL_SESSION* copy(const Bytes& id) {
        std::lock_guard lock(mutex_);
        auto it = sessions_.find(id);
        if (it == sessions_.end()) return nullptr;
        SSL_SESSION_up_ref(it->second);
        return it->second;
    }
    void store(const Bytes& id, SSL_SESSION* session) {
        std::lock_guard lock(mutex_);
        SSL_SESSION*& slot = sessions_[id];
        if (slot) SSL_SESSION_free(slot);
        slot = session;
    }

  private:
    std::mutex mutex_;
    std::map<Bytes, SSL_SESSION*> sessions_;
};

}  // namespace

struct TLSEngine::Impl {
    ReadFunction read;
    WriteFunction write;
    SSL* ssl = nullptr;
    bool server = false;
    bool manualTrust = false;
    bool trusted = false;          // the owner accepted the paused peer
    bool transportFailed = false;  // the transport ended or failed under OpenSSL
    std::string peerName;
    Bytes peerID;
    std::vector<Bytes> pendingChain;  // the peer's chain while the handshake waits for trust

    ~Impl() { SSL_free(ssl); }

    int statusOf(int result) {
        switch (SSL_get_error(ssl, result)) {
            case SSL_ERROR_NONE:
                return Success;
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                return WouldBlock;
            case SSL_ERROR_WANT_RETRY_VERIFY:
                return TrustPending;
            case SSL_ERROR_ZERO_RETURN:
                return ClosedGracefully;
            default:
                break;
        }
        unsigned long error = ERR_peek_error();
        ERR_clear_error();
        if (transportFailed) return ClosedAbort;
        if (ERR_GET_LIB(error) == ERR_LIB_SSL &&
            ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            return ClosedAbort;
        }
        if (!server && !manualTrust) {
            long verified = SSL_get_verify_result(ssl);
            if (verified != X509_V_OK) return TLSTrust::statusForVerifyResult(verified);
        }
        return SSL_is_init_finished(ssl) ? OtherFailure : HandshakeFailure;
    }

    void rememberSession() {
        if (server || peerID.empty()) return;
        SSL_SESSION* session = SSL_get1_session(ssl);
        if (!session) return;
        if (SSL_SESSION_is_resumable(session)) {
            SessionCache::shared().store(peerID, session);
        } else {
            SSL_SESSION_free(session);
        }
    }

    // Settings, each answering an empty string or the reason of its refusal.
    std::string applySettings(const Dictionary& settings);
    std::string applyCertificates(const Value& value);
    std::string applyCipherSuites(const Value& value);
    std::string applyDiffieHellman(const Value& value);
};

namespace {

TLSEngine::Impl* implOf(BIO* bio) { return static_cast<TLSEngine::Impl*>(BIO_get_data(bio)); }

int bioRead(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    TLSEngine::Impl* impl = implOf(bio);
    size_t processed = 0;
    int status =
        impl->read(reinterpret_cast<uint8_t*>(buffer), static_cast<size_t>(length), &processed);
    if (processed > 0) return static_cast<int>(processed);
    if (status == TLSEngine::WouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    impl->transportFailed = true;
    return 0;
}

int bioWrite(BIO* bio, const char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    TLSEngine::Impl* impl = implOf(bio);
    size_t processed = 0;
    int status = impl->write(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(length),
                             &processed);
    if (processed > 0) return static_cast<int>(processed);
    if (status == TLSEngine::WouldBlock) {
        BIO_set_retry_write(bio);
        return -1;
    }
    impl->transportFailed = true;
    return -1;
}

long bioControl(BIO*, int command, long, void*) {
    // Writes go straight to the transport: there is nothing to flush.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* transportMethod() {
    static const BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "transport");
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

/// The client's check of the server: the default one, or the owner's decision, for which the
/// first call pauses the handshake and the call after `trustPeer` accepts.
int verifyPeer(X509_STORE_CTX* store, void*) {
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* impl = static_cast<TLSEngine::Impl*>(SSL_get_app_data(ssl));
    if (!impl->manualTrust) return X509_verify_cert(store);
    if (impl->trusted) return 1;
    impl->pendingChain.clear();
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) impl->pendingChain.push_back(derOf(leaf));
    if (STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store)) {
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            X509* c = sk_X509_value(chain, i);
            if (c == X509_STORE_CTX_get0_cert(store)) continue;
            impl->pendingChain.push_back(derOf(c));
        }
    }
    return SSL_set_retry_verify(ssl) ? 1 : 0;
}

/// OpenSSL is told, before anything else of the process uses it, not to free its global state
/// at exit: socket queues' threads that used it may still be ending then, and nothing orders
/// their last use before the clean-up. The system takes the memory back with the process.
[[maybe_unused]] const bool kOpenSSLKeptAtExit =
    OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

/// One context per side for the whole process, so that servers share their session cache and
/// ticket keys (clients resume with any of them) and a handshake costs no context set-up.
/// Everything a socket's settings change is set on its own session.
SSL_CTX* sharedContext(bool server) {
    static SSL_CTX* contexts[2] = {nullptr, nullptr};
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i < 2; ++i) {
            SSL_CTX* ctx = SSL_CTX_new(i == 1 ? TLS_server_method() : TLS_client_method());
            if (!ctx) continue;
            SSL_CTX_set_cert_verify_callback(ctx, verifyPeer, nullptr);
            static const unsigned char kContext[] = "quenbril";
            SSL_CTX_set_session_id_context(ctx, kContext, sizeof kContext - 1);
            contexts[i] = ctx;
        }
    });
    return contexts[server ? 1 : 0];
}

}  // namespace

std::string TLSEngine::Impl::applyCertificates(const Value& value) {
    const Array* items = value.arrayValue();
    if (!items) return "Invalid value for kCFStreamSSLCertificates.";
    for (const Value& item : *items) {
        if (!item.isData()) return "Invalid value for kCFStreamSSLCertificates.";
    }
    const std::string failed = "Error in SSLSetCertificate";
    if (items->empty()) return failed;
    // The identity: a certificate and its private key in one PEM blob.
    const Bytes& identity = *items->front().dataValue();
    BioPtr certificateBio = memoryBio(identity);
    BioPtr keyBio = memoryBio(identity);
    if (!certificateBio || !keyBio) return failed;
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr), &X509_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    if (!certificate || !key || SSL_use_certificate(ssl, certificate.get()) != 1 ||
        SSL_use_PrivateKey(ssl, key.get()) != 1 || SSL_check_private_key(ssl) != 1) {
        return failed;
    }
    for (size_t i = 1; i < items->size(); ++i) {
        X509* chain = certificateOf(*(*items)[i].dataValue());
        if (!chain || SSL_add0_chain_cert(ssl, chain) != 1) {
            X509_free(chain);
            return failed;
        }
    }
    return {};
}

std::string TLSEngine::Impl::applyCipherSuites(const Value& value) {
    const Array* items = value.arrayValue();
    const std::string invalid = "Invalid value for DispatchSocketSSLCipherSuites.";
    if (!items) return invalid;
    std::string legacy, modern;
    for (const Value& item : *items) {
        if (!item.isInteger()) return invalid;
        int64_t id = *item.longLongValue();
        // Suite ids are unsigned 16-bit, as on the wire (0xC02F and its kin included).
        if (id < 0 || id > 0xFFFF) return invalid;
        const unsigned char wire[2] = {static_cast<unsigned char>(id >> 8),
                                       static_cast<unsigned char>(id & 0xFF)};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, wire);
        if (!cipher) return "Error in SSLSetEnabledCiphers";
        // TLS 1.3 suites are the ones numbered 0x13xx.
        std::string& list = (id >> 8) == 0x13 ? modern : legacy;
        if (!list.empty()) list += ':';
        list += SSL_CIPHER_get_name(cipher);
    }
    // TLS 1.3 suites are a list of their own; an empty one disables them. With no suite for
    // older versions, only TLS 1.3 can be spoken.
    bool ok = SSL_set_ciphersuites(ssl, modern.c_str()) == 1;
    if (!legacy.empty()) {
        ok = ok && SSL_set_cipher_list(ssl, legacy.c_str()) == 1;
    } else {
        ok = ok && SSL_set_min_proto_version(ssl, TLS1_3_VERSION) == 1;
    }
    return ok ? std::string() : "Error in SSLSetEnabledCiphers";
}

std::string TLSEngine::Impl::applyDiffieHellman(const Value& value) {
    const Bytes* data = value.dataValue();
    if (!data) return "Invalid value for DispatchSocketSSLDiffieHellmanParameters.";
    EVP_PKEY* parameters = nullptr;
    OSSL_DECODER_CTX* decoder =
        OSSL_DECODER_CTX_new_for_pkey(&parameters, nullptr, nullptr, "DH",
                                      OSSL_KEYMGMT_SELECT_DOMAIN_PARAMETERS, nullptr, nullptr);
    const unsigned char* p = data->data();
    size_t length = data->size();
    bool decoded = decoder && OSSL_DECODER_from_data(decoder, &p, &length) == 1 && parameters;
    OSSL_DECODER_CTX_free(decoder);
    if (!decoded || SSL_set0_tmp_dh_pkey(ssl, parameters) != 1) {
        EVP_PKEY_free(parameters);
        return "Error in SSLSetDiffieHellmanParams";
    }
    return {};
}

std::string TLSEngine::Impl::applySettings(const Dictionary& settings) {
    if (std::optional<bool> manual = flagOf(settings[kManuallyEvaluateTrust]); manual && *manual) {
        if (server) return "Manual trust validation is not supported for server sockets";
        manualTrust = true;
    }

    if (const Value& v = settings[kPeerName]; !v.isNull()) {
        const std::string* name = v.stringValue();
        if (!name) return "Invalid value for kCFStreamSSLPeerName.";
        peerName = *name;
        // Server name indication carries host names only, never addresses.
        bool ok =
            isNumericAddress(peerName) || SSL_set_tlsext_host_name(ssl, peerName.c_str()) == 1;
        if (!ok) return "Error in SSLSetPeerDomainName";
    }

    if (const Value& v = settings[kCertificates]; !v.isNull()) {
        if (std::string failure = applyCertificates(v); !failure.empty()) return failure;
    }

    if (const Value& v = settings[kPeerID]; !v.isNull()) {
        const Bytes* id = v.dataValue();
        if (!id) return "Invalid value for DispatchSocketSSLPeerID.";
        peerID = *id;
        if (!server) {
            if (SSL_SESSION* session = SessionCache::shared().copy(peerID)) {
                bool ok = SSL_set_session(ssl, session) == 1;
                SSL_SESSION_free(session);
                if (!ok) return "Error in SSLSetPeerID";
            }
        }
    }

    struct Bound {
        const char* key;
        const char* failed;
        const char* invalid;
        int (*apply)(SSL*, int);
    };
    const Bound bounds[] = {
        {kProtocolVersionMin, "Error in SSLSetProtocolVersionMin",
         "Invalid value for DispatchSocketSSLProtocolVersionMin.",
         [](SSL* s, int version) {
             return static_cast<int>(SSL_set_min_proto_version(s, version));
         }},
        {kProtocolVersionMax, "Error in SSLSetProtocolVersionMax",
         "Invalid value for DispatchSocketSSLProtocolVersionMax.",
         [](SSL* s, int version) {
             return static_cast<int>(SSL_set_max_proto_version(s, version));
         }},
    };
    for (const Bound& bound : bounds) {
        const Value& v = settings[bound.key];
        if (v.isNull()) continue;
        if (!v.isInteger()) return bound.invalid;
        std::optional<int> version = protocolVersionOf(*v.longLongValue());
        if (!version) return bound.failed;
        if (*version != 0 && bound.apply(ssl, *version) != 1) return bound.failed;
    }

    // False start and one-byte records have no counterpart here: accepted, without effect.
    if (const Value& v = settings[kFalseStart]; !v.isNull() && !flagOf(v)) {
        return "Invalid value for DispatchSocketSSLSessionOptionFalseStart.";
    }
    if (const Value& v = settings[kSendOneByteRecord]; !v.isNull() && !flagOf(v)) {
        return "Invalid value for DispatchSocketSSLSessionOptionSendOneByteRecord.";
    }

    if (const Value& v = settings[kCipherSuites]; !v.isNull()) {
        if (std::string failure = applyCipherSuites(v); !failure.empty()) return failure;
    }
    if (const Value& v = settings[kDiffieHellmanParameters]; !v.isNull()) {
        if (std::string failure = applyDiffieHellman(v); !failure.empty()) return failure;
    }

    for (const char* key : kRefusedKeys) {
        if (settings.contains(key)) return std::string("Security option unavailable - ") + key;
    }

    if (!server) {
        if (!manualTrust) {
            // Without the owner's decision the client checks the chain against this system's
            // certificate authorities (read now, so SSL_CERT_FILE counts), and the peer's name
            // when one is given.
            X509_STORE* store = X509_STORE_new();
            if (!store || X509_STORE_set_default_paths(store) != 1 ||
                SSL_set0_verify_cert_store(ssl, store) != 1) {
                X509_STORE_free(store);
                return "Error in SSLSetPeerDomainName";
            }
            if (!TLSTrust::setExpectedPeer(SSL_get0_param(ssl), peerName)) {
                return "Error in SSLSetPeerDomainName";
            }
        }
        SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    }
    return {};
}

TLSEngine::TLSEngine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TLSEngine::~TLSEngine() = default;

std::unique_ptr<TLSEngine> TLSEngine::make(const Dictionary& settings, ReadFunction read,
                                           WriteFunction write, std::string* failure) {
    auto impl = std::make_unique<Impl>();
    impl->read = std::move(read);
    impl->write = std::move(write);
    impl->server = flagOf(settings[kIsServer]).value_or(false);
    ERR_clear_error();
    SSL_CTX* ctx = sharedContext(impl->server);
    impl->ssl = ctx ? SSL_new(ctx) : nullptr;
    if (!impl->ssl) {
        if (failure) *failure = "Error in SSLCreateContext";
        return nullptr;
    }
    SSL_set_app_data(impl->ssl, impl.get());
    BIO* bio = BIO_new(transportMethod());
    if (!bio) {
        if (failure) *failure = "Error in SSLSetIOFuncs";
        return nullptr;
    }
    BIO_set_data(bio, impl.get());
    SSL_set_bio(impl->ssl, bio, bio);
    // A record interrupted by a full socket is sent again from wherever the caller's bytes
    // now live.
    SSL_set_mode(impl->ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (impl->server) {
        SSL_set_accept_state(impl->ssl);
    } else {
        SSL_set_connect_state(impl->ssl);
    }
    std::string refused = impl->applySettings(settings);
    ERR_clear_error();
    if (!refused.empty()) {
        if (failure) *failure = refused;
        return nullptr;
    }
    return std::unique_ptr<TLSEngine>(new TLSEngine(std::move(impl)));
}

bool TLSEngine::isServer() const { return impl_->server; }

bool TLSEngine::manuallyEvaluatesTrust() const { return impl_->manualTrust; }

bool TLSEngine::resumedSession() const { return SSL_session_reused(impl_->ssl) == 1; }

int TLSEngine::handshake() {
    ERR_clear_error();
    int result = SSL_do_handshake(impl_->ssl);
    if (result == 1) {
        impl_->rememberSession();
        return Success;
    }
    return impl_->statusOf(result);
}

std::shared_ptr<TLSTrust> TLSEngine::copyPeerTrust() const {
    if (impl_->pendingChain.empty()) return nullptr;
    return std::make_shared<TLSTrust>(impl_->pendingChain, impl_->peerName);
}

void TLSEngine::trustPeer() { impl_->trusted = true; }

int TLSEngine::read(uint8_t* buffer, size_t length, size_t* processed) {
    ERR_clear_error();
    size_t count = 0;
    int result = SSL_read_ex(impl_->ssl, buffer, length, &count);
    *processed = result == 1 ? count : 0;
    return result == 1 ? Success : impl_->statusOf(result);
}

int TLSEngine::write(const uint8_t* buffer, size_t length, size_t* processed) {
    ERR_clear_error();
    size_t count = 0;
    int result = SSL_write_ex(impl_->ssl, buffer, length, &count);
    *processed = result == 1 ? count : 0;
    return result == 1 ? Success : impl_->statusOf(result);
}

size_t TLSEngine::bufferedReadBytes() const {
    return static_cast<size_t>(std::max(SSL_pending(impl_->ssl), 0));
}

void TLSEngine::close() {
    if (!SSL_is_init_finished(impl_->ssl)) return;
    impl_->rememberSession();
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);
    ERR_clear_error();
}

}  // namespace quenbril
