// The soak: continuous acquisitions through the exports on a fast simulated
// board (a scan at every 5 ms poll), for as long as asked, in cycles of open,
// initialize, calibrate, run, stop and close that go through every model,
// every other run streamed to disk. It checks that
//  - every file the host fetches is the mean of the scans the board delivered
//    for it (on a dual board: the low-gain mean, exactly where the high-gain
//    channel clipped, and close to it elsewhere);
//  - every streamed subfile holds what the host fetched of that file;
//  - between cycles, with nothing open, the open descriptors stay the same
//    and the heap in use and the resident memory stay flat.
//
//   nadixq_soak [--seconds N]     (default 600; make soak, make check: 60)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interface/nadixq.h"
#include "process_usage.h"
#include "sim/nadixq_sim.h"
#include "support/delivered_scans.h"
#include "support/host_event.h"
#include "support/spc_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
using nadixq::test::DeliveredScans;
using nadixq::test::HostEvent;

constexpr int kPoints = 2048;
constexpr int kScans = 4;
constexpr const char* kStreamPath = "soak.spc";
// Cycles before the usage is taken as the baseline: every model once, with
// and without a stream.
constexpr int kWarmUpCycles = 5;
// What the harness's own allocations may move the heap and the resident set
// by, between two cycle boundaries; a leak of the library's per-run objects
// (a scan thread, its events, a stream buffer) grows far beyond over hours.
constexpr size_t kHeapSlack = 16 * 1024;
constexpr size_t kResidentSlack = 8 * 1024 * 1024;
// A high-gain mean beyond this is clipped in every file of a run, whatever the
// noise, so the merge takes the low-gain mean there exactly.
constexpr double kSurelyClipped = 1.05 * 20000.0;
constexpr int kNoFile = -1;
constexpr int kAmbiguous = -2;

bool IsDual(int model) {
    return model == 3 || model == 4;
}

class Soak {
  public:
    bool Run(double seconds);

  private:
    bool RunCycle(int model, bool stream, double seconds);
    // Which file of the run `data` is, with `progress` files counted before
    // and after it was fetched: kNoFile when it is none the board delivered,
    // kAmbiguous when a dual board's file cannot be told from its neighbour.
    int Identify(int model, int progress, const std::vector<double>& data);
    bool Matches(int model, int file, const std::vector<double>& data);
    bool CheckStream(const std::map<int, std::vector<float>>& fetched, int files);
    bool Fail(const char* format, ...);

    HostEvent _coadd;
    std::unique_ptr<DeliveredScans> _delivered;
    int _firstScan = 1;
    int _windowStart = 0;
    long _filesChecked = 0;
    long _filesMissed = 0;
    long _filesAmbiguous = 0;
    long _subfilesChecked = 0;
};

bool Soak::Fail(const char* format, ...) {
    std::fprintf(stderr, "soak: FAILED: ");
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "\n");
    return false;
}

bool Soak::Matches(int model, int file, const std::vector<double>& data) {
    const int first = _firstScan + file * kScans;
    const std::vector<double> low =
        _delivered->WindowMean(first, first + kScans - 1, _windowStart, kPoints, false);
    if (low.empty()) return false;
    if (!IsDual(model)) return data == low;
    const std::vector<double> high =
        _delivered->WindowMean(first, first + kScans - 1, _windowStart, kPoints, true);
    int exact = 0;
    for (int i = 0; i < kPoints; ++i) {
        if (std::fabs(high[i]) > kSurelyClipped) {
            if (data[i] != low[i]) return false;
            ++exact;
        } else if (!(std::fabs(data[i] - low[i]) < 8.0)) {
            return false;
        }
    }
    return exact > 0;
}

int Soak::Identify(int model, int progress, const std::vector<double>& data) {
    // The thread stores a file before it counts it: the data is the last
    // counted file or the one after it.
    const bool counted = progress > 0 && Matches(model, progress - 1, data);
    const bool next = Matches(model, progress, data);
    if (counted && next) return kAmbiguous;
    if (counted) return progress - 1;
    return next ? progress : kNoFile;
}

bool Soak::CheckStream(const std::map<int, std::vector<float>>& fetched, int files) {
    nadixq::test::SpcFile spc;
    std::string error;
    if (!nadixq::test::ReadSpcFile(kStreamPath, &spc, &error)) {
        return Fail("stream file unreadable: %s", error.c_str());
    }
    // The last file of a stopped run is stored only when it got a scan.
    if (spc.fnsub + 1 < static_cast<uint32_t>(files) || spc.fnsub > static_cast<uint32_t>(files)) {
        return Fail("stream holds %u subfiles of a run of %d files", spc.fnsub, files);
    }
    for (size_t i = 0; i < spc.subfiles.size(); ++i) {
        const nadixq::test::SpcSubfile& subfile = spc.subfiles[i];
        if (subfile.subindx != static_cast<uint16_t>(i)) {
            return Fail("subfile %zu has the index %u", i, subfile.subindx);
        }
        auto found = fetched.find(static_cast<int>(i));
        if (found == fetched.end()) continue;
        if (subfile.values != found->second) return Fail("subfile %zu differs from its file", i);
        ++_subfilesChecked;
    }
    return true;
}

bool Soak::RunCycle(int model, bool stream, double seconds) {
    _delivered.reset();  // its hook goes before the board is reset
    nadixq_sim_reset();
    nadixq_sim_set_scan_rate(1e9, 0.001);
    nadixq_sim_set_seed(static_cast<uint64_t>(_filesChecked) + 1);
    _delivered = std::make_unique<DeliveredScans>();
    if (spectrometer_open(model) != 0) return Fail("model %d did not open", model);
    if (spectrometer_initialize() != 0 || spectrometer_calibrationScan() != 0) {
        return Fail("model %d did not initialize and calibrate", model);
    }
    _firstScan = nadixq_sim_scan_count() + 1;
    _windowStart = nadixq_sim_imax_pos() - 256;
    _coadd.Take();
    const int started = stream ? spectrometer_streamToDisk(kStreamPath) : spectrometer_startCoadd();
    if (started != 0) return Fail("model %d: the run did not start (%d)", model, started);

    std::map<int, std::vector<float>> fetched;
    std::vector<double> data(kPoints);
    int lastChecked = -1;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (_coadd.Wait(2000) == 0) return Fail("model %d: no file for 2 s", model);
        double stamp = 0.0;
        const int progress = spectrometer_getFileProgress();
        if (spectrometer_getData(data.data(), kPoints, &stamp) != 0) {
            return Fail("model %d: getData refused", model);
        }
        // Files stored meanwhile: which one was read is not known.
        if (spectrometer_getFileProgress() != progress) continue;
        const int file = Identify(model, progress, data);
        if (file == kNoFile) {
            return Fail("model %d: the file read after %d files is none the board delivered", model,
                        progress);
        }
        if (file == kAmbiguous) {
            ++_filesAmbiguous;
            continue;
        }
        if (file <= lastChecked) continue;
        _filesMissed += file - lastChecked - 1;
        ++_filesChecked;
        lastChecked = file;
        if (stream) fetched[file].assign(data.begin(), data.end());
        _delivered->ForgetBefore(_firstScan + file * kScans);
    }
    if (spectrometer_stop() != 0) return Fail("model %d: stop refused", model);
    if (spectrometer_getStatus() != NADIXQ_STATUS_READY) return Fail("status after stop");
    const int files = spectrometer_getFileProgress();
    if (files <= lastChecked)
        return Fail("model %d: %d files, %d fetched", model, files, lastChecked);
    if (stream && !CheckStream(fetched, files)) return false;
    spectrometer_close();
    _delivered->ForgetBefore(1 << 30);
    return true;
}

bool Soak::Run(double seconds) {
    if (!_coadd.Valid()) return Fail("no host event");
    spectrometer_setCoaddCompleteEventHandle(_coadd.Handle());
    spectrometer_setPoints(kPoints);
    spectrometer_setScans(kScans);
    spectrometer_setFiles(0);
    // Ten-second cycles, or shorter ones so that a short soak still has as
    // many cycles after the warm-up as within it.
    const double cycleSeconds = std::min(10.0, seconds / (2 * kWarmUpCycles));
    const int cycles = std::max(2 * kWarmUpCycles, static_cast<int>(seconds / cycleSeconds));

    size_t baseFds = 0, baseHeap = 0, baseResident = 0, maxResident = 0, maxHeap = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const int model = 1 + cycle % 5;
        if (!RunCycle(model, cycle % 2 == 1, cycleSeconds)) {
            spectrometer_close();
            return false;
        }
        const size_t fds = nadixq::soak::OpenDescriptors();
        const size_t heap = nadixq::soak::HeapInUse();
        const size_t resident = nadixq::soak::ResidentBytes();
        if (cycle + 1 == kWarmUpCycles) {
            baseFds = fds;
            baseHeap = heap;
            baseResident = resident;
        } else if (cycle + 1 > kWarmUpCycles) {
            maxHeap = std::max(maxHeap, heap);
            maxResident = std::max(maxResident, resident);
            if (fds != baseFds)
                return Fail("cycle %d: %zu descriptors open, %zu after warm-up", cycle, fds,
                            baseFds);
            if (heap > baseHeap + kHeapSlack) {
                return Fail("cycle %d: heap in use %zu, %zu after warm-up", cycle, heap, baseHeap);
            }
            if (resident > baseResident + kResidentSlack) {
                return Fail("cycle %d: resident %zu, %zu after warm-up", cycle, resident,
                            baseResident);
            }
        }
    }
    spectrometer_setCoaddCompleteEventHandle(nullptr);
    std::printf(
        "soak: %d cycles, %ld files checked against the board (%ld passed by the host, %ld "
        "dual-board files like their neighbour), %ld streamed subfiles checked\n"
        "soak: descriptors %zu throughout; heap in use %zu -> at most %zu bytes; resident %zu -> "
        "at most %zu bytes\n",
        cycles, _filesChecked, _filesMissed, _filesAmbiguous, _subfilesChecked, baseFds, baseHeap,
        maxHeap, baseResident, maxResident);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 600.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N]\n", argv[0]);
            return 2;
        }
    }
    if (!(seconds > 0.0)) {
        std::fprintf(stderr, "soak: the duration must be positive\n");
        return 2;
    }
    Soak soak;
    return soak.Run(seconds) ? 0 : 1;
}
