// The acquisition command on a disk that fills up during a streamed run: a
// file-size limit, which only POSIX lets a test set for one process, stands in
// for the full disk. The run goes on; the command says how much of it the file
// kept, and why, and fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/spc_reader.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AcquireCommandOnPosix, StreamEndedByAFullDiskIsReportedAndFails) {
    // A folder of its own: the library's log there is under the same limit,
    // and starts empty.
    const std::string dir = "full_disk_run";
    std::system(("rm -rf " + dir).c_str());
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    // 16384 points: 512 + 3 x 65568 bytes fit in 200 KiB, a fourth does not.
    const std::string command = "cd " + dir + " && bash -c \"trap '' XFSZ; ulimit -f 200; exec '" +
                                NADIXQ_ACQUIRE_COMMAND +
                                "' --model 1 --files 6 --scans 1 --out run.spc\""
                                " > output.txt 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = ReadText(dir + "/output.txt");
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_NE(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("done: 6 files"), std::string::npos) << output;
    EXPECT_NE(output.find("wrote 3 of 6 files: File too large (0x8007001B)"), std::string::npos)
        << output;

    nadixq::test::SpcFile file;
    std::string error;
    ASSERT_TRUE(nadixq::test::ReadSpcFile(dir + "/run.spc", &file, &error)) << error;
    EXPECT_EQ(file.fnsub, 3u);
}

}  // namespace
