// qm_voicebot: the demo's participant. It sits in a room of a voice server
// and speaks a recorded phrase now and then, so that a new user hears voice
// at once.
//
//   qm_voicebot HOST:PORT FINGERPRINT ROOM NAME PHRASE STATE_FOLDER [PERIOD_SECONDS]
//
// PHRASE is raw audio, 48 kHz mono 16-bit; STATE_FOLDER keeps its client
// certificate (it makes the room when it does not exist). SIGTERM ends it.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/net/client_identity.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/session/voice_session.h"

namespace {

std::atomic<bool> g_stop{false};

class Listener : public qmnim::session::SessionListener {
public:
    void OnOnline(std::uint32_t, bool reconnected) override {
        if (reconnected) std::fprintf(stderr, "qm_voicebot: reconnected\n");
    }
    void OnOffline(const std::string& reason, bool) override {
        std::fprintf(stderr, "qm_voicebot: offline: %s\n", reason.c_str());
    }
    void OnJoin(const qmnim::session::JoinResult& r) override {
        if (r.code == qmnim::session::kJoinOk) {
            std::fprintf(stderr, "qm_voicebot: in room \"%s\" (channel %u)\n", r.roomId.c_str(), r.channelId);
        } else {
            std::fprintf(stderr, "qm_voicebot: joining \"%s\" failed (%d): %s\n", r.roomId.c_str(), r.code,
                         r.reason.c_str());
        }
    }
    void OnMembersChanged() override {}
    void OnVoice(const qmnim::proto::ReceivedVoice&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: qm_voicebot HOST:PORT FINGERPRINT ROOM NAME PHRASE STATE_FOLDER [PERIOD_SECONDS]\n");
        return 2;
    }
    signal(SIGTERM, [](int) { g_stop = true; });
    signal(SIGINT, [](int) { g_stop = true; });
    std::string error;
    auto server = qmnim::net::ParseVoiceServer(argv[1], argv[2], error);
    if (!server) {
        std::fprintf(stderr, "qm_voicebot: %s\n", error.c_str());
        return 2;
    }
    std::ifstream in(argv[5], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> phrase(bytes.size() / 2);
    std::copy(bytes.data(), bytes.data() + phrase.size() * 2, reinterpret_cast<char*>(phrase.data()));
    if (phrase.empty()) {
        std::fprintf(stderr, "qm_voicebot: no sound in %s\n", argv[5]);
        return 2;
    }
    auto period = std::chrono::seconds(argc > 7 ? std::max(1, std::atoi(argv[7])) : 8);

    qmnim::session::SessionOptions options;
    options.server = *server;
    options.identity = qmnim::net::ClientIdentity::LoadOrCreate(argv[6], error);
    if (!options.identity) std::fprintf(stderr, "qm_voicebot: no certificate (%s)\n", error.c_str());
    Listener listener;
    qmnim::session::VoiceSession session(options, &listener);
    // The server may still be starting: try until it answers.
    while (!g_stop && !session.Login(argv[4], "", std::chrono::seconds(5), &error)) {
        std::fprintf(stderr, "qm_voicebot: login: %s\n", error.c_str());
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    session.Join(argv[3]);

    qmnim::audio::Transmitter speaker([&](std::string packet) { session.SendVoice(std::move(packet)); }, nullptr,
                                      nullptr);
    speaker.Configure(qmnim::audio::OpusUse::Speech,
                      qmnim::audio::ChooseBitrate(true, qmnim::audio::OpusUse::Speech, session.maxBandwidth()));
    speaker.SetSending(true);
    speaker.SetInputActive(qmnim::audio::Transmitter::Input::Program, true);
    // Speak, then be quiet for a while, at the pace of real time (20 ms a frame).
    std::vector<std::int16_t> silence(qmnim::audio::kFrameSamples, 0);
    auto next = std::chrono::steady_clock::now();
    while (!g_stop) {
        for (size_t at = 0; at < phrase.size() && !g_stop; at += qmnim::audio::kFrameSamples) {
            size_t n = std::min(qmnim::audio::kFrameSamples, phrase.size() - at);
            speaker.OnSamples(qmnim::audio::Transmitter::Input::Program, phrase.data() + at, n);
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
        auto quietUntil = std::chrono::steady_clock::now() + period;
        while (!g_stop && std::chrono::steady_clock::now() < quietUntil) {
            speaker.OnSamples(qmnim::audio::Transmitter::Input::Program, silence.data(), silence.size());
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
    }
    session.Logout();
    return 0;
}
