#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace netrevia::inference {

// One time course: T time points t(1..T), strictly increasing, and the levels of the n genes on
// the linear scale, T x n column-major with stride T (row = time point, column = gene), the
// shape in which the per-dataset solution and the estimators take them.
struct Course {
    std::vector<double> t;
    std::vector<double> levels;
    // Where the course was read, as the messages about it begin: "data file <path>, dataset
    // block 2" for a data file, "file <path>, course 2" for a table.
    std::string origin;

    int T() const noexcept { return static_cast<int>(t.size()); }
};

// The genes of one experiment followed through one or more time courses: what the data-file
// reader and the table reader both produce, and what every engine and export takes.
struct Experiment {
    // The input as messages about the whole experiment begin: "data file <path>", "file <path>".
    std::string origin;
    // The names as the input spells them, any length; the exports show these.
    std::vector<std::string> full_names;
    // The same genes in fields of exactly kNameLength characters (cut, blank-padded), all
    // distinct: GRN.dot names its nodes by them and GRN.dat's rows follow their order.
    std::vector<std::string> gene_names;
    // One note per group of genes whose fields were made distinct (see distinct_gene_names).
    std::vector<std::string> renamed;
    // The dataset count a data file declares in its header (K'); it sizes the stores of the
    // exact and fast engines. A table's experiment declares its course count.
    int declared_count = 0;
    std::vector<Course> courses;

    int n() const noexcept { return static_cast<int>(gene_names.size()); }
    int K() const noexcept { return static_cast<int>(courses.size()); }
};

// The first limit bytes of name, cut before a UTF-8 sequence rather than inside it.
std::string cut_utf8(std::string_view name, std::size_t limit);

// fields[i] (the gene's name cut to kNameLength characters and blank-padded, as the input's own
// rule gives it) made distinct: where two or more genes would share a field, whether their full
// names agree in the first kNameLength characters or differ only by trailing blanks, each of
// them ends in "~1", "~2", ... within the field instead (cut before a UTF-8 sequence, and never
// equal to another gene's field). Fields without a clash stay exactly as they are, so inputs
// without clashes keep every byte of their results. Each group renamed adds one note to notes:
// "genes <full> (<field>) ... share their first 9 characters", the fields shown unpadded.
std::vector<std::string> distinct_gene_names(std::vector<std::string> fields,
                                             std::span<const std::string> full_names,
                                             std::vector<std::string>& notes);

// Rejects the course (DataFileRejected, "<origin>: <what>") when a level is not finite or a rate
// of change (Y(j+1, i) - Y(j, i)) / (t(j+1) - t(j)), formed as the per-dataset solution forms
// it, is not, naming the gene (its field in names) and the time points.
void check_course_values(const Course& course, std::span<const std::string> names);

// Sees the bytes of an input file as a reader takes them, each byte once and in file order,
// whatever the reader's seeks, and then the rest of the file once the reading is done: so that
// a caller can hash exactly what the run read, from the file it had open.
class InputObserver {
public:
    virtual ~InputObserver() = default;
    virtual void begin(const std::filesystem::path& file) = 0;
    virtual void bytes(std::string_view chunk) = 0;
    virtual void end() = 0;
};

// A read-only stream buffer over another one (an opened file's), reporting to an observer every
// byte the first time it is read. Seeks are passed on to the source; reading again what was
// seen before reports nothing. finish() reads what is left of the source after the reader is
// done, reports it and then calls the observer's end().
class ObservedStreamBuf : public std::streambuf {
public:
    ObservedStreamBuf(std::streambuf& source,
                      const std::filesystem::path& file,
                      InputObserver& observer);
    void finish();

protected:
    int_type underflow() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override;

private:
    void report(std::streamoff start, std::size_t count);

    std::streambuf& source_;
    InputObserver& observer_;
    std::vector<char> buffer_;
    std::streamoff buffer_start_ = 0;  // file offset of buffer_[0]
    std::streamoff seen_ = 0;          // bytes [0, seen_) have been reported
    bool finished_ = false;
};

}  // namespace netrevia::inference
