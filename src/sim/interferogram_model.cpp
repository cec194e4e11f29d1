#include "sim/interferogram_model.h"

#include <complex>

#include "sim/fft.h"
#include "sim/model_spectrum.h"

namespace nadixq::sim {

const CInterferogramModel& CInterferogramModel::Instance() {
    // A function-local static: thread-safe construction, and no work at all in
    // a process that never opens the simulated board.
    static const CInterferogramModel model;
    return model;
}

CInterferogramModel::CInterferogramModel() : _values(kPeriod) {
    // The spectrum on bins 0 .. kPeriod/2 spans 0 to the folding wavenumber.
    // An interferogram is the cosine transform of its spectrum; as a complex
    // transform, that is the inverse FFT of the spectrum mirrored about the
    // folding bin, whose result is real.
    constexpr int kBins = kPeriod / 2 + 1;
    std::vector<double> spectrum(kBins);
    BuildModelSpectrum(spectrum.data(), kBins);

    std::vector<std::complex<double>> work(kPeriod);
    for (int k = 0; k < kBins; ++k) work[k] = spectrum[k];
    for (int k = 1; k < kBins - 1; ++k) work[kPeriod - k] = spectrum[k];
    Fft(work.data(), kPeriod, /*inverse=*/true);

    // Every spectral value is positive, so all cosines agree at the zero path
    // difference and sample 0 is the interferogram's maximum.
    const double peak = work[0].real();
    for (int n = 0; n < kPeriod; ++n) _values[n] = work[n].real() / peak;
}

}  // namespace nadixq::sim
