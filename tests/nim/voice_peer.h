// A voice_peer process as the tests see it: commands in, event lines out,
// with waits that end on the line awaited or on a time limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "tests/support/process.h"

namespace qmtest {

class VoicePeer {
public:
    // A peer whose "machine" is the sound server `pulse`, with the voice
    // server of `deployIni` (file contents) and a profile folder of its own.
    VoicePeer(const std::string& name, const std::string& pulse, const std::string& deployIni);
    ~VoicePeer();
    VoicePeer(const VoicePeer&) = delete;
    VoicePeer& operator=(const VoicePeer&) = delete;

    // `extra`: further arguments of the peer program (e.g. "--host-version", "1").
    bool Start(const std::vector<std::string>& extra = {});
    // Sends one command and waits until the module's call has returned.
    bool Do(const std::string& command, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // "login USER PASS": the module's result.
    bool Login(const std::string& user, const std::string& pass);
    // Waits for the first line starting with `prefix` that no earlier Next
    // took, takes it and gives the rest of it in `rest`.
    bool Next(const std::string& prefix, std::string* rest, std::chrono::milliseconds timeout);
    // Takes every line starting with `prefix` that has come so far, so that
    // the next Next waits for a fresh one.
    void Skip(const std::string& prefix);
    // Joins `room` and returns the join event's JSON (empty on timeout).
    std::string Join(const std::string& room, const std::string& extra = "");
    // The result of the last "event start TYPE ..." for `type`.
    bool Started(int type, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::vector<std::string> Lines() const;
    size_t CountLines(const std::string& prefix) const;
    const std::string& profile() const { return profile_; }
    const std::string& dir() const { return dir_.path(); }
    std::string Stderr() const;
    // What the module wrote to its daily logs so far.
    std::string Log() const;
    int pid() const { return pid_; }
    // Ends the process: "quit" and wait, else kill.
    void Stop();

private:
    void ReadLoop();

    std::string name_, pulse_;
    qmtest::TempDir dir_;
    int pid_ = -1;
    int in_ = -1, out_ = -1;
    std::thread reader_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<bool> taken_;  // lines already handed out by Next
    bool closed_ = false;
    std::string profile_;
};

// The deploy file's voice section for the server at `host`, with `extra`
// lines after it.
std::string VoiceDeploy(const std::string& host, const std::string& fingerprint, const std::string& extra = "");
// The JSON of an event or a reply (null when it is none).
Json::Value ParseJson(const std::string& text);
// A peer on the sound server `pulse`, started with `args`, logged in as
// `name`, in `room` (joined with `joinExtra`, e.g. "- 1 0" for a music
// room) with its microphone and loudspeaker on. Each step that fails is a
// test failure; the join's reply goes to `joined`.
std::unique_ptr<VoicePeer> PeerInRoom(const std::string& name, const std::string& pulse, const std::string& deploy,
                                      const std::string& room, const std::string& joinExtra = "",
                                      const std::vector<std::string>& args = {}, Json::Value* joined = nullptr);

}  // namespace qmtest
