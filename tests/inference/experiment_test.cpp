#include "inference/experiment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inference/data_file.h"
#include "inference/run.h"
#include "support/support.h"

namespace netrevia::inference {
namespace {

std::vector<std::string> fields_of(const std::vector<std::string>& names) {
    std::vector<std::string> fields;
    for (const std::string& name : names) {
        std::string field = name.substr(0, std::min<std::size_t>(name.size(), kNameLength));
        field.resize(kNameLength, ' ');
        fields.push_back(field);
    }
    return fields;
}

// Clashes by the first nine characters and by trailing blanks alone are both renamed, every
// member of a group, in gene order, never onto another gene's field; genes without a clash
// keep their field byte for byte, as the notes say nothing of them.
TEST(DistinctGeneNames, RenamesEveryClashWithinTheFieldAndNothingElse) {
    const std::vector<std::string> full{"regulator_alpha",
                                        "G1",
                                        "regulator_beta",
                                        "G1 ",
                                        "regulat~1",
                                        "x",
                                        "regulator_gamma",
                                        "\xCE\x94\xCE\x94\xCE\x94\xCE\x94x1",
                                        "\xCE\x94\xCE\x94\xCE\x94\xCE\x94x2"};
    std::vector<std::string> notes;
    const std::vector<std::string> fields = distinct_gene_names(fields_of(full), full, notes);
    EXPECT_EQ(fields,
              (std::vector<std::string>{
                  "regulat~2", "G1~1     ", "regulat~3", "G1~2     ", "regulat~1", "x        ",
                  "regulat~4", "\xCE\x94\xCE\x94\xCE\x94~1 ", "\xCE\x94\xCE\x94\xCE\x94~2 "}));
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "genes regulator_alpha (regulat~2) regulator_beta (regulat~3) "
                         "regulator_gamma (regulat~4) share their first 9 characters",
                         "genes G1 (G1~1) G1  (G1~2) share their first 9 characters",
                         "genes \xCE\x94\xCE\x94\xCE\x94\xCE\x94x1 (\xCE\x94\xCE\x94\xCE\x94~1) "
                         "\xCE\x94\xCE\x94\xCE\x94\xCE\x94x2 (\xCE\x94\xCE\x94\xCE\x94~2) share "
                         "their first 9 characters"}));

    std::vector<std::string> none;
    const std::vector<std::string> plain{"ABCDEFGHIJ", "ABCDEFGHI", "Q"};
    // ABCDEFGHIJ and ABCDEFGHI share the field ABCDEFGHI: a clash, unlike Q.
    EXPECT_EQ(distinct_gene_names(fields_of(plain), plain, none)[2], "Q        ");
    std::vector<std::string> quiet;
    const std::vector<std::string> apart{"ABCDEFGHIJ", "ABCDEFGH", "G1"};
    EXPECT_EQ(distinct_gene_names(fields_of(apart), apart, quiet), fields_of(apart));
    EXPECT_TRUE(quiet.empty());
}

// Records every byte of what the reader took, once and in order, although the reader seeks
// back (after the byte-order check, after measuring the rest of the file), and then the rest
// of the file behind the END line.
class Recorder : public InputObserver {
public:
    void begin(const std::filesystem::path& file) override {
        file_ = file;
        ++begun_;
    }
    void bytes(std::string_view chunk) override { seen_.append(chunk); }
    void end() override { ++ended_; }

    std::filesystem::path file_;
    std::string seen_;
    int begun_ = 0;
    int ended_ = 0;
};

TEST(ObservedRead, SeesTheWholeFileOnceAsReadNotAsItIsLater) {
    test_support::TempDir dir("netrevia-observed");
    std::ifstream example(std::string(EXAMPLES_DIR) + "/three_genes.dat", std::ios::binary);
    std::ostringstream text;
    text << example.rdbuf() << "trailing text after END\n" << std::string(200000, 'z');
    const std::filesystem::path file = dir.path() / "d.dat";
    test_support::write_bytes(file, text.str());

    Recorder recorder;
    RunOptions options;
    options.input_observer = &recorder;
    const Experiment experiment = read_data_file(file, options);
    // Changed once read: what the observer saw is what the run read.
    test_support::write_bytes(file, "changed");
    EXPECT_EQ(recorder.seen_, text.str());
    EXPECT_EQ(recorder.file_, file);
    EXPECT_EQ(recorder.begun_, 1);
    EXPECT_EQ(recorder.ended_, 1);
    ASSERT_EQ(experiment.K(), 1);
    EXPECT_EQ(experiment.courses[0].origin, "data file " + file.string() + ", dataset block 1");
    EXPECT_EQ(experiment.courses[0].levels, (std::vector<double>{1, 2, 4, 2, 2, 1, 1, 0.5, 1}));
}

// The observer sees what an aborted read took, and hears no end: the file was not read whole.
TEST(ObservedRead, FailedReadEndsNoRecord) {
    test_support::TempDir dir("netrevia-observed");
    const std::filesystem::path file = dir.path() / "short.dat";
    test_support::write_bytes(file, "Datasets\n1\nGenes\n2\nNames\nA\n");
    Recorder recorder;
    RunOptions options;
    options.input_observer = &recorder;
    EXPECT_THROW(read_data_file(file, options), std::runtime_error);
    EXPECT_EQ(recorder.begun_, 1);
    EXPECT_EQ(recorder.ended_, 0);
}

// A data file whose names clash gets distinct fields, and GRN.dot draws the edge between the
// two genes as an edge, not as a self-loop of one node.
TEST(ExperimentNames, ClashingDataFileNamesBecomeDistinctNodes) {
    test_support::TempDir dir("netrevia-clash");
    const std::filesystem::path file = dir.path() / "clash.dat";
    test_support::write_bytes(file,
                              "Datasets\n1\nGenes\n2\nNames\ntranscript_a\ntranscript_b\nSet1\n"
                              "x\nx\n2 3\nTimes\n0 1 2\nReserved\n1\nLevels\n0 1 2\n1 1 0\nEND\n");
    const Experiment experiment = read_data_file(file);
    EXPECT_EQ(experiment.gene_names, (std::vector<std::string>{"transcr~1", "transcr~2"}));
    EXPECT_EQ(experiment.full_names, (std::vector<std::string>{"transcript_a", "transcript_b"}));
    EXPECT_EQ(experiment.renamed.size(), 1u);
    RunOptions options;
    options.output_dir = dir.path();
    const RunSummary summary = run_inference(experiment, 0.0, 1e-6, options);
    const std::string dot = test_support::read_bytes(dir.path() / "GRN.dot");
    // The fields hold a '~', so GRN.dot quotes them, as it quotes every name that is not a plain
    // Graphviz identifier.
    EXPECT_NE(dot.find("\"transcr~1\"  ->  \"transcr~2\"\r\n"), std::string::npos) << dot;
    EXPECT_EQ(dot.find("transcrip"), std::string::npos);
    EXPECT_EQ(summary.positive_edges + summary.negative_edges - summary.self_edges, 1);
}

}  // namespace
}  // namespace netrevia::inference
