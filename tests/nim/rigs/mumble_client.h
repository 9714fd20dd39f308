// The Mumble desktop client as a headless peer in a voice room: its own home
// folder (configuration without first-run wizards, a client certificate, the
// server's certificate trusted), its own X server, session bus and PulseAudio
// server with a virtual microphone and loudspeaker, and nothing else from the
// environment. The test drives it over its D-Bus interface and through its
// sound devices: tones into its microphone, recordings of its loudspeaker.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/nim/rigs/notification_recorder.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace qmtest {

class PulseServer;
class SessionBus;
class TonePlayer;

// Lower-case hex SHA-1 of the certificate the TLS server on 127.0.0.1:`port`
// shows (what the Mumble client keeps to trust a server); empty on failure.
std::string CertificateSha1(int port, std::chrono::milliseconds timeout);

class MumbleClient {
public:
    struct Server {
        int port = 0;
        std::string password;
        std::string certificateSha1;  // see CertificateSha1
    };

    explicit MumbleClient(std::string name);
    ~MumbleClient();  // stops the client and its servers
    MumbleClient(const MumbleClient&) = delete;
    MumbleClient& operator=(const MumbleClient&) = delete;

    // Prepares its home, starts its servers and the client, which connects to
    // `server` and enters `channel` ("" for the root) when that exists. True
    // once it answers on its bus; WaitConnected tells when it has logged in.
    // (It cannot be moved to another channel later: its interface has no way.)
    bool Start(const Server& server, const std::string& channel,
               std::chrono::milliseconds timeout = std::chrono::seconds(40));
    void Stop();

    const std::string& name() const { return name_; }
    // Time from Start until it answered on its bus, and until WaitConnected held.
    std::chrono::milliseconds startCost() const { return startCost_; }
    std::chrono::milliseconds connectCost() const { return connectCost_; }

    // --- over D-Bus ---
    // Its server URL, e.g. mumble://NAME@127.0.0.1:PORT/CHANNEL?version=1.2.0;
    // nullopt while not connected.
    std::optional<std::string> CurrentUrl() const;
    bool WaitConnected(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits until it is in `channel` ("" for the root).
    bool WaitInChannel(const std::string& channel, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool SetSelfMuted(bool muted);
    bool SetSelfDeaf(bool deaf);
    std::optional<bool> SelfMuted() const;
    std::optional<bool> SelfDeaf() const;
    // Names of the users it sees talking now.
    std::vector<std::string> TalkingUsers() const;
    bool WaitTalking(const std::string& user, bool talking, std::chrono::milliseconds timeout);

    // What it showed its user as desktop notifications ("SUMMARY: BODY").
    const NotificationRecorder& notifications() const { return *notes_; }

    // --- its sound ---
    // The address of its PulseAudio server (for PULSE_SERVER).
    std::string pulse() const;
    const std::string& display() const { return display_; }
    // A tone into its microphone until the object goes.
    std::unique_ptr<TonePlayer> PlayTone(int hz) const;
    // What its loudspeaker played during the next `duration` (48 kHz mono).
    std::vector<short> Record(std::chrono::milliseconds duration) const;
    // Records until `hz` is there; bounded in tries of `each`.
    bool Hears(double hz, int tries = 20, std::chrono::milliseconds each = std::chrono::milliseconds(800)) const;

    std::string Log() const;

private:
    bool PrepareHome(const Server& server);
    bool StartDisplay();
    // A method of its interface; the reply (the caller unrefs) or null.
    GVariant* Call(const char* method, GVariant* parameters) const;

    std::string name_;
    TempDir dir_;
    std::unique_ptr<PulseServer> pulse_;
    std::unique_ptr<SessionBus> bus_;
    GDBusConnection* connection_ = nullptr;
    std::unique_ptr<NotificationRecorder> notes_;
    int xvfb_ = -1;
    std::string display_;
    ChildProcess process_;
    Server server_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::milliseconds startCost_{0}, connectCost_{0};
};

}  // namespace qmtest
