#include "outside/qm_nim/net/client_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "outside/qm_nim/net/endpoint.h"
#include "platform/paths.h"
#include "platform/private_files.h"

namespace qmnim::net {
namespace {

const char kLogSource[] = "ClientIdentity";
// A P-256 key and its certificate in PEM take about a kilobyte.
constexpr size_t kMaxIdentityBytes = 64 * 1024;

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
    // The key is this user's alone: a folder or file that anyone else owns or
    // can read is never used (its key may be known to them).
    std::wstring wideFolder = platform::FromNativePath(folder);
    std::string why;
    if (!platform::MakePrivateFolder(platform::DirPart(wideFolder), wideFolder, &why)) {
        error = "the profile folder is not this user's own: " + why;
        return nullptr;
    }
    std::string path = folder + "/" + kFileName;
    std::string pem;
    platform::ReadStatus status =
        platform::ReadOwnPrivateFile(platform::FromNativePath(path), pem, kMaxIdentityBytes, &why);
    if (status == platform::ReadStatus::Ok) {
        BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        EVP_PKEY* key = in ? PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr;
        X509* cert = key ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(in);
        OPENSSL_cleanse(pem.data(), pem.size());
        if (key && cert && X509_check_private_key(cert, key) == 1)
            return std::unique_ptr<ClientIdentity>(new ClientIdentity(key, cert));
        EVP_PKEY_free(key);
        X509_free(cert);
        error = "unreadable identity file " + path;
        return nullptr;
    }
    if (status == platform::ReadStatus::Unreadable) {
        error = "cannot read " + path;
        return nullptr;
    }
    if (status != platform::ReadStatus::Missing)
        QM_LOG(kLogSource) << "<qm_nim> client certificate " << EscapeForLog(path) << " refused (" << EscapeForLog(why)
                           << "); a new one replaces it";
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    if (!MakeIdentity(key, cert)) {
        EVP_PKEY_free(key);
        X509_free(cert);
        error = "cannot make a client certificate";
        return nullptr;
    }
    std::unique_ptr<ClientIdentity> identity(new ClientIdentity(key, cert));
    // Written beside its final name and renamed over whatever stands there, so
    // a reader never sees half a key and nothing in its place is written into.
    std::string temp = path + ".new";
    int fd = -1;
    for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) unlink(temp.c_str());  // left by an earlier run that ended halfway
        else if (fd < 0) break;
    }
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
