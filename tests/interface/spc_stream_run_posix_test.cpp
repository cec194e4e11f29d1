// A stream run that the disk cannot hold: a file-size limit stands in for a
// full disk, which only POSIX lets a test set for one process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "interface/nadixq.h"
#include "spc_stream_run_fixture.h"
#include "support/spc_reader.h"

namespace nadixq {
namespace {

using test::Indices;
using test::kDone;
using test::kPoints;
using test::kSubfileBytes;
using test::MustRead;
using test::SpcFile;
using test::StreamRunTest;

TEST_F(StreamRunTest, FullDiskEndsStreamingButNotTheRun) {
    // A file-size limit stands in for a full disk; it applies to the whole
    // process, so the run goes on in a child. No thread runs at the fork.
    const std::string path = "full_disk_run.spc";
    constexpr size_t kLimit = 512 + 2 * kSubfileBytes + 100;
    Configure(1, 5);
    QueueScans(5);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        // The log is under the same limit: it starts empty.
        unlink("nadixq_log.txt");
        if (spectrometer_streamToDisk(path.c_str()) != 0) _exit(3);
        if (!_trace.WaitFor(kDone)) _exit(4);
        std::vector<double> data(kPoints);
        double stamp = 0.0;
        if (spectrometer_getFileProgress() != 5) _exit(5);
        if (spectrometer_getData(data.data(), kPoints, &stamp) != 0) _exit(6);
        if (StoredStamps().size() != 5 || StoredStamps().back() == 0.0) _exit(7);
        // The stream ended with the failed write: nothing left to patch.
        if (spectrometer_stop() != 0) _exit(8);
        if (_trace.Contains("patching fnsub= 2 in stream file")) _exit(9);
        // The host learns of it from the trace and from the log.
        const char* ended =
            "nadixq scanThread: stream ended after 2 subfiles: File too large (0x8007001B)";
        if (!_trace.Contains(ended)) _exit(10);
        std::ifstream log("nadixq_log.txt");
        std::stringstream text;
        text << log.rdbuf();
        if (text.str().find(std::string(ended) + "\n") == std::string::npos) _exit(11);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), kLimit);
    EXPECT_EQ(file.fnsub, 2u);
    EXPECT_EQ(Indices(file), (std::vector<int>{0, 1}));
    EXPECT_EQ(file.trailingBytes, 100u);
}

}  // namespace
}  // namespace nadixq
