#include "sim/fft.h"

#include <cmath>
#include <utility>

namespace nadixq::sim {

bool Fft(std::complex<double>* data, int n, bool inverse) {
    if (n < 1 || (n & (n - 1)) != 0) return false;

    // Bit-reversal permutation, so that the butterflies below work in place.
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }

    const double sign = inverse ? 1.0 : -1.0;
    const double pi = 3.14159265358979323846;
    for (int length = 2; length <= n; length <<= 1) {
        const int half = length / 2;
        // Twiddles from cos/sin of the exact angle for each k rather than by
        // repeated multiplication: the interferogram's far wings carry small
        // values, and accumulated rotation error would show up there first.
        for (int k = 0; k < half; ++k) {
            const double angle = sign * 2.0 * pi * k / length;
            const std::complex<double> w(std::cos(angle), std::sin(angle));
            for (int start = 0; start < n; start += length) {
                const std::complex<double> even = data[start + k];
                const std::complex<double> odd = data[start + k + half] * w;
                data[start + k] = even + odd;
                data[start + k + half] = even - odd;
            }
        }
    }
    return true;
}

}  // namespace nadixq::sim
