// Symbolic links for tests that plant one where the library writes: symlink on
// POSIX, CreateSymbolicLinkA on Windows (which may need a privilege, or be
// missing under an emulator; the caller skips then).
#pragma once

namespace nadixq::test {

// Creates `link` pointing at `target` (relative to the link's folder), which
// need not exist. False when the system refused.
bool MakeSymbolicLink(const char* target, const char* link);

}  // namespace nadixq::test
