#include "inference/regulators.h"

#include <fstream>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "inference/data_file.h"
#include "inference/input_error.h"

namespace netrevia::inference {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The line without its comment: from a '#' at the start or after a blank or tab.
std::string_view without_comment(std::string_view line) {
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '#' && (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t'))
            return line.substr(0, at);
    }
    return line;
}

}  // namespace

std::vector<std::string> parse_regulator_list(std::istream& in, const std::filesystem::path& file) {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    std::string line;
    long long number = 0;
    // Line by line, each bounded: a file without line ends cannot take all memory.
    while (in.peek() != std::char_traits<char>::eof()) {
        ++number;
        line.clear();
        int c = 0;
        while ((c = in.get()) != std::char_traits<char>::eof() && c != '\n') {
            if (line.size() == kMaxRegulatorLine) {
                throw InputError("input error: line " + std::to_string(number) +
                                     " is longer than " + std::to_string(kMaxRegulatorLine) +
                                     " bytes; a list of regulators holds one name per line",
                                 kRegulatorListUnit, file);
            }
            line.push_back(static_cast<char>(c));
        }
        std::string_view text(line);
        if (number == 1 && text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);
        if (text.ends_with('\r')) text.remove_suffix(1);
        const std::string_view name = trimmed(without_comment(text));
        if (name.empty()) continue;
        if (seen.emplace(name).second) names.emplace_back(name);
    }
    if (in.bad())
        throw InputError("input error: the file could not be read", kRegulatorListUnit, file);
    return names;
}

std::vector<std::string> read_regulator_list(const std::filesystem::path& file,
                                             InputObserver* observer) {
    std::ifstream in = open_input_file(file, kRegulatorListUnit);
    if (observer == nullptr) return parse_regulator_list(in, file);
    ObservedStreamBuf observed(*in.rdbuf(), file, *observer);
    std::istream observed_in(&observed);
    std::vector<std::string> names = parse_regulator_list(observed_in, file);
    observed.finish();
    return names;
}

RegulatorMatch match_regulators(std::span<const std::string> full_names,
                                std::span<const std::string> listed) {
    std::unordered_map<std::string_view, std::vector<std::size_t>> genes_of;
    for (std::size_t g = 0; g < full_names.size(); ++g)
        genes_of[trimmed(full_names[g])].push_back(g);
    RegulatorMatch match;
    match.mask.assign(full_names.size(), 0);
    for (const std::string& name : listed) {
        const auto found = genes_of.find(trimmed(name));
        if (found == genes_of.end()) {
            match.unknown.push_back(name);
            continue;
        }
        for (const std::size_t g : found->second) {
            if (match.mask[g] == 0) ++match.genes;
            match.mask[g] = 1;
        }
    }
    return match;
}

}  // namespace netrevia::inference
