#pragma once
// Windows' certificate stores for OpenSSL, which reads none of them by itself.

#include <string>

typedef struct x509_store_st X509_STORE;

namespace varnok::cli {

// Adds each certificate of `store` (an HCERTSTORE) to `to`; how many were added. One OpenSSL
// cannot read, or has already, is passed over.
int add_store_certificates(void* store, X509_STORE* to);

// The certificates of the system's ROOT store (the authorities this PC trusts) added to `to`.
int add_system_roots(X509_STORE* to);

// The PEM certificates in `text` added to `to`; how many.
int add_pem_certificates(const std::string& text, X509_STORE* to);

}  // namespace varnok::cli
