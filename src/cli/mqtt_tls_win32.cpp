// TLS on Windows: a context of our own for libmosquitto, whose trust is the Windows ROOT store
// (or --cafile's certificates, held in memory), with the broker's host name checked by OpenSSL
// and the reason a certificate was refused kept for the message.
#include "cli/mqtt_tls.h"

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <mosquitto.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "cli/windows_trust.h"
#include "settings/utf16.h"

namespace varnok::cli {

int add_store_certificates(void* store, X509_STORE* to)
{
    int added = 0;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(static_cast<HCERTSTORE>(store), c)) != nullptr) {
        const unsigned char* der = c->pbCertEncoded;
        X509* x = d2i_X509(nullptr, &der, long(c->cbCertEncoded));
        if (!x)
            continue;
        added += X509_STORE_add_cert(to, x) == 1;
        X509_free(x);
    }
    return added;
}

int add_system_roots(X509_STORE* to)
{
    const HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
    if (!root)
        return 0;
    const int added = add_store_certificates(root, to);
    CertCloseStore(root, 0);
    return added;
}

int add_pem_certificates(const std::string& text, X509_STORE* to)
{
    BIO* bio = BIO_new_mem_buf(text.data(), int(text.size()));
    int added = 0;
    while (X509* x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr) {
        added += X509_STORE_add_cert(to, x) == 1;
        X509_free(x);
    }
    BIO_free(bio);
    return added;
}

namespace {

// Keeps why the chain or the name was refused, for the connection's message.
int note_refusal(int ok, X509_STORE_CTX* x)
{
    if (!ok) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(x, SSL_get_ex_data_X509_STORE_CTX_idx()));
        if (auto* self = ssl ? static_cast<Tls*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr)
            self->verify_error = X509_STORE_CTX_get_error(x);
    }
    return ok;
}

}  // namespace

Tls::~Tls() { SSL_CTX_free(static_cast<SSL_CTX*>(ctx_)); }

int Tls::configure(mosquitto* mosq, const MqttTarget& t)
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return MOSQ_ERR_TLS;
    ctx_ = ctx;
    host_ = t.host;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    if (t.cafile.empty())
        add_system_roots(store);
    else if (add_pem_certificates(t.cafile, store) == 0)
        return MOSQ_ERR_TLS;  // --cafile without a certificate in it
    // The name (or the address) the broker was asked by is the one its certificate must carry.
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, t.host.c_str()) != 1 &&
        X509_VERIFY_PARAM_set1_host(param, t.host.c_str(), 0) != 1)
        return MOSQ_ERR_TLS;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, note_refusal);
    SSL_CTX_set_app_data(ctx, this);
    int rc = mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, ctx);
    return rc;
}

std::string Tls::failure()
{
    const int e = verify_error.exchange(0);
    switch (e) {
    case 0:
        return "";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "сертификат брокера выдан не на " + host_;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "сертификат брокера не заверен доверенным центром сертификации";
    default:
        return std::string("сертификат брокера не принят: ") + X509_verify_cert_error_string(e);
    }
}

int failed_connect(int socket)
{
    if (socket < 0)
        return 0;
    const SOCKET s = SOCKET(socket);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval now{0, 0};
    if (select(0, nullptr, nullptr, &errors, &now) != 1)
        return 0;
    int err = 0;
    int len = sizeof err;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
    return err;
}

std::string socket_error_text(int err) { return windows_reason(DWORD(err)); }

}  // namespace varnok::cli
