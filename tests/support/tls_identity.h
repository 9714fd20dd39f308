// A throw-away TLS identity for test servers: a self-signed certificate for
// 127.0.0.1 and "localhost", trusted by nobody.
#pragma once

#include <string>

namespace qmtest {

struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
    std::string sha256;  // fingerprint of the certificate (DER), 64 lower-case hex digits
};

// A new key and certificate (valid from now for a day); empty fields on failure.
TlsIdentity MakeSelfSignedIdentity();

}  // namespace qmtest
