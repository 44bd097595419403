#include "output/result_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/io_error.h"
#include "output/matrix_file.h"
#include "tests/output/test_support.h"

namespace netrevia::output {
namespace {

namespace fs = std::filesystem;
using testing::entries;
using testing::InTempDir;
using testing::kWorkedNames;
using testing::matches_golden;
using testing::read_bytes;
using testing::worked_example;
using testing::write_bytes;
using Names = std::vector<std::string>;

// Runs write and returns the IoError's message, or fails the test when none is thrown.
template <class Write>
std::string io_error_of(Write write) {
    try {
        write();
    } catch (const IoError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no IoError thrown";
    return {};
}

TEST_F(InTempDir, ResultFilesReplaceOldOnesAndMatchGolden) {
    write_bytes(dir() / "GRN.dat", std::string(5000, 'x'));
    write_bytes(dir() / "GRN.dot", std::string(5000, 'y'));
    write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6);
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dat"), "worked_example.dat"));
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dot"), "worked_example.dot"));
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

TEST_F(InTempDir, MissingFolderIsFatalAndCreatesNothing) {
    const fs::path absent = dir() / "absent";
    EXPECT_EQ(
        io_error_of([&] { write_result_files(absent, kWorkedNames, worked_example(), 3, 0); }),
        "cannot create file: No such file or directory, unit 3, file " +
            (absent / "GRN.dat").string());
    EXPECT_EQ(
        io_error_of([&] { write_graphviz_file(absent, kWorkedNames, worked_example(), 3, 0); }),
        "cannot create file: No such file or directory, unit 5, file " +
            (absent / "GRN.dot").string());
    EXPECT_TRUE(entries(dir()).empty());
}

// Root ignores permission bits, so a regular file standing where the folder should be is the
// portable way to make creation fail.
TEST_F(InTempDir, FileInPlaceOfFolderIsFatal) {
    const fs::path plain = dir() / "plain";
    write_bytes(plain, "keep");
    const std::string message = io_error_of([&] { write_matrix_file(plain, worked_example(), 3); });
    EXPECT_EQ(message,
              "cannot create file: Not a directory, unit 3, file " + (plain / "GRN.dat").string());
    EXPECT_EQ(read_bytes(plain), "keep");
    EXPECT_EQ(entries(dir()), Names{"plain"});
}

TEST_F(InTempDir, FailedRenameLeavesNoTemporaryFile) {
    fs::create_directory(dir() / "GRN.dat");
    const std::string message = io_error_of([&] { write_matrix_file(dir(), worked_example(), 3); });
    EXPECT_NE(message.find("cannot replace file: "), std::string::npos) << message;
    EXPECT_NE(message.find(", unit 3, file " + (dir() / "GRN.dat").string()), std::string::npos);
    EXPECT_EQ(entries(dir()), Names{"GRN.dat"});
    EXPECT_TRUE(fs::is_empty(dir() / "GRN.dat"));
}

// A directory named GRN.dot makes the second rename fail after GRN.dat's has succeeded: the
// old GRN.dat must come back, and neither temporary files nor the kept copy may remain.
TEST_F(InTempDir, FailedGraphvizRenameKeepsOldMatrixFile) {
    write_bytes(dir() / "GRN.dat", "old matrix\r\n");
    fs::create_directory(dir() / "GRN.dot");
    write_bytes(dir() / "GRN.dot" / "inside", "");
    const std::string message =
        io_error_of([&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6); });
    EXPECT_NE(message.find("cannot replace file: "), std::string::npos) << message;
    EXPECT_NE(message.find(", unit 5, file " + (dir() / "GRN.dot").string()), std::string::npos);
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "old matrix\r\n");
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
    EXPECT_EQ(entries(dir() / "GRN.dot"), Names{"inside"});
}

TEST_F(InTempDir, FailedGraphvizRenameRemovesNewMatrixFileWhenThereWasNone) {
    fs::create_directory(dir() / "GRN.dot");
    EXPECT_THROW(write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6), IoError);
    EXPECT_EQ(entries(dir()), Names{"GRN.dot"});
}

TEST_F(InTempDir, FailedMatrixRenameKeepsOldGraphvizFile) {
    fs::create_directory(dir() / "GRN.dat");
    write_bytes(dir() / "GRN.dot", "old graph\r\n");
    const std::string message =
        io_error_of([&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6); });
    EXPECT_NE(message.find(", unit 3, file " + (dir() / "GRN.dat").string()), std::string::npos);
    EXPECT_EQ(read_bytes(dir() / "GRN.dot"), "old graph\r\n");
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

// /dev/full fails every write with ENOSPC: the stream must turn bad and keep the reason.
TEST(FileStreamBuf, KeepsReasonOfFailedWrite) {
    std::FILE* file = std::fopen("/dev/full", "wb");
    if (file == nullptr) GTEST_SKIP() << "no /dev/full";
    FileStreamBuf buffer(file);
    std::ostream out(&buffer);
    out << "some text";
    out.flush();
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(buffer.error(), ENOSPC);
    EXPECT_EQ(buffer.close(), ENOSPC);
    EXPECT_FALSE(buffer.is_open());
}

}  // namespace
}  // namespace netrevia::output
