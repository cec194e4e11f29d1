// The single-beam spectrum that the simulated instrument "measures": a hot
// source seen through the detector and beamsplitter response, the laboratory
// air (carbon dioxide and water vapour) and a polystyrene reference film.
#pragma once

namespace nadixq::sim {

// The folding wavenumber of an interferogram sampled once per fringe of the
// helium-neon reference laser (632.8 nm): the highest wavenumber the samples
// can represent, in cm^-1.
constexpr double kFoldingWavenumber = 7899.0189;

// Fills `spectrum[k]` for k = 0 .. bins-1 with the model's relative spectral
// power at k * kFoldingWavenumber / (bins - 1) cm^-1; zero outside the band
// the optics pass (roughly 400 to 7800 cm^-1). Unscaled: only the shape counts.
// The film is in the beam.
void BuildModelSpectrum(double* spectrum, int bins);

// The same with the film out of the beam: the source seen through the optics
// and the air alone, on the same scale as BuildModelSpectrum.
void BuildBackgroundSpectrum(double* spectrum, int bins);

// The parts of the model, each on the same grid, for tests and for anyone who
// wants to look at them separately. Transmittances are 0..1.
void BuildInstrumentResponse(double* response, int bins);  // source x optics
void BuildAtmosphereTransmittance(double* transmittance, int bins);
void BuildFilmTransmittance(double* transmittance, int bins);

}  // namespace nadixq::sim
