// How many page commands one window's page may send: a burst, then a steady
// rate. A page that calls in a loop gets the rest refused (its window answers
// them as refused), with a log line now and then instead of a line per call.
// Safe to use from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

class PageCallBudget {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kBurst = 200;
    static constexpr double kPerSecond = 100;  // DeployConfig's default
    static constexpr std::chrono::seconds kReportEvery{10};

    explicit PageCallBudget(double burst = kBurst, double perSecond = kPerSecond);
    // `perSecond` with a burst of two seconds' worth (never less than kBurst).
    static PageCallBudget ForRate(double perSecond);

    // True when the call `name` may run now; otherwise it is counted (and logged
    // at most once per kReportEvery).
    bool Take(const std::string& name, Clock::time_point now = Clock::now());
    size_t Dropped() const;

private:
    mutable std::mutex lock_;
    const double burst_;
    const double perSecond_;
    double tokens_;
    Clock::time_point last_{};
    bool started_ = false;
    size_t dropped_ = 0;
    size_t droppedSinceReport_ = 0;
    Clock::time_point lastReport_{};
    bool reported_ = false;
};
