#include "tests/support/tls_identity.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace qmtest {
namespace {

std::string Pem(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(size));
}

}  // namespace

TlsIdentity MakeSelfSignedIdentity() {
    TlsIdentity id;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (!key || !cert) {
        EVP_PKEY_free(key);
        X509_free(cert);
        return id;
    }
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("qm test"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost")) {
        X509_add_ext(cert, san, -1);
        X509_EXTENSION_free(san);
    }
    bool signedOk = X509_sign(cert, key, EVP_sha256()) > 0;

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (signedOk && X509_digest(cert, EVP_sha256(), digest, &length) == 1) {
        static const char kHex[] = "0123456789abcdef";
        for (unsigned int i = 0; i < length; ++i) {
            id.sha256 += kHex[digest[i] >> 4];
            id.sha256 += kHex[digest[i] & 15];
        }
        BIO* certBio = BIO_new(BIO_s_mem());
        BIO* keyBio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(certBio, cert);
        PEM_write_bio_PrivateKey(keyBio, key, nullptr, nullptr, 0, nullptr, nullptr);
        id.certPem = Pem(certBio);
        id.keyPem = Pem(keyBio);
        BIO_free(certBio);
        BIO_free(keyBio);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return id;
}

}  // namespace qmtest
