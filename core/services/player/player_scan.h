// Which known music players run, looked up on the worker pool: reading /proc
// for every process is too slow for the UI thread, and a page that asks in a
// loop must not turn into a loop of scans. Requests that arrive while a scan
// waits share it; scans start at most every kScanSpacing. Every answer comes
// from a scan that started after the request arrived.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include <json/value.h>

class PlayerScan {
public:
    using Done = std::function<void(const Json::Value& data)>;
    static constexpr std::chrono::milliseconds kScanSpacing{250};
    // Requests beyond this many waiting ones get no answer (a page calling in a loop).
    static constexpr size_t kMaxWaiting = 256;

    // The process-wide scanner, created on first use and never destroyed.
    static PlayerScan* Get();

    PlayerScan() = default;
    // Stops it (a scanner of the worker pool's tasks must outlive them).
    ~PlayerScan();
    PlayerScan(const PlayerScan&) = delete;
    PlayerScan& operator=(const PlayerScan&) = delete;

    // `done` runs on a pool thread with the reply data: an object of the
    // players found (reply key → UTF-8 image path), null when none runs.
    // False when the request was dropped.
    bool Request(Done done);

    // Ends the scanning for good: requests still waiting for a scan that has
    // not started are dropped unanswered, later ones are refused, and a scan
    // under way answers its requests before this returns. Afterwards no task
    // of this scanner runs on the pool, so that what the answers go through
    // (the browser host, at the client's exit) may go.
    void Stop();

    // The data of one scan, on the calling thread.
    static Json::Value ScanNow();

private:
    using Clock = std::chrono::steady_clock;
    void ScheduleLocked(Clock::time_point start);
    void Run(Clock::time_point start);

    std::mutex lock_;
    std::condition_variable changed_;  // stopping_ set, or busy_ cleared
    std::vector<Done> waiting_;
    bool busy_ = false;  // a scan is scheduled or running
    bool stopping_ = false;
    bool droppedReported_ = false;
    Clock::time_point lastEnd_{};
};
