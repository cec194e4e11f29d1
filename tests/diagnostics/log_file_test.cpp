#include "diagnostics/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/debug_trace.h"
#include "support/symbolic_link.h"
#include "support/trace_capture.h"

namespace {

using nadixq::CLogFile;
using nadixq::test::TraceCapture;

// Read in text mode, as the log is written: CR LF on Windows reads as "\n".
std::string ReadFile(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A log with a file name of its own, counting its failure notifications.
class CountingLog : public CLogFile {
  public:
    explicit CountingLog(const char* path) {
        std::strncpy(_fileName, path, sizeof _fileName - 1);
        std::remove(path);
    }
    void OnWriteFailure() override { ++failures; }
    int failures = 0;
};

TEST(LogFile, LineIsStampTwoBlanksMessageAndReachesTheFileAtOnce) {
    CountingLog log("line_format.txt");
    TraceCapture trace;
    EXPECT_EQ(log.Write("calInfo.errorvalue= %u", 2u), 1);
    EXPECT_EQ(log.Write("second %s", "line"), 1);
    // Closed after every line: nothing stays buffered in the process.
    EXPECT_EQ(log._file, nullptr);
    std::string text = ReadFile("line_format.txt");
    std::regex line(R"(\[\d\d-\d\d \d\d:\d\d:\d\d\]  calInfo\.errorvalue= 2\n)"
                    R"(\[\d\d-\d\d \d\d:\d\d:\d\d\]  second line\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    // The echo carries the message without the stamp.
    ASSERT_EQ(trace.Lines().size(), 2u);
    EXPECT_EQ(trace.Lines()[0], "calInfo.errorvalue= 2\n");
    EXPECT_EQ(log.failures, 0);
}

TEST(LogFile, StampFieldsAreMonthDayAndTime) {
    CountingLog log("stamp.txt");
    std::time_t before = std::time(nullptr);
    ASSERT_EQ(log.Write("x"), 1);
    std::tm local{};
    localtime_r(&before, &local);
    char month_day[32];
    std::snprintf(month_day, sizeof month_day, "[%02d-%02d", local.tm_mon + 1, local.tm_mday);
    // Midnight may pass between the two readings; the date is all we compare.
    EXPECT_EQ(ReadFile("stamp.txt").substr(0, 6), month_day);
}

TEST(LogFile, LongMessageIsCutAt2048) {
    CountingLog log("long.txt");
    std::string message(5000, 'a');
    ASSERT_EQ(log.Write("%s", message.c_str()), 1);
    std::string text = ReadFile("long.txt");
    size_t start = text.find("  ") + 2;
    EXPECT_EQ(text.substr(start), std::string(2048, 'a') + "\n");
}

TEST(LogFile, UnwritablePathStillEchoesAndReportsFailure) {
    CountingLog log("no_such_directory/log.txt");
    TraceCapture trace;
    EXPECT_EQ(log.Write("dump %d", 1), 0);
    EXPECT_EQ(log.Write("dump %d", 2), 0);
    EXPECT_EQ(log._isOpen, 0);
    EXPECT_EQ(log.failures, 2);
    ASSERT_EQ(trace.Texts().size(), 2u);
    EXPECT_EQ(trace.Texts()[1], "dump 2");
}

TEST(LogFile, LinkPlantedUnderItsNameIsRefusedAsAnUnwritablePath) {
    // A link to a file the host may write: the file is left as it was.
    {
        std::ofstream victim("victim.txt");
        victim << "precious\n";
    }
    CountingLog log("planted_log.txt");
    if (!nadixq::test::MakeSymbolicLink("victim.txt", "planted_log.txt")) {
        GTEST_SKIP() << "the system refused to create a symbolic link";
    }
    TraceCapture trace;
    EXPECT_EQ(log.Write("dump %d", 1), 0);
    EXPECT_EQ(log.failures, 1);
    EXPECT_EQ(ReadFile("victim.txt"), "precious\n");
    EXPECT_EQ(trace.Texts(), std::vector<std::string>{"dump 1"});

    // A dangling link: its target is not created through it.
    std::remove("planted_log.txt");
    std::remove("created_through_link.txt");
    ASSERT_TRUE(nadixq::test::MakeSymbolicLink("created_through_link.txt", "planted_log.txt"));
    EXPECT_EQ(log.Write("dump %d", 2), 0);
    EXPECT_EQ(log.failures, 2);
    EXPECT_FALSE(std::ifstream("created_through_link.txt").good());
    std::remove("planted_log.txt");
}

TEST(LogFile, DeletedFileIsRecreatedByTheNextLine) {
    CountingLog log("deleted.txt");
    ASSERT_EQ(log.Write("first"), 1);
    ASSERT_EQ(std::remove("deleted.txt"), 0);
    ASSERT_EQ(log.Write("second"), 1);
    std::string text = ReadFile("deleted.txt");
    EXPECT_EQ(text.find("first"), std::string::npos);
    EXPECT_NE(text.find("second"), std::string::npos);
}

TEST(LogFile, AppendsAcrossObjectsAndKeepsFileOpenWhenAsked) {
    {
        CountingLog log("append.txt");
        ASSERT_EQ(log.Write("one"), 1);
    }
    CLogFile second;
    std::strncpy(second._fileName, "append.txt", sizeof second._fileName - 1);
    second._closeAfterWrite = 0;
    ASSERT_EQ(second.Write("two"), 1);
    EXPECT_NE(second._file, nullptr);  // kept open, but flushed and committed
    std::string text = ReadFile("append.txt");
    EXPECT_NE(text.find("one"), std::string::npos);
    EXPECT_NE(text.find("two"), std::string::npos);
}

TEST(LogFile, DisabledWritesNothingEchoesNothingAndDoesNotComplain) {
    CountingLog log("disabled.txt");
    log._disabled = 1;
    TraceCapture trace;
    EXPECT_EQ(log.Write("silent"), 0);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_EQ(log.failures, 0);
    std::ifstream in("disabled.txt");
    EXPECT_FALSE(in.good());
}

TEST(LogFile, TheLogWritesToTheDefaultNameInTheCurrentDirectory) {
    std::remove("nadixq_log.txt");
    ASSERT_EQ(nadixq::TheLog().Write("hello %d", 7), 1);
    EXPECT_NE(ReadFile("nadixq_log.txt").find("  hello 7\n"), std::string::npos);
}

TEST(DebugTrace, AppendsNewlineAndCutsAt1022) {
    TraceCapture trace;
    EXPECT_EQ(nadixq::DebugTrace("nadixq open(id = %d)", 3), 19);
    std::string message(5000, 'b');
    EXPECT_EQ(nadixq::DebugTrace("%s", message.c_str()), 5000);
    auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "nadixq open(id = 3)\n");
    EXPECT_EQ(lines[1], std::string(1022, 'b') + "\n");
}

}  // namespace
