#include "acquisition/stream_file.h"

namespace nadixq {

CStreamFile::CStreamFile() = default;
CStreamFile::~CStreamFile() = default;

// Placeholder until the SPC writer lands.
int32_t CStreamFile::Open(const char*) { return 1; }
bool CStreamFile::IsOpen() const { return _streamFile != nullptr; }
void CStreamFile::Append(const double*, int32_t, double, int32_t) {}
void CStreamFile::PatchAndClose() {}

}  // namespace nadixq
