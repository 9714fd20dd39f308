// The machine's sound through its PulseAudio server (PipeWire's replacement
// server speaks the same protocol): device lists, microphone capture,
// playback, and capture of what chosen programs play (a monitor stream per
// program stream, so only those programs are heard).
//
// Thread rules: the public calls may come from any thread and wait at most
// `timeout` for the server. Sample callbacks run on the sound server's thread
// of this object; a stream's callbacks have stopped when its object is gone.
//
// The server's client library is opened by the first call that needs the
// server; without it every call fails as if no server ran.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace qmnim::audio {

struct PulseLibrary;

struct SoundDevice {
    enum Kind { Source, Sink } kind = Source;
    std::string id;    // the server's name, what the start calls take as path
    std::string name;  // human name
    bool isDefault = false;
};

struct PlayingProgram {
    std::uint32_t streamIndex = 0;
    std::string exePath;  // the program's executable, as the process table shows it
    std::string name;     // the program's own name for itself
    int pid = 0;
};

class PulseAudio {
public:
    using Clock = std::chrono::steady_clock;
    using Samples = std::function<void(const std::int16_t* samples, size_t count)>;
    // Samples with the time their first one is (or was) heard, by the server's latencies.
    using TimedSamples = std::function<void(const std::int16_t* samples, size_t count, Clock::time_point heard)>;
    using Fill = std::function<void(std::int16_t* out, size_t count)>;
    // Whether a playback has nothing to play now (and so may pause).
    using Idle = std::function<bool()>;

    // `library`: the client library's file; nullptr is the system's.
    explicit PulseAudio(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000),
                        const char* library = nullptr);
    ~PulseAudio();
    PulseAudio(const PulseAudio&) = delete;
    PulseAudio& operator=(const PulseAudio&) = delete;

    // Sources that are not monitors, and sinks. Empty when there is no server.
    std::vector<SoundDevice> Devices(std::string* error = nullptr);
    // Streams playing now, with the executable of the program behind each.
    std::vector<PlayingProgram> Programs(std::string* error = nullptr);

    class Stream {
    public:
        virtual ~Stream() = default;
    };
    // Captures `source` ("" or "default": the server's default) in pieces of
    // 20 ms, each with the time its first sample was heard.
    std::unique_ptr<Stream> Capture(const std::string& source, TimedSamples samples, std::string& error);
    // Plays on `sink`, asking `fill` for the samples a few milliseconds ahead;
    // `played` (may be empty) then sees exactly what was handed to the server
    // and when its first sample will be heard. While `idle` (may be empty)
    // says there is nothing to play, the stream pauses after a moment (what
    // it played last was silence): it lets go of the server's stream, so the
    // server has nothing to do for it, and asks `idle` every 20 ms until
    // there is sound again.
    std::unique_ptr<Stream> Play(const std::string& sink, Fill fill, std::string& error, TimedSamples played = nullptr,
                                 Idle idle = nullptr);
    // Captures what the program `exePath` plays ("": everything, except this
    // process's own streams), including streams it opens later. Fails when
    // no process runs `exePath`.
    std::unique_ptr<Stream> CaptureProgram(const std::string& exePath, Samples samples, std::string& error);

private:
    friend class PulseStream;
    friend class ProgramCapture;
    bool EnsureConnected(std::string& error);
    // The program streams playing now and the sink each plays on.
    bool ListPrograms(std::vector<PlayingProgram>& programs, std::map<std::uint32_t, std::uint32_t>* sinkOf,
                      std::string& error);
    void Disconnect();

    const std::chrono::milliseconds timeout_;
    const std::string library_;
    const PulseLibrary* pa_ = nullptr;  // set once, by the first connection attempt
    std::atomic<int> liveStreams_{0};
    std::mutex connectLock_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

// Whether a process runs the executable `exePath`.
bool ProgramRunning(const std::string& exePath);
// The executable of process `pid` as the process table shows it (without the
// kernel's " (deleted)" mark); empty when it cannot be read.
std::string ExecutableOf(int pid);

}  // namespace qmnim::audio
