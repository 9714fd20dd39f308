// The engine's load failures as the network error codes callers know
// (cef_errorcode_t).
#pragma once

#include <gio/gio.h>

namespace kxcef {

// The error code of a failed load, ERR_FAILED when nothing closer fits.
int LoadErrorCode(const GError* error);
// The code of a certificate that failed verification, by its worst problem.
int CertificateErrorCode(GTlsCertificateFlags problems);

}  // namespace kxcef
