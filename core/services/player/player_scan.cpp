#include "core/services/player/player_scan.h"

#include <algorithm>

#include "common/log_record.h"
#include "core/services/player/media_players.h"
#include "core/services/pool/thread_pool.h"
#include "platform/process.h"
#include "platform/text.h"

constexpr std::chrono::milliseconds PlayerScan::kScanSpacing;
constexpr size_t PlayerScan::kMaxWaiting;

PlayerScan* PlayerScan::Get() {
    static PlayerScan* instance = new PlayerScan();  // lives until the process ends
    return instance;
}

Json::Value PlayerScan::ScanNow() {
    Json::Value data;  // stays null when no player runs
    const std::vector<platform::ProcessEntry> processes = platform::SnapshotProcesses();
    for (const MediaPlayerRow& row : MediaPlayerTable()) {
        // Paths go into the reply as UTF-8, which the JSON writer expects; the
        // reply text is then plain ASCII and needs no further conversion.
        std::wstring path = FindProcessImagePathIn(processes, row.exeName);
        if (!path.empty()) data[row.replyKey] = platform::WideToUtf8(path);
    }
    return data;
}

PlayerScan::~PlayerScan() { Stop(); }

bool PlayerScan::Request(Done done) {
    std::lock_guard<std::mutex> lock(lock_);
    if (stopping_) return false;
    if (waiting_.size() >= kMaxWaiting) {
        if (!droppedReported_) {
            droppedReported_ = true;
            QM_LOG("Logic\\Business\\NimBusiness\\NimBusiness")
                << "NimBusiness Enum Player: " << kMaxWaiting << " requests wait already; further ones are dropped";
        }
        return false;
    }
    waiting_.push_back(std::move(done));
    if (!busy_) ScheduleLocked(std::max(Clock::now(), lastEnd_ + kScanSpacing));
    return true;
}

void PlayerScan::ScheduleLocked(Clock::time_point start) {
    busy_ = true;
    CommonFunc::ThreadPool::Get()->GetPool().schedule([this, start] { Run(start); });
}

void PlayerScan::Stop() {
    std::unique_lock<std::mutex> lock(lock_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !busy_; });
    // Destroyed here, not on the pool: what they hold may need this thread.
    std::vector<Done> dropped;
    dropped.swap(waiting_);
    lock.unlock();
}

void PlayerScan::Run(Clock::time_point start) {
    std::vector<Done> batch;
    {
        std::unique_lock<std::mutex> lock(lock_);
        // The spacing between scans; a stop ends the wait.
        changed_.wait_until(lock, start, [this] { return stopping_; });
        if (stopping_) {
            busy_ = false;
            changed_.notify_all();
            return;
        }
        batch.swap(waiting_);
        droppedReported_ = false;
    }
    Json::Value data = ScanNow();
    for (Done& done : batch) done(data);
    batch.clear();
    std::lock_guard<std::mutex> lock(lock_);
    lastEnd_ = Clock::now();
    if (waiting_.empty() || stopping_) {
        busy_ = false;
        changed_.notify_all();
    } else {
        ScheduleLocked(lastEnd_ + kScanSpacing);
    }
}
