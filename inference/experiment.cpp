#include "inference/experiment.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

#include "inference/data_file.h"
#include "numeric/matrix_ref.h"

namespace netrevia::inference {

namespace {

constexpr std::size_t kObservedPiece = std::size_t{1} << 16;

std::string unpadded(std::string_view field) {
    const std::size_t end = field.find_last_not_of(' ');
    return std::string(field.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string padded(std::string name) {
    name.resize(static_cast<std::size_t>(kNameLength), ' ');
    return name;
}

std::string format_number(double x) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
    return std::string(buffer, result.ptr);
}

}  // namespace

void check_course_values(const Course& course, std::span<const std::string> names) {
    const int T = course.T();
    const int n = static_cast<int>(names.size());
    const numeric::ConstMatrixRef Y{course.levels.data(), std::max(T, 1)};
    for (int i = 1; i <= n; ++i) {
        const std::string gene = "gene " + std::to_string(i) + " (" +
                                 escaped_text(unpadded(names[static_cast<std::size_t>(i - 1)])) +
                                 ")";
        for (int j = 1; j <= T; ++j) {
            if (std::isfinite(Y(j, i))) continue;
            throw DataFileRejected(course.origin + ": the level of " + gene + " at time point " +
                                   std::to_string(j) + " is not finite: " + format_number(Y(j, i)));
        }
        for (int j = 1; j < T; ++j) {
            // The rate exactly as the per-dataset solution forms it.
            const double h =
                course.t[static_cast<std::size_t>(j)] - course.t[static_cast<std::size_t>(j - 1)];
            const double rate = (Y(j + 1, i) - Y(j, i)) / h;
            if (std::isfinite(rate)) continue;
            throw DataFileRejected(course.origin + ": rate of change of " + gene +
                                   " from time point " + std::to_string(j) + " to " +
                                   std::to_string(j + 1) + " is not finite: (" +
                                   format_number(Y(j + 1, i)) + " - " + format_number(Y(j, i)) +
                                   ") / " + format_number(h) + " = " + format_number(rate));
        }
    }
}

// A sequence has at most three continuation bytes: a longer run of them is not UTF-8 and is cut
// at the limit (backing over all of it could leave nothing of the name).
std::string cut_utf8(std::string_view name, std::size_t limit) {
    if (name.size() <= limit) return std::string(name);
    std::size_t end = limit;
    while (end > 0 && limit - end < 3 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    if ((static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) end = limit;
    return std::string(name.substr(0, end));
}

std::vector<std::string> distinct_gene_names(std::vector<std::string> fields,
                                             std::span<const std::string> full_names,
                                             std::vector<std::string>& notes) {
    const std::size_t limit = static_cast<std::size_t>(kNameLength);
    // Groups of genes sharing a field, in the order of their first gene.
    std::map<std::string, std::vector<std::size_t>> uses;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::vector<std::size_t>& genes = uses[fields[i]];
        if (genes.empty()) order.push_back(fields[i]);
        genes.push_back(i);
    }
    std::set<std::string> taken;
    for (const auto& [field, genes] : uses) {
        if (genes.size() == 1) taken.insert(field);
    }
    for (const std::string& field : order) {
        const std::vector<std::size_t>& genes = uses[field];
        if (genes.size() < 2) continue;
        const std::string stem = unpadded(field);
        std::string note = "genes";
        int number = 0;
        for (const std::size_t i : genes) {
            std::string candidate;
            do {
                // Built by insertion: GCC 12 warns (-Wrestrict) wrongly on "~" + to_string().
                std::string ending = std::to_string(++number);
                ending.insert(ending.begin(), '~');
                candidate = padded(cut_utf8(stem, limit - std::min(limit, ending.size())) + ending);
            } while (taken.count(candidate) > 0);
            taken.insert(candidate);
            fields[i] = candidate;
            note += " " + (i < full_names.size() ? full_names[i] : stem) + " (" +
                    unpadded(candidate) + ")";
        }
        notes.push_back(note + " share their first " + std::to_string(limit) + " characters");
    }
    return fields;
}

ObservedStreamBuf::ObservedStreamBuf(std::streambuf& source,
                                     const std::filesystem::path& file,
                                     InputObserver& observer)
    : source_(source), observer_(observer), buffer_(kObservedPiece) {
    observer_.begin(file);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

void ObservedStreamBuf::report(std::streamoff start, std::size_t count) {
    const std::streamoff end = start + static_cast<std::streamoff>(count);
    if (start > seen_ || end <= seen_) return;  // a gap (never, reads are in order) or seen
    const std::size_t skip = static_cast<std::size_t>(seen_ - start);
    observer_.bytes(std::string_view(buffer_.data() + skip, count - skip));
    seen_ = end;
}

ObservedStreamBuf::int_type ObservedStreamBuf::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    buffer_start_ += egptr() - eback();
    const std::streamsize got =
        source_.sgetn(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (got <= 0) {
        setg(buffer_.data(), buffer_.data(), buffer_.data());
        return traits_type::eof();
    }
    report(buffer_start_, static_cast<std::size_t>(got));
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(*gptr());
}

ObservedStreamBuf::pos_type ObservedStreamBuf::seekoff(off_type off,
                                                       std::ios_base::seekdir dir,
                                                       std::ios_base::openmode which) {
    const std::streamoff here = buffer_start_ + (gptr() - eback());
    if (dir == std::ios_base::cur) {
        if (off == 0) return pos_type(here);
        return seekpos(pos_type(here + off), which);
    }
    const pos_type target = source_.pubseekoff(off, dir, std::ios_base::in);
    if (target == pos_type(off_type(-1))) return target;
    buffer_start_ = std::streamoff(target);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return target;
}

ObservedStreamBuf::pos_type ObservedStreamBuf::seekpos(pos_type pos, std::ios_base::openmode) {
    const pos_type target = source_.pubseekpos(pos, std::ios_base::in);
    if (target == pos_type(off_type(-1))) return target;
    buffer_start_ = std::streamoff(target);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return target;
}

void ObservedStreamBuf::finish() {
    if (finished_) return;
    finished_ = true;
    // The rest of the same open file, from the first byte not yet reported.
    if (source_.pubseekpos(pos_type(seen_), std::ios_base::in) == pos_type(seen_)) {
        buffer_start_ = seen_;
        for (;;) {
            const std::streamsize got =
                source_.sgetn(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
            if (got <= 0) break;
            report(buffer_start_, static_cast<std::size_t>(got));
            buffer_start_ += got;
        }
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    observer_.end();
}

}  // namespace netrevia::inference
