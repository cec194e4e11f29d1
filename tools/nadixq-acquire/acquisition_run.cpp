#include "acquisition_run.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "file_summary.h"
#include "interface/nadixq.h"
#include "result_text.h"
#include "simulator_controls.h"
#include "stream_report.h"

namespace acquire {
namespace {

void Error(CProgressDisplay& display, const std::string& message) {
    display.Finish();
    std::fprintf(stderr, "nadixq-acquire: %s\n", message.c_str());
}

// The open instrument, released on every way out, with the events unhooked.
class CSession {
  public:
    explicit CSession(CRunEvents& events) : _events(events) {}
    ~CSession() {
        if (_opened) spectrometer_close();
        spectrometer_setScanCompleteEventHandle(nullptr);
        spectrometer_setCoaddCompleteEventHandle(nullptr);
    }
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    void MarkOpened() { _opened = true; }
    void HookEvents() {
        spectrometer_setScanCompleteEventHandle(_events.ScanHandle());
        spectrometer_setCoaddCompleteEventHandle(_events.CoaddHandle());
    }

  private:
    CRunEvents& _events;
    bool _opened = false;
};

// Follows the run's files: reads each newly finished file once and reports it.
//
// Only the newest stored file can be read, and a file that got no scan stores
// nothing. Normally the command reads every file as it finishes; but when a
// run fails or is stopped, the scan thread closes out the remaining files of
// a counted run at once, most of them empty. The scan events tell how many
// scans really arrived, and so which file the newest stored data belongs to.
class CFileFollower {
  public:
    CFileFollower(const Options& options, int points, CRunEvents& events, CProgressDisplay& display)
        : _options(options),
          _points(points),
          _events(events),
          _display(display),
          _data(points),
          _last(points) {}

    // Reads the files finished since the last call. `final`: the run has
    // ended (every signal is in); `reportEmpty`: give files without scans a
    // line each (not after a stop, where they are expected).
    void Collect(bool final, bool reportEmpty) {
        for (;;) {
            // Files first, then scans: every scan of a finished file was
            // signalled before the file counted as finished.
            const int done = spectrometer_getFileProgress();
            _scansSeen += _events.TakeScans();
            if (done <= _handled) return;
            const long fullScans = static_cast<long>(done) * _options.scans;
            // Some finished file is short of scans: a failure or a stop is
            // closing out the run. Sort it out once everything is in.
            if (!final && _scansSeen < fullScans) return;

            // The newest stored file is the one holding the last scan seen
            // (while running, a scan of the next file may already be in).
            int newest = 0;
            if (_scansSeen > 0) {
                const long file = (_scansSeen - 1) / _options.scans + 1;
                newest = file < done ? static_cast<int>(file) : done;
            }
            double stamp = 0.0;
            int result = 1;
            if (newest > _handled) result = spectrometer_getData(_data.data(), _points, &stamp);
            if (!final && spectrometer_getFileProgress() != done) continue;  // stored meanwhile

            for (int f = _handled + 1; f < newest; ++f) {
                _display.Line(FileLabel(f) + "  not read in time (a newer file replaced it)");
            }
            const bool fresh =
                newest > _handled && result == 0 && !(_haveFile && stamp == _lastStamp);
            if (fresh) Report(newest, stamp);
            // Everything after the newest stored file got no scan (and so
            // did the newest, if its data turned out not to be new).
            const int firstEmpty = fresh ? newest + 1 : std::max(_handled + 1, newest);
            for (int f = firstEmpty; f <= done && reportEmpty; ++f) {
                _display.Line(FileLabel(f) + "  no scans");
            }
            _handled = done;
            return;
        }
    }

    long ScansSeen() const { return _scansSeen; }
    int FilesRead() const { return _filesRead; }
    bool HaveFile() const { return _haveFile; }
    const std::vector<double>& Last() const { return _last; }

  private:
    void Report(int file, double stamp) {
        _haveFile = true;
        _lastStamp = stamp;
        _last.swap(_data);
        ++_filesRead;
        const FileSummary summary = SummariseFile(_last.data(), _points, &_work);
        char text[200];
        int length = std::snprintf(text, sizeof text, "  %s  ", IsoLocalTime(stamp).c_str());
        if (summary.zpd >= 0) {
            length += std::snprintf(text + length, sizeof text - length, "ZPD %d", summary.zpd);
        } else {
            length += std::snprintf(text + length, sizeof text - length, "ZPD not found");
        }
        length +=
            std::snprintf(text + length, sizeof text - length, "  p-p %.1f", summary.peakToPeak);
        // A file cut short by a failure or a stop holds fewer scans.
        const long scansInFile = _scansSeen - static_cast<long>(file - 1) * _options.scans;
        if (scansInFile < _options.scans) {
            std::snprintf(text + length, sizeof text - length, "  (%ld of %d scans)", scansInFile,
                          _options.scans);
        }
        _display.Line(FileLabel(file) + text);
    }

    std::string FileLabel(int file) const {
        char text[48];
        if (_options.files > 0) {
            std::snprintf(text, sizeof text, "file %d/%d", file, _options.files);
        } else {
            std::snprintf(text, sizeof text, "file %d", file);
        }
        return text;
    }

    const Options& _options;
    const int _points;
    CRunEvents& _events;
    CProgressDisplay& _display;
    std::vector<double> _data;
    std::vector<double> _last;
    std::vector<double> _work;
    int _handled = 0;
    long _scansSeen = 0;
    int _filesRead = 0;
    bool _haveFile = false;
    double _lastStamp = 0.0;
};

bool WriteCsv(const std::string& path, const std::vector<double>& values) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    std::fputs("index,value\n", file);
    for (size_t i = 0; i < values.size(); ++i) std::fprintf(file, "%zu,%.10g\n", i, values[i]);
    return std::fclose(file) == 0;
}

}  // namespace

int RunAcquisition(const Options& options, CProgressDisplay& display, CRunEvents& events) {
    std::string error;
    if (options.UsesSimulator() && !ApplySimulatorOptions(options, &error)) {
        Error(display, error);
        return kExitUsage;
    }
    if (!events.Ready()) {
        Error(display, "cannot create the events");
        return kExitFailure;
    }
    CSession session(events);
    const int opened = spectrometer_open(options.model);
    session.MarkOpened();  // a device that failed to open is still attached
    if (opened != 0) {
        Error(display, DescribeResult(Step::kOpen, opened, options.model));
        return kExitFailure;
    }

    spectrometer_setGain(options.gain);
    if (options.resolution > 0.0) spectrometer_setResolution(options.resolution);
    if (options.points > 0) spectrometer_setPoints(options.points);
    spectrometer_setScans(options.scans);
    spectrometer_setFiles(options.files);
    session.HookEvents();

    int result = spectrometer_initialize();
    if (result != 0) {
        Error(display, DescribeResult(Step::kInitialize, result, options.model));
        return kExitFailure;
    }
    result = spectrometer_calibrationScan();
    if (result != 0) {
        Error(display, DescribeResult(Step::kCalibrate, result, options.model));
        return kExitFailure;
    }

    const int points = spectrometer_getPoints();
    std::string filesText = "files until Ctrl-C";
    if (options.files > 0) {
        filesText = std::to_string(options.files) + (options.files == 1 ? " file" : " files");
    }
    char header[200];
    std::snprintf(header, sizeof header, "model %d: %d points, %d scans per file, %s%s%s",
                  options.model, points, options.scans, filesText.c_str(),
                  options.out.empty() ? "" : " -> ", options.out.c_str());
    display.Line(header);

    const auto begin = std::chrono::steady_clock::now();
    // The library's lines from here on are this run's.
    const std::int64_t logStart = LogSize();
    if (!options.out.empty()) {
        result = spectrometer_streamToDisk(options.out.c_str());
        if (result != 0) {
            Error(display, DescribeResult(Step::kStream, result, options.model, options.out));
            return kExitFailure;
        }
    } else {
        result = spectrometer_startCoadd();
        if (result != 0) {
            Error(display, DescribeResult(Step::kStart, result, options.model));
            return kExitFailure;
        }
    }

    CFileFollower follower(options, points, events, display);
    bool interrupted = false;
    bool ended = false;
    while (!ended && !interrupted) {
        // A terminal's bar refreshes its clock a few times a second.
        events.Wait(display.Live() ? 100 : 250);
        interrupted = events.Interrupted();
        events.TakeFiles();
        // The scan thread signals every scan and file before it reports the
        // run's end, so all of them are in once the status says ready.
        ended = spectrometer_getStatus() == NADIXQ_STATUS_READY;
        if (!interrupted) follower.Collect(ended, true);

        Progress progress;
        progress.scansDone = follower.ScansSeen();
        progress.scansPerFile = options.scans;
        progress.filesDone = spectrometer_getFileProgress();
        progress.files = options.files;
        progress.elapsedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        display.Update(progress);
    }

    // Stopping also patches and closes the stream file; after a run that
    // ended by itself it returns at once.
    if (interrupted || !options.out.empty()) spectrometer_stop();
    // After a stop: the partial file it stored, and the files it closed out.
    follower.Collect(true, !interrupted);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    display.Finish();

    int exitCode = kExitOk;
    const long expected = static_cast<long>(options.files) * options.scans;
    if (!interrupted && (options.files == 0 || follower.ScansSeen() < expected)) {
        // Only a failure ends a continuous run, and only a failure leaves a
        // counted run short of scans.
        char text[200];
        if (options.files > 0) {
            std::snprintf(text, sizeof text,
                          "the run ended early: the board delivered %ld of %ld scans "
                          "(see the debug trace)",
                          follower.ScansSeen(), expected);
        } else {
            std::snprintf(text, sizeof text,
                          "the run ended early: the board stopped after %ld scans "
                          "(see the debug trace)",
                          follower.ScansSeen());
        }
        Error(display, text);
        exitCode = kExitFailure;
    } else if (interrupted && options.files > 0) {
        exitCode = kExitInterrupted;
    }

    // Streaming may end early (a full disk, a failed write) while the run
    // goes on; the file's own count says how much it kept.
    std::string streamShort;
    if (!options.out.empty()) {
        // Every file that got a scan is stored, and so streamed.
        const long stored = (follower.ScansSeen() + options.scans - 1) / options.scans;
        const long written = SubfileCount(options.out);
        if (written < stored) {
            std::string reason = StreamEndReason(logStart);
            if (reason.empty()) reason = "the stream ended early (see the debug trace)";
            char text[400];
            std::snprintf(text, sizeof text, "wrote %ld of %ld files: %s",
                          written < 0 ? 0 : written, stored, reason.c_str());
            streamShort = text;
            exitCode = exitCode == kExitOk ? kExitFailure : exitCode;
        }
    }

    if (!options.csv.empty()) {
        if (!follower.HaveFile()) {
            Error(display, "no file was acquired; " + options.csv + " not written");
            exitCode = exitCode == kExitOk ? kExitFailure : exitCode;
        } else if (!WriteCsv(options.csv, follower.Last())) {
            Error(display, "cannot write " + options.csv);
            exitCode = exitCode == kExitOk ? kExitFailure : exitCode;
        }
    }

    char summary[300];
    std::snprintf(summary, sizeof summary, "%s: %d file%s in %s%s%s",
                  interrupted ? "stopped" : "done", follower.FilesRead(),
                  follower.FilesRead() == 1 ? "" : "s", FormatDuration(seconds).c_str(),
                  options.out.empty() ? "" : (streamShort.empty() ? "; wrote " : "; incomplete "),
                  options.out.c_str());
    display.Line(summary);
    if (!streamShort.empty()) Error(display, streamShort);
    return exitCode;
}

}  // namespace acquire
