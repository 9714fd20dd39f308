// A radix-2 complex FFT of one size, its tables made once: for the echo
// delay search, which runs on the sound server's thread and must not allocate.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace qmnim::audio {

class Fft {
public:
    // `size`: a power of two.
    explicit Fft(size_t size);
    size_t size() const { return size_; }
    // In place; `inverse` without the 1/size scale.
    void Transform(std::complex<float>* data, bool inverse) const;

private:
    size_t size_;
    std::vector<std::complex<float>> twiddles_;  // e^(-2 pi i k / size), k < size / 2
    std::vector<size_t> reversed_;                // bit-reversed index of each index
};

}  // namespace qmnim::audio
