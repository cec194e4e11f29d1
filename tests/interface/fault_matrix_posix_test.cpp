// The fault matrix's streaming cases, which need POSIX to bring the fault
// about: a file system that fills up mid-run (a file-size limit, set for a
// child process), a full device, and a folder the host may not write to.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fault_matrix_fixture.h"
#include "support/spc_reader.h"

namespace nadixq::test {
namespace {

constexpr size_t kSubfileBytes = 32 + 4 * 1024;

// Runs `body` in a child process, which closes the instrument after it, and
// returns its exit code (-1 when it did not exit). Nothing of the library
// runs a thread at the fork.
int InChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        const int code = body();
        spectrometer_close();  // the last run's thread is reaped
        _exit(code);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(FaultMatrix, FileSystemFullMidRunEndsStreamingButNotTheRun) {
    const std::string path = "full_mid_run.spc";
    std::remove(path.c_str());
    const int code = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 512 + 2 * kSubfileBytes + 100;  // room for two files
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        Prepare();
        if (HasFailure()) return 3;
        if (spectrometer_streamToDisk(path.c_str()) != 0) return 4;
        uint64_t signals = 0;
        if (!AwaitRunEnd(&signals) || signals != kFiles) return 5;
        ExpectLastFileWithScansServed();  // every file still reaches the host
        if (spectrometer_stop() != 0) return 6;
        ExpectUsableAfterCloseAndOpen();
        return HasFailure() ? 7 : 0;
    });
    ASSERT_EQ(code, 0);
    SpcFile file;
    std::string error;
    ASSERT_TRUE(ReadSpcFile(path, &file, &error)) << error;
    EXPECT_EQ(file.fnsub, 2u);
    EXPECT_EQ(file.subfiles.size(), 2u);
}

TEST_F(FaultMatrix, StreamToAFullDeviceOrAReadOnlyFolderIsRefusedAndStartsNothing) {
    Prepare();
    EXPECT_EQ(static_cast<uint32_t>(spectrometer_streamToDisk("/dev/full")), 0x80070000u | ENOSPC);
    EXPECT_EQ(spectrometer_getStatus(), NADIXQ_STATUS_READY);

    // Root writes anywhere: the folder is read-only to the unprivileged user
    // the child then becomes.
    rmdir("read_only");
    ASSERT_EQ(mkdir("read_only", 0555), 0);
    const int code = InChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        if (static_cast<uint32_t>(spectrometer_streamToDisk("read_only/run.spc")) !=
            (0x80070000u | EACCES)) {
            return 3;
        }
        if (spectrometer_getStatus() != NADIXQ_STATUS_READY || nadixq_sim_scan_count() != 0) {
            return 4;
        }
        // Acquiring without the stream still works.
        spectrometer_setFiles(1);
        if (spectrometer_startCoadd() != 0 || !AwaitRunEnd()) return 5;
        return spectrometer_getFileProgress() == 1 ? 0 : 6;
    });
    rmdir("read_only");
    EXPECT_EQ(code, 0);
    ExpectUsableAfterCloseAndOpen();
}

}  // namespace
}  // namespace nadixq::test
