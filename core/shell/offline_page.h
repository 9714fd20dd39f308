// The built-in page shown in place of the front-end when it cannot be
// reached: what failed, why, when the next try comes, and a button to try now;
// and in place of another page that failed: what failed, why, and a button
// back to the front-end.
#pragma once

#include <string>

struct OfflinePageFacts {
    std::wstring brand;       // the channel's name, as the window title shows it
    std::wstring address;     // the address that failed
    int errorCode = 0;        // cef_errorcode_t
    std::wstring engineText;  // the engine's own words for the failure
    unsigned retrySeconds = 0;  // until the next try by itself
    // Set when the address is not the front-end's own: the page offers the
    // way back to the front-end at this address instead of another try.
    std::wstring backAddress;
};

// The user's reason for an error code: one sentence, plain text.
std::wstring OfflineReason(int errorCode);
// The whole page as HTML; every fact is escaped, nothing in it runs code
// from outside.
std::wstring BuildOfflinePage(const OfflinePageFacts& facts);
