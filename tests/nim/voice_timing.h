// Sound with a clock, for voice tests and benchmarks that ask "when": a
// talker that plays short markers over a quiet bed tone into a sink of a
// PulseAudio server and notes when each marker played, and an ear that
// records a source and notes when each 10 ms block played, its level and
// whether a marker started in it. Times are seconds of the steady clock,
// corrected by each stream's own latency. Both run on threads of their own
// at audio priority, so that a busy machine does not skew the instrument.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qmtest {

// Now, in the clock the talker and the ear use.
double SteadySeconds();

class MarkerTalker {
public:
    static constexpr double kMarkerHz = 1000, kBedHz = 200;

    // Starts playing into `sink` of the server at `pulse`: a marker (30 ms
    // of kMarkerHz) every `every` over a bed tone that keeps a talker talking.
    MarkerTalker(const std::string& pulse, const std::string& sink, std::chrono::milliseconds every = std::chrono::milliseconds(500));
    ~MarkerTalker();
    MarkerTalker(const MarkerTalker&) = delete;
    MarkerTalker& operator=(const MarkerTalker&) = delete;

    // When each marker played so far.
    std::vector<double> Emitted() const;

private:
    void Run(std::string pulse, std::string sink, size_t every);
    mutable std::mutex lock_;
    std::vector<double> emitted_;
    std::atomic<bool> run_{true};
    std::thread thread_;
};

class TimedEar {
public:
    struct Block {
        double at;      // when its first sample played
        double dbfs;    // its level
    };

    TimedEar(const std::string& pulse, const std::string& source);
    ~TimedEar();
    TimedEar(const TimedEar&) = delete;
    TimedEar& operator=(const TimedEar&) = delete;

    // When each marker heard so far started.
    std::vector<double> Markers() const;
    std::vector<Block> Blocks() const;
    // Waits until `count` markers started after `after`; false at `timeout`.
    bool WaitMarkers(size_t count, double after, std::chrono::milliseconds timeout) const;
    // The first block after `after` louder than `dbfs`, once blocks up to
    // `after` + `within` have been recorded (nullopt: none by then).
    std::optional<double> FirstSoundAfter(double after, double within, double dbfs = -50) const;

private:
    void Run(std::string pulse, std::string source);
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<double> markers_;
    std::vector<Block> blocks_;
    std::atomic<bool> run_{true};
    std::thread thread_;
};

// Each emitted marker within [from, to) matched to the first marker heard
// after it within `match`: the delays in milliseconds.
std::vector<double> MarkerDelaysMs(const std::vector<double>& emitted, const std::vector<double>& heard, double from,
                                   double to, double match = 0.4);
double Median(std::vector<double> values);

}  // namespace qmtest
