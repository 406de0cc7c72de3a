// What read --mqtt does differently on Windows and Wine's own runs cannot show: the trust
// store's certificates handed to OpenSSL, and the spool's folder private to the user.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "cli/spool.h"
#include "cli/windows_trust.h"

namespace varnok::cli {
namespace {

namespace fs = std::filesystem;

// A certificate for `cn`, signed by `issuer_key` under `issuer` (itself when null).
X509* certificate(const char* cn, EVP_PKEY* key, EVP_PKEY* issuer_key, X509* issuer)
{
    X509* x = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x), std::random_device()() & 0x7fffffff);
    X509_gmtime_adj(X509_getm_notBefore(x), -60);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(x));
    X509_sign(x, issuer_key, EVP_sha256());
    return x;
}

std::string der_of(X509* x)
{
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    std::string out(reinterpret_cast<char*>(der), size_t(n));
    OPENSSL_free(der);
    return out;
}

bool verifies(X509_STORE* store, X509* leaf)
{
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, leaf, nullptr);
    const bool ok = X509_verify_cert(ctx) == 1;
    X509_STORE_CTX_free(ctx);
    return ok;
}

// A store of the system's kind, built in memory: its authorities reach OpenSSL, and a broker's
// certificate they signed verifies, one of another authority does not.
TEST(WindowsTrust, AStoresCertificatesBecomeOpenSslsAuthorities)
{
    EVP_PKEY* ca_key = EVP_EC_gen("P-256");
    EVP_PKEY* other_key = EVP_EC_gen("P-256");
    EVP_PKEY* leaf_key = EVP_EC_gen("P-256");
    X509* ca = certificate("ca", ca_key, ca_key, nullptr);
    X509* other = certificate("other", other_key, other_key, nullptr);
    X509* leaf = certificate("127.0.0.1", leaf_key, ca_key, ca);
    X509* stranger = certificate("127.0.0.1", leaf_key, other_key, other);

    const HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(mem, nullptr);
    for (X509* x : {ca, other}) {
        const std::string der = der_of(x);
        ASSERT_TRUE(CertAddEncodedCertificateToStore(mem, X509_ASN_ENCODING,
                                                     reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
                                                     CERT_STORE_ADD_ALWAYS, nullptr));
    }
    X509_STORE* empty = X509_STORE_new();
    EXPECT_FALSE(verifies(empty, leaf));
    X509_STORE* trusted = X509_STORE_new();
    EXPECT_EQ(add_store_certificates(mem, trusted), 2);
    EXPECT_TRUE(verifies(trusted, leaf));
    EXPECT_TRUE(verifies(trusted, stranger));
    CertCloseStore(mem, 0);

    // --cafile's text: only its own authority; text without a certificate adds none.
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, ca);
    char* pem = nullptr;
    const long n = BIO_get_mem_data(bio, &pem);
    X509_STORE* from_file = X509_STORE_new();
    EXPECT_EQ(add_pem_certificates("comment\n" + std::string(pem, size_t(n)), from_file), 1);
    EXPECT_TRUE(verifies(from_file, leaf));
    EXPECT_FALSE(verifies(from_file, stranger));
    EXPECT_EQ(add_pem_certificates("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", empty), 0);
    BIO_free(bio);

    // The system's own store opens (Wine's holds no authorities of Windows', so no count).
    X509_STORE* system = X509_STORE_new();
    EXPECT_GE(add_system_roots(system), 0);
    for (X509_STORE* s : {empty, trusted, from_file, system})
        X509_STORE_free(s);
    for (X509* x : {ca, other, leaf, stranger})
        X509_free(x);
    for (EVP_PKEY* k : {ca_key, other_key, leaf_key})
        EVP_PKEY_free(k);
}

std::wstring user_sid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD n = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &n);
    std::string buf(n, '\0');
    GetTokenInformation(token, TokenUser, buf.data(), n, &n);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid);
    std::wstring out = sid;
    LocalFree(sid);
    return out;
}

// The folder's ACL as text, its DACL alone.
std::wstring dacl_of(const fs::path& dir)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(dir.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &sd) != ERROR_SUCCESS)
        return L"?";
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
    std::wstring out = text ? text : L"?";
    LocalFree(text);
    LocalFree(sd);
    return out;
}

// Whom the DACL's entries let in, each entry's trustee once: "user" for this user.
std::set<std::wstring> let_in(const std::wstring& dacl, const std::wstring& user)
{
    std::set<std::wstring> who;
    for (size_t open = dacl.find(L'('); open != std::wstring::npos; open = dacl.find(L'(', open + 1)) {
        const size_t close = dacl.find(L')', open);
        const std::wstring ace = dacl.substr(open + 1, close - open - 1);
        const std::wstring sid = ace.substr(ace.rfind(L';') + 1);
        who.insert(sid == user ? L"user" : sid);
    }
    return who;
}

// The spool on Windows: its folders made for the user alone, also one there before; one run at
// a time; the order kept over a restart; a write cut short gone; what is no file set aside.
TEST(WindowsSpool, PrivateToTheUserHeldByOneRunInOrderOverARestart)
{
    const fs::path top = fs::temp_directory_path() / ("varnok-spool-" + std::to_string(std::random_device()()));
    const fs::path dir = top / "spool" / "q";
    fs::create_directories(top);
    // Windows gives back the ACL made; Wine keeps it as the Unix mode 0700 and reads it back as
    // the user and SYSTEM.
    const std::wstring user = user_sid();
    const auto private_to_user = [&](const fs::path& p) {
        const std::set<std::wstring> who = let_in(dacl_of(p), user);
        return who == std::set<std::wstring>{L"user"} || who == std::set<std::wstring>{L"user", L"SY"};
    };
    {
        Spool s(dir, 1 << 20);
        EXPECT_TRUE(private_to_user(top / "spool")) << dacl_of(top / "spool");
        EXPECT_TRUE(private_to_user(dir)) << dacl_of(dir);
        EXPECT_FALSE(private_to_user(top)) << dacl_of(top);  // made by the test: left as it is
        EXPECT_THROW(Spool(dir, 1 << 20), std::runtime_error);  // one run at a time
        s.push("first");
        s.push("second");
        s.pop(s.front()->seq);
    }
    std::ofstream(dir / "00000000000000000007.json.tmp") << "half";
    fs::create_directory(dir / "00000000000000000008.json");
    {
        Spool again(dir, 1 << 20);
        EXPECT_EQ(again.front()->text, "second");
        again.push("third");
        again.pop(again.front()->seq);
        EXPECT_EQ(again.front()->text, "third");
        EXPECT_EQ(again.front()->seq, 3u);  // after the last one queued
        EXPECT_EQ(again.set_aside_count(), 1u);
        EXPECT_FALSE(fs::exists(dir / "00000000000000000007.json.tmp"));
        EXPECT_TRUE(fs::exists(dir / "00000000000000000008.json.bad"));
    }
    // A folder made before the first run is given the same ACL at it; Wine keeps a changed ACL
    // only as the Unix mode, so that is not read back here.
    const fs::path old = top / "old";
    fs::create_directories(old);
    EXPECT_NO_THROW(Spool(old, 1 << 20));
    fs::remove_all(top);
}

}  // namespace
}  // namespace varnok::cli
