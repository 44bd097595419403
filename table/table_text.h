#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "table/expression_table.h"

// The text layer of the table reader: opening a table, its characters (decoded, with one kind
// of line end), its fields and records, and the memory the reader may hold. Every failure
// throws TableError.
namespace netrevia::table {

// A field may hold at most this many characters (the data-file reader's token limit).
inline constexpr std::size_t kMaxFieldLength = std::size_t{1} << 20;

// Text from a table as a message shows it: control characters and NUL bytes escaped as \xHH,
// as the data-file reader shows them, and cut after 40 characters with "...".
std::string shown(std::string_view text);

// Throws TableError("file <file>, line <L>, column <C>: <what>").
[[noreturn]] void fail(const std::filesystem::path& file, Place at, const std::string& what);

// Opens a table for reading. Like the data-file reader, it reads only regular files (after
// following links): a directory, a FIFO (whose open would wait for a writer) or a device
// (/dev/zero never ends) is refused, naming its kind, before it is opened. Throws TableError
// "file <path>: cannot open the table: <reason>".
std::ifstream open_table(const std::filesystem::path& file);

// What the reader holds of the tables, against a limit in bytes. Every array that grows with
// the file takes its bytes from here before it is allocated; a reader that would go beyond
// the limit stops with the place it had reached.
class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
    // The place named when the budget runs out.
    void at(const std::filesystem::path& file, long long line) {
        file_ = &file;
        line_ = line;
    }
    // Throws TableError "...: holding the tables up to here takes X, more than the memory
    // budget of Y" when bytes more would exceed the limit.
    void take(std::uint64_t bytes);
    void give_back(std::uint64_t bytes) noexcept { used_ -= bytes < used_ ? bytes : used_; }
    std::uint64_t used() const noexcept { return used_; }

private:
    std::uint64_t limit_;
    std::uint64_t used_ = 0;
    const std::filesystem::path* file_ = nullptr;
    long long line_ = 1;
};

// Appends value to v; when v must grow, the larger array is taken from the budget before it
// is made, and the old one given back once it is gone.
template <class T>
void append(std::vector<T>& v, T value, MemoryBudget& budget) {
    if (v.size() == v.capacity()) {
        const std::size_t old_capacity = v.capacity();
        const std::size_t capacity = old_capacity < 8 ? 8 : old_capacity * 2;
        budget.take(static_cast<std::uint64_t>(capacity) * sizeof(T));
        v.reserve(capacity);
        budget.give_back(static_cast<std::uint64_t>(old_capacity) * sizeof(T));
    }
    v.push_back(std::move(value));
}

// The bytes a vector holds (for giving them back).
template <class T>
std::uint64_t bytes_of(const std::vector<T>& v) {
    return static_cast<std::uint64_t>(v.capacity()) * sizeof(T);
}

// The characters of one table, read in pieces from a stream or from memory. The encoding is
// UTF-8 (a byte-order mark is dropped) or UTF-16 with its byte-order mark (what spreadsheets
// save as "Unicode text"), which comes out as UTF-8; a UTF-32 mark is refused. Every line end
// comes out as '\n': LF and CR LF, and a lone CR when the first line end of the text is a lone
// CR (old spreadsheets); otherwise a lone CR is an ordinary character.
class TableText {
public:
    static constexpr int kEnd = -1;

    TableText(std::istream& in, const std::filesystem::path& file);
    TableText(std::string_view text, const std::filesystem::path& file);
    TableText(const TableText&) = delete;
    TableText& operator=(const TableText&) = delete;

    int get() {
        const int c = peek();
        peeked_ = kNone;
        return c;
    }
    int peek() {
        if (peeked_ == kNone) peeked_ = next();
        return peeked_;
    }
    // Back to the first character.
    void rewind();

private:
    static constexpr int kNone = -2;
    enum class Encoding { kUtf8, kUtf16Le, kUtf16Be };
    enum class LineEnds { kUnknown, kLf, kCr };

    int next();
    int raw() {
        if (at_ == window_.size() && !refill()) return kEnd;
        return static_cast<unsigned char>(window_[at_++]);
    }
    int raw_peek() {
        if (at_ == window_.size() && !refill()) return kEnd;
        return static_cast<unsigned char>(window_[at_]);
    }
    bool refill();
    std::string_view read_piece();
    void start();
    void decode_utf16(std::string_view bytes);
    [[noreturn]] void encoding_error(const std::string& what) const;

    std::istream* in_ = nullptr;
    std::string_view memory_;
    std::filesystem::path file_;
    std::size_t memory_at_ = 0;
    std::string piece_;        // bytes as read from the stream
    std::string decoded_;      // UTF-8 from UTF-16
    std::string_view window_;  // characters not yet taken are window_[at_..]
    std::size_t at_ = 0;
    Encoding encoding_ = Encoding::kUtf8;
    LineEnds line_ends_ = LineEnds::kUnknown;
    int odd_byte_ = -1;            // UTF-16: first byte of a code unit split between pieces
    unsigned high_surrogate_ = 0;  // UTF-16: waiting for its low surrogate
    bool invalid_ = false;         // UTF-16: the text breaks off at the end of decoded_
    long long lines_ = 1;          // line of the next character, for encoding errors
    int peeked_ = kNone;
};

// Tab, then comma, then semicolon, whichever occurs outside quotes on the first line that
// holds anything (in that order of preference); ' ' (runs of blanks) when it holds none; ','
// for a text without such a line. Reads that line and rewinds the text.
char detect_delimiter(TableText& text);

// One field as read: without its quotes (a doubled quote stands for one) and without the
// blanks around it.
struct Field {
    std::string text;     // only when the caller asked to keep it
    bool quoted = false;  // written in quotes ("" is a field, an empty unquoted one may not be)
    bool empty = true;    // unquoted and holds nothing but blanks
};

// Records of a delimited text, field by field. Fields may be quoted with " (delimiters and
// line ends inside quotes belong to the field; blanks may stand before the opening quote and
// after the closing one). With delimiter ' ', runs of blanks and tabs separate fields and
// trailing blanks make no field. A record that holds nothing (no delimiter, no quote, only
// blanks) is blank. Memory: the field being read, at most kMaxFieldLength characters; fields
// the caller does not keep are passed over without being held.
class FieldReader {
public:
    // blank_records: next_record stops at blank records too (they have no fields).
    FieldReader(TableText& text,
                const std::filesystem::path& file,
                char delimiter,
                bool blank_records = false);

    // Moves to the next record that is not blank, passing over the rest of the current one;
    // false at the end of the text.
    bool next_record();
    // Line where the current record starts (a quoted field may carry it over several).
    long long line() const noexcept { return record_line_; }
    // Blank records were passed over on the way to the current record.
    bool blank_before() const noexcept { return blank_before_; }
    // The first field of the current record, kept, until next_field hands it out.
    const Field& first_field() const noexcept { return first_; }
    // The next field of the current record (its text stored when keep); false when the record
    // has no more.
    bool next_field(Field& field, bool keep);

private:
    void read_field(Field& field, bool keep);
    void keep_char(Field& field, char c, int column) const;

    TableText& text_;
    std::filesystem::path file_;
    char delimiter_;
    long long line_ = 1;
    long long record_line_ = 0;
    int fields_ = 0;  // fields read of the current record
    bool record_done_ = true;
    bool have_first_ = false;  // first_ is the record's first field, not yet handed out
    bool blank_before_ = false;
    bool blank_records_;
    Field first_;
    std::string blanks_;  // blanks inside an unquoted field, kept once text follows
};

}  // namespace netrevia::table
