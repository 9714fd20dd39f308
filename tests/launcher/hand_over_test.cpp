// What a second start hands over: the start channel as before, and the
// desktop's activation token, in a form that earlier versions still read when
// there is no token and that no token can bend.
#include <gtest/gtest.h>

#include "launcher/hand_over.h"
#include "tests/support/process.h"

namespace {

TEST(HandOver, TheTokenTravelsWithTheStartChannelAndWithoutItTheOldFormStays) {
    HandOverRequest request;
    request.hasStartCid = true;
    request.startCid = L"83302ACB1052";
    // No token: exactly what every earlier version sends and reads.
    EXPECT_EQ(EncodeHandOver(request), "QMHO1\nS83302ACB1052");
    HandOverRequest plain;
    plain.hasStartCid = false;
    EXPECT_EQ(EncodeHandOver(plain), "QMHO1\nR");

    request.activationToken = "gnome-shell/qm_main/1234-0-host_TIME5678";
    HandOverRequest read;
    ASSERT_TRUE(DecodeHandOver(EncodeHandOver(request), read));
    EXPECT_EQ(read.activationToken, request.activationToken);
    EXPECT_TRUE(read.hasStartCid);
    EXPECT_EQ(read.startCid, L"83302ACB1052");
    plain.activationToken = "a1b2";
    ASSERT_TRUE(DecodeHandOver(EncodeHandOver(plain), read));
    EXPECT_EQ(read.activationToken, "a1b2");
    EXPECT_FALSE(read.hasStartCid);
}

TEST(HandOver, ATokenThatIsNotOneLineOfPrintableTextIsNotSentNorTaken) {
    HandOverRequest request;
    for (const std::string& bad : {std::string("two\nlines"), std::string("a b"), std::string("tab\t"),
                                   std::string(kMaxActivationToken + 1, 'x'), std::string("\x7f")}) {
        request.activationToken = bad;
        EXPECT_EQ(EncodeHandOver(request), "QMHO1\nR");
    }
    HandOverRequest read;
    EXPECT_FALSE(DecodeHandOver("QMHO2\nR", read));              // no token line
    EXPECT_FALSE(DecodeHandOver("QMHO2\nto ken\nR", read));      // a blank in it
    EXPECT_FALSE(DecodeHandOver("QMHO2\n\nR", read));            // empty
    EXPECT_FALSE(DecodeHandOver("QMHO2\nabc\nX", read));         // not a hand-over body
    EXPECT_FALSE(DecodeHandOver("QMHO2\nabc\nR\nmore", read));   // more after the body
    EXPECT_TRUE(read.activationToken.empty());
    // The start channel stays one line behind a token too.
    ASSERT_TRUE(DecodeHandOver("QMHO2\nabc\nSone\n[Other]\nx=1", read));
    EXPECT_EQ(read.startCid, L"one");
}

TEST(HandOver, TheTokenComesFromTheDesktopsVariableOfThisStart) {
    {
        qmtest::ScopedEnv wayland("XDG_ACTIVATION_TOKEN", "wl-token");
        qmtest::ScopedEnv x11("DESKTOP_STARTUP_ID", "x11-id_TIME42");
        EXPECT_EQ(ActivationTokenOfThisStart(), "wl-token");
    }
    {
        qmtest::ScopedEnv wayland("XDG_ACTIVATION_TOKEN", "");
        qmtest::ScopedEnv x11("DESKTOP_STARTUP_ID", "x11-id_TIME42");
        EXPECT_EQ(ActivationTokenOfThisStart(), "x11-id_TIME42");
    }
    qmtest::ScopedEnv wayland("XDG_ACTIVATION_TOKEN", "bad token");
    qmtest::ScopedEnv x11("DESKTOP_STARTUP_ID", "");
    EXPECT_EQ(ActivationTokenOfThisStart(), "");
}

}  // namespace
