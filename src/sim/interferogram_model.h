// The noiseless interferogram of the model spectrum, sampled once per
// reference-laser fringe around the zero path difference. Computed once per
// process, on first use; every scan of every configuration is cut from it.
#pragma once

#include <vector>

namespace nadixq::sim {

class CInterferogramModel {
  public:
    // Samples per period of the transform: the interferogram repeats after
    // this many samples, twice the 32768 a transfer can hold, so no sample a
    // board can see meets the repetition of the burst.
    static constexpr int kPeriod = 65536;

    // The detector and its amplifier lag the signal by this phase (radians).
    // It makes the centre burst a little asymmetric, as on a real instrument:
    // one side lobe is clearly the deepest, so the zero crossing between the
    // burst's extremes lies on a definite side, one sample after the maximum.
    static constexpr double kPhaseLag = 0.35;

    // The one model with the film in the beam, built on first use (a few
    // tens of milliseconds).
    static const CInterferogramModel& Instance();
    // The one model with the film out of the beam (a background), built on
    // first use. It is on the scale of Instance(): without the film's
    // absorption more light reaches the detector, so its maximum lies above 1.0.
    static const CInterferogramModel& Background();

    // The interferogram `offset` samples from the zero path difference,
    // normalised to 1.0 at offset 0, the maximum of Instance(). Any offset; it
    // wraps at kPeriod.
    double At(int offset) const {
        return _values[static_cast<unsigned>(offset) & static_cast<unsigned>(kPeriod - 1)];
    }

  private:
    explicit CInterferogramModel(bool filmInBeam);
    std::vector<double> _values;
    double _peak = 1.0;  // the transform's value at offset 0, before normalising
};

}  // namespace nadixq::sim
