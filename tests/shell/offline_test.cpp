// The offline page and the rules by which the front-end is tried again: a
// scripted host stands for the browser and the clock.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/shell/offline_page.h"
#include "core/shell/offline_recovery.h"
#include "kxcef/cef_browser.h"

namespace {

const std::wstring kFront = L"https://front.example/?inner=pc&channelId=1";

struct ScriptedHost {
    std::vector<std::wstring> shown;   // addresses the offline page stood in for
    std::vector<std::wstring> pages;   // its HTML
    std::vector<std::wstring> loads;   // tries
    std::vector<std::pair<std::function<void()>, unsigned>> timers;

    OfflineRecovery::Host Make() {
        OfflineRecovery::Host host;
        host.showPage = [this](const std::wstring& html, const std::wstring& address) {
            pages.push_back(html);
            shown.push_back(address);
        };
        host.load = [this](const std::wstring& address) { loads.push_back(address); };
        host.schedule = [this](std::function<void()> task, unsigned ms) { timers.emplace_back(std::move(task), ms); };
        host.brand = L"Solvey";
        host.watchNetwork = false;
        return host;
    }
    void Fire(size_t timer) { timers.at(timer).first(); }
};

TEST(OfflineRecovery, AFailedLoadShowsTheOfflinePageAndTriesAgainAfterGrowingPauses) {
    ScriptedHost host;
    OfflineRecovery recovery(host.Make());
    std::vector<unsigned> pauses;
    for (int failure = 1; failure <= 9; ++failure) {
        recovery.OnLoadFailed(kFront, ERR_CONNECTION_REFUSED, L"Connection refused");
        recovery.OnLoadEnd();  // the offline page
        ASSERT_EQ(host.timers.size(), static_cast<size_t>(failure));
        pauses.push_back(host.timers.back().second);
        host.Fire(host.timers.size() - 1);
        ASSERT_EQ(host.loads.size(), static_cast<size_t>(failure));
        EXPECT_EQ(host.loads.back(), kFront);
    }
    EXPECT_EQ(pauses, (std::vector<unsigned>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
    EXPECT_EQ(host.shown, std::vector<std::wstring>(9, kFront));
    EXPECT_TRUE(recovery.offline());

    // The front-end answers: all is well again, and a stale timer does nothing.
    recovery.OnLoadEnd();
    EXPECT_FALSE(recovery.offline());
    EXPECT_EQ(recovery.failures(), 0);
    recovery.OnLoadFailed(kFront, ERR_CONNECTION_REFUSED, L"");
    EXPECT_EQ(host.timers.back().second, 1000u) << "a new outage starts with a short pause";
}

TEST(OfflineRecovery, CancelledLoadsAreNoFailures) {
    ScriptedHost host;
    OfflineRecovery recovery(host.Make());
    recovery.OnLoadFailed(kFront, ERR_ABORTED, L"Load request cancelled");
    EXPECT_FALSE(recovery.offline());
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(host.timers.empty());
}

TEST(OfflineRecovery, TheNetworkComingBackOrTheUserTriesAtOnceAndTheTimerThenDoesNothing) {
    ScriptedHost host;
    OfflineRecovery recovery(host.Make());
    recovery.OnNetworkAvailable();
    recovery.RetryNow();
    EXPECT_TRUE(host.loads.empty()) << "nothing to bring back while all is well";

    recovery.OnLoadFailed(kFront, ERR_INTERNET_DISCONNECTED, L"");
    recovery.OnLoadEnd();
    recovery.OnNetworkAvailable();
    ASSERT_EQ(host.loads.size(), 1u);
    host.Fire(0);
    EXPECT_EQ(host.loads.size(), 1u) << "the try the timer was for already happened";
    recovery.OnLoadFailed(kFront, ERR_INTERNET_DISCONNECTED, L"");
    recovery.RetryNow();
    EXPECT_EQ(host.loads.size(), 2u);
    host.Fire(1);
    EXPECT_EQ(host.loads.size(), 2u);
}

TEST(OfflineRecovery, ALaterNavigationThatFailsIsBroughtBackItself) {
    ScriptedHost host;
    OfflineRecovery recovery(host.Make());
    recovery.OnLoadEnd();  // the front-end loaded
    const std::wstring page = L"https://front.example/room/7";
    recovery.OnLoadFailed(page, ERR_NAME_NOT_RESOLVED, L"");
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0], page);
    recovery.OnLoadEnd();
    host.Fire(0);
    EXPECT_EQ(host.loads, std::vector<std::wstring>{page});
    // A failure without an address keeps the one being brought back.
    recovery.OnLoadFailed(L"", ERR_FAILED, L"");
    EXPECT_EQ(host.shown.back(), page);
}

TEST(OfflineRecovery, AnotherPageThatFailsLeadsBackToTheFrontEndAndIsNeverTriedAgain) {
    ScriptedHost host;
    OfflineRecovery::Host h = host.Make();
    h.isFrontEnd = [](const std::wstring& a) { return a.rfind(L"https://front.example/", 0) == 0; };
    h.frontEnd = kFront;
    OfflineRecovery recovery(std::move(h));
    // The front-end was being brought back when the user followed a link away.
    recovery.OnLoadFailed(kFront, ERR_CONNECTION_REFUSED, L"");
    recovery.OnLoadEnd();
    const std::wstring away = L"http://elsewhere.example/x";
    recovery.OnLoadFailed(away, ERR_NAME_NOT_RESOLVED, L"Could not resolve");
    ASSERT_EQ(host.shown.size(), 2u);
    EXPECT_EQ(host.shown[1], away);
    EXPECT_NE(host.pages[1].find(L"This page cannot be shown"), std::wstring::npos);
    EXPECT_NE(host.pages[1].find(L"<a id=\"retry\" href=\"https://front.example/?inner=pc&amp;channelId=1\">Back to Solvey</a>"),
              std::wstring::npos)
        << host.pages[1];
    EXPECT_EQ(host.pages[1].find(L"id=\"n\""), std::wstring::npos) << "no countdown";
    EXPECT_FALSE(recovery.offline());
    recovery.OnLoadEnd();
    // No try of its own, for either address; the old timer does nothing.
    EXPECT_EQ(host.timers.size(), 1u);
    host.Fire(0);
    recovery.OnNetworkAvailable();
    EXPECT_TRUE(host.loads.empty());
    // A web process that ended is said so, on either page.
    recovery.OnLoadFailed(kFront + L"&x", ERR_WEB_PROCESS_ENDED, L"");
    EXPECT_NE(host.pages.back().find(L"page process ended"), std::wstring::npos);
    EXPECT_TRUE(recovery.offline());
}

TEST(OfflineRecovery, ATimerOfARecoveryThatIsGoneDoesNothing) {
    ScriptedHost host;
    auto recovery = std::make_unique<OfflineRecovery>(host.Make());
    recovery->OnLoadFailed(kFront, ERR_TIMED_OUT, L"");
    recovery.reset();
    host.Fire(0);
    EXPECT_TRUE(host.loads.empty());
}

TEST(OfflinePage, SaysWhatFailedWhyAndWhenTheNextTryComes) {
    OfflinePageFacts facts;
    facts.brand = L"Solvey";
    facts.address = kFront;
    facts.errorCode = ERR_CONNECTION_REFUSED;
    facts.engineText = L"Could not connect to front.example: Connection refused";
    facts.retrySeconds = 8;
    std::wstring html = BuildOfflinePage(facts);
    EXPECT_NE(html.find(L"Solvey cannot reach its service"), std::wstring::npos);
    EXPECT_NE(html.find(L"The service refused the connection"), std::wstring::npos);
    EXPECT_NE(html.find(L"Could not connect to front.example: Connection refused"), std::wstring::npos);
    EXPECT_NE(html.find(L"<a id=\"retry\" href=\"https://front.example/?inner=pc&amp;channelId=1\">Try again</a>"),
              std::wstring::npos)
        << html;
    EXPECT_NE(html.find(L"<span id=\"n\">8</span>"), std::wstring::npos);
}

TEST(OfflinePage, EveryReasonHasItsOwnWords) {
    EXPECT_NE(OfflineReason(ERR_NAME_NOT_RESOLVED).find(L"could not be found"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_CERT_AUTHORITY_INVALID).find(L"certificate"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_CERT_DATE_INVALID).find(L"certificate"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_SSL_PROTOCOL_ERROR).find(L"secure connection"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_INTERNET_DISCONNECTED).find(L"not connected"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_TIMED_OUT).find(L"in time"), std::wstring::npos);
    EXPECT_NE(OfflineReason(ERR_CONNECTION_RESET).find(L"broke off"), std::wstring::npos);
    EXPECT_EQ(OfflineReason(-12345), L"The service could not be loaded.");
}

TEST(OfflinePage, TextsFromOutsideCannotAddMarkupOrCode) {
    OfflinePageFacts facts;
    facts.brand = L"<b>B</b>";
    facts.address = L"https://h/?q=\"><script>alert(1)</script>&x='y'";
    facts.engineText = L"<img src=x onerror=alert(2)>\x01";
    std::wstring html = BuildOfflinePage(facts);
    EXPECT_EQ(html.find(L"<script>alert"), std::wstring::npos) << html;
    EXPECT_EQ(html.find(L"<img"), std::wstring::npos);
    EXPECT_EQ(html.find(L"<b>"), std::wstring::npos);
    EXPECT_EQ(html.find(L'\x01'), std::wstring::npos);
    EXPECT_NE(html.find(L"href=\"https://h/?q=&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;x=&#39;y&#39;\""),
              std::wstring::npos)
        << html;
    // Only web addresses become a link: no script address, no button.
    facts.address = L"javascript:alert(3)";
    html = BuildOfflinePage(facts);
    EXPECT_EQ(html.find(L"href="), std::wstring::npos);
    EXPECT_EQ(html.find(L"id=\"n\""), std::wstring::npos) << "no countdown without a scheduled try";
}

}  // namespace
