// Replies and voice events end to end: a foreign page that frames the
// front-end, or that the front-end navigated to, gets neither the replies to
// the front-end's calls nor its voice events, while the framed front-end gets
// both, and the voice session runs on while a foreign page is shown. The voice
// levels come from a tone on the microphone of a private PulseAudio server.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "tests/faults/client_harness.h"
#include "tests/nim/voice_servers.h"

using namespace std::chrono_literals;

namespace {

// Starts the microphone in test mode every second until the first level event.
const char kStartMicrophone[] =
    "var started=false;function levels(t){if(t.indexOf('_nim_audio_volumn')<0)return false;started=true;return true;}"
    "(function again(){if(started)return;"
    "KXVantorAsyn.VantorCommunicateAsyn('_nim_start_mic_device','test=true');setTimeout(again,1000);})();";

// A client whose microphone hears a steady tone.
class VoiceEvents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sound_.Start()) << sound_.Log();
        tone_ = std::make_unique<qmtest::TonePlayer>(sound_.address(), "micfeed", 440);
        run_.env()["PULSE_SERVER"] = sound_.address();
        ASSERT_TRUE(foreign_.Start());
        foreign_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    }
    void TearDown() override { foreign_.Stop(); }

    qmtest::PulseServer sound_;
    std::unique_ptr<qmtest::TonePlayer> tone_;
    qmtest::ClientRun run_;
    qmtest::HttpServer foreign_;
};

TEST_F(VoiceEvents, AForeignPageFramingTheFrontEndGetsNeitherRepliesNorEvents) {
    std::string front = run_.web().Url("");
    // The front-end goes to a foreign page, which frames the front-end.
    run_.web().Route("/start.html", [this](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>location.href='" + foreign_.Url("/top.html") + "';</script>");
    });
    foreign_.Route("/top.html", [front](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/top-reply',t);};"
                    "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');</script>"
                    "<iframe src='" + front + "/inner.html'></iframe>");
    });
    // The framed front-end asks for its identity and starts the microphone.
    run_.web().Route("/inner.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(std::string("<script>") + kStartMicrophone +
                    "window.JsHandleCallBack=function(t){post(levels(t)?'/inner-event':'/inner-reply',t);};"
                    "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');</script>");
    });

    ASSERT_TRUE(run_.Start("/start.html"));
    ASSERT_TRUE(run_.web().WaitForRequest("/inner-reply", 90s)) << run_.Output();
    EXPECT_NE(run_.web().BodyOf("/inner-reply").find("\"cbfn\":\"_get_client_info\""), std::string::npos);
    ASSERT_TRUE(qmtest::WaitUntil([&] { return run_.web().RequestCount("/inner-event") >= 3; }, 60s))
        << run_.Output() << run_.Logs();
    ASSERT_TRUE(run_.LogsHave("page call \"_get_client_info\" from origin " + foreign_.Url("") + " refused", 30s))
        << run_.Logs();
    EXPECT_FALSE(foreign_.WasRequested("/top-reply"));
    EXPECT_EQ(run_.Stop(), 0);
}

TEST_F(VoiceEvents, NeverReachAForeignPageAndComeBackToTheFrontEnd) {
    std::string front = run_.web().Url("");
    // The front-end starts the microphone; once the test server has its
    // second level event (a navigation would cancel the report under way) it
    // goes to a foreign page, which comes back to the front-end when the test
    // says so.
    run_.web().Route("/voice.html", [this](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(std::string("<script>") + kStartMicrophone +
                    "var n=0;window.JsHandleCallBack=function(t){if(!levels(t)||n>=2)return;"
                    "post('/front-event',t,++n<2?null:function(){location.href='" + foreign_.Url("/away.html") +
                    "';});};</script>");
    });
    std::mutex lock;
    std::condition_variable changed;
    bool goBack = false;
    foreign_.Route("/away.html", [front](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/away-reply',t);};"
                    "var x=new XMLHttpRequest();x.open('GET','/go-back');"
                    "x.onload=function(){location.href='" + front + "/back.html';};x.send();</script>");
    });
    foreign_.Route("/go-back", [&](const qmtest::HttpRequest&) {
        std::unique_lock<std::mutex> l(lock);
        changed.wait_for(l, 60s, [&] { return goBack; });
        return qmtest::HttpResponse();
    });
    // Back at the front-end, nothing is started again: the session ran on.
    run_.web().Route("/back.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){"
                    "if(t.indexOf('_nim_audio_volumn')>=0)post('/back-event',t);};</script>");
    });

    ASSERT_TRUE(run_.Start("/voice.html"));
    ASSERT_TRUE(foreign_.WaitForRequest("/go-back", 90s)) << run_.Output() << run_.Logs();
    EXPECT_EQ(run_.web().RequestCount("/front-event"), 2u);
    // While the foreign page is shown the session raises level events (a few
    // a second): none may reach it while several pass.
    EXPECT_FALSE(qmtest::WaitUntil([&] { return foreign_.WasRequested("/away-reply"); }, 2s));
    {
        std::lock_guard<std::mutex> l(lock);
        goBack = true;
    }
    changed.notify_all();
    ASSERT_TRUE(run_.web().WaitForRequest("/back-event", 60s)) << run_.Output();
    EXPECT_FALSE(foreign_.WasRequested("/away-reply"));
    EXPECT_EQ(run_.Stop(), 0);
}

}  // namespace
