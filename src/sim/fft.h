// A plain iterative radix-2 complex FFT. The simulated instrument uses it once
// per process to turn its model spectrum into an interferogram; nothing on the
// scan path calls it.
#pragma once

#include <complex>

namespace nadixq::sim {

// Transforms `data` (n values, n a power of two) in place:
//   X[k] = sum_j x[j] * exp(sign * 2 pi i j k / n),  sign = -1 forward, +1 inverse.
// No scaling in either direction. Returns false (and leaves data as it was)
// when n is not a power of two of at least 1.
bool Fft(std::complex<double>* data, int n, bool inverse);

}  // namespace nadixq::sim
