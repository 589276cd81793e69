#include "support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace vx::test {
namespace {

struct KeyFree { void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); } };
struct CertFree { void operator()(X509* cert) const { X509_free(cert); } };
struct BioFree { void operator()(BIO* bio) const { BIO_free(bio); } };
struct ExtFree { void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); } };
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + what + " failed");
    }
}

Key newKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EVP_EC_gen");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtFree> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    check(extension != nullptr, "X509V3_EXT_conf_nid");
    check(X509_add_ext(cert, extension.get(), -1) == 1, "X509_add_ext");
}

// Issuer null means self-signed.
Cert newCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer, EVP_PKEY* issuerKey) {
    Cert cert(X509_new());
    check(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (issuer == nullptr) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
        addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "X509_sign");
    return cert;
}

template <typename Write>
std::string toPem(Write write) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    check(bio != nullptr && write(bio.get()) == 1, "PEM write");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

TestCertificates TestCertificates::generate() {
    const Key caKey = newKey();
    const Cert ca = newCertificate(caKey.get(), "vx test CA", 1, nullptr, nullptr);
    const Key serverKey = newKey();
    const Cert server = newCertificate(serverKey.get(), "localhost", 2, ca.get(), caKey.get());
    TestCertificates result;
    result.caCertificatePem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
    result.serverCertificatePem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
    result.serverKeyPem = toPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return result;
}

}  // namespace vx::test
