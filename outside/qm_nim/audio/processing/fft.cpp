#include "outside/qm_nim/audio/processing/fft.h"

#include <cmath>
#include <utility>

namespace qmnim::audio {

Fft::Fft(size_t size) : size_(size), twiddles_(size / 2), reversed_(size) {
    for (size_t k = 0; k < size / 2; ++k)
        twiddles_[k] = std::polar(1.0f, static_cast<float>(-2.0 * M_PI * double(k) / double(size)));
    size_t bits = 0;
    while ((size_t{1} << bits) < size) ++bits;
    for (size_t i = 0; i < size; ++i) {
        size_t r = 0;
        for (size_t b = 0; b < bits; ++b)
            if (i & (size_t{1} << b)) r |= size_t{1} << (bits - 1 - b);
        reversed_[i] = r;
    }
}

void Fft::Transform(std::complex<float>* data, bool inverse) const {
    for (size_t i = 0; i < size_; ++i)
        if (i < reversed_[i]) std::swap(data[i], data[reversed_[i]]);
    for (size_t half = 1; half < size_; half *= 2) {
        size_t step = size_ / (2 * half);
        for (size_t start = 0; start < size_; start += 2 * half) {
            for (size_t k = 0; k < half; ++k) {
                const std::complex<float> w = twiddles_[k * step];
                const float wi = inverse ? -w.imag() : w.imag();
                const std::complex<float> a = data[start + k + half];
                // Written out: the library's complex product checks for infinities on every call.
                const std::complex<float> v(a.real() * w.real() - a.imag() * wi, a.real() * wi + a.imag() * w.real());
                data[start + k + half] = data[start + k] - v;
                data[start + k] += v;
            }
        }
    }
}

}  // namespace qmnim::audio
