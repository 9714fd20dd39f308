// The module's own client certificate: made once per installation, kept in
// the browser profile folder as one PEM file (private key and certificate)
// readable by its owner only. A file that is not the user's own (another
// owner, or open to other users) is never loaded: a new one replaces it. The
// server knows a user with a certificate by its hash, which is what lets the
// user make temporary channels.
#pragma once

#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace qmnim::net {

class ClientIdentity {
public:
    ~ClientIdentity();
    ClientIdentity(const ClientIdentity&) = delete;
    ClientIdentity& operator=(const ClientIdentity&) = delete;

    // Loads "<folder>/voice_identity.pem", or makes it (and the folder) when
    // it does not exist or is refused. Null with `error` set when neither works.
    static std::unique_ptr<ClientIdentity> LoadOrCreate(const std::string& folder, std::string& error);
    static constexpr const char* kFileName = "voice_identity.pem";

    EVP_PKEY* key() const { return key_; }
    X509* certificate() const { return cert_; }
    // SHA-1 of the certificate in hex, as the server names it.
    std::string Hash() const;

private:
    ClientIdentity(EVP_PKEY* key, X509* cert) : key_(key), cert_(cert) {}
    EVP_PKEY* key_;
    X509* cert_;
};

}  // namespace qmnim::net
