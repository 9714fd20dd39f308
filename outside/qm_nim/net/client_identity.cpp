#include "outside/qm_nim/net/client_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "outside/qm_nim/net/endpoint.h"

namespace qmnim::net {
namespace {

bool MakeFolders(const std::string& folder) {
    for (size_t slash = 1; slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string Sys(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A self-signed certificate over a new P-256 key, valid for twenty years.
bool MakeIdentity(EVP_PKEY*& key, X509*& cert) {
    key = EVP_EC_gen("P-256");
    cert = X509_new();
    if (!key || !cert) return false;
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return false;
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    ok = ok && X509_set_version(cert, 2) && X509_gmtime_adj(X509_getm_notBefore(cert), -3600) &&
         X509_gmtime_adj(X509_getm_notAfter(cert), 20L * 365 * 24 * 3600) && X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    ok = ok && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                          reinterpret_cast<const unsigned char*>("qm voice client"), -1, -1, 0) &&
         X509_set_issuer_name(cert, name) && X509_sign(cert, key, EVP_sha256()) > 0;
    return ok;
}

}  // namespace

ClientIdentity::~ClientIdentity() {
    EVP_PKEY_free(key_);
    X509_free(cert_);
}

std::unique_ptr<ClientIdentity> ClientIdentity::LoadOrCreate(const std::string& folder, std::string& error) {
    if (folder.empty()) {
        error = "no profile folder";
        return nullptr;
    }
    std::string path = folder + "/" + kFileName;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        fchmod(fileno(in), 0600);  // an older copy may have been made with a looser mode
        EVP_PKEY* key = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
        X509* cert = key ? PEM_read_X509(in, nullptr, nullptr, nullptr) : nullptr;
        std::fclose(in);
        if (key && cert && X509_check_private_key(cert, key) == 1)
            return std::unique_ptr<ClientIdentity>(new ClientIdentity(key, cert));
        EVP_PKEY_free(key);
        X509_free(cert);
        error = "unreadable identity file " + path;
        return nullptr;
    }
    if (errno != ENOENT) {
        error = Sys(("cannot read " + path).c_str());
        return nullptr;
    }
    if (!MakeFolders(folder)) {
        error = Sys(("cannot make " + folder).c_str());
        return nullptr;
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    if (!MakeIdentity(key, cert)) {
        EVP_PKEY_free(key);
        X509_free(cert);
        error = "cannot make a client certificate";
        return nullptr;
    }
    std::unique_ptr<ClientIdentity> identity(new ClientIdentity(key, cert));
    // Written beside its final name and renamed, so a reader never sees half a key.
    std::string temp = path + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = Sys(("cannot write " + temp).c_str());
        return nullptr;
    }
    fchmod(fd, 0600);
    BIO* bio = BIO_new_fd(fd, BIO_CLOSE);
    bool written = bio && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) &&
                   PEM_write_bio_X509(bio, cert) && BIO_flush(bio) == 1 && fsync(fd) == 0;
    if (bio) BIO_free(bio); else close(fd);
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        error = Sys(("cannot write " + path).c_str());
        return nullptr;
    }
    return identity;
}

std::string ClientIdentity::Hash() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert_, EVP_sha1(), digest, &length) != 1) return {};
    return Hex(std::string_view(reinterpret_cast<const char*>(digest), length));
}

}  // namespace qmnim::net
