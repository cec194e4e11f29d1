// The stream file of a run: one multifile SPC file that every stored file of
// the run is appended to as the scan thread stores it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace nadixq {

class CStreamFile {
public:
    CStreamFile();
    ~CStreamFile();
    CStreamFile(const CStreamFile&) = delete;
    CStreamFile& operator=(const CStreamFile&) = delete;

    // Creates (or truncates) the file. 0, or the HRESULT of the system error.
    // Host thread, while no run is going.
    int32_t Open(const char* path);
    bool IsOpen() const;
    // Appends one stored file: the main header first when fileIndex is 0, then
    // the subfile header and the values as floats. Scan thread.
    void Append(const double* values, int32_t points, double timestamp, int32_t fileIndex);
    // Brings the subfile count up to date and closes the file; traces
    // "patching fnsub= %d in stream file". Host thread, after the run ended.
    void PatchAndClose();

private:
    std::FILE* _streamFile = nullptr;
    float* _floatBuffer = nullptr;
};

}  // namespace nadixq
