#include "inference/data_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "inference/input_error.h"
#include "support/support.h"

namespace netrevia::inference {
namespace {

// The reader over a text held in memory, named x.dat in its messages.
class Text {
public:
    explicit Text(std::string text) : in_(std::move(text)), reader_(in_, "x.dat") {}
    DataFileReader& reader() { return reader_; }

    int integer() {
        int value = -99;
        reader_.read_values(std::span(&value, 1));
        return value;
    }
    std::vector<double> reals(std::vector<double> values) {
        reader_.read_values(values);
        return values;
    }
    std::string name() {
        std::string value(kNameLength, ' ');
        reader_.read_values(std::span(&value, 1));
        return value;
    }

private:
    std::istringstream in_;
    DataFileReader reader_;
};

std::string input_error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const InputError& e) {
        return e.what();
    }
    return "no InputError";
}

std::string rejection_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const DataFileRejected& e) {
        return e.what();
    }
    return "no rejection";
}

std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

const std::string kEndOfFile = "end-of-file during read, unit 7, file x.dat";

TEST(DataFileMarker, OnlyUpperCaseEndInTheFirstThreeCharactersEndsTheList) {
    Text text("END\nEnd\nend\n END\nENDING\nEN\n\nEN\r\nE\r\n\r\nEND\r\nAB\rC\nEND");
    std::vector<std::string> markers;
    for (int line = 0; line < 13; ++line) markers.push_back(text.reader().read_marker());
    const std::vector<std::string> expected{"END", "End", "end", " EN", "END",  "EN ", "   ",
                                            "EN ", "E  ", "   ", "END", "AB\r", "END"};
    EXPECT_EQ(markers, expected);
    const std::vector<bool> ends{true,  false, false, false, true,  false, false,
                                 false, false, false, true,  false, true};
    for (std::size_t k = 0; k < markers.size(); ++k) {
        EXPECT_EQ(is_end_marker(markers[k]), ends[k]) << "marker " << k;
    }
    EXPECT_EQ(input_error_of([&] { text.reader().read_marker(); }), kEndOfFile);
}

TEST(DataFileMarker, ConsumesItsWholeLineHoweverLong) {
    Text text("Set" + std::string(100000, 'x') + "\nEND\n");
    EXPECT_EQ(text.reader().read_marker(), "Set");
    EXPECT_EQ(text.reader().read_marker(), "END");
    EXPECT_EQ(text.reader().line_number(), 2);
}

TEST(DataFileSkip, ConsumesOneLineEvenWhenEmpty) {
    Text text("\n\r\nlabel 1 2, 3\n5\n");
    text.reader().skip_line();
    text.reader().skip_line();
    text.reader().skip_line();
    EXPECT_EQ(text.integer(), 5);
    EXPECT_EQ(input_error_of([&] { text.reader().skip_line(); }), kEndOfFile);
}

TEST(DataFileValues, SeparatorsAreBlanksTabsCommasAndLineEnds) {
    Text text("1\t2,3 , 4\n\n \t\n5\n,\n6 7 8\n9\n");
    EXPECT_EQ(text.reals(std::vector<double>(6)), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    // The rest of the last line touched (7 8) is discarded.
    EXPECT_EQ(text.integer(), 9);
}

TEST(DataFileValues, ReadPassesOverAMillionBlankLines) {
    Text text(std::string(1000000, '\n') + "  7\n");
    EXPECT_EQ(text.integer(), 7);
    EXPECT_EQ(text.reader().line_number(), 1000001);
}

TEST(DataFileValues, ExtraValuesAndTextAreDiscarded) {
    Text text("1 2 3 4 5 and some text\n6 7 8 9\n1.5 junk\n");
    EXPECT_EQ(text.reals(std::vector<double>(4)), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(text.reals(std::vector<double>(4)), (std::vector<double>{6, 7, 8, 9}));
    EXPECT_EQ(text.reals(std::vector<double>(1)), (std::vector<double>{1.5}));
}

TEST(DataFileValues, RowSplitOverTwoLinesIsOneRow) {
    Text text("1 2\n3 4\n5\n");
    EXPECT_EQ(text.reals(std::vector<double>(4)), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(text.integer(), 5);
}

TEST(DataFileValues, SlashEndsTheReadAndKeepsWhatWasThere) {
    Text text("1 2/ 3 4\n5\n/\n/ 7\n2*/ 8\n6\n");
    EXPECT_EQ(text.reals({0, 0, 0, 0}), (std::vector<double>{1, 2, 0, 0}));
    EXPECT_EQ(text.reals({9, 9}), (std::vector<double>{5, 9}));        // slash after a line end
    EXPECT_EQ(text.reals({9}), (std::vector<double>{9}));              // slash first
    EXPECT_EQ(text.reals({9, 9, 9}), (std::vector<double>{9, 9, 9}));  // "r*" ended by a slash
    EXPECT_EQ(text.integer(), 6);
    // A repeat after other values stops at the end of the read, not beyond the caller's span.
    Text tail("1 5*2\n");
    std::array<double, 4> values{0, 0, 0, -1};
    tail.reader().read_values(std::span(values.data(), 3));
    EXPECT_EQ(values, (std::array<double, 4>{1, 2, 2, -1}));
}

TEST(DataFileValues, EmptyFieldsBetweenCommasAndRepeatedNullsKeepWhatWasThere) {
    Text text("1,,3\n,2,,\n5\n1 , , 3 ,\n, 4\n2* 3 3*,7\n");
    EXPECT_EQ(text.reals({9, 9, 9}), (std::vector<double>{1, 9, 3}));
    // A leading comma is a null value, a trailing one a separator; ",," across lines is null.
    EXPECT_EQ(text.reals({9, 9, 9, 9}), (std::vector<double>{9, 2, 9, 5}));
    EXPECT_EQ(text.reals({9, 9, 9, 9, 9}), (std::vector<double>{1, 9, 3, 9, 4}));
    EXPECT_EQ(text.reals({9, 9, 9, 9, 9, 9, 9}), (std::vector<double>{9, 9, 3, 9, 9, 9, 7}));
}

TEST(DataFileValues, RepeatCountTakesOnlyTheValuesTheReadNeeds) {
    Text text("2*1.5 3*-2 0.25\n2147483647*1.0\n7\n3*4 5\n6\n");
    EXPECT_EQ(text.reals(std::vector<double>(6)),
              (std::vector<double>{1.5, 1.5, -2, -2, -2, 0.25}));
    EXPECT_EQ(text.reals(std::vector<double>(3)), (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(text.integer(), 7);
    EXPECT_EQ(text.integer(), 4);
    EXPECT_EQ(text.integer(), 6);
}

TEST(DataFileValues, RealsTakeDecimalPointsAndEOrDExponentsInEitherCase) {
    Text text("0 -2.5 +.5 3. 1e2 1D2 2d-1 -1.5E+1 007 1e-400 -4.9e-324\n");
    const std::vector<double> values = text.reals(std::vector<double>(11, 9.0));
    const std::vector<double> expected{0, -2.5, 0.5, 3, 100, 100, 0.2, -15, 7, 0, -4.9e-324};
    EXPECT_EQ(values, expected);
    EXPECT_FALSE(std::signbit(values[9]));
}

TEST(DataFileValues, IntegersCoverTheWholeSignedThirtyTwoBitRange) {
    Text text("-2147483648 +2147483647 -0 0042\n");
    std::array<int, 4> values{};
    text.reader().read_values(values);
    EXPECT_EQ(values, (std::array<int, 4>{-2147483647 - 1, 2147483647, 0, 42}));
}

TEST(DataFileValues, CarriageReturnBeforeTheLineFeedBelongsToTheLineEnd) {
    Text text("1 2\r\n\r\n3\r\nG1\r\n'a b'\r\n4");
    EXPECT_EQ(text.reals(std::vector<double>(3)), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(text.name(), "G1       ");
    EXPECT_EQ(text.name(), "a b      ");
    EXPECT_EQ(text.integer(), 4);  // last line without a line end
    EXPECT_EQ(input_error_of([&] { text.integer(); }), kEndOfFile);
}

TEST(DataFileValues, ReadReachingTheEndOfTheFileIsFatal) {
    Text text("1 2\n\n");
    EXPECT_EQ(input_error_of([&] { text.reals(std::vector<double>(3)); }), kEndOfFile);
    Text empty("");
    EXPECT_EQ(input_error_of([&] { empty.integer(); }), kEndOfFile);
}

struct BadToken {
    const char* text;
    bool integer;  // read as an integer, else as a real
    const char* condition;
};

TEST(DataFileValues, MalformedOrUnrepresentableTokenIsAnInputErrorNamingLineAndToken) {
    const std::vector<BadToken> cases{
        {"1.5", true, "\"1.5\" is not an integer"},
        {"1e3", true, "\"1e3\" is not an integer"},
        {"abc", true, "\"abc\" is not an integer"},
        {"+", true, "\"+\" is not an integer"},
        {"2147483648", true, "\"2147483648\" is beyond a 32-bit integer"},
        {"-2147483649", true, "\"-2147483649\" is beyond a 32-bit integer"},
        {"99999999999999999999999", true, "\"99999999999999999999999\" is beyond a 32-bit integer"},
        {"nan", false, "\"nan\" is not a real number"},
        {"inf", false, "\"inf\" is not a real number"},
        {"0x1p3", false, "\"0x1p3\" is not a real number"},
        {"1.0+5", false, "\"1.0+5\" is not a real number"},
        {"1e", false, "\"1e\" is not a real number"},
        {".", false, "\".\" is not a real number"},
        {"1..2", false, "\"1..2\" is not a real number"},
        {"1e400", false, "\"1e400\" is not a finite real number"},
        {"-1D999999999999999999", false, "\"-1D999999999999999999\" is not a finite real number"},
        {"0*1.0", false, "\"0*1.0\" has a repeat count outside 1 to 2147483647"},
        {"2147483648*1.0", false, "\"2147483648*1.0\" has a repeat count outside 1 to 2147483647"},
        {"1.5*2", false, "\"1.5*2\" is not a real number"},
    };
    for (const BadToken& bad : cases) {
        Text text(std::string("a\nb\n\n1 ") + bad.text + " 2\r\n");
        for (int line = 0; line < 3; ++line) text.reader().skip_line();
        const std::string message = input_error_of([&] {
            if (bad.integer) {
                std::array<int, 2> values{};
                text.reader().read_values(values);
            } else {
                text.reals(std::vector<double>(2));
            }
        });
        EXPECT_EQ(message,
                  "input error: " + std::string(bad.condition) + " (line 4), unit 7, file x.dat");
    }
}

// A token is shown escaped: a NUL no longer cuts the message before its line and file, and an
// escape sequence cannot reach the terminal. Gene names in block messages likewise.
TEST(DataFileValues, ControlCharactersAndNulsAreEscapedInMessages) {
    Text text(std::string("1 \x1b]0;title\x07\n", 13) + std::string("2 a\0b\n", 7));
    EXPECT_EQ(input_error_of([&] {
                  text.reals({0, 0});
              }),
              "input error: \"\\x1b]0;title\\x07\" is not a real number (line 1), unit 7, "
              "file x.dat");
    EXPECT_EQ(input_error_of([&] {
                  text.reals({0, 0});
              }),
              "input error: \"a\\x00b\" is not a real number (line 2), unit 7, file x.dat");
    Text row("0 1024\n");
    EXPECT_EQ(rejection_of([&] {
                  std::vector<double> x(2);
                  read_expression_row(row.reader(), 1, 1, "G\r\x7f      ", x);
              }),
              "data file x.dat, dataset block 1: expression value 1024 of gene 1 (G\\x0d\\x7f) "
              "at time point 2 is out of range: its linear scale 2^x is not finite");
}

// A line comes in pieces of 64 KiB: tokens, quoted names and doubled quotes that straddle a
// piece boundary read whole, the rest of a long line is skipped, and one token beyond 1 MiB
// (an endless line of NULs, say) is an input error instead of a line held in memory.
TEST(DataFileValues, TokensAcrossLinePiecesReadWhole) {
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    for (const std::size_t lead : {kPiece - 3, kPiece - 1, kPiece, kPiece + 1}) {
        const std::string blanks(lead, ' ');
        Text text(blanks + "1.25e2 -7 " + std::string(3 * kPiece, 'x') + "\n" + blanks +
                  "'a''b c'\n3\n");
        EXPECT_EQ(text.reals({0, 0}), (std::vector<double>{125.0, -7.0})) << lead;
        EXPECT_EQ(text.name(), "a'b c    ") << lead;
        EXPECT_EQ(text.integer(), 3) << lead;
    }
    // A quote as the last character of a piece (the blank keeps the name's first part inside
    // it): doubled in the next piece, or the name's end; an unclosed one across pieces.
    const std::string lead(kPiece - 5, ' ');
    Text quote(lead + "'a b''c'\n" + lead + "'a b'\n'c'\n" + lead + "'a b" +
               std::string(kPiece, 'x') + "\n");
    EXPECT_EQ(quote.name(), "a b'c    ");
    EXPECT_EQ(quote.name(), "a b      ");
    EXPECT_EQ(quote.name(), "c        ");
    EXPECT_EQ(input_error_of([&] { quote.name(); }),
              "input error: \"'a bxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\" has no closing quote "
              "(line 4), unit 7, file x.dat");
    Text endless("1 " + std::string(std::size_t{1} << 21, '\0'));
    EXPECT_EQ(input_error_of([&] {
                  endless.reals({0, 0});
              }),
              "input error: \"" + repeated("\\x00", 40) +
                  "...\" is longer than 1048576 characters (line 1), unit 7, file x.dat");
}

TEST(DataFileValues, LongTokenIsCutInTheMessage) {
    Text text(std::string(100000, 'x') + "\n");
    EXPECT_EQ(input_error_of([&] { text.integer(); }), "input error: \"" + std::string(40, 'x') +
                                                           "...\" is not an integer (line 1), "
                                                           "unit 7, file x.dat");
}

TEST(DataFileNames, AreCutOrBlankPaddedToNineCharacters) {
    Text text("ABCDEFGHIJKL\nG1 G2\nG3,G4\nG5/G6\n  O'Brien\n\"\"\n");
    EXPECT_EQ(text.name(), "ABCDEFGHI");
    EXPECT_EQ(text.name(), "G1       ");
    EXPECT_EQ(text.name(), "G3       ");
    EXPECT_EQ(text.name(), "G5       ");
    EXPECT_EQ(text.name(), "O'Brien  ");  // a quote inside an unquoted name is a character
    EXPECT_EQ(text.name(), "         ");  // the empty quoted name
}

TEST(DataFileNames, QuotedNamesHoldBlanksAndCommas) {
    Text text("'my gene, 2' rest\n\"a'b, c\"/x\n'it''s'\n2*'r s'\n");
    EXPECT_EQ(text.name(), "my gene, ");
    EXPECT_EQ(text.name(), "a'b, c   ");
    EXPECT_EQ(text.name(), "it's     ");
    EXPECT_EQ(text.name(), "r s      ");
}

TEST(DataFileNames, NullOrSlashLeavesTheBlankName) {
    Text text("G1\n/\n,\nG4\n");
    const std::vector<std::string> names = read_gene_names(text.reader(), 4);
    EXPECT_EQ(names,
              (std::vector<std::string>{"G1       ", "         ", "         ", "G4       "}));
}

TEST(DataFileNames, FullNamesKeepWhatTheFieldCuts) {
    Text text("2310002L13Rik\n'my gene, 2' rest\n/\nHLA-A\n");
    std::vector<std::string> full;
    const std::vector<std::string> names = read_gene_names(text.reader(), 4, &full);
    EXPECT_EQ(names,
              (std::vector<std::string>{"2310002L1", "my gene, ", "         ", "HLA-A    "}));
    EXPECT_EQ(full, (std::vector<std::string>{"2310002L13Rik", "my gene, 2", "", "HLA-A"}));
}

TEST(DataFileNames, BadQuotingIsAnInputError) {
    Text unclosed("'abc def\n");
    EXPECT_EQ(input_error_of([&] { unclosed.name(); }),
              "input error: \"'abc def\" has no closing quote (line 1), unit 7, file x.dat");
    Text trailing("'ab'cd ef\n");
    EXPECT_EQ(input_error_of([&] { trailing.name(); }),
              "input error: \"'ab'cd\" has text after its closing quote (line 1), unit 7, "
              "file x.dat");
}

class DataFileOpen : public ::testing::Test {
protected:
    netrevia::test_support::TempDir temp_{"netrevia-open"};
    const std::filesystem::path dir_ = temp_.path();
};

TEST_F(DataFileOpen, MissingFileOrEmptyPathIsFileNotFound) {
    const auto missing = dir_ / "missing.dat";
    EXPECT_EQ(input_error_of([&] { open_data_file(missing); }),
              "file not found, unit 7, file " + missing.string());
    EXPECT_EQ(input_error_of([&] { open_data_file(dir_ / "missing.dat" / "x.dat"); }),
              "file not found, unit 7, file " + (dir_ / "missing.dat" / "x.dat").string());
    EXPECT_EQ(input_error_of([] { open_data_file(""); }), "file not found, unit 7, file ");
}

TEST_F(DataFileOpen, DirectoryIsAnInputErrorNamingTheReason) {
    EXPECT_EQ(
        input_error_of([&] { open_data_file(dir_); }),
        "input error: cannot open the file: it is a directory, unit 7, file " + dir_.string());
}

TEST_F(DataFileOpen, UnreadableFileIsAnInputErrorNamingTheReason) {
    const auto file = dir_ / "locked.dat";
    std::ofstream(file) << "1\n";
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (std::ifstream(file).is_open()) GTEST_SKIP() << "running with rights to read any file";
    EXPECT_EQ(
        input_error_of([&] { open_data_file(file); }),
        "input error: cannot open the file: Permission denied, unit 7, file " + file.string());
}

// Only what ends can be read: a device or a FIFO is refused by its kind (a FIFO without a
// writer would block the open itself), also behind a link; a link to a regular file is read.
TEST_F(DataFileOpen, OnlyRegularFilesAreReadAfterFollowingLinks) {
    const auto prefix = "input error: cannot open the file: it is ";
    EXPECT_EQ(
        input_error_of([] { open_data_file("/dev/null"); }),
        std::string(prefix) + "a character device, not a regular file, unit 7, file /dev/null");
    const auto fifo = dir_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(input_error_of([&] { open_data_file(fifo); }),
              std::string(prefix) + "a named pipe (FIFO), not a regular file, unit 7, file " +
                  fifo.string());
    const auto link = dir_ / "link.dat";
    std::filesystem::create_symlink("/dev/zero", link);
    EXPECT_EQ(input_error_of([&] { open_data_file(link); }),
              std::string(prefix) + "a character device, not a regular file, unit 7, file " +
                  link.string());
    std::filesystem::remove(link);
    std::ofstream(dir_ / "real.dat") << "1\n";
    std::filesystem::create_symlink(dir_ / "real.dat", link);
    EXPECT_EQ(input_error_of([&] { open_data_file(link); }), "no InputError");
}

// UTF-16 and UTF-32 text is recognised by its byte-order mark (UTF-32 LE before the UTF-16 LE
// mark it starts with); UTF-8 with its mark and plain text open as usual.
TEST_F(DataFileOpen, UnicodeByteOrderMarksAskForUtf8) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {std::string("\xff\xfe\0\0K\0\0\0", 8), "UTF-32 (little-endian)"},
        {std::string("\0\0\xfe\xff\0\0\0K", 8), "UTF-32 (big-endian)"},
        {std::string("\xff\xfeK\0\n\0", 6), "UTF-16 (little-endian)"},
        {std::string("\xfe\xff\0K", 4), "UTF-16 (big-endian)"},
        {"\xef\xbb\xbfK\n", ""},
        {"K", ""}};
    const auto file = dir_ / "encoded.dat";
    for (const auto& [bytes, encoding] : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        const std::string expected =
            encoding.empty()
                ? "no InputError"
                : "input error: the file is " + encoding +
                      " text; save it as UTF-8 or ASCII text, unit 7, file " + file.string();
        EXPECT_EQ(input_error_of([&] { open_data_file(file); }), expected) << encoding;
    }
    // The look at the first bytes leaves the stream at the start, short files included.
    std::ifstream in = open_data_file(file);
    EXPECT_EQ(in.get(), 'K');
}

// The layout functions on the example file of three genes and one dataset.
constexpr const char* kExample =
    "Number of datasets\n1\nNumber of genes\n3\nGene names\nG1\nG2\nG3\nSet1\nDataset 1\n"
    "Genes and time points\n3 3\nTime points\n0.0 1.0 2.0\nReserved\n1.0\n"
    "Expression values (log2)\n0.0 1.0 2.0\n1.0 1.0 0.0\n0.0 -1.0 0.0\nEND\n";

TEST(DataFileLayout, ReadsTheExampleInItsFixedOrder) {
    Text text(kExample);
    DataFileReader& reader = text.reader();
    const FileHeader header = read_file_header(reader);
    EXPECT_EQ(header.declared_count, 1);
    EXPECT_EQ(header.n, 3);
    EXPECT_EQ(read_gene_names(reader, 3),
              (std::vector<std::string>{"G1       ", "G2       ", "G3       "}));
    EXPECT_FALSE(is_end_marker(reader.read_marker()));
    const BlockHeader block = read_block_header(reader, header, 1);
    EXPECT_EQ(block.n, 3);
    EXPECT_EQ(block.T, 3);
    std::vector<double> t(3, 0.0);
    read_time_points(reader, 1, t);
    EXPECT_EQ(t, (std::vector<double>{0, 1, 2}));
    read_reserved_value(reader);
    const std::vector<std::vector<double>> rows{{0, 1, 2}, {1, 1, 0}, {0, -1, 0}};
    for (int i = 1; i <= 3; ++i) {
        std::vector<double> x(3, 0.0);
        read_expression_row(reader, 1, i, "G", x);
        EXPECT_EQ(x, rows[static_cast<std::size_t>(i - 1)]);
    }
    EXPECT_TRUE(is_end_marker(reader.read_marker()));
    EXPECT_EQ(reader.line_number(), 21);
}

TEST(DataFileLimits, HeaderRejectsNegativeCountsAndMoreThanTwoThousandGenes) {
    const auto header_of = [](const std::string& counts) {
        return rejection_of([&] {
            Text text(counts);
            read_file_header(text.reader());
        });
    };
    EXPECT_EQ(header_of("K'\n-1\n"),
              "data file x.dat, header: declared dataset count -1 is negative");
    EXPECT_EQ(header_of("K'\n1\nn\n-3\n"), "data file x.dat, header: gene count -3 is negative");
    EXPECT_EQ(header_of("K'\n1\nn\n2001\n"),
              "data file x.dat, header: gene count 2001 is above the limit of 2000");
    Text limit("K'\n0\nn\n2000\nnames\n");
    EXPECT_EQ(read_file_header(limit.reader()).n, 2000);
}

TEST(DataFileLimits, BlockCountIsCheckedBeforeTheBlockIsRead) {
    // Nothing follows the marker: a read would end in the end-of-file error.
    Text text("");
    EXPECT_EQ(rejection_of([&] {
                  read_block_header(text.reader(), {9, 2}, 5);
              }),
              "data file x.dat, dataset block 5: more than 4 dataset blocks");
    EXPECT_EQ(rejection_of([&] {
                  read_block_header(text.reader(), {2, 2}, 3);
              }),
              "data file x.dat, dataset block 3: more dataset blocks than the 2 declared in the "
              "header");
    EXPECT_EQ(rejection_of([&] {
                  read_block_header(text.reader(), {0, 2}, 1);
              }),
              "data file x.dat, dataset block 1: more dataset blocks than the 0 declared in the "
              "header");
}

// A null value for the block's gene count (",2", "1*,2") leaves the header's count, as a null
// leaves every value as it was.
TEST(DataFileLimits, NullBlockGeneCountIsTheHeaders) {
    for (const std::string counts : {",2", "1*,2", " , 2"}) {
        Text text("x\nx\n" + counts + "\nTime points\n0 1\n");
        const BlockHeader block = read_block_header(text.reader(), FileHeader{1, 3}, 1);
        EXPECT_EQ(block.n, 3) << counts;
        EXPECT_EQ(block.T, 2) << counts;
    }
}

TEST(DataFileLimits, BlockHeaderNeedsTheHeadersGeneCountAndTwoTimePoints) {
    const auto block_of = [](const std::string& counts) {
        return rejection_of([&] {
            Text text("a\nb\n" + counts + "\n");
            read_block_header(text.reader(), {4, 3}, 2);
        });
    };
    EXPECT_EQ(block_of("4 5"),
              "data file x.dat, dataset block 2: gene count 4 differs from the "
              "header's 3");
    EXPECT_EQ(block_of("3 1"), "data file x.dat, dataset block 2: time-point count 1 is below 2");
    EXPECT_EQ(block_of("3/"), "data file x.dat, dataset block 2: time-point count 0 is below 2");
    Text two("a\nb\n3 2\nTime points\n0 1\n");
    EXPECT_EQ(read_block_header(two.reader(), {4, 3}, 4).T, 2);
    // A block header claiming more time points than characters follow is refused at once.
    Text greedy("a\nb\n3 20\nTime points\n0 1\n");
    EXPECT_EQ(rejection_of([&] {
                  read_block_header(greedy.reader(), {4, 3}, 1);
              }),
              "data file x.dat, dataset block 1: time-point count 20 is more than the rest of "
              "the file can hold");
}

TEST(DataFileLimits, TimePointsMustIncreaseStrictly) {
    const auto times_of = [](const std::string& line, std::size_t T) {
        return rejection_of([&] {
            Text text("Time points\n" + line + "\n");  // nothing after: checked at once
            std::vector<double> t(T, 0.0);
            read_time_points(text.reader(), 3, t);
        });
    };
    EXPECT_EQ(times_of("0 1 1", 3),
              "data file x.dat, dataset block 3: time points are not "
              "strictly increasing: t(3) = 1 does not exceed t(2) = 1");
    EXPECT_EQ(times_of("2 1.5", 2),
              "data file x.dat, dataset block 3: time points are not "
              "strictly increasing: t(2) = 1.5 does not exceed t(1) = 2");
    // Cut short by a slash: the missing time point stays 0.
    EXPECT_EQ(times_of("1 2 /", 3),
              "data file x.dat, dataset block 3: time points are not "
              "strictly increasing: t(3) = 0 does not exceed t(2) = 2");
    EXPECT_EQ(times_of("-1 0 1e300", 3), "no rejection");
}

TEST(DataFileLimits, ExpressionValueWhoseLinearScaleOverflowsIsRejected) {
    const auto row_of = [](const std::string& line) {
        return rejection_of([&] {
            Text text(line + "\n");
            std::vector<double> x(3, 0.0);
            read_expression_row(text.reader(), 2, 7, "G7       ", x);
        });
    };
    EXPECT_EQ(row_of("0 1 1e4"),
              "data file x.dat, dataset block 2: expression value 10000 of gene "
              "7 (G7) at time point 3 is out of range: its linear scale 2^x is "
              "not finite");
    EXPECT_EQ(row_of("1024 0 0"),
              "data file x.dat, dataset block 2: expression value 1024 of gene "
              "7 (G7) at time point 1 is out of range: its linear scale 2^x is "
              "not finite");
    EXPECT_EQ(row_of("1023.99 -1e4 -1e308"), "no rejection");
}

}  // namespace
}  // namespace netrevia::inference
