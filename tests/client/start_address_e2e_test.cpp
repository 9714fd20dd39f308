// Start addresses keep every character from the command line to the request:
// the real qm_main, started with `*url:` or a percent-encoded `*url2:` that
// holds characters outside the ANSI code page, asks the loopback front-end for
// exactly that address.
#include <gtest/gtest.h>

#include <string>

#include "tests/faults/client_harness.h"

using namespace std::chrono_literals;

namespace {

const char kEmoji[] = "\xF0\x9F\x98\x80";          // U+1F600, not in code page 936
const char kEmojiEncoded[] = "%F0%9F%98%80";
const char kHan[] = "\xE4\xB8\xAD\xE6\x96\x87";    // two Han characters, in code page 936 too
const char kHanEncoded[] = "%E4%B8%AD%E6%96%87";

// The target of the first request for `path`, waited for.
std::string RequestedTarget(qmtest::ClientRun& run, const std::string& path) {
    std::string target;
    qmtest::WaitUntil([&] {
        for (const auto& r : run.web().Requests())
            if (r.target.rfind(path, 0) == 0) {
                target = r.target;
                return true;
            }
        return !run.process().Running();
    }, 90s);
    return target;
}

std::string PercentEncodeAll(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

TEST(StartAddress, AUrlSwitchIsRequestedWithEveryCharacterItHolds) {
    qmtest::ClientRun run;
    run.web().Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(run.Start(std::string("/start.html?t=") + kEmoji + "&n=" + kHan));
    std::string target = RequestedTarget(run, "/start.html");
    ASSERT_FALSE(target.empty()) << "no request; client output:\n" << run.Output();
    EXPECT_EQ(target.rfind(std::string("/start.html?t=") + kEmojiEncoded + "&n=" + kHanEncoded + "&inner=pc&channelId=",
                           0),
              0u)
        << target;
}

TEST(StartAddress, APercentEncodedUrl2SwitchIsDecodedAsUtf8AndRequestedWhole) {
    qmtest::ClientRun run;
    run.web().Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    std::string address = run.web().Url("/start2.html?q=") + kEmoji + kHan;
    ASSERT_TRUE(run.process().Start({run.Path("qm_main"), "*url2:" + PercentEncodeAll(address)}, run.env(),
                                    run.Path("client.out")));
    std::string target = RequestedTarget(run, "/start2.html");
    ASSERT_FALSE(target.empty()) << "no request; client output:\n" << run.Output();
    EXPECT_EQ(target.rfind(std::string("/start2.html?q=") + kEmojiEncoded + kHanEncoded + "&channelId=", 0), 0u)
        << target;
}

}  // namespace
