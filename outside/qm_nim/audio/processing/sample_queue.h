// A queue of samples with a fixed capacity, allocated once: the sound
// server's thread pushes and takes without ever allocating. When it is full,
// the oldest samples make room (a bounded backlog, not an unbounded delay).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qmnim::audio {

class SampleQueue {
public:
    explicit SampleQueue(size_t capacity) : ring_(capacity) {}

    size_t size() const { return size_; }
    size_t capacity() const { return ring_.size(); }
    bool empty() const { return size_ == 0; }

    // Appends `count` samples; returns how many old ones were dropped to make room.
    size_t Push(const std::int16_t* samples, size_t count) {
        size_t dropped = 0;
        if (count > ring_.size()) {  // only the newest fit
            dropped = size_ + count - ring_.size();
            samples += count - ring_.size();
            count = ring_.size();
            Clear();
        } else if (size_ + count > ring_.size()) {
            dropped = size_ + count - ring_.size();
            Drop(dropped);
        }
        size_t tail = (head_ + size_) % ring_.size();
        size_t first = std::min(count, ring_.size() - tail);
        std::copy(samples, samples + first, ring_.begin() + static_cast<std::ptrdiff_t>(tail));
        std::copy(samples + first, samples + count, ring_.begin());
        size_ += count;
        return dropped;
    }

    // Copies the oldest min(count, size()) samples to `out` without removing them; returns how many.
    size_t Peek(std::int16_t* out, size_t count) const {
        count = std::min(count, size_);
        size_t first = std::min(count, ring_.size() - head_);
        std::copy(ring_.begin() + static_cast<std::ptrdiff_t>(head_),
                  ring_.begin() + static_cast<std::ptrdiff_t>(head_ + first), out);
        std::copy(ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(count - first), out + first);
        return count;
    }

    // Removes the oldest min(count, size()) samples.
    void Drop(size_t count) {
        count = std::min(count, size_);
        head_ = (head_ + count) % ring_.size();
        size_ -= count;
        if (size_ == 0) head_ = 0;
    }

    // Takes the oldest min(count, size()) samples; returns how many.
    size_t Pop(std::int16_t* out, size_t count) {
        count = Peek(out, count);
        Drop(count);
        return count;
    }

    void Clear() {
        head_ = 0;
        size_ = 0;
    }

private:
    std::vector<std::int16_t> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
};

}  // namespace qmnim::audio
