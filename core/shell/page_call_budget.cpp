#include "core/shell/page_call_budget.h"

#include <algorithm>

#include "common/log_record.h"
#include "common/log_text.h"

constexpr double PageCallBudget::kBurst;
constexpr double PageCallBudget::kPerSecond;
constexpr std::chrono::seconds PageCallBudget::kReportEvery;

PageCallBudget::PageCallBudget(double burst, double perSecond)
    : burst_(burst), perSecond_(perSecond), tokens_(burst) {}

PageCallBudget PageCallBudget::ForRate(double perSecond) {
    return PageCallBudget(std::max(kBurst, 2 * perSecond), perSecond);
}

bool PageCallBudget::Take(const std::string& name, Clock::time_point now) {
    size_t report = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (started_ && now > last_) {
            double seconds = std::chrono::duration<double>(now - last_).count();
            tokens_ = std::min(burst_, tokens_ + seconds * perSecond_);
        }
        if (!started_ || now > last_) last_ = now;
        started_ = true;
        if (tokens_ >= 1) {
            tokens_ -= 1;
            return true;
        }
        ++dropped_;
        ++droppedSinceReport_;
        if (reported_ && now - lastReport_ < kReportEvery) return false;
        reported_ = true;
        lastReport_ = now;
        report = droppedSinceReport_;
        droppedSinceReport_ = 0;
    }
    QM_LOG("CQNWebWnd") << "<qm> the page sends commands faster than " << perSecond_ << " a second: " << report
                        << " refused (answered \"busy\"), the last \"" << PageTextForLog(name, 64) << "\"";
    return false;
}

size_t PageCallBudget::Dropped() const {
    std::lock_guard<std::mutex> lock(lock_);
    return dropped_;
}
