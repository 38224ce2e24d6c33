#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"
#include "core/knot_files.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using tarq::FourierKnot;

namespace {

using test_support::TempDir;
using test_support::write_file;

// Runs every case with a clean environment and a working directory three levels deep inside a
// temporary tree, so that the relative fixed directories ("..", "../..") stay inside it.
class KnotFileSearch : public ::testing::Test {
protected:
    void SetUp() override {
        saved_cwd_ = fs::current_path();
        for (const char* name : {"TARQ_KNOT_DATA_DIR", "TARQ_RESOURCE_DIR"}) {
            const char* v = std::getenv(name);
            saved_env_.push_back({name, v != nullptr, v != nullptr ? v : ""});
            unsetenv(name);
        }
        top_ = tmp_.path() / "a";
        cwd_ = top_ / "b" / "c";
        fs::create_directories(cwd_);
        fs::current_path(cwd_);
    }
    void TearDown() override {
        fs::current_path(saved_cwd_);
        for (const SavedVar& s : saved_env_) {
            if (s.set) {
                setenv(s.name.c_str(), s.value.c_str(), 1);
            } else {
                unsetenv(s.name.c_str());
            }
        }
    }

    struct SavedVar {
        std::string name;
        bool set;
        std::string value;
    };
    TempDir tmp_;
    fs::path top_, cwd_, saved_cwd_;
    std::vector<SavedVar> saved_env_;
};

}  // namespace

// Creates a file at every candidate, then removes them one by one: each lookup must return the
// next candidate, exactly as built, and finally nothing.
TEST_F(KnotFileSearch, KnotCandidatesInOrder) {
    const std::string K = (tmp_.path() / "kdir").string();
    const std::string R = (tmp_.path() / "rdir").string();
    setenv("TARQ_KNOT_DATA_DIR", K.c_str(), 1);
    setenv("TARQ_RESOURCE_DIR", R.c_str(), 1);
    const std::string f = "knot.peel_1.fseries";
    const std::vector<std::string> order = {
        "base/" + f,
        "base/knot_fseries/" + f,
        K + "/" + f,
        R + "/resources/knot_fseries/" + f,
        R + "/knot_fseries/" + f,
        "src/knot_fseries/" + f,
        "src/Knots_FourierSeries/" + f,
        "../src/knot_fseries/" + f,
        "../src/Knots_FourierSeries/" + f,
        "../../src/knot_fseries/" + f,
        "../../src/Knots_FourierSeries/" + f,
        "knot_fseries/" + f,
        "../knot_fseries/" + f,
        "share/velorn_core/knot_fseries/" + f,
        "../../share/velorn_core/knot_fseries/" + f,
    };
    for (const std::string& p : order) write_file(p, "1 0 0 1 0 0\n");
    for (const std::string& p : order) {
        EXPECT_EQ(tarq::find_knot_file_path("peel_1", "base"), p);
        fs::remove(p);
    }
    EXPECT_EQ(tarq::find_knot_file_path("peel_1", "base"), "");
}

TEST_F(KnotFileSearch, IdealCandidatesInOrder) {
    const std::string K = (tmp_.path() / "kdir").string();
    const std::string R = (tmp_.path() / "rdir").string();
    fs::create_directories(K);
    setenv("TARQ_KNOT_DATA_DIR", K.c_str(), 1);
    setenv("TARQ_RESOURCE_DIR", R.c_str(), 1);
    const std::string name = "sub/peel.txt";  // a relative name with a directory part
    const std::vector<std::string> order = {
        "base/" + name,
        "base/resources/" + name,
        R + "/" + name,
        R + "/resources/" + name,
        K + "/../" + name,
        "resources/" + name,
        "../resources/" + name,
        "share/velorn_core/resources/" + name,
    };
    for (const std::string& p : order) write_file(p, "<AB Id=\"x\">\n");
    for (const std::string& p : order) {
        EXPECT_EQ(tarq::find_ideal_file_path(name, "base"), p);
        fs::remove(p);
    }
    EXPECT_EQ(tarq::find_ideal_file_path(name, "base"), "");
}

TEST_F(KnotFileSearch, PathsAreReturnedAsBuilt) {
    write_file("data/knot.t3_1.fseries", "1 0 0 1 0 0\n");
    EXPECT_EQ(tarq::find_knot_file_path("t3_1", "data/"), "data//knot.t3_1.fseries");
    EXPECT_EQ(tarq::find_knot_file_path("t3_1", "data"), "data/knot.t3_1.fseries");
    // Without a base directory the search starts at the environment and then the fixed list.
    EXPECT_EQ(tarq::find_knot_file_path("t3_1", ""), "");
    write_file("knot_fseries/knot.t3_1.fseries", "1 0 0 1 0 0\n");
    EXPECT_EQ(tarq::find_knot_file_path("t3_1", ""), "knot_fseries/knot.t3_1.fseries");
    EXPECT_EQ(tarq::find_ideal_file_path("ideal.txt", ""), "");
}

TEST_F(KnotFileSearch, EnvironmentIsReadAtEveryCall) {
    const fs::path d1 = tmp_.path() / "one";
    const fs::path d2 = tmp_.path() / "two";
    write_file(d1 / "knot.e_1.fseries", "1 0 0 1 0 0\n");
    write_file(d2 / "knot.e_1.fseries", "1 0 0 1 0 0\n");
    write_file(d2 / "ideal.txt", "x\n");
    EXPECT_EQ(tarq::find_knot_file_path("e_1", ""), "");
    setenv("TARQ_KNOT_DATA_DIR", d1.c_str(), 1);
    EXPECT_EQ(tarq::find_knot_file_path("e_1", ""), d1.string() + "/knot.e_1.fseries");
    setenv("TARQ_KNOT_DATA_DIR", d2.c_str(), 1);
    EXPECT_EQ(tarq::find_knot_file_path("e_1", ""), d2.string() + "/knot.e_1.fseries");
    unsetenv("TARQ_KNOT_DATA_DIR");
    EXPECT_EQ(tarq::find_knot_file_path("e_1", ""), "");

    setenv("TARQ_RESOURCE_DIR", d2.c_str(), 1);
    EXPECT_EQ(tarq::find_ideal_file_path("ideal.txt", ""), d2.string() + "/ideal.txt");
    // A variable set to the empty string still counts as set; its candidates start at "/".
    setenv("TARQ_KNOT_DATA_DIR", "", 1);
    EXPECT_EQ(tarq::find_knot_file_path("e_1", ""), "");
    EXPECT_EQ(tarq::find_ideal_file_path("ideal.txt", ""), d2.string() + "/ideal.txt");
}

// Only a regular file counts: a directory or a FIFO named like the file is passed over (opening the FIFO
// would wait for a writer), and the search goes on to the next candidate.
TEST_F(KnotFileSearch, OnlyARegularFileCounts) {
    fs::create_directories("base/knot.d_1.fseries");
    ASSERT_EQ(mkfifo("base/knot.p_1.fseries", 0600), 0);
    write_file("base/knot_fseries/knot.d_1.fseries", "x");
    write_file("base/knot_fseries/knot.p_1.fseries", "x");
    EXPECT_EQ(tarq::find_knot_file_path("d_1", "base"), "base/knot_fseries/knot.d_1.fseries");
    EXPECT_EQ(tarq::find_knot_file_path("p_1", "base"), "base/knot_fseries/knot.p_1.fseries");
    fs::create_symlink("/dev/zero", "base/knot.z_1.fseries");
    EXPECT_EQ(tarq::find_knot_file_path("z_1", "base"), "");
}

namespace {

const char* const kCircle = "% unit circle\n1 0 0 1 0 0\n";

class KnotLoading : public ::testing::Test {
protected:
    std::string file(const std::string& rel, const std::string& text) {
        const fs::path p = tmp_.path() / rel;
        write_file(p, text);
        return p.string();
    }
    TempDir tmp_;
};

double mean_component(const tarq::Polyline& p, int c) {
    double s = 0.0;
    for (const auto& v : p) s += v[c];
    return s / static_cast<double>(p.size());
}

}  // namespace

TEST_F(KnotLoading, ReadersPollForInterruptsAndAnInterruptedLoadKeepsTheBlocks) {
    struct Stop {};
    struct Hook {
        Hook() { tarq::set_interrupt_hook([] { throw Stop{}; }); }
        ~Hook() { tarq::set_interrupt_hook(nullptr); }
    };
    // About 2^21 bytes each: two poll strides.
    std::string comments, rows = "<AB Id=\"x\">\n";
    while (comments.size() < (std::size_t{1} << 21)) comments += "% a comment line\n";
    while (rows.size() < (std::size_t{1} << 21)) rows += "<Coeff I=\"1\" A=\"2.5, 0, 0\" B=\"0, 2.5, 0\" />\n";
    rows += "</AB>\n";
    const std::string big = file("big.fseries", comments + kCircle);
    tarq::FourierKnot knot;
    knot.loadBlocks(file("small.fseries", kCircle));
    {
        Hook hook;
        EXPECT_THROW(tarq::FourierKnot::parse_fseries_from_string(comments), Stop);
        EXPECT_THROW(tarq::FourierKnot::parse_fseries_multi(big), Stop);
        EXPECT_THROW(knot.loadBlocks(big), Stop);
        EXPECT_THROW(tarq::FourierKnot::parse_ideal_txt_from_string(rows), Stop);
    }
    ASSERT_EQ(knot.blocks.size(), 1u);
    EXPECT_EQ(knot.blocks[0].a_x, std::vector<double>{1.0});
    // A file that does not open still leaves no blocks.
    EXPECT_THROW(knot.loadBlocks(file("small.fseries", kCircle) + ".missing"), std::runtime_error);
    EXPECT_TRUE(knot.blocks.empty());
}

TEST_F(KnotLoading, SamplesIncludeTheEndPoint) {
    const std::string path = file("circle.fseries", kCircle);
    const auto [points, kappa] = FourierKnot::load_knot(path, 100);
    ASSERT_EQ(points.size(), 100u);
    ASSERT_EQ(kappa.size(), 100u);
    // The repeated point enters the mean twice: the centre moves by 1/100 along x.
    EXPECT_NEAR(points[0][0], 0.99, 1e-14);
    EXPECT_NEAR(points[99][0], points[0][0], 1e-14);
    EXPECT_NEAR(points[99][1], points[0][1], 1e-14);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(mean_component(points, c), 0.0, 1e-15);
    // At both copies one neighbour step has zero length.
    EXPECT_NEAR(kappa[0], 0.0, 1e-9);
    EXPECT_NEAR(kappa[99], 0.0, 1e-9);
    // Interior samples: the closed-polygon formula for equal angles on a unit circle.
    const double th = 2.0 * M_PI / 99.0;
    const double want = 2.0 * std::sin(th) * (1.0 - std::cos(th)) / (std::pow(std::sin(th), 3.0) + 1e-8);
    EXPECT_NEAR(kappa[50], want, 1e-9);
}

TEST_F(KnotLoading, SampleCounts) {
    const std::string path = file("circle.fseries", kCircle);
    const auto none = FourierKnot::load_knot(path, 0);
    EXPECT_TRUE(none.first.empty());
    EXPECT_TRUE(none.second.empty());

    // One sample: the point at parameter 0, centred onto the origin; never NaN.
    const auto one = FourierKnot::load_knot(path, 1);
    EXPECT_EQ(one.first, (tarq::Polyline{{0.0, 0.0, 0.0}}));
    EXPECT_EQ(one.second, (std::vector<double>{0.0}));

    EXPECT_THROW(FourierKnot::load_knot(path, -1), std::length_error);
    // Without a block the empty result comes before any sizing.
    const auto missing = FourierKnot::load_knot((tmp_.path() / "nope.fseries").string(), -1);
    EXPECT_TRUE(missing.first.empty());
    EXPECT_TRUE(missing.second.empty());
    const auto empty = FourierKnot::load_knot(file("empty.fseries", "% nothing here\n"), 10);
    EXPECT_TRUE(empty.first.empty());
    EXPECT_TRUE(empty.second.empty());
    EXPECT_TRUE(FourierKnot::load_knot(tmp_.path().string(), 10).first.empty());
}

// The first block with the most rows is sampled; radius 1 and radius 2 tell the blocks apart.
TEST_F(KnotLoading, ChoosesLargestBlockFirstOnTies) {
    auto block = [](double R, int rows) {
        std::string s = "% block\n" + std::to_string(R) + " 0 0 " + std::to_string(R) + " 0 0\n";
        for (int i = 1; i < rows; ++i) s += "0 0 0 0 0 0\n";
        return s;
    };
    const struct {
        int rows_a, rows_b;
        double radius;
    } cases[] = {{5, 5, 1.0}, {3, 7, 2.0}, {7, 3, 1.0}};
    for (const auto& c : cases) {
        const std::string path = file("two.fseries", block(1.0, c.rows_a) + block(2.0, c.rows_b));
        const auto loaded = FourierKnot::load_knot(path, 5);
        ASSERT_EQ(loaded.first.size(), 5u);
        // s = 0, pi/2, pi, 3pi/2, 2pi: the mean of x is R/5.
        EXPECT_NEAR(loaded.first[0][0], 0.8 * c.radius, 1e-14) << c.rows_a << "/" << c.rows_b;
    }
}

TEST_F(KnotLoading, NamesFromPaths) {
    const struct {
        const char* rel;
        const char* name;
    } cases[] = {
        {"data/knot.3_1.fseries", ".3_1"}, {"knot_4_1.fseries", "_4_1"},
        {"KNOT5.txt", "5"},                {"dir/my_knot.fseries", "my_"},
        {"dir/Trefoil.fseries", "Trefoil"}, {"dir/unknot", "un"},
        {"dir/a.b.c", "a.b"},              {"dir/.fseries", ""},
        {"dir\\knot_3_1.fseries", "_3_1"}, {"my.dir/KnotKnot", "Knot"},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) paths.push_back(file(c.rel, kCircle));
    const auto knots = FourierKnot::load_all_knots(paths, 16);
    ASSERT_EQ(knots.size(), std::size(cases));
    for (std::size_t i = 0; i < knots.size(); ++i) {
        EXPECT_EQ(knots[i].name, cases[i].name) << cases[i].rel;
        EXPECT_EQ(knots[i].points.size(), 16u);
        EXPECT_EQ(knots[i].curvature.size(), 16u);
    }
}

TEST_F(KnotLoading, AllKnotsSkipsUnreadableAndKeepsOrder) {
    const std::string a = file("x/knot.a.fseries", kCircle);
    const std::string b = file("y/knot.a.fseries", "% two harmonics\n1 0 0 1 0 0\n0 0.5 0 0 0 0\n");
    const std::string empty = file("z/knot.e.fseries", "% no rows\n");
    const std::string missing = (tmp_.path() / "missing.fseries").string();
    const auto knots = FourierKnot::load_all_knots({missing, a, empty, b, missing}, 12);
    ASSERT_EQ(knots.size(), 2u);
    EXPECT_EQ(knots[0].name, ".a");
    EXPECT_EQ(knots[1].name, ".a");
    EXPECT_EQ(knots[0].points, FourierKnot::load_knot(a, 12).first);
    EXPECT_EQ(knots[1].points, FourierKnot::load_knot(b, 12).first);
    EXPECT_EQ(knots[1].curvature, FourierKnot::load_knot(b, 12).second);

    EXPECT_TRUE(FourierKnot::load_all_knots({}, 12).empty());
    EXPECT_TRUE(FourierKnot::load_all_knots({a, b}, 0).empty());
    EXPECT_THROW(FourierKnot::load_all_knots({missing, a}, -2), std::length_error);
}

// An identifier with an embedded NUL must not open the file named by its prefix.
TEST_F(KnotFileSearch, EmbeddedNulFindsNothing) {
    write_file("data/knot.n_1", "1 0 0 1 0 0\n");
    write_file("data/knot.n_1.fseries", "1 0 0 1 0 0\n");
    write_file("data/ideal.txt", "x\n");
    const std::string id("n_1\0.fseries", 12);
    EXPECT_EQ(tarq::find_knot_file_path(id, "data"), "");
    EXPECT_EQ(tarq::find_ideal_file_path(std::string("ideal.txt\0x", 11), "data"), "");
}
