// The command line of nadixq-acquire.
#pragma once

#include <cstdint>
#include <string>

namespace acquire {

struct Options {
    int model = 1;
    double resolution = 0.0;  // > 0: set the resolution (and so the points)
    int points = 0;           // > 0: set the points directly
    int scans = 16;
    int files = 1;  // 0: until Ctrl-C
    double gain = 1.0;
    std::string out;  // SPC stream file, empty: none
    std::string csv;  // last file as CSV, empty: none
    bool quiet = false;
    bool help = false;

    // The simulated instrument's controls; each applies only when given.
    bool simNoiseSet = false;
    double simNoise = 0.0;
    bool simSeedSet = false;
    uint64_t simSeed = 0;
    bool simRateSet = false;
    double simRate = 0.0;
    bool simBoardTypeSet = false;
    int simBoardType = 0;
    bool simCalErrorSet = false;
    int simCalError = 0;
    int simErrorAtScan = 0;
    bool simUnplug = false;
    bool simNoSample = false;  // the film out of the beam: a background run

    bool UsesSimulator() const {
        return simNoiseSet || simSeedSet || simRateSet || simBoardTypeSet || simCalErrorSet ||
               simErrorAtScan > 0 || simUnplug || simNoSample;
    }
};

// Parses argv. False with a one-line `error` on a bad command line.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The usage text, ending in a newline.
const char* UsageText();

}  // namespace acquire
