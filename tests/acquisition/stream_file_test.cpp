// The stream file on its own, driven with arrays of doubles as the scan thread
// drives it, and read back with the tests' own SPC reader.
#include "acquisition/stream_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "interface/nadixq.h"
#include "platform/platform.h"
#include "spc/spc_date.h"
#include "stream_file_fixture.h"
#include "support/spc_reader.h"
#include "support/system_error.h"
#include "support/time_zone.h"
#include "support/trace_capture.h"

namespace nadixq {
namespace {

using test::ReadFileBytes;
using test::ReadSpcFile;
using test::ReadU32;
using test::SpcFile;
using test::TraceCapture;

constexpr uint64_t kLastXBits = 0x40BEDB04D6A161E5ull;
using test::Interferogram;
using test::kRunStartMs;
using test::MustRead;

int32_t Hresult(uint32_t error) {
    return static_cast<int32_t>(0x80070000u | (error & 0xFFFF));
}

class StreamFileTest : public ::testing::Test {
  protected:
    // fdate is local time; pin the zone so the expected word is known.
    test::ScopedTimeZone _zone{"UTC0"};
};

TEST_F(StreamFileTest, ThreeFileRunHasTheDocumentedBytes) {
    const std::string path = "three_files.spc";
    constexpr int kPoints = 4096;
    TraceCapture trace;
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), kPoints), 0);
    ASSERT_TRUE(stream.IsOpen());

    const double stamps[3] = {kRunStartMs, kRunStartMs + 1500.0, kRunStartMs + 3000.0};
    for (int n = 0; n < 3; ++n) {
        const std::vector<double> values = Interferogram(kPoints, n);
        stream.Append(values.data(), kPoints, stamps[n], n);
        // The count is on disk after every file, not only at the stop.
        EXPECT_EQ(ReadU32(ReadFileBytes(path), 24), static_cast<uint32_t>(n + 1));
    }
    stream.PatchAndClose();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_TRUE(trace.Contains("patching fnsub= 3 in stream file"));

    const SpcFile file = MustRead(path);
    const std::vector<uint8_t>& b = file.bytes;
    ASSERT_EQ(b.size(), 512u + 3u * (32u + 4u * kPoints));
    EXPECT_EQ(b[0], 0x14);
    EXPECT_EQ(b[1], 0x4B);
    EXPECT_EQ(b[2], 0x00);
    EXPECT_EQ(b[3], 0x80);
    EXPECT_EQ(file.fnpts, static_cast<uint32_t>(kPoints));
    EXPECT_EQ(test::ReadU64(b, 8), 0u);  // ffirst 0.0
    EXPECT_EQ(file.flastBits, kLastXBits);
    EXPECT_EQ(file.fnsub, 3u);
    EXPECT_EQ(b[28], 0);
    EXPECT_EQ(b[29], 1);
    // 2024-03-15 12:35 (12:34:56.789 rounds up), packed field by field.
    EXPECT_EQ(file.fdate, (2024u << 20) | (3u << 16) | (15u << 11) | (12u << 6) | 35u);
    EXPECT_EQ(file.fdate, PackSpcDate(stamps[0]));
    for (size_t i = 30; i < 512; ++i) {
        if (i >= 32 && i < 36) continue;
        ASSERT_EQ(b[i], 0) << "main header byte " << i;
    }

    ASSERT_EQ(file.subfiles.size(), 3u);
    for (int n = 0; n < 3; ++n) {
        const test::SpcSubfile& sub = file.subfiles[n];
        EXPECT_EQ(sub.subflgs, 0);
        EXPECT_EQ(sub.subexp, 0x80);
        EXPECT_EQ(sub.subindx, n);
        EXPECT_EQ(sub.subtime, static_cast<float>(stamps[n] / 1000.0));
        for (size_t i = 8; i < 32; ++i) EXPECT_EQ(sub.headerBytes[i], 0) << "subfile byte " << i;
        const std::vector<double> values = Interferogram(kPoints, n);
        for (int i = 0; i < kPoints; ++i) {
            ASSERT_EQ(sub.values[i], static_cast<float>(values[i]))
                << "file " << n << " point " << i;
        }
    }
    EXPECT_EQ(file.trailingBytes, 0u);
}

TEST_F(StreamFileTest, RunWithoutStoredFilesLeavesAValidEmptyFile) {
    const std::string path = "empty_run.spc";
    TraceCapture trace;
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), 1024), 0);
    // Valid from the moment it is opened, not only after the stop.
    EXPECT_EQ(ReadFileBytes(path).size(), 512u);
    stream.PatchAndClose();
    EXPECT_TRUE(trace.Contains("patching fnsub= 0 in stream file"));

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.bytes.size(), 512u);
    EXPECT_EQ(file.fnsub, 0u);
    EXPECT_EQ(file.fnpts, 1024u);
    EXPECT_EQ(file.fversn, 0x4B);
    EXPECT_EQ(file.flastBits, kLastXBits);
    EXPECT_NE(file.fdate, 0u);  // dated by its creation
}

TEST_F(StreamFileTest, SubfileIndexFollowsTheRunsFileCount) {
    // Files without scans are not appended, so indices may skip; they are the
    // low 16 bits of the run's file count. The first stored file need not be
    // the run's first and still writes the header.
    const std::string path = "skipped_files.spc";
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), 64), 0);
    const std::vector<double> values = Interferogram(32, 0);
    const int indices[] = {1, 2, 5, 65536 + 7};
    for (int index : indices) stream.Append(values.data(), 32, kRunStartMs + index, index);
    stream.PatchAndClose();

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnpts, 32u);  // the stored files fix the point count
    EXPECT_EQ(file.fdate, PackSpcDate(kRunStartMs + 1));
    ASSERT_EQ(file.subfiles.size(), 4u);
    EXPECT_EQ(file.subfiles[0].subindx, 1);
    EXPECT_EQ(file.subfiles[1].subindx, 2);
    EXPECT_EQ(file.subfiles[2].subindx, 5);
    EXPECT_EQ(file.subfiles[3].subindx, 7);
    EXPECT_EQ(file.trailingBytes, 0u);
}

TEST_F(StreamFileTest, PointCountChangeEndsStreamingWithAReadableFile) {
    const std::string path = "points_changed.spc";
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), 16), 0);
    const std::vector<double> small = Interferogram(16, 0);
    const std::vector<double> large = Interferogram(NADIXQ_MAX_POINTS, 1);
    stream.Append(small.data(), 16, kRunStartMs, 0);
    stream.Append(large.data(), NADIXQ_MAX_POINTS, kRunStartMs + 10, 1);
    EXPECT_FALSE(stream.IsOpen());
    stream.Append(small.data(), 16, kRunStartMs + 20, 2);  // ignored once closed

    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 1u);
    EXPECT_EQ(file.trailingBytes, 0u);
    EXPECT_EQ(stream.SubfileCount(), 1);
}

TEST_F(StreamFileTest, OversizedFirstFileIsRefusedWithoutOverrun) {
    const std::string path = "oversized.spc";
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), 16), 0);
    const std::vector<double> huge(NADIXQ_MAX_POINTS + 100, 1.0);
    stream.Append(huge.data(), static_cast<int32_t>(huge.size()), kRunStartMs, 0);
    EXPECT_FALSE(stream.IsOpen());
    const SpcFile file = MustRead(path);
    EXPECT_EQ(file.fnsub, 0u);
    EXPECT_EQ(file.bytes.size(), 512u);
}

TEST_F(StreamFileTest, OpenFailuresCarryTheSystemError) {
    CStreamFile stream;
    EXPECT_EQ(stream.Open(nullptr, 16), 1);
    EXPECT_EQ(stream.Open("no_such_folder/run.spc", 16), Hresult(test::MissingFolderError()));
    std::error_code ignored;
    std::filesystem::create_directory("a_folder.spc", ignored);
    EXPECT_EQ(stream.Open("a_folder.spc", 16), Hresult(test::FolderAsFileError()));
    EXPECT_FALSE(stream.IsOpen());
}

TEST_F(StreamFileTest, ReopeningAndDestructionPatchTheOpenFile) {
    const std::vector<double> values = Interferogram(8, 0);
    TraceCapture trace;
    {
        CStreamFile stream;
        ASSERT_EQ(stream.Open("first.spc", 8), 0);
        stream.Append(values.data(), 8, kRunStartMs, 0);
        stream.Append(values.data(), 8, kRunStartMs, 1);
        ASSERT_EQ(stream.Open("second.spc", 8), 0);
        EXPECT_EQ(MustRead("first.spc").fnsub, 2u);
        EXPECT_EQ(stream.SubfileCount(), 0);
        stream.Append(values.data(), 8, kRunStartMs, 0);
    }
    EXPECT_EQ(MustRead("second.spc").fnsub, 1u);
    EXPECT_EQ(trace.TextsStartingWith("patching fnsub=").size(), 2u);
}

TEST_F(StreamFileTest, FileGrowsPastFourGiB) {
    // A run of 35,783 files of 30000 points passes 4 GiB. A hole stands in for
    // those bytes: the file is extended (sparse) to past 4 GiB before the
    // first append, so every later position needs more than 32 bits, and the
    // C runtime's long positions of the 32-bit build would fail there.
    const std::string path = "past_4_gib.spc";
    constexpr int kPoints = 256;
    constexpr int64_t kSubfileBytes = 32 + 4 * kPoints;
    constexpr int64_t kHoleEnd = (int64_t{1} << 32) + 4096;
    CStreamFile stream;
    ASSERT_EQ(stream.Open(path.c_str(), kPoints), 0);
    {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(platform::SeekFile(file, kHoleEnd - 1));
        ASSERT_EQ(std::fputc(0, file), 0);
        std::fclose(file);
    }
    for (int n = 0; n < 3; ++n) {
        const std::vector<double> values = Interferogram(kPoints, n);
        stream.Append(values.data(), kPoints, kRunStartMs + n * 1000.0, n);
    }
    EXPECT_TRUE(stream.IsOpen());
    stream.PatchAndClose();

    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(platform::SeekFile(file, 0, true));
    ASSERT_TRUE(platform::SeekFile(file, 0));
    uint8_t header[512] = {};
    ASSERT_EQ(std::fread(header, 1, sizeof header, file), sizeof header);
    EXPECT_EQ(ReadU32(std::vector<uint8_t>(header, header + 512), 24), 3u);
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> subfile(static_cast<size_t>(kSubfileBytes));
        ASSERT_TRUE(platform::SeekFile(file, kHoleEnd + n * kSubfileBytes));
        ASSERT_EQ(std::fread(subfile.data(), 1, subfile.size(), file), subfile.size());
        EXPECT_EQ(subfile[2], n);  // subindx
        float last = 0.0f;
        std::memcpy(&last, &subfile[subfile.size() - 4], sizeof last);
        EXPECT_EQ(last, static_cast<float>(Interferogram(kPoints, n).back()));
    }
    // Nothing after the third subfile.
    ASSERT_TRUE(platform::SeekFile(file, kHoleEnd + 3 * kSubfileBytes));
    EXPECT_EQ(std::fgetc(file), EOF);
    std::fclose(file);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace nadixq
