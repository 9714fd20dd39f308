// A mailto: address on its way to the desktop's mail client. Several mail
// clients attach a file the address names ("attach=", "attachment=") or act on
// other fields of their own, so only the fields a message needs go on: to,
// cc, bcc, subject and body (in any case, their names percent-decoded before
// they are compared). Each kept value is re-encoded, so no separator a mail
// client may read in it (';', '&', '=') survives; the fragment goes.
#pragma once

#include <string>
#include <vector>

namespace kxcef {

// `url` starts with "mailto:" (in any case). The fields and the fragment taken
// out are appended to `removed` (names as decoded; "#" for a fragment).
std::string SanitizeMailto(const std::string& url, std::vector<std::string>* removed);

}  // namespace kxcef
