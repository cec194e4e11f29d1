#include "sim/interferogram_model.h"

#include <complex>

#include "sim/fft.h"
#include "sim/model_spectrum.h"

namespace nadixq::sim {

const CInterferogramModel& CInterferogramModel::Instance() {
    // A function-local static: thread-safe construction, and no work at all in
    // a process that never opens the simulated board.
    static const CInterferogramModel model(/*filmInBeam=*/true);
    return model;
}

const CInterferogramModel& CInterferogramModel::Background() {
    static const CInterferogramModel model(/*filmInBeam=*/false);
    return model;
}

CInterferogramModel::CInterferogramModel(bool filmInBeam) : _values(kPeriod) {
    // The spectrum on bins 0 .. kPeriod/2 spans 0 to the folding wavenumber.
    // An interferogram is the cosine transform of its spectrum; as a complex
    // transform, that is the inverse FFT of the spectrum given Hermitian
    // symmetry about the folding bin, whose result is real.
    constexpr int kBins = kPeriod / 2 + 1;
    std::vector<double> spectrum(kBins);
    if (filmInBeam) {
        BuildModelSpectrum(spectrum.data(), kBins);
    } else {
        BuildBackgroundSpectrum(spectrum.data(), kBins);
    }

    std::vector<std::complex<double>> work(kPeriod);
    const std::complex<double> lag = std::polar(1.0, kPhaseLag);
    for (int k = 1; k < kBins - 1; ++k) {
        work[k] = spectrum[k] * lag;
        work[kPeriod - k] = std::conj(work[k]);
    }
    work[0] = spectrum[0];
    work[kBins - 1] = spectrum[kBins - 1];
    Fft(work.data(), kPeriod, /*inverse=*/true);

    // With every spectral value positive and a small phase lag, the cosines
    // still agree best at the zero path difference: sample 0 is the maximum.
    // Both models share the scale of the one with the film in the beam.
    _peak = work[0].real();
    const double scale = filmInBeam ? _peak : Instance()._peak;
    for (int n = 0; n < kPeriod; ++n) _values[n] = work[n].real() / scale;
}

}  // namespace nadixq::sim
