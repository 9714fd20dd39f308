#include "outside/qm_nim/audio/pulse_audio.h"

#include <dirent.h>
#include <pulse/pulseaudio.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <optional>
#include <thread>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/pulse_library.h"
#include "outside/qm_nim/audio/stream_clock.h"
#include "outside/qm_nim/audio/thread_priority.h"

namespace qmnim::audio {
namespace {

// Capture in pieces of one frame: a frame is complete when its last sample
// comes anyway, and half as many wake-ups cost half the time.
constexpr uint32_t kFragmentBytes = 20 * kSamplesPerMs * sizeof(std::int16_t);
constexpr uint32_t kMonitorBytes = 10 * kSamplesPerMs * sizeof(std::int16_t);    // shared sound, 10 ms pieces
// 15 ms queued at the server: the sink gets half of what is beyond two
// requests as its own latency (2.5 ms). At 10 ms it would get none, and wake
// so often that a two-way call costs half as much CPU again, for 3 ms less delay.
constexpr uint32_t kPlaybackBytes = 15 * kSamplesPerMs * sizeof(std::int16_t);
constexpr uint32_t kPlaybackRequest = 5 * kSamplesPerMs * sizeof(std::int16_t);  // asked for 5 ms at a time
// A playback with nothing to play pauses once a second of silence went out
// (a pause between words, or a sender that stalls for a moment, does not
// pause it: a new stream costs a round through a busy server), and then
// looks this often whether there is sound again: 50 cheap wake-ups a second
// in the client and none in the server, instead of 200 requests and twice
// as many sink wake-ups, for a room where nobody speaks.
constexpr size_t kPauseAfterSamples = 1000 * kSamplesPerMs;
constexpr pa_usec_t kIdleLookUsec = 20 * 1000;

const pa_sample_spec kFormat = {PA_SAMPLE_S16LE, kSampleRate, 1};

// One answer from the server's thread to a caller that waits for it with a
// time limit. Shared, because a late answer may come after the caller left.
struct Waiter {
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    void Finish(bool success) {
        std::lock_guard<std::mutex> l(lock);
        done = true;
        ok = success;
        cv.notify_all();
    }
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, timeout, [this] { return done; }) && ok;
    }
};

class MainloopLock {
public:
    MainloopLock(const PulseLibrary& pa, pa_threaded_mainloop* loop) : pa_(pa), loop_(loop) {
        pa_.threaded_mainloop_lock(loop_);
    }
    ~MainloopLock() { pa_.threaded_mainloop_unlock(loop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    const PulseLibrary& pa_;
    pa_threaded_mainloop* loop_;
};

std::string Text(const char* s) { return s ? s : ""; }

int PidOf(const PulseLibrary& pa, const pa_proplist* props) {
    const char* pid = props ? pa.proplist_gets(props, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
    return pid ? std::atoi(pid) : 0;
}

// Waits until `stream` is ready or failed; false (with `error`) when it failed.
bool WaitStreamReady(const PulseLibrary& pa, pa_threaded_mainloop* loop, pa_stream* stream,
                     std::chrono::milliseconds timeout, std::string& error) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pa_stream_state_t state;
        {
            MainloopLock lock(pa, loop);
            state = pa.stream_get_state(stream);
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
                error = pa.strerror(pa.context_errno(pa.stream_get_context(stream)));
                return false;
            }
        }
        if (state == PA_STREAM_READY) return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "the sound server did not answer in time";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

bool ProgramRunning(const std::string& exePath) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid > 0 && ExecutableOf(pid) == exePath) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

std::string ExecutableOf(int pid) {
    if (pid <= 0) return {};
    char buffer[4096];
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path;
}

// --- connection ---------------------------------------------------------------------------

PulseAudio::PulseAudio(std::chrono::milliseconds timeout, const char* library)
    : timeout_(timeout), library_(library ? library : kPulseLibraryFile) {}

PulseAudio::~PulseAudio() {
    std::lock_guard<std::mutex> lock(connectLock_);
    Disconnect();
}

void PulseAudio::Disconnect() {
    if (!loop_) return;
    const PulseLibrary& pa = *pa_;
    pa.threaded_mainloop_stop(loop_);
    if (context_) {
        pa.context_set_state_callback(context_, nullptr, nullptr);
        pa.context_disconnect(context_);
        pa.context_unref(context_);
        context_ = nullptr;
    }
    pa.threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

bool PulseAudio::EnsureConnected(std::string& error) {
    std::lock_guard<std::mutex> lock(connectLock_);
    if (!pa_) {
        // The library is opened here, on the first use of a sound device,
        // and answers like an absent server when it cannot be.
        std::string why;
        pa_ = LoadPulseLibrary(library_, why);
        if (!pa_) {
            error = "no sound server: " + why;
            return false;
        }
    }
    const PulseLibrary& pa = *pa_;
    if (loop_ && context_) {
        MainloopLock l(pa, loop_);
        if (pa.context_get_state(context_) == PA_CONTEXT_READY) return true;
    }
    // A lost server leaves streams behind that still belong to the old
    // connection: a new one is made only once they are all gone.
    if (liveStreams_.load() > 0) {
        error = "the sound server went away";
        return false;
    }
    Disconnect();
    loop_ = pa.threaded_mainloop_new();
    if (!loop_) {
        error = "cannot start a sound server connection";
        return false;
    }
    pa_proplist* props = pa.proplist_new();
    pa.proplist_sets(props, PA_PROP_APPLICATION_NAME, "qm voice chat");
    pa.proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    context_ = pa.context_new_with_proplist(pa.threaded_mainloop_get_api(loop_), "qm voice chat", props);
    pa.proplist_free(props);
    struct ConnectWait {
        std::shared_ptr<Waiter> waiter;
        const PulseLibrary* pa;
    };
    auto waiter = std::make_shared<Waiter>();
    auto* heldWaiter = new ConnectWait{waiter, pa_};  // freed by the connection below
    pa.context_set_state_callback(
        context_,
        [](pa_context* c, void* ud) {
            auto* w = static_cast<ConnectWait*>(ud);
            pa_context_state_t s = w->pa->context_get_state(c);
            if (s == PA_CONTEXT_READY) w->waiter->Finish(true);
            if (s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED) w->waiter->Finish(false);
        },
        heldWaiter);
    if (pa.context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa.threaded_mainloop_start(loop_) < 0) {
        error = std::string("no sound server: ") + pa.strerror(pa.context_errno(context_));
        pa.context_set_state_callback(context_, nullptr, nullptr);
        delete heldWaiter;
        Disconnect();
        return false;
    }
    bool ok = waiter->Wait(timeout_);
    {
        MainloopLock l(pa, loop_);
        pa.context_set_state_callback(context_, nullptr, nullptr);
        if (!ok) error = std::string("no sound server: ") + pa.strerror(pa.context_errno(context_));
    }
    delete heldWaiter;
    if (!ok) Disconnect();
    return ok;
}

// --- lists ---------------------------------------------------------------------------------

std::vector<SoundDevice> PulseAudio::Devices(std::string* errorOut) {
    std::string error;
    std::vector<SoundDevice> out;
    if (!EnsureConnected(error)) {
        if (errorOut) *errorOut = error;
        return out;
    }
    const PulseLibrary& pa = *pa_;
    struct Result {
        Waiter waiter;
        int pending = 3;
        std::string defaultSource, defaultSink;
        std::vector<SoundDevice> devices;
        void Done() {
            if (--pending == 0) waiter.Finish(true);
        }
    };
    auto result = std::make_shared<Result>();
    auto* held = new std::shared_ptr<Result>(result);
    std::vector<pa_operation*> ops;
    {
        MainloopLock l(pa, loop_);
        ops.push_back(pa.context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* i, void* ud) {
                auto& r = **static_cast<std::shared_ptr<Result>*>(ud);
                if (i) {
                    r.defaultSource = Text(i->default_source_name);
                    r.defaultSink = Text(i->default_sink_name);
                }
                r.Done();
            },
            held));
        ops.push_back(pa.context_get_source_info_list(
            context_,
            [](pa_context*, const pa_source_info* i, int eol, void* ud) {
                auto& r = **static_cast<std::shared_ptr<Result>*>(ud);
                if (eol) return r.Done();
                if (i && i->monitor_of_sink == PA_INVALID_INDEX)
                    r.devices.push_back({SoundDevice::Source, Text(i->name), Text(i->description), false});
            },
            held));
        ops.push_back(pa.context_get_sink_info_list(
            context_,
            [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
                auto& r = **static_cast<std::shared_ptr<Result>*>(ud);
                if (eol) return r.Done();
                if (i) r.devices.push_back({SoundDevice::Sink, Text(i->name), Text(i->description), false});
            },
            held));
    }
    bool ok = result->waiter.Wait(timeout_);
    {
        MainloopLock l(pa, loop_);
        for (pa_operation* op : ops) {
            if (!op) continue;
            if (!ok) pa.operation_cancel(op);
            pa.operation_unref(op);
        }
        if (ok) {
            out = result->devices;
            for (SoundDevice& d : out)
                d.isDefault = d.id == (d.kind == SoundDevice::Source ? result->defaultSource : result->defaultSink);
        }
    }
    delete held;
    if (!ok && errorOut) *errorOut = "the sound server did not answer in time";
    return out;
}

namespace {

struct SinkInputList {
    const PulseLibrary* pa = nullptr;
    Waiter waiter;
    std::vector<PlayingProgram> programs;
    std::map<std::uint32_t, std::uint32_t> sinkOf;  // stream index -> sink index
};

void OnSinkInput(pa_context*, const pa_sink_input_info* i, int eol, void* ud) {
    auto& r = **static_cast<std::shared_ptr<SinkInputList>*>(ud);
    if (eol) return r.waiter.Finish(true);
    if (!i) return;
    const PulseLibrary& pa = *r.pa;
    PlayingProgram p;
    p.streamIndex = i->index;
    p.pid = PidOf(pa, i->proplist);
    p.exePath = ExecutableOf(p.pid);
    p.name = Text(i->proplist ? pa.proplist_gets(i->proplist, PA_PROP_APPLICATION_NAME) : nullptr);
    r.programs.push_back(p);
    r.sinkOf[i->index] = i->sink;
}

}  // namespace

bool PulseAudio::ListPrograms(std::vector<PlayingProgram>& programs, std::map<std::uint32_t, std::uint32_t>* sinkOf,
                              std::string& error) {
    if (!EnsureConnected(error)) return false;
    const PulseLibrary& pa = *pa_;
    auto result = std::make_shared<SinkInputList>();
    result->pa = pa_;
    auto* held = new std::shared_ptr<SinkInputList>(result);
    pa_operation* op;
    {
        MainloopLock l(pa, loop_);
        op = pa.context_get_sink_input_info_list(context_, OnSinkInput, held);
    }
    bool ok = op && result->waiter.Wait(timeout_);
    {
        MainloopLock l(pa, loop_);
        if (op) {
            if (!ok) pa.operation_cancel(op);  // the answer must not come after `held` is gone
            pa.operation_unref(op);
        }
        if (ok) {
            programs = result->programs;
            if (sinkOf) *sinkOf = result->sinkOf;
        }
    }
    delete held;
    if (!ok) error = "the sound server did not answer in time";
    return ok;
}

std::vector<PlayingProgram> PulseAudio::Programs(std::string* errorOut) {
    std::vector<PlayingProgram> programs;
    std::string error;
    if (!ListPrograms(programs, nullptr, error) && errorOut) *errorOut = error;
    return programs;
}

// --- streams -------------------------------------------------------------------------------

// One record or playback stream of the connection.
class PulseStream : public PulseAudio::Stream {
public:
    PulseStream(PulseAudio* owner, PulseAudio::Samples samples, PulseAudio::Fill fill)
        : owner_(owner), samples_(std::move(samples)), fill_(std::move(fill)) {
        ++owner_->liveStreams_;
    }
    // A capture that gives times, or a playback that shows what it played.
    PulseStream(PulseAudio* owner, PulseAudio::TimedSamples timed, PulseAudio::Fill fill,
                PulseAudio::Idle idle = nullptr)
        : owner_(owner), fill_(std::move(fill)), timed_(std::move(timed)), idle_(std::move(idle)) {
        ++owner_->liveStreams_;
    }
    ~PulseStream() override {
        if (stream_ || idleLook_) {
            const PulseLibrary& pa = *owner_->pa_;
            MainloopLock l(pa, owner_->loop_);
            if (idleLook_) {
                pa_mainloop_api* api = pa.threaded_mainloop_get_api(owner_->loop_);
                api->time_free(idleLook_);
                idleLook_ = nullptr;
            }
            Release();
        }
        --owner_->liveStreams_;
    }

    bool Open(const std::string& device, bool record, std::string& error) {
        const PulseLibrary& pa = *owner_->pa_;
        device_ = device;
        record_ = record;
        {
            MainloopLock l(pa, owner_->loop_);
            if (!Connect(error)) return false;
        }
        return WaitStreamReady(pa, owner_->loop_, stream_, owner_->timeout_, error);
    }

    // Makes and connects the server's stream (under the loop's lock); it is
    // ready some time later.
    bool Connect(std::string& error) {
        const PulseLibrary& pa = *owner_->pa_;
        const char* name = device_.empty() || device_ == "default" ? nullptr : device_.c_str();
        stream_ = pa.stream_new(owner_->context_, record_ ? "qm voice microphone" : "qm voice room", &kFormat, nullptr);
        if (!stream_) {
            error = pa.strerror(pa.context_errno(owner_->context_));
            return false;
        }
        // A new stream's times are its own: nothing of the last one's carries over.
        clock_.Reset();
        pendingCount_ = 0;
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = record_ ? kFragmentBytes : static_cast<uint32_t>(-1);
        attr.tlength = record_ ? static_cast<uint32_t>(-1) : kPlaybackBytes;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = record_ ? static_cast<uint32_t>(-1) : kPlaybackRequest;
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                                    PA_STREAM_INTERPOLATE_TIMING);
        int rc;
        if (record_) {
            pa.stream_set_read_callback(stream_, &PulseStream::OnRead, this);
            rc = pa.stream_connect_record(stream_, name, &attr, flags);
        } else {
            pa.stream_set_write_callback(stream_, &PulseStream::OnWrite, this);
            rc = pa.stream_connect_playback(stream_, name, &attr, flags, nullptr, nullptr);
        }
        if (rc < 0) {
            error = pa.strerror(pa.context_errno(owner_->context_));
            Release();
            return false;
        }
        return true;
    }

    // Lets go of the server's stream (under the loop's lock).
    void Release() {
        if (!stream_) return;
        const PulseLibrary& pa = *owner_->pa_;
        pa.stream_set_read_callback(stream_, nullptr, nullptr);
        pa.stream_set_write_callback(stream_, nullptr, nullptr);
        pa.stream_disconnect(stream_);
        pa.stream_unref(stream_);
        stream_ = nullptr;
    }

    // A stream that records what one program stream plays, from its sink's monitor.
    bool OpenMonitor(std::uint32_t streamIndex, const std::string& monitorSource) {
        const PulseLibrary& pa = *owner_->pa_;
        stream_ = pa.stream_new(owner_->context_, "qm voice shared sound", &kFormat, nullptr);
        if (!stream_) return false;
        pa.stream_set_monitor_stream(stream_, streamIndex);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = kMonitorBytes;
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        pa.stream_set_read_callback(stream_, &PulseStream::OnRead, this);
        return pa.stream_connect_record(stream_, monitorSource.c_str(), &attr,
                                        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                       PA_STREAM_DONT_MOVE)) >= 0;
    }

    bool failed() const {
        if (!stream_) return false;  // a paused playback
        const PulseLibrary& pa = *owner_->pa_;
        pa_stream_state_t s = pa.stream_get_state(stream_);
        return s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED;
    }

private:
    // The stream's latency: for a capture how long ago the next sample to be
    // read was heard, for a playback how long until the next sample written
    // will be; `fallback` while the server has not told its timing yet.
    static PulseAudio::Clock::duration Latency(const PulseLibrary& pa, pa_stream* s,
                                               PulseAudio::Clock::duration fallback) {
        return KnownLatency(pa, s).value_or(fallback);
    }
    static std::optional<PulseAudio::Clock::duration> KnownLatency(const PulseLibrary& pa, pa_stream* s) {
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa.stream_get_latency(s, &usec, &negative) < 0) return std::nullopt;
        auto latency = std::chrono::microseconds(static_cast<std::int64_t>(usec));
        return negative ? -latency : latency;
    }

    static PulseAudio::Clock::duration Duration(size_t samples) {
        return std::chrono::duration_cast<PulseAudio::Clock::duration>(
            std::chrono::duration<double>(double(samples) / kSampleRate));
    }

    static void OnRead(pa_stream* s, size_t, void* ud) {
        auto* self = static_cast<PulseStream*>(ud);
        const PulseLibrary& pa = *self->owner_->pa_;
        RaiseOnce();
        PulseAudio::Clock::time_point heard{};
        if (self->timed_) {
            // Without the server's timing, what is waiting is at least as old as its length.
            size_t waiting = pa.stream_readable_size(s) / sizeof(std::int16_t);
            heard = self->clock_.Next(PulseAudio::Clock::now() - Latency(pa, s, Duration(waiting)), waiting);
        }
        while (pa.stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa.stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
            size_t count = bytes / sizeof(std::int16_t);
            const std::int16_t* samples = static_cast<const std::int16_t*>(data);
            if (!data) {
                self->silence_.assign(count, 0);  // a hole in the stream
                samples = self->silence_.data();
            }
            if (self->timed_) {
                self->timed_(samples, count, heard);
                heard += Duration(count);
            } else {
                self->samples_(samples, count);
            }
            pa.stream_drop(s);
        }
    }

    static void OnWrite(pa_stream* s, size_t bytes, void* ud) {
        auto* self = static_cast<PulseStream*>(ud);
        const PulseLibrary& pa = *self->owner_->pa_;
        RaiseOnce();
        void* buffer = nullptr;
        if (pa.stream_begin_write(s, &buffer, &bytes) < 0 || !buffer) return;
        bytes -= bytes % sizeof(std::int16_t);
        auto* samples = static_cast<std::int16_t*>(buffer);
        size_t count = bytes / sizeof(std::int16_t);
        self->fill_(samples, count);
        if (self->timed_) self->Played(pa, s, samples, count);
        pa.stream_write(s, buffer, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        if (self->idle_) self->PauseWhenIdle(count);
    }

    // Hands what was written to timed_ with the time it will be heard. A new
    // stream's first pieces go out before the server has told its timing
    // (and a guess puts them late, on top of the pieces after them): they are
    // held until the latency is known and then placed right before the piece
    // it is known for, as the server plays them. After a pause this is where
    // the first words are, which the echo canceller must see where they are
    // heard. Runs on the server's thread; nothing allocates.
    void Played(const PulseLibrary& pa, pa_stream* s, const std::int16_t* samples, size_t count) {
        std::optional<PulseAudio::Clock::duration> latency = KnownLatency(pa, s);
        if (!latency && pendingCount_ + count <= pending_.size()) {
            std::copy(samples, samples + count, pending_.begin() + static_cast<std::ptrdiff_t>(pendingCount_));
            pendingCount_ += count;
            return;
        }
        // Still unknown after many pieces: what the server holds plays first.
        auto reported = PulseAudio::Clock::now() + latency.value_or(Duration(kPlaybackBytes / sizeof(std::int16_t)));
        if (pendingCount_ > 0) {
            timed_(pending_.data(), pendingCount_, clock_.Next(reported - Duration(pendingCount_), pendingCount_));
            pendingCount_ = 0;
        }
        timed_(samples, count, clock_.Next(reported, count));
    }

    // After a while with nothing to play (what the server holds is silence)
    // the stream lets go of the server's stream: a corked one would still
    // hold the sink to its short latency, waking the server hundreds of
    // times a second for nothing. A timer looks whether there is sound again
    // and connects anew; the new stream asks for its samples at once, so the
    // first words wait for a connection on this machine's own socket, no
    // more. Runs on the server's thread.
    void PauseWhenIdle(size_t written) {
        if (!idle_()) {
            quietSamples_ = 0;
            return;
        }
        quietSamples_ += written;
        if (quietSamples_ < kPauseAfterSamples) return;
        quietSamples_ = 0;
        // Not from inside the stream's own callback: at once, from the timer.
        releasing_ = true;
        LookAgain(0);
    }

    void LookAgain(pa_usec_t after = kIdleLookUsec) {
        const PulseLibrary& pa = *owner_->pa_;
        pa_mainloop_api* api = pa.threaded_mainloop_get_api(owner_->loop_);
        timeval now{};
        gettimeofday(&now, nullptr);
        std::uint64_t usec = std::uint64_t(now.tv_sec) * 1000000u + std::uint64_t(now.tv_usec) + after;
        timeval at{static_cast<time_t>(usec / 1000000u), static_cast<suseconds_t>(usec % 1000000u)};
        if (idleLook_) {
            api->time_restart(idleLook_, &at);
        } else {
            idleLook_ = api->time_new(api, &at, &PulseStream::OnIdleLook, this);
        }
    }

    static void OnIdleLook(pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
        auto* self = static_cast<PulseStream*>(ud);
        if (self->releasing_) {
            self->releasing_ = false;
            if (!self->idle_()) return;  // sound came meanwhile: play on
            self->Release();
            self->LookAgain();
            return;
        }
        std::string error;
        // A sink that cannot be had now is tried again at the next look.
        if (self->idle_() || !self->Connect(error)) self->LookAgain();
    }

    // The server's thread is made by the sound library: it is raised from its first sample callback.
    static void RaiseOnce() {
        thread_local bool raised = false;
        if (!raised) RaiseThisThreadForAudio();
        raised = true;
    }

    PulseAudio* const owner_;
    const PulseAudio::Samples samples_;
    const PulseAudio::Fill fill_;
    const PulseAudio::TimedSamples timed_;
    const PulseAudio::Idle idle_;
    std::string device_;
    bool record_ = false;
    size_t quietSamples_ = 0;  // silence written since there was something to play
    bool releasing_ = false;   // the next look lets go of the server's stream
    pa_time_event* idleLook_ = nullptr;  // while paused, looks for sound again
    // The times given to timed_ (on the sound server's thread). A playback's
    // latency is exact: its clock takes every step (after an underrun, what
    // is written is heard that much later). A capture's wanders by several
    // milliseconds while its samples come on time: its clock keeps to the
    // samples, follows over half a minute (a device's clock drift) and takes
    // only steps of 20 ms and more (an overrun).
    StreamClock clock_{fill_ ? StreamClock(std::chrono::microseconds(500), std::chrono::milliseconds(50))
                             : StreamClock(std::chrono::milliseconds(20), std::chrono::milliseconds(30000))};
    pa_stream* stream_ = nullptr;
    std::vector<std::int16_t> silence_;
    // A new playback's pieces written before its timing is known (100 ms at most).
    std::vector<std::int16_t> pending_ = std::vector<std::int16_t>(timed_ && fill_ ? 100 * kSamplesPerMs : 0);
    size_t pendingCount_ = 0;
};

std::unique_ptr<PulseAudio::Stream> PulseAudio::Capture(const std::string& source, TimedSamples samples,
                                                        std::string& error) {
    if (!EnsureConnected(error)) return nullptr;
    auto stream = std::make_unique<PulseStream>(this, std::move(samples), Fill());
    if (!stream->Open(source, true, error)) return nullptr;
    return stream;
}

std::unique_ptr<PulseAudio::Stream> PulseAudio::Play(const std::string& sink, Fill fill, std::string& error,
                                                     TimedSamples played, Idle idle) {
    if (!EnsureConnected(error)) return nullptr;
    auto stream = std::make_unique<PulseStream>(this, std::move(played), std::move(fill), std::move(idle));
    if (!stream->Open(sink, false, error)) return nullptr;
    return stream;
}

// --- program sound -------------------------------------------------------------------------

// Every stream of the chosen programs, each through a monitor stream of its
// own, summed. Streams that the programs open later join by the server's
// notices. Everything here runs on the server's thread or under its lock.
class ProgramCapture : public PulseAudio::Stream {
public:
    ProgramCapture(PulseAudio* owner, std::string exePath, PulseAudio::Samples samples)
        : owner_(owner), exePath_(std::move(exePath)), samples_(std::move(samples)), self_(getpid()) {}

    ~ProgramCapture() override {
        const PulseLibrary& pa = *owner_->pa_;
        MainloopLock l(pa, owner_->loop_);
        pa.context_set_subscribe_callback(owner_->context_, nullptr, nullptr);
        closing_ = true;
        // Answers still on their way must not reach this object any more.
        for (pa_operation* op : ops_) {
            pa.operation_cancel(op);
            pa.operation_unref(op);
        }
        taps_.clear();
    }

    bool Matches(const PlayingProgram& p) const {
        if (exePath_.empty()) return p.pid != self_;
        return !p.exePath.empty() && p.exePath == exePath_;
    }

    // Called with the server's lock held.
    void Start() {
        const PulseLibrary& pa = *owner_->pa_;
        pa.context_set_subscribe_callback(owner_->context_, &ProgramCapture::OnNotice, this);
        pa.operation_unref(pa.context_subscribe(owner_->context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
    }

    // Adds a monitor for one program stream playing on `sink`.
    void Add(std::uint32_t streamIndex, std::uint32_t sink) {
        if (closing_ || taps_.count(streamIndex)) return;
        requests_.push_back(std::make_unique<std::pair<ProgramCapture*, std::uint32_t>>(this, streamIndex));
        auto* request = requests_.back().get();
        const PulseLibrary& pa = *owner_->pa_;
        Track(pa.context_get_sink_info_by_index(
            owner_->context_, sink,
            [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
                auto* req = static_cast<std::pair<ProgramCapture*, std::uint32_t>*>(ud);
                if (eol || !i) return;
                req->first->AddOnMonitor(req->second, Text(i->monitor_source_name));
            },
            request));
    }

    size_t tapCount() const { return taps_.size(); }

private:
    struct Tap {
        std::unique_ptr<PulseStream> stream;
        std::deque<std::int16_t> fifo;
        std::chrono::steady_clock::time_point lastData{};
    };

    void AddOnMonitor(std::uint32_t streamIndex, const std::string& monitor) {
        if (closing_ || taps_.count(streamIndex) || monitor.empty()) return;
        auto tap = std::make_unique<Tap>();
        Tap* raw = tap.get();
        tap->stream = std::make_unique<PulseStream>(
            owner_, [this, raw](const std::int16_t* s, size_t n) { OnTapSamples(*raw, s, n); }, nullptr);
        // The stream's destructor takes the server's lock, which this thread holds: it is recursive.
        if (!tap->stream->OpenMonitor(streamIndex, monitor)) return;
        taps_[streamIndex] = std::move(tap);
    }

    // Sums what every live tap has; a tap that has been quiet for a while
    // (its program paused) no longer holds the others back.
    void OnTapSamples(Tap& tap, const std::int16_t* s, size_t n) {
        auto now = std::chrono::steady_clock::now();
        tap.fifo.insert(tap.fifo.end(), s, s + n);
        tap.lastData = now;
        constexpr size_t kMaxFifo = 200 * kSamplesPerMs;
        if (tap.fifo.size() > kMaxFifo) tap.fifo.erase(tap.fifo.begin(), tap.fifo.end() - kMaxFifo);
        size_t ready = SIZE_MAX;
        for (auto& [index, t] : taps_) {
            if (now - t->lastData > std::chrono::milliseconds(60)) {
                t->fifo.clear();
                continue;
            }
            ready = std::min(ready, t->fifo.size());
        }
        if (ready == SIZE_MAX || ready == 0) return;
        mix_.assign(ready, 0);
        for (auto& [index, t] : taps_) {
            if (t->fifo.size() < ready) continue;
            for (size_t i = 0; i < ready; ++i)
                mix_[i] = static_cast<std::int16_t>(std::clamp(mix_[i] + t->fifo[i], -32768, 32767));
            t->fifo.erase(t->fifo.begin(), t->fifo.begin() + static_cast<std::ptrdiff_t>(ready));
        }
        samples_(mix_.data(), ready);
    }

    static void OnNotice(pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* ud) {
        auto* self = static_cast<ProgramCapture*>(ud);
        const PulseLibrary& pa = *self->owner_->pa_;
        auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            self->taps_.erase(index);
            return;
        }
        if (kind != PA_SUBSCRIPTION_EVENT_NEW) return;
        self->Track(pa.context_get_sink_input_info(
            c, index,
            [](pa_context*, const pa_sink_input_info* i, int eol, void* ud2) {
                auto* me = static_cast<ProgramCapture*>(ud2);
                if (eol || !i || me->closing_) return;
                PlayingProgram p;
                p.pid = PidOf(*me->owner_->pa_, i->proplist);
                p.exePath = ExecutableOf(p.pid);
                if (me->Matches(p)) me->Add(i->index, i->sink);
            },
            self));
    }

    // Keeps an operation until it is done, so that closing can cancel it.
    void Track(pa_operation* op) {
        const PulseLibrary& pa = *owner_->pa_;
        ops_.erase(std::remove_if(ops_.begin(), ops_.end(),
                                  [&pa](pa_operation* o) {
                                      if (pa.operation_get_state(o) == PA_OPERATION_RUNNING) return false;
                                      pa.operation_unref(o);
                                      return true;
                                  }),
                   ops_.end());
        if (op) ops_.push_back(op);
    }

private:
    PulseAudio* const owner_;
    const std::string exePath_;
    const PulseAudio::Samples samples_;
    const int self_;
    bool closing_ = false;
    std::map<std::uint32_t, std::unique_ptr<Tap>> taps_;
    std::vector<std::unique_ptr<std::pair<ProgramCapture*, std::uint32_t>>> requests_;
    std::vector<pa_operation*> ops_;
    std::vector<std::int16_t> mix_;
};

std::unique_ptr<PulseAudio::Stream> PulseAudio::CaptureProgram(const std::string& exePath, Samples samples,
                                                               std::string& error) {
    std::vector<PlayingProgram> programs;
    std::map<std::uint32_t, std::uint32_t> sinkOf;
    if (!ListPrograms(programs, &sinkOf, error)) return nullptr;
    auto capture = std::make_unique<ProgramCapture>(this, exePath, std::move(samples));
    {
        MainloopLock l(*pa_, loop_);
        capture->Start();
        for (const PlayingProgram& p : programs) {
            if (capture->Matches(p)) capture->Add(p.streamIndex, sinkOf[p.streamIndex]);
        }
    }
    // Everything always works; one program must at least be running (its
    // streams join as soon as it plays).
    if (exePath.empty() || ProgramRunning(exePath)) return capture;
    error = "the program " + exePath + " does not run";
    return nullptr;
}

}  // namespace qmnim::audio
