#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace acquire {
namespace {

bool ParseInt(const char* text, long low, long high, int* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 0);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseDouble(const char* text, double* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

bool ParseU64(const char* text, uint64_t* value) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *value = parsed;
    return true;
}

}  // namespace

const char* UsageText() {
    return "usage: nadixq-acquire [options]\n"
           "Runs one acquisition on the instrument and reports every file.\n"
           "\n"
           "  --model N          board model, 1 to 5 (default 1)\n"
           "  --resolution R     spectral resolution in cm^-1 (sets the points)\n"
           "  --points N         points per interferogram, 1 to 32768 (32768 names the\n"
           "                     finest setting, files of 30000 points)\n"
           "  --scans N          scans co-added per file (default 16)\n"
           "  --files N          files in the run; 0 runs until Ctrl-C (default 1)\n"
           "  --gain G           gain multiple: 1, 2 or 4 (default 1)\n"
           "  --out FILE.spc     stream every file of the run to an SPC file\n"
           "  --csv FILE         write the last file's interferogram as CSV\n"
           "  --quiet            print nothing but errors\n"
           "  --help             show this text\n"
           "\n"
           "Simulated instrument (builds without a board driver):\n"
           "  --sim-noise SIGMA       noise per sample, in counts\n"
           "  --sim-seed N            noise seed\n"
           "  --sim-rate HZ           sample rate of the sweep (default 100000)\n"
           "  --sim-board-type T      report board type T instead of adapting\n"
           "  --sim-cal-error E       calibrations report error value E\n"
           "  --sim-error-at-scan N   the N-th scan reports an acquisition error\n"
           "  --sim-unplug            unplug the board before opening it\n"
           "  --sim-no-sample         take the sample out of the beam (a background run)\n";
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        // Options with a value take the next argument, or the text after '='.
        std::string key = name;
        const char* value = nullptr;
        const size_t equals = key.find('=');
        if (key.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name + equals + 1;
            key.resize(equals);
        }
        auto needValue = [&]() -> const char* {
            if (value != nullptr) return value;
            if (i + 1 < argc) return argv[++i];
            *error = "option " + key + " needs a value";
            return nullptr;
        };
        auto bad = [&](const char* what) {
            *error = "bad value for " + key + ": " + what;
            return false;
        };
        const char* v = nullptr;

        if (key == "--help" || key == "-h") {
            options->help = true;
        } else if (key == "--quiet" || key == "-q") {
            options->quiet = true;
        } else if (key == "--sim-unplug") {
            options->simUnplug = true;
        } else if (key == "--sim-no-sample") {
            options->simNoSample = true;
        } else if (key == "--model") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, -2147483647L - 1, 2147483647L, &options->model)) return bad(v);
        } else if (key == "--resolution") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseDouble(v, &options->resolution) || options->resolution <= 0.0) return bad(v);
        } else if (key == "--points") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, 1, 32768, &options->points)) return bad(v);
        } else if (key == "--scans") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, 1, 1000000, &options->scans)) return bad(v);
        } else if (key == "--files") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, 0, 1000000, &options->files)) return bad(v);
        } else if (key == "--gain") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseDouble(v, &options->gain) ||
                (options->gain != 1.0 && options->gain != 2.0 && options->gain != 4.0)) {
                return bad(v);
            }
        } else if (key == "--out") {
            if ((v = needValue()) == nullptr) return false;
            options->out = v;
        } else if (key == "--csv") {
            if ((v = needValue()) == nullptr) return false;
            options->csv = v;
        } else if (key == "--sim-noise") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseDouble(v, &options->simNoise) || options->simNoise < 0.0) return bad(v);
            options->simNoiseSet = true;
        } else if (key == "--sim-seed") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseU64(v, &options->simSeed)) return bad(v);
            options->simSeedSet = true;
        } else if (key == "--sim-rate") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseDouble(v, &options->simRate) || options->simRate <= 0.0) return bad(v);
            options->simRateSet = true;
        } else if (key == "--sim-board-type") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, -32768, 32767, &options->simBoardType)) return bad(v);
            options->simBoardTypeSet = true;
        } else if (key == "--sim-cal-error") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, -2147483647L - 1, 2147483647L, &options->simCalError)) return bad(v);
            options->simCalErrorSet = true;
        } else if (key == "--sim-error-at-scan") {
            if ((v = needValue()) == nullptr) return false;
            if (!ParseInt(v, 1, 2147483647L, &options->simErrorAtScan)) return bad(v);
        } else {
            *error = "unknown option " + std::string(name);
            return false;
        }
        if (value != nullptr && v == nullptr) {
            *error = "option " + key + " takes no value";
            return false;
        }
    }
    if (options->resolution > 0.0 && options->points > 0) {
        *error = "give either --resolution or --points, not both";
        return false;
    }
    return true;
}

}  // namespace acquire
