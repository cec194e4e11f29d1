// The acquisition command as a user on either system runs it: a counted,
// streamed run on the simulated dual board, its plain output lines (no
// terminal here), and the SPC file it leaves, read back with the tests' own
// reader and found complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/spc_reader.h"

namespace {

// The command's path as the system's shell takes it (Wine maps a path that
// starts at the root onto the Unix file system).
std::string CommandPath() {
    std::string path = NADIXQ_ACQUIRE_COMMAND;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0) {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
    }
    return path;
}

std::string ReadText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AcquireCommand, CountedDualBoardRunLeavesACompleteStreamFile) {
    std::remove("run.spc");
    const std::string command = "\"" + CommandPath() +
                                "\" --model 3 --files 2 --scans 4 --out run.spc"
                                " > acquire-output.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText("acquire-output.txt");

    const std::string output = ReadText("acquire-output.txt");
    EXPECT_NE(output.find("model 3: 16384 points, 4 scans per file, 2 files -> run.spc"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("file 1/2"), std::string::npos) << output;
    EXPECT_NE(output.find("file 2/2"), std::string::npos) << output;
    EXPECT_NE(output.find("done: 2 files"), std::string::npos) << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << "no terminal codes";

    nadixq::test::SpcFile file;
    std::string error;
    ASSERT_TRUE(nadixq::test::ReadSpcFile("run.spc", &file, &error)) << error;
    EXPECT_EQ(file.fnpts, 16384u);
    EXPECT_EQ(file.fnsub, 2u);
    ASSERT_EQ(file.subfiles.size(), 2u);
    EXPECT_EQ(file.trailingBytes, 0u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(file.subfiles[i].subindx, i);
        ASSERT_EQ(file.subfiles[i].values.size(), 16384u);
        // The merged interferogram's centre burst, as the Linux build has it.
        float peak = 0.0f;
        int at = -1;
        for (int p = 0; p < 16384; ++p) {
            if (file.subfiles[i].values[p] > peak) {
                peak = file.subfiles[i].values[p];
                at = p;
            }
        }
        EXPECT_NEAR(at, 256, 2);
    }
}

TEST(AcquireCommand, FinestSettingByItsPointCountGivesReadableFiles) {
    // 32768 names the finest setting (30000 points): every file is read.
    const std::string command = "\"" + CommandPath() +
                                "\" --model 1 --files 2 --scans 1 --points 32768"
                                " > finest-output.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText("finest-output.txt");
    const std::string output = ReadText("finest-output.txt");
    EXPECT_NE(output.find("file 2/2"), std::string::npos) << output;
    EXPECT_NE(output.find("done: 2 files"), std::string::npos) << output;
}

}  // namespace
