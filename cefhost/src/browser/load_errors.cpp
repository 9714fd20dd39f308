#include "browser/load_errors.h"

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <cstring>

#include "kxcef/cef_browser.h"

namespace kxcef {
namespace {

int NetworkErrorCode(int code) {
    switch (code) {
    case WEBKIT_NETWORK_ERROR_CANCELLED: return ERR_ABORTED;
    case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return ERR_FILE_NOT_FOUND;
    case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return ERR_UNKNOWN_URL_SCHEME;
    default: return ERR_FAILED;
    }
}

int PolicyErrorCode(int code) {
    switch (code) {
    // A navigation turned into a download, or was turned away by the client:
    // the engine calls both cancelled loads.
    case WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE:
    case WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE: return ERR_ABORTED;
    case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI: return ERR_UNKNOWN_URL_SCHEME;
    case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT: return ERR_UNSAFE_PORT;
    default: return ERR_FAILED;
    }
}

int IoErrorCode(int code) {
    switch (code) {
    case G_IO_ERROR_CANCELLED: return ERR_ABORTED;
    case G_IO_ERROR_CONNECTION_REFUSED: return ERR_CONNECTION_REFUSED;
    case G_IO_ERROR_TIMED_OUT: return ERR_TIMED_OUT;
    case G_IO_ERROR_HOST_UNREACHABLE: return ERR_ADDRESS_UNREACHABLE;
    case G_IO_ERROR_NETWORK_UNREACHABLE: return ERR_INTERNET_DISCONNECTED;
    case G_IO_ERROR_CONNECTION_CLOSED: return ERR_CONNECTION_CLOSED;  // also G_IO_ERROR_BROKEN_PIPE
    case G_IO_ERROR_HOST_NOT_FOUND: return ERR_NAME_NOT_RESOLVED;
    case G_IO_ERROR_PERMISSION_DENIED: return ERR_ACCESS_DENIED;
    case G_IO_ERROR_NOT_FOUND: return ERR_FILE_NOT_FOUND;
    default: return ERR_CONNECTION_FAILED;
    }
}

int TlsErrorCode(int code) {
    switch (code) {
    case G_TLS_ERROR_BAD_CERTIFICATE: return ERR_CERT_INVALID;
    case G_TLS_ERROR_CERTIFICATE_REQUIRED: return ERR_SSL_PROTOCOL_ERROR;
    default: return ERR_SSL_PROTOCOL_ERROR;
    }
}

bool DomainIs(const GError* error, GQuark quark) { return error->domain == quark; }

}  // namespace

int LoadErrorCode(const GError* error) {
    if (!error) return ERR_FAILED;
    if (DomainIs(error, WEBKIT_NETWORK_ERROR)) return NetworkErrorCode(error->code);
    if (DomainIs(error, WEBKIT_POLICY_ERROR)) return PolicyErrorCode(error->code);
    if (DomainIs(error, G_IO_ERROR)) return IoErrorCode(error->code);
    if (DomainIs(error, G_RESOLVER_ERROR)) return ERR_NAME_NOT_RESOLVED;
    if (DomainIs(error, G_TLS_ERROR)) return TlsErrorCode(error->code);
    return ERR_FAILED;
}

int CertificateErrorCode(GTlsCertificateFlags problems) {
    if (problems & G_TLS_CERTIFICATE_BAD_IDENTITY) return ERR_CERT_COMMON_NAME_INVALID;
    if (problems & G_TLS_CERTIFICATE_REVOKED) return ERR_CERT_REVOKED;
    if (problems & (G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED)) return ERR_CERT_DATE_INVALID;
    if (problems & G_TLS_CERTIFICATE_UNKNOWN_CA) return ERR_CERT_AUTHORITY_INVALID;
    return ERR_CERT_INVALID;
}

}  // namespace kxcef
