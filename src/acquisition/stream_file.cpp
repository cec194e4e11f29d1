#include "acquisition/stream_file.h"

#include <cstring>
#include <new>

#include "diagnostics/debug_trace.h"
#include "diagnostics/log_file.h"
#include "interface/nadixq.h"
#include "platform/win32_errors.h"
#include "spc/spc_date.h"

namespace nadixq {

namespace {

// The X range written into every stream file, given by its exact bits.
constexpr uint64_t kLastXBits = 0x40BEDB04D6A161E5ull;  // 7899.0189

// A write that came up short without a system error (E_FAIL).
constexpr uint32_t kUnspecifiedFailure = 0x80004005u;
// A file the stream cannot take.
constexpr uint32_t kInvalidData =
    static_cast<uint32_t>(platform::SystemErrorResult(platform::kErrorInvalidData));

int32_t ErrorResult(uint32_t error) {
    if (error == 0) return 1;  // a failure must not read as success
    return platform::SystemErrorResult(error);
}

SpcMainHeader EmptyRunHeader(int32_t points, uint32_t date) {
    SpcMainHeader header{};
    header.ftflgs = kSpcMultifile | kSpcOrderedZ;
    header.fversn = kSpcVersionNew;
    header.fexp = kSpcFloatY;
    header.fnpts = static_cast<uint32_t>(points > 0 ? points : 0);
    header.ffirst = 0.0;
    std::memcpy(&header.flast, &kLastXBits, sizeof(header.flast));
    header.fnsub = 0;
    header.fxtype = kSpcXArbitrary;
    header.fytype = kSpcYInterferogram;
    header.fdate = date;
    return header;
}

}  // namespace

CStreamFile::CStreamFile() = default;

CStreamFile::~CStreamFile() {
    if (IsOpen()) PatchAndClose();
}

int32_t CStreamFile::Open(const char* path, int32_t points) {
    platform::LockGuard guard(_lock);
    if (_streamFile != nullptr) PatchAndClose();
    if (path == nullptr) return 1;

    // Sized once for the largest interferogram a board delivers: no
    // allocation per file, and a point-count change during a run cannot
    // overrun it.
    if (!_floatBuffer) {
        _floatBuffer.reset(new (std::nothrow) float[NADIXQ_MAX_POINTS]);
        if (!_floatBuffer) return NADIXQ_OUT_OF_MEMORY;
    }

    platform::SetLastError(0);
    std::FILE* file = std::fopen(path, "wb+");
    if (file == nullptr) return ErrorResult(platform::LastError());
    // Unbuffered: every subfile has to reach the system before the count that
    // announces it, and after a failed write no buffered remainder may block
    // the seek that fixes the count. Each write is already a whole record.
    std::setvbuf(file, nullptr, _IONBF, 0);

    // Until the first file is stored, the file is dated by its creation.
    _header = EmptyRunHeader(points, PackSpcDate(platform::WallClockMs()));
    _subfiles = 0;
    platform::SetLastError(0);
    if (std::fwrite(&_header, sizeof(_header), 1, file) != 1) {
        const uint32_t error = platform::LastError();
        std::fclose(file);
        // A file without its whole header is no SPC file: it is not left
        // behind (a device named as the path is, of course).
        platform::RemoveShortFile(path, static_cast<int64_t>(sizeof(_header)));
        return ErrorResult(error);
    }
    _streamFile = file;
    return 0;
}

bool CStreamFile::IsOpen() const {
    platform::LockGuard guard(_lock);
    return _streamFile != nullptr;
}

int32_t CStreamFile::SubfileCount() const {
    platform::LockGuard guard(_lock);
    return _subfiles;
}

bool CStreamFile::WriteAt(int64_t offset, const void* bytes, size_t size) {
    return platform::SeekFile(_streamFile, offset) &&
           std::fwrite(bytes, size, 1, _streamFile) == 1 &&
           platform::SeekFile(_streamFile, 0, true);
}

bool CStreamFile::WriteCount() {
    _header.fnsub = static_cast<uint32_t>(_subfiles);
    return WriteAt(kSpcSubfileCountOffset, &_header.fnsub, sizeof(_header.fnsub)) &&
           std::fflush(_streamFile) == 0;
}

void CStreamFile::CloseLocked() {
    // Best effort: the count may already be on disk; a failure here leaves the
    // previous, smaller count, which still describes complete subfiles.
    WriteCount();
    std::fclose(_streamFile);
    _streamFile = nullptr;
}

void CStreamFile::EndAfterFailure(uint32_t error, const char* reason) {
    CloseLocked();
    // Once per run, off the poll path: the host has no other way to learn
    // that its file stopped growing while the run goes on.
    char text[256];
    uint32_t code = kUnspecifiedFailure;
    if (reason != nullptr) {
        std::snprintf(text, sizeof text, "%s", reason);
        code = kInvalidData;
    } else if (error != 0) {
        platform::ErrorText(error, text, sizeof text);
        code = static_cast<uint32_t>(ErrorResult(error));
    } else {
        std::snprintf(text, sizeof text, "a write came up short");
    }
    static constexpr const char* kLine =
        "nadixq scanThread: stream ended after %d subfiles: %s (0x%08X)";
    CLogFile& log = TheLog();
    // The log echoes its line to the debugger; a log without echo does not.
    if (log._disabled || !log._echoToDebugger) DebugTrace(kLine, _subfiles, text, code);
    log.Write(kLine, _subfiles, text, code);
}

void CStreamFile::Append(const double* values, int32_t points, double timestamp,
                         int32_t fileIndex) {
    platform::LockGuard guard(_lock);
    if (_streamFile == nullptr) return;

    // Every subfile of an SPC file without X arrays has the header's point
    // count; a file of another size cannot be stored in it.
    const bool first = _subfiles == 0;
    if (values == nullptr || points <= 0 || points > NADIXQ_MAX_POINTS ||
        (!first && static_cast<uint32_t>(points) != _header.fnpts)) {
        EndAfterFailure(0, "the file's point count differs from the stream's");
        return;
    }

    if (first) {
        // The header is rewritten whole while it still announces no subfile,
        // so a crash in between leaves a valid empty file.
        _header.fnpts = static_cast<uint32_t>(points);
        _header.fdate = PackSpcDate(timestamp);
        platform::SetLastError(0);
        if (!WriteAt(0, &_header, sizeof(_header))) {
            EndAfterFailure(platform::LastError());
            return;
        }
    }

    SpcSubfileHeader subfile{};
    subfile.subexp = kSpcFloatY;
    subfile.subindx = static_cast<uint16_t>(fileIndex & 0xFFFF);
    subfile.subtime = static_cast<float>(timestamp / 1000.0);

    float* floats = _floatBuffer.get();
    for (int32_t i = 0; i < points; ++i) floats[i] = static_cast<float>(values[i]);

    const size_t count = static_cast<size_t>(points);
    platform::SetLastError(0);
    if (std::fwrite(&subfile, sizeof(subfile), 1, _streamFile) != 1 ||
        std::fwrite(floats, sizeof(float), count, _streamFile) != count) {
        // A full disk: the count keeps describing the complete subfiles only;
        // the partial one after them is ignored by readers.
        EndAfterFailure(platform::LastError());
        return;
    }
    ++_subfiles;
    platform::SetLastError(0);
    if (!WriteCount()) EndAfterFailure(platform::LastError());
}

void CStreamFile::PatchAndClose() {
    platform::LockGuard guard(_lock);
    if (_streamFile == nullptr) return;
    DebugTrace("patching fnsub= %d in stream file", _subfiles);
    WriteCount();
    // The run is over: commit it, so that a power cut after the stop loses
    // nothing. This is the host's thread, never the scan thread.
    platform::CommitFile(_streamFile);
    std::fclose(_streamFile);
    _streamFile = nullptr;
}

}  // namespace nadixq
