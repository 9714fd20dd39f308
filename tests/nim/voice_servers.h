// The real servers the voice tests talk to, each started by the test as its
// parent, on 127.0.0.1, with state in a folder of its own: the voice server
// (murmurd, unprivileged, fresh database, own port), a private PulseAudio
// server with virtual devices, and an nginx RTMP ingest. None of them sees a
// session bus, a display or the developer's sound server.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace qmtest {

using namespace std::chrono_literals;

// A free TCP port on 127.0.0.1 right now.
int FreePort();

// A folder under /tmp, removed at the end; `forNobody`: owned by the user a
// server drops to when the tests run as root.
class ServerDir {
public:
    explicit ServerDir(bool forNobody = false);
    ~ServerDir();
    ServerDir(const ServerDir&) = delete;
    ServerDir& operator=(const ServerDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class MurmurServer {
public:
    static constexpr const char* kSuperUserPassword = "su-secret-9";
    static constexpr const char* kServerPassword = "room-pass-7";

    // Starts a fresh server and waits until it answers TLS handshakes.
    bool Start(std::chrono::milliseconds timeout = 30s);
    // Starts it again on the same port and database (after Kill()).
    bool Restart(std::chrono::milliseconds timeout = 30s);
    // SIGKILL and wait: the server is gone at once, connections break.
    void Kill();
    ~MurmurServer();

    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    // SHA-256 of its certificate, lower-case hex.
    const std::string& fingerprint() const { return fingerprint_; }
    std::string Log() const;
    // As SuperUser: lets every user make temporary channels under the root.
    bool GrantTemporaryChannels(std::string* error = nullptr);

private:
    bool Launch(std::chrono::milliseconds timeout);
    ServerDir dir_{true};
    int port_ = 0;
    std::string fingerprint_;
    qmtest::ChildProcess process_;
};

// SHA-256 (hex) of the certificate a TLS server on 127.0.0.1:`port` shows,
// once it completes a handshake; empty when it did not within `timeout`.
std::string ServerFingerprint(int port, std::chrono::milliseconds timeout);

class PulseServer {
public:
    // Devices: sink "spk" (VirtualSpeaker, default), sink "micfeed", source
    // "mic" (VirtualMic, default) remapped from micfeed's monitor.
    bool Start(std::chrono::milliseconds timeout = 20s);
    ~PulseServer();
    // The value for PULSE_SERVER.
    std::string address() const { return "unix:" + dir_.File("run/native"); }
    std::string Log() const;
    int pid() const { return process_.pid(); }

private:
    ServerDir dir_;
    qmtest::ChildProcess process_;
};

class RtmpIngest {
public:
    bool Start(std::chrono::milliseconds timeout = 20s);
    ~RtmpIngest();
    std::string Url(const std::string& stream) const {
        return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/" + stream;
    }
    std::string Log() const;

private:
    ServerDir dir_;
    int port_ = 0;
    qmtest::ChildProcess process_;
};

// A program playing a sine tone into `sink` of the PulseAudio server at
// `server` until the object goes (e.g. into "micfeed", which the virtual
// microphone hears), under its own executable name (so that it counts as a
// program of its own).
class TonePlayer {
public:
    TonePlayer(const std::string& server, const std::string& sink, int hz,
               const std::string& programName = "voice_tone");
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;
    const std::string& exe() const { return exe_; }

private:
    qmtest::TempDir dir_;
    std::string exe_;
    qmtest::ChildProcess process_;
};

// Samples recorded from `source` of the PulseAudio server at `server` for
// `duration` (48 kHz mono); empty when recording failed.
std::vector<short> Record(const std::string& server, const std::string& source, std::chrono::milliseconds duration);

// The strongest frequency in `samples` (Hz), from a windowed FFT.
double PeakFrequency(const std::vector<short>& samples);
// Share of the signal's energy within +-10 Hz of `hz` (0..1).
double EnergyNear(const std::vector<short>& samples, double hz);
// Loudness in dBFS (RMS).
double Loudness(const std::vector<short>& samples);

// Whether `samples` carry the tone `hz`: loud enough and the tone dominates.
bool HasTone(const std::vector<short>& samples, double hz);

}  // namespace qmtest
