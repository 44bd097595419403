#pragma once

// Test helper: a data file written out as each table layout, with its log2 values in the
// shortest text that reads back exactly, so that importing the tables again must reproduce the
// data file's numbers bit for bit.

#include <charconv>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "inference/data_file.h"

namespace netrevia::table::testing {

struct Course {
    std::vector<double> t;
    std::vector<std::vector<double>> x;  // x[i][j]: gene i at t[j]
};

struct DataFileContent {
    std::vector<std::string> names;  // trailing blanks removed
    std::vector<Course> courses;
};

inline DataFileContent read_data_file(const std::filesystem::path& file) {
    std::ifstream in = inference::open_data_file(file);
    inference::DataFileReader reader(in, file);
    const inference::FileHeader header = inference::read_file_header(reader);
    DataFileContent content;
    for (std::string name : inference::read_gene_names(reader, header.n)) {
        name.erase(name.find_last_not_of(' ') + 1);
        content.names.push_back(name);
    }
    for (int k = 1; !inference::is_end_marker(reader.read_marker()); ++k) {
        const inference::BlockHeader block = inference::read_block_header(reader, header, k);
        Course c;
        c.t.assign(static_cast<std::size_t>(block.T), 0.0);
        inference::read_time_points(reader, k, c.t);
        inference::read_reserved_value(reader);
        for (int i = 1; i <= block.n; ++i) {
            c.x.emplace_back(c.t.size(), 0.0);
            inference::read_expression_row(reader, k, i, content.names[std::size_t(i - 1)],
                                           c.x.back());
        }
        content.courses.push_back(std::move(c));
    }
    return content;
}

inline std::string text(double v) {
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

// One CSV per course, genes in rows; course k > 1 lists its genes in reverse order.
inline std::vector<std::string> wide_genes_in_rows(const DataFileContent& d) {
    std::vector<std::string> tables;
    for (std::size_t k = 0; k < d.courses.size(); ++k) {
        const Course& c = d.courses[k];
        std::ostringstream out;
        out << "gene";
        for (double t : c.t) out << "," << text(t);
        out << "\n";
        for (std::size_t m = 0; m < d.names.size(); ++m) {
            const std::size_t i = k == 0 ? m : d.names.size() - 1 - m;
            out << d.names[i];
            for (double v : c.x[i]) out << "," << text(v);
            out << "\n";
        }
        tables.push_back(out.str());
    }
    return tables;
}

// Time points in rows, one row per time point; as one TSV per course (wide) or as one DREAM
// file with the courses separated by blank lines.
inline std::string times_in_rows(const DataFileContent& d,
                                 std::size_t first,
                                 std::size_t last,
                                 const std::string& time_label) {
    std::ostringstream out;
    out << time_label;
    for (const std::string& name : d.names) out << "\t" << name;
    out << "\n";
    for (std::size_t k = first; k < last; ++k) {
        if (k > first) out << "\n";
        const Course& c = d.courses[k];
        for (std::size_t j = 0; j < c.t.size(); ++j) {
            out << text(c.t[j]);
            for (std::size_t i = 0; i < d.names.size(); ++i) out << "\t" << text(c.x[i][j]);
            out << "\n";
        }
    }
    return out.str();
}

// One long table, course by course, its time points from the last to the first.
inline std::string long_table(const DataFileContent& d) {
    std::ostringstream out;
    out << "gene,course,time,value\n";
    for (std::size_t k = 0; k < d.courses.size(); ++k) {
        for (std::size_t j = d.courses[k].t.size(); j-- > 0;) {
            for (std::size_t i = 0; i < d.names.size(); ++i) {
                out << d.names[i] << ",c" << k + 1 << "," << text(d.courses[k].t[j]) << ","
                    << text(d.courses[k].x[i][j]) << "\n";
            }
        }
    }
    return out.str();
}

}  // namespace netrevia::table::testing
