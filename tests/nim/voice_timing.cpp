#include "tests/nim/voice_timing.h"

#include <pulse/simple.h>

#include <algorithm>
#include <cmath>

#include "outside/qm_nim/audio/thread_priority.h"

namespace qmtest {
namespace {

constexpr int kRate = 48000;
constexpr size_t kMarkerSamples = 30 * 48;

// Energy of `hz` in a piece (Goertzel), relative to its length.
double ToneEnergy(const short* s, size_t n, double hz) {
    double w = 2 * std::cos(2 * M_PI * hz / kRate), a = 0, b = 0;
    for (size_t i = 0; i < n; ++i) {
        double c = s[i] / 32768.0 + w * a - b;
        b = a;
        a = c;
    }
    return (a * a + b * b - w * a * b) / double(n * n);
}

double Dbfs(const short* s, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(s[i]) * s[i];
    double rms = std::sqrt(sum / double(n)) / 32768.0;
    return rms > 1e-10 ? 20 * std::log10(rms) : -200;
}

}  // namespace

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

MarkerTalker::MarkerTalker(const std::string& pulse, const std::string& sink, std::chrono::milliseconds every)
    : thread_([this, pulse, sink, every] { Run(pulse, sink, static_cast<size_t>(every.count()) * 48); }) {}

MarkerTalker::~MarkerTalker() {
    run_ = false;
    thread_.join();
}

std::vector<double> MarkerTalker::Emitted() const {
    std::lock_guard<std::mutex> l(lock_);
    return emitted_;
}

void MarkerTalker::Run(std::string pulse, std::string sink, size_t every) {
    qmnim::audio::RaiseThisThreadForAudio();
    pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), 480 * 2 * 2, static_cast<uint32_t>(-1), 240 * 2,
                        static_cast<uint32_t>(-1)};
    int error = 0;
    pa_simple* s = pa_simple_new(pulse.c_str(), "voice timing", PA_STREAM_PLAYBACK, sink.c_str(), "markers", &format,
                                 nullptr, &attr, &error);
    if (!s) return;
    std::vector<short> chunk(240);
    size_t n = 0;
    while (run_) {
        long markerAt = -1;
        for (size_t i = 0; i < chunk.size(); ++i, ++n) {
            size_t pos = n % every;
            double v = 0.03 * std::sin(2 * M_PI * kBedHz * double(n) / kRate);
            if (pos < kMarkerSamples) v += 0.4 * std::sin(2 * M_PI * kMarkerHz * double(n) / kRate);
            if (pos == 0) markerAt = static_cast<long>(i);
            chunk[i] = static_cast<short>(v * 32767);
        }
        if (pa_simple_write(s, chunk.data(), chunk.size() * 2, &error) < 0) break;
        if (markerAt >= 0) {
            // The last sample written now plays after the stream's latency.
            double latency = double(pa_simple_get_latency(s, &error)) / 1e6;
            double t = SteadySeconds() + latency - double(chunk.size() - static_cast<size_t>(markerAt)) / kRate;
            std::lock_guard<std::mutex> l(lock_);
            emitted_.push_back(t);
        }
    }
    pa_simple_free(s);
}

TimedEar::TimedEar(const std::string& pulse, const std::string& source)
    : thread_([this, pulse, source] { Run(pulse, source); }) {}

TimedEar::~TimedEar() {
    run_ = false;
    thread_.join();
}

std::vector<double> TimedEar::Markers() const {
    std::lock_guard<std::mutex> l(lock_);
    return markers_;
}

std::vector<TimedEar::Block> TimedEar::Blocks() const {
    std::lock_guard<std::mutex> l(lock_);
    return blocks_;
}

bool TimedEar::WaitMarkers(size_t count, double after, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> l(lock_);
    return changed_.wait_for(l, timeout, [&] {
        return static_cast<size_t>(std::count_if(markers_.begin(), markers_.end(), [&](double t) { return t > after; })) >=
               count;
    });
}

std::optional<double> TimedEar::FirstSoundAfter(double after, double within, double dbfs) const {
    std::unique_lock<std::mutex> l(lock_);
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>((after + within - SteadySeconds()) * 1000) + 5000);
    changed_.wait_until(l, deadline, [&] { return !blocks_.empty() && blocks_.back().at >= after + within; });
    for (const Block& b : blocks_)
        if (b.at > after && b.at <= after + within && b.dbfs > dbfs) return b.at;
    return std::nullopt;
}

void TimedEar::Run(std::string pulse, std::string source) {
    qmnim::audio::RaiseThisThreadForAudio();
    pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1), 120 * 2};
    int error = 0;
    pa_simple* s = pa_simple_new(pulse.c_str(), "voice timing", PA_STREAM_RECORD, source.c_str(), "ear", &format,
                                 nullptr, &attr, &error);
    if (!s) return;
    std::vector<short> piece(120), block;  // 2.5 ms pieces, 10 ms blocks
    bool inMarker = false;
    int quiet = 0;
    while (run_) {
        if (pa_simple_read(s, piece.data(), piece.size() * 2, &error) < 0) break;
        double latency = double(pa_simple_get_latency(s, &error)) / 1e6;
        double start = SteadySeconds() - latency - double(piece.size()) / kRate;  // when its first sample played
        bool loud = ToneEnergy(piece.data(), piece.size(), MarkerTalker::kMarkerHz) > 0.005;
        std::lock_guard<std::mutex> l(lock_);
        if (loud && !inMarker) {
            markers_.push_back(start);
            inMarker = true;
            quiet = 0;
        } else if (!loud && inMarker && ++quiet > 20) {
            inMarker = false;
        }
        block.insert(block.end(), piece.begin(), piece.end());
        if (block.size() >= 480) {
            blocks_.push_back({start - double(block.size() - piece.size()) / kRate, Dbfs(block.data(), block.size())});
            block.clear();
        }
        changed_.notify_all();
    }
    pa_simple_free(s);
}

std::vector<double> MarkerDelaysMs(const std::vector<double>& emitted, const std::vector<double>& heard, double from,
                                   double to, double match) {
    std::vector<double> out;
    for (double e : emitted) {
        if (e < from || e >= to) continue;
        for (double h : heard) {
            if (h > e && h - e < match) {
                out.push_back((h - e) * 1000);
                break;
            }
        }
    }
    return out;
}

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace qmtest
