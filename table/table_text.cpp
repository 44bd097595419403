#include "table/table_text.h"

#include <cerrno>
#include <system_error>

#include "inference/run.h"

namespace netrevia::table {

namespace {

namespace fs = std::filesystem;

// The stream is read in pieces of this size; UTF-16 is decoded piece by piece.
constexpr std::size_t kPiece = std::size_t{1} << 16;
constexpr std::size_t kMaxShown = 40;

std::string kind_of(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory:
            return "a directory";
        case fs::file_type::fifo:
            return "a named pipe (FIFO)";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        case fs::file_type::socket:
            return "a socket";
        default:
            return "a special file";
    }
}

void put_utf8(std::string& out, unsigned code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

}  // namespace

std::string shown(std::string_view text) {
    constexpr std::string_view kHex = "0123456789abcdef";
    std::size_t length = text.size();
    if (length > kMaxShown) {
        length = kMaxShown;  // cut before a UTF-8 sequence rather than inside it
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::string out;
    for (const char c : text.substr(0, length)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    if (length < text.size()) out += "...";
    return out;
}

void fail(const fs::path& file, Place at, const std::string& what) {
    throw TableError("file " + file.string() + ", line " + std::to_string(at.line) + ", column " +
                     std::to_string(at.column) + ": " + what);
}

std::ifstream open_table(const fs::path& file) {
    const std::string cannot = "file " + file.string() + ": cannot open the table: ";
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (file.empty() || status.type() == fs::file_type::not_found) {
        throw TableError(cannot + "no such file");
    }
    if (error) throw TableError(cannot + error.message());
    // Only a regular file ends: /dev/zero never does, a FIFO without a writer blocks the open,
    // a terminal waits for typing. The kind is that of the link's target.
    if (status.type() != fs::file_type::regular) {
        const bool directory = status.type() == fs::file_type::directory;
        throw TableError(cannot + "it is " + kind_of(status.type()) +
                         (directory ? "" : ", not a regular file"));
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        const int reason = errno;
        throw TableError(cannot + (reason != 0 ? std::generic_category().message(reason)
                                               : std::string("reason unknown")));
    }
    return in;
}

void MemoryBudget::take(std::uint64_t bytes) {
    if (used_ <= limit_ && bytes <= limit_ - used_) {
        used_ += bytes;
        return;
    }
    const std::string what = "holding the tables up to here takes " +
                             inference::format_size(used_ + bytes) +
                             ", more than the memory budget of " + inference::format_size(limit_);
    if (file_ == nullptr) throw TableError(what);
    fail(*file_, {line_, 1}, what);
}

TableText::TableText(std::istream& in, const fs::path& file) : in_(&in), file_(file) { start(); }

TableText::TableText(std::string_view text, const fs::path& file) : memory_(text), file_(file) {
    start();
}

void TableText::rewind() {
    if (in_ != nullptr) {
        in_->clear();
        in_->seekg(0);
    }
    memory_at_ = 0;
    window_ = {};
    at_ = 0;
    encoding_ = Encoding::kUtf8;
    line_ends_ = LineEnds::kUnknown;
    odd_byte_ = -1;
    high_surrogate_ = 0;
    invalid_ = false;
    lines_ = 1;
    peeked_ = kNone;
    start();
}

void TableText::encoding_error(const std::string& what) const { fail(file_, {lines_, 1}, what); }

std::string_view TableText::read_piece() {
    if (in_ == nullptr) {
        const std::string_view piece = memory_.substr(memory_at_, kPiece);
        memory_at_ += piece.size();
        return piece;
    }
    piece_.resize(kPiece);
    errno = 0;
    in_->read(piece_.data(), static_cast<std::streamsize>(piece_.size()));
    if (in_->bad()) {
        const int reason = errno;
        throw TableError("file " + file_.string() + ": read error" +
                         (reason != 0 ? ": " + std::generic_category().message(reason) : ""));
    }
    piece_.resize(static_cast<std::size_t>(in_->gcount()));
    return piece_;
}

// The byte-order mark decides the encoding. A UTF-32 text is refused: every other character
// would be NUL.
void TableText::start() {
    std::string_view piece = read_piece();
    const char* refused = nullptr;
    if (piece.starts_with(std::string_view("\xff\xfe\0\0", 4))) {
        refused = "UTF-32 (little-endian)";
    } else if (piece.starts_with(std::string_view("\0\0\xfe\xff", 4))) {
        refused = "UTF-32 (big-endian)";
    }
    if (refused != nullptr) {
        fail(file_, {1, 1},
             std::string("the table is ") + refused +
                 " text; save it as UTF-8 text (or as UTF-16, \"Unicode text\")");
    }
    if (piece.starts_with("\xEF\xBB\xBF")) {
        window_ = piece.substr(3);
    } else if (piece.starts_with("\xff\xfe") || piece.starts_with("\xfe\xff")) {
        encoding_ = piece[0] == '\xff' ? Encoding::kUtf16Le : Encoding::kUtf16Be;
        decode_utf16(piece.substr(2));
        window_ = decoded_;
    } else {
        window_ = piece;
    }
    at_ = 0;
}

bool TableText::refill() {
    if (encoding_ == Encoding::kUtf8) {
        window_ = read_piece();
        at_ = 0;
        return !window_.empty();
    }
    if (invalid_) {
        encoding_error(
            "the table is not valid UTF-16 text (a surrogate outside its pair); save it again "
            "as UTF-8 or UTF-16 text");
    }
    for (;;) {
        const std::string_view piece = read_piece();
        if (piece.empty()) {
            if (odd_byte_ >= 0 || high_surrogate_ != 0)
                encoding_error("the UTF-16 text ends inside a character");
            return false;
        }
        decode_utf16(piece);
        window_ = decoded_;
        at_ = 0;
        if (!window_.empty()) return true;
    }
}

// UTF-16 code units to UTF-8; a unit split between pieces and a high surrogate waiting for its
// low one carry over to the next piece. A surrogate out of its pair ends the reading where it
// stands, once the characters before it are taken.
void TableText::decode_utf16(std::string_view bytes) {
    decoded_.clear();
    const bool little = encoding_ == Encoding::kUtf16Le;
    auto unit = [little](unsigned first, unsigned second) {
        return little ? first | (second << 8) : (first << 8) | second;
    };
    auto put = [this](unsigned u) {
        if (high_surrogate_ != 0) {
            if (u < 0xDC00 || u > 0xDFFF) return false;
            put_utf8(decoded_, 0x10000 + ((high_surrogate_ - 0xD800) << 10) + (u - 0xDC00));
            high_surrogate_ = 0;
            return true;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            high_surrogate_ = u;
            return true;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) return false;
        put_utf8(decoded_, u);
        return true;
    };
    std::size_t i = 0;
    bool valid = true;
    if (odd_byte_ >= 0 && !bytes.empty()) {
        valid = put(unit(static_cast<unsigned>(odd_byte_), static_cast<unsigned char>(bytes[0])));
        odd_byte_ = -1;
        i = 1;
    }
    for (; valid && i + 1 < bytes.size(); i += 2) {
        valid = put(
            unit(static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1])));
    }
    if (!valid) {
        invalid_ = true;  // what came before is delivered; the next refill reports the fault
        return;
    }
    if (i < bytes.size()) odd_byte_ = static_cast<unsigned char>(bytes[i]);
}

int TableText::next() {
    const int c = raw();
    if (c == '\r') {
        const int after = raw_peek();
        if (after == '\n') {
            raw();
            if (line_ends_ == LineEnds::kUnknown) line_ends_ = LineEnds::kLf;
            ++lines_;
            return '\n';
        }
        if (after == kEnd) {
            ++lines_;
            return '\n';
        }
        if (line_ends_ == LineEnds::kUnknown) line_ends_ = LineEnds::kCr;
        if (line_ends_ == LineEnds::kCr) {
            ++lines_;
            return '\n';
        }
        return '\r';
    }
    if (c == '\n') {
        if (line_ends_ == LineEnds::kUnknown) line_ends_ = LineEnds::kLf;
        ++lines_;
    }
    return c;
}

char detect_delimiter(TableText& text) {
    for (;;) {
        bool anything = false, quoted = false, tab = false, comma = false, semicolon = false;
        int c = 0;
        while ((c = text.get()) != TableText::kEnd && c != '\n') {
            anything = anything || (c != ' ' && c != '\t' && c != '\r');
            if (c == '"') quoted = !quoted;
            if (quoted) continue;
            tab = tab || c == '\t';
            comma = comma || c == ',';
            semicolon = semicolon || c == ';';
        }
        if (anything || c == TableText::kEnd) {
            text.rewind();
            if (!anything) return ',';
            return tab ? '\t' : comma ? ',' : semicolon ? ';' : ' ';
        }
    }
}

FieldReader::FieldReader(TableText& text, const fs::path& file, char delimiter, bool blank_records)
    : text_(text), file_(file), delimiter_(delimiter), blank_records_(blank_records) {}

bool FieldReader::next_record() {
    Field rest;
    while (!record_done_) read_field(rest, false);
    have_first_ = false;
    blank_before_ = false;
    while (text_.peek() != TableText::kEnd) {
        record_line_ = line_;
        fields_ = 0;
        record_done_ = false;
        read_field(first_, true);
        if (record_done_ && fields_ == 1 && !first_.quoted && first_.empty) {
            if (blank_records_) return true;  // no field to hand out
            blank_before_ = true;
            continue;
        }
        have_first_ = true;
        return true;
    }
    return false;
}

bool FieldReader::next_field(Field& field, bool keep) {
    if (have_first_) {
        have_first_ = false;
        std::swap(field, first_);
        return true;
    }
    if (record_done_) return false;
    read_field(field, keep);
    // Blank-separated fields: trailing blanks are no field.
    return !(delimiter_ == ' ' && !field.quoted && field.empty);
}

void FieldReader::keep_char(Field& field, char c, int column) const {
    if (field.text.size() >= kMaxFieldLength) {
        fail(file_, {record_line_, column},
             "a field longer than " + std::to_string(kMaxFieldLength) + " characters");
    }
    field.text += c;
}

void FieldReader::read_field(Field& field, bool keep) {
    const bool by_blanks = delimiter_ == ' ';
    const int column = ++fields_;
    field.text.clear();
    field.quoted = false;
    field.empty = true;
    auto is_blank = [this](int c) { return (c == ' ' || c == '\t') && c != delimiter_; };
    if (by_blanks) {
        while (text_.peek() == ' ' || text_.peek() == '\t') text_.get();
    }
    while (is_blank(text_.peek())) text_.get();  // blanks before an opening quote
    if (text_.peek() == '"') {
        text_.get();
        field.quoted = true;
        field.empty = false;
        const Place open{line_, column};
        for (;;) {
            int c = text_.get();
            if (c == TableText::kEnd) fail(file_, open, "a quoted field is not closed");
            if (c == '"') {
                if (text_.peek() != '"') break;
                text_.get();
            } else if (c == '\n') {
                ++line_;
            }
            if (keep) keep_char(field, static_cast<char>(c), column);
        }
        // Blanks before the delimiter; with blank-separated fields they are it.
        if (!by_blanks) {
            while (is_blank(text_.peek())) text_.get();
        }
        const int c = text_.peek();
        const bool separator = c == delimiter_ || (by_blanks && c == '\t');
        if (c != TableText::kEnd && !separator && c != '\n') {
            fail(file_, {line_, column}, "text after the closing quote of a field");
        }
    } else {
        // Blanks inside the field stay; those at its end are dropped.
        blanks_.clear();
        for (;;) {
            const int c = text_.peek();
            if (c == TableText::kEnd || c == '\n' || c == delimiter_ || (by_blanks && c == '\t'))
                break;
            text_.get();
            if (c == ' ' || c == '\t') {
                if (keep && !field.empty) {
                    if (field.text.size() + blanks_.size() >= kMaxFieldLength)
                        keep_char(field, ' ', column);  // fails: the field is too long
                    blanks_ += static_cast<char>(c);
                }
                continue;
            }
            if (keep) {
                field.text += blanks_;
                keep_char(field, static_cast<char>(c), column);
            }
            blanks_.clear();
            field.empty = false;
        }
    }
    if (by_blanks) {
        while (text_.peek() == ' ' || text_.peek() == '\t' || text_.peek() == '\r') text_.get();
    }
    const int c = text_.peek();
    if (c == TableText::kEnd) {
        record_done_ = true;
    } else if (c == '\n') {
        text_.get();
        ++line_;
        record_done_ = true;
    } else if (c == delimiter_) {
        text_.get();
    }
}

}  // namespace netrevia::table
