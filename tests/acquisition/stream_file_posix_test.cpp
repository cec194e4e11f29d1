// The stream file where only POSIX can set the scene: a header write that
// fails on a full device, a host killed by signal, a file-size limit standing
// in for a full disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/stream_file.h"
#include "stream_file_fixture.h"
#include "support/spc_reader.h"

namespace nadixq {
namespace {

using test::ReadSpcFile;
using test::SpcFile;

using test::Interferogram;
using test::kRunStartMs;
using test::MustRead;

TEST(StreamFileOnPosix, HeaderWriteFailureCarriesTheSystemError) {
    CStreamFile stream;
    // Created, but not even the header can be written.
    EXPECT_EQ(stream.Open("/dev/full", 16), static_cast<int32_t>(0x80070000u | ENOSPC));
    EXPECT_FALSE(stream.IsOpen());
    // The device named as the path is no file the stream left behind.
    struct stat info {};
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// Runs `body` in a forked child and returns its wait status. The test process
// has no other threads here, so the child may use the library freely.
template <typename Body>
int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(StreamFileOnPosix, HostKilledMidRunLeavesEveryCompletedFile) {
    const std::string path = "killed_host.spc";
    const int status = InChild([&] {
        CStreamFile stream;
        if (stream.Open(path.c_str(), 256) != 0) _exit(2);
        const std::vector<double> values = Interferogram(256, 0);
        for (int n = 0; n < 3; ++n) stream.Append(values.data(), 256, kRunStartMs + n, n);
        raise(SIGKILL);  // no stop, no close, no destructor
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 3u);
    EXPECT_EQ(file.subfiles.size(), 3u);
    EXPECT_EQ(file.trailingBytes, 0u);
}

TEST(StreamFileOnPosix, FileRefusedForAFullDiskIsNotLeftBehind) {
    // A file-size limit below the header's 512 bytes: the file is created but
    // cannot take its header, so it is no SPC file and must not stay.
    const std::string path = "no_room_for_the_header.spc";
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        CStreamFile stream;
        _exit(stream.Open(path.c_str(), 16) == static_cast<int32_t>(0x80070000u | EFBIG) ? 0 : 3);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(StreamFileOnPosix, FullDiskKeepsTheCompleteSubfilesReadable) {
    // A file-size limit stands in for a full disk: writes past it come up short.
    const std::string path = "full_disk.spc";
    constexpr int kPoints = 1000;
    constexpr rlim_t kLimit = 512 + 2 * (32 + 4 * kPoints) + 100;
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        CStreamFile stream;
        if (stream.Open(path.c_str(), kPoints) != 0) _exit(3);
        int appendedWhileOpen = 0;
        for (int n = 0; n < 5; ++n) {
            const std::vector<double> values = Interferogram(kPoints, n);
            stream.Append(values.data(), kPoints, kRunStartMs + n, n);
            if (stream.IsOpen()) ++appendedWhileOpen;
        }
        _exit(10 + appendedWhileOpen);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 12);  // the third file closed the stream

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), kLimit);
    EXPECT_EQ(file.fnsub, 2u);
    EXPECT_EQ(file.trailingBytes, 100u);  // the cut third subfile, ignored
    ASSERT_EQ(file.subfiles.size(), 2u);
    const std::vector<double> second = Interferogram(kPoints, 1);
    EXPECT_EQ(file.subfiles[1].values.back(), static_cast<float>(second.back()));
}

}  // namespace
}  // namespace nadixq
