// The stream file of a run: one multifile SPC file that every stored file of
// the run is appended to as the scan thread stores it.
//
// The file is a valid SPC file at every file boundary: the main header is
// written when the file is opened (no subfiles yet), and after every appended
// subfile the subfile count in the header is brought up to date. A host that
// dies mid-run therefore leaves every completed file readable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "spc/spc_format.h"

namespace nadixq {

class CStreamFile {
  public:
    CStreamFile();
    // Closes a file that is still open (with its count patched).
    ~CStreamFile();
    CStreamFile(const CStreamFile&) = delete;
    CStreamFile& operator=(const CStreamFile&) = delete;

    // Creates (or truncates) the file and writes the main header with no
    // subfiles and `points` as its point count (the first appended file fixes
    // it). A file still open is patched and closed first. Returns 0, the
    // HRESULT form of the system error when the file cannot be created or
    // written, or 1 when it failed and the system reports no error.
    // Host thread, while no run is going.
    int32_t Open(const char* path, int32_t points = 0);
    bool IsOpen() const;
    // Appends one stored file: its subfile header (subindx the low 16 bits of
    // `fileIndex`, subtime `timestamp` in seconds) and the values as floats,
    // then updates the subfile count. The first appended file also dates the
    // main header. A write that fails, or a point count that differs from the
    // file's, ends streaming for the run: the count is left at the subfiles
    // written completely and the file is closed, and the end is reported in a
    // trace line and a log-file line: "nadixq scanThread: stream ended after
    // %d subfiles: %s (0x%08X)" with the subfiles the file keeps, the system
    // error's text and its HRESULT form. Scan thread.
    void Append(const double* values, int32_t points, double timestamp, int32_t fileIndex);
    // Writes the subfile count, traces "patching fnsub= %d in stream file"
    // with it and closes the file. Nothing when no file is open. Host thread.
    void PatchAndClose();
    // Subfiles written completely to the current (or last) file.
    int32_t SubfileCount() const;

  private:
    bool WriteAt(int64_t offset, const void* bytes, size_t size);
    bool WriteCount();
    void CloseLocked();
    // Closes the file after a failed write (the system error `error`, 0 when
    // the system reported none), or for `reason` when no write failed, and
    // reports the stream's end.
    void EndAfterFailure(uint32_t error, const char* reason = nullptr);

    // Guards the members below: the host may close or reopen the file while a
    // misbehaving host keeps a run going; normally the two sides never meet
    // and the lock is uncontended.
    mutable platform::RecursiveLock _lock;
    std::FILE* _streamFile = nullptr;
    std::unique_ptr<float[]> _floatBuffer;
    SpcMainHeader _header{};
    int32_t _subfiles = 0;
};

}  // namespace nadixq
