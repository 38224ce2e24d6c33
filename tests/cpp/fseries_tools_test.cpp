// The .fseries file tools: canonicaliser decisions and bytes, its safe rewrite, curve metrics against
// literal double loops, filament energy, grid helicity of files, directory listings and file comparison.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"
#include "core/knot_dynamics.hpp"
#include "core/tarq_extensions.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
namespace ext = tarq::tarqext;
using tarq::Polyline;
using tarq::Vec3;
using test_support::expect_throw_msg;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

namespace {

const std::string kZeroRow(
    "    0.000000    0.000000    0.000000    0.000000    0.000000    0.000000");

// The five-row trefoil of the catalogue ("3_1").
const char* const kTrefoil =
    "% trefoil\n"
    "0.000000 0.224483 0.224483 0.000000 0.000000 0.000000\n"
    "0.995730 0.000000 0.000000 0.995730 0.000000 0.000000\n"
    "0.000000 0.000000 0.000000 0.000000 0.445727 0.000000\n"
    "0.000000 0.000000 0.000000 0.000000 0.000000 0.000000\n"
    "0.000000 0.221238 -0.221238 0.000000 0.000000 0.000000\n";

// Circle of radius 2 in the xy-plane.
const char* const kCircle = "% circle\n2 0 0 2 0 0\n";

std::string six_rows(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "1 2 3 4 5 6\n";
    return s;
}

std::string path_in(const TempDir& d, const std::string& name) { return (d.path() / name).string(); }

std::string file_with(const TempDir& d, const std::string& name, const std::string& text) {
    const std::string p = path_in(d, name);
    write_file(p, text);
    return p;
}

double literal_distance(const Vec3& p, const Vec3& q) {
    const double dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

long cyclic_separation(std::size_t i, std::size_t j, std::size_t n) {
    const long d = std::labs(static_cast<long>(i) - static_cast<long>(j));
    return std::min(d, static_cast<long>(n) - d);
}

// The non-neighbour minimum exactly as described: every ordered pair, one test per pair.
double literal_min_distance(const Polyline& p, int skip) {
    const std::size_t n = p.size();
    if (n < 4) return 0.0;
    double best = 1e300;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            if (j != i && cyclic_separation(i, j, n) > skip) best = std::min(best, literal_distance(p[i], p[j]));
    return best;
}

// The non-local double sum exactly as described.
double literal_nonlocal_sum(const Polyline& p, long m, double delta, double ds) {
    const std::size_t n = p.size();
    std::vector<Vec3> t(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3& a = p[i];
        const Vec3& b = p[(i + 1) % n];
        const Vec3 d{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double len = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
        t[i] = len <= 0.0 ? Vec3{0.0, 0.0, 0.0} : Vec3{d[0] / len, d[1] / len, d[2] / len};
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            if (cyclic_separation(i, j, n) <= m) continue;
            const double r = literal_distance(p[i], p[j]);
            if (delta > 0.0 && r <= delta) continue;
            if (r <= 0.0) continue;
            const double dot = (t[i][0] * t[j][0] + t[i][1] * t[j][1]) + t[i][2] * t[j][2];
            sum += dot / r * ds * ds;
        }
    return sum;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Canonicaliser
// ---------------------------------------------------------------------------------------------

TEST(FseriesLines, ParseFloatsLine) {
    struct Case {
        std::string line;
        std::optional<std::vector<double>> expected;
    };
    const std::vector<Case> cases = {
        {"1,2,3", std::vector<double>{1.0}},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"0 0 0 % note", std::vector<double>{0.0, 0.0, 0.0}},
        {"  1.5\t-2e3 4", std::vector<double>{1.5, -2000.0, 4.0}},
        {"1e999", std::nullopt},
        {"0x1p3", std::vector<double>{0.0}},
        {"# 1 2 3", std::nullopt},
        {"1 2 3\r", std::vector<double>{1.0, 2.0, 3.0}},
    };
    for (const Case& c : cases) EXPECT_EQ(ext::parse_floats_line(c.line), c.expected) << c.line;
}

TEST(FseriesLines, CommentOrBlank) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},       {" \t\r\n", true}, {"\r", true},  {" \t%x", true}, {"%", true},
        {"\v%", false},   {"\f", false},     {"#x", false}, {"x%", false},   {"0 0 0", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ext::is_comment_or_blank(c.first), c.second) << c.first;
}

TEST(FseriesCanonicalize, DecisionsAndBytes) {
    struct Case {
        const char* name;
        std::string before;
        int rows;
        const char* reason;
        std::optional<std::string> after;  // none: the file is left as it was
    };
    const std::string legacy = "file appears to be 3-column legacy throughout; not auto-converted";
    const std::string up = "upgraded leading 3-col zeros row to 6-col j=0 row";
    const std::vector<Case> cases = {
        {"empty", "", 0, "no numeric rows found", std::nullopt},
        {"comments", "% a\n%b\n\n", 0, "no numeric rows found", std::nullopt},
        {"text", "a_x b_x a_y\n# 1 2 3\n", 0, "no numeric rows found", std::nullopt},
        {"twelve six-number rows", six_rows(12), 12, "already has 6-column j=0 row", std::nullopt},
        {"one three-number row", "% h\n0 0 0\n", 1, "no second numeric row", std::nullopt},
        {"legacy", "1 2 3\n4 5 6\n" + six_rows(2), 4, legacy.c_str(), std::nullopt},
        {"upgrade replaces values", "1 2 3\n1 2 3 4 5 6\n", 2, up.c_str(), kZeroRow + "\n1 2 3 4 5 6\n"},
        {"CR LF and no final LF", "% h\r\n1 2 3 % x\r\n1 2 3 4 5 6\r\n# c\r\n7 7 7 7 7 7", 3, up.c_str(),
         "% h\r\n" + kZeroRow + "\n1 2 3 4 5 6\r\n# c\r\n7 7 7 7 7 7\n"},
        {"seven numbers are no row", "1 2 3 4 5 6 7\n0 0 0\n1 2 3 4 5 6\n", 2, up.c_str(),
         "1 2 3 4 5 6 7\n" + kZeroRow + "\n1 2 3 4 5 6\n"},
        {"hash lines stay", "# 1 2 3\n0 0 0\n# x\n1 2 3 4 5 6\n", 2, up.c_str(),
         "# 1 2 3\n" + kZeroRow + "\n# x\n1 2 3 4 5 6\n"},
        {"all blocks counted", "% a\n0 0 0\n" + six_rows(3) + "\n% b\n" + six_rows(4) + "1 2 3\n", 9, up.c_str(),
         "% a\n" + kZeroRow + "\n" + six_rows(3) + "\n% b\n" + six_rows(4) + "1 2 3\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = file_with(dir, "case.fseries", c.before);
        const ext::CanonicalizeResult r = ext::canonicalize_fseries_file_inplace(p);
        EXPECT_EQ(r.path, p);
        EXPECT_EQ(r.found_numeric_rows, c.rows);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.changed, c.after.has_value());
        EXPECT_EQ(read_file(p), c.after.value_or(c.before));
        if (c.after) {
            // The upgraded file is left alone by a second run.
            const ext::CanonicalizeResult again = ext::canonicalize_fseries_file_inplace(p);
            EXPECT_FALSE(again.changed);
            EXPECT_EQ(again.reason, "already has 6-column j=0 row");
            EXPECT_EQ(read_file(p), *c.after);
        }
    }
    // Nothing but the file itself is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(FseriesCanonicalize, DefaultRecord) {
    const ext::CanonicalizeResult r;
    EXPECT_EQ(r.path, "");
    EXPECT_EQ(r.found_numeric_rows, 0);
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(r.reason, "");
}

TEST(FseriesCanonicalize, UnreadableInputs) {
    TempDir dir;
    const std::string missing = path_in(dir, "missing.fseries");
    expect_throw_msg<std::runtime_error>([&] { ext::canonicalize_fseries_file_inplace(missing); },
                                         "cannot open file: " + missing);
    // The name up to the NUL exists, but the path as given names no file.
    const std::string real = file_with(dir, "a", "1 2 3\n1 2 3 4 5 6\n");
    const std::string with_nul = real + std::string(1, '\0') + "x";
    expect_throw_msg<std::runtime_error>([&] { ext::canonicalize_fseries_file_inplace(with_nul); },
                                         "cannot open file: " + with_nul);
    EXPECT_EQ(read_file(real), "1 2 3\n1 2 3 4 5 6\n");
    // A pipe without a writer would block the open forever.
    const std::string fifo = path_in(dir, "pipe.fseries");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expect_throw_msg<std::runtime_error>([&] { ext::canonicalize_fseries_file_inplace(fifo); },
                                         "cannot open file: " + fifo);
    // Only a regular file is read: a directory or a device does not open either.
    for (const std::string& other : {dir.path().string(), std::string("/dev/zero"), std::string("/dev/null")})
        expect_throw_msg<std::runtime_error>([&] { ext::canonicalize_fseries_file_inplace(other); },
                                             "cannot open file: " + other);
}

TEST(FseriesCanonicalize, FailedWriteLeavesTheOriginal) {
    TempDir dir;
    const std::string text = "% a header line long enough to pass the size limit below\n0 0 0\n" + six_rows(3);
    const std::string p = file_with(dir, "big.fseries", text);
    // Files may not grow beyond 16 bytes: the new text cannot be written completely.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore {}, old_action {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old_action), 0);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        ext::canonicalize_fseries_file_inplace(p);
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old_action, nullptr);
    EXPECT_EQ(message, "cannot write file: " + p);
    EXPECT_EQ(read_file(p), text);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(FseriesCanonicalize, ReadOnlyFileIsNotRewritten) {
    if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
    TempDir dir;
    const std::string p = file_with(dir, "ro.fseries", "0 0 0\n1 2 3 4 5 6\n");
    ASSERT_EQ(chmod(p.c_str(), 0444), 0);
    expect_throw_msg<std::runtime_error>([&] { ext::canonicalize_fseries_file_inplace(p); },
                                         "cannot write file: " + p);
    EXPECT_EQ(read_file(p), "0 0 0\n1 2 3 4 5 6\n");
}

TEST(FseriesCanonicalize, RewriteKeepsModeAndLinks) {
    TempDir dir;
    const std::string target = file_with(dir, "target.fseries", "0 0 0\n1 2 3 4 5 6\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string link = path_in(dir, "link.fseries");
    fs::create_symlink("target.fseries", link);
    EXPECT_TRUE(ext::canonicalize_fseries_file_inplace(link).changed);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(target), kZeroRow + "\n1 2 3 4 5 6\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// ---------------------------------------------------------------------------------------------
// Sampling and curve metrics
// ---------------------------------------------------------------------------------------------

TEST(FseriesSampling, FilesWithoutBlocks) {
    TempDir dir;
    const std::string dir_path = dir.path().string();
    const std::string fifo = path_in(dir, "pipe.fseries");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = file_with(dir, "good.fseries", kTrefoil);
    const std::vector<std::string> paths = {
        path_in(dir, "missing.fseries"),
        dir_path,
        file_with(dir, "empty.fseries", ""),
        file_with(dir, "comments.fseries", "% only\n% comments\n"),
        file_with(dir, "text.fseries", "no numbers here\n1 2 3\n"),
        file_with(dir, "junk.fseries", std::string("\x00\xff\x7f\x01\n\x89PNG\r\n", 11)),
        good + std::string(1, '\0'),
        fifo,
    };
    for (const std::string& p : paths) {
        const std::string message = "no blocks parsed from: " + p;
        expect_throw_msg<std::runtime_error>([&] { ext::sample_curve_centered(p, 8); }, message);
        expect_throw_msg<std::runtime_error>([&] { ext::curve_metrics_from_fseries(p, 8, 3); }, message);
        ext::FilamentEnergyParams params;
        expect_throw_msg<std::runtime_error>([&] { ext::filament_energy_from_fseries(p, params); }, message);
        expect_throw_msg<std::runtime_error>([&] { ext::helicity_from_fseries(p, 8, 0.5, 2, 8); }, message);
    }
    EXPECT_THROW(ext::sample_curve_centered(good, -1), std::length_error);
    EXPECT_TRUE(ext::sample_curve_centered(good, 0).empty());
}

TEST(FseriesSampling, LargestBlockOpenParametersCentred) {
    TempDir dir;
    // A smaller block first and a second block of equal size after the largest: the first largest counts.
    const std::string several = file_with(dir, "several.fseries",
                                          std::string("% small\n1 0 0 1 0 0\n\n") + kTrefoil + "\n% same size\n" +
                                              six_rows(5));
    const std::string alone = file_with(dir, "alone.fseries", kTrefoil);
    const Polyline a = ext::sample_curve_centered(several, 40);
    EXPECT_EQ(a, ext::sample_curve_centered(alone, 40));

    const std::vector<tarq::FourierBlock> blocks = tarq::FourierKnot::parse_fseries_multi(alone);
    std::vector<double> t(40);
    for (int i = 0; i < 40; ++i) t[i] = (i * 6.283185307179586) / 40;
    EXPECT_EQ(a, tarq::FourierKnot::center_points(tarq::FourierKnot::evaluate(blocks[0], t)));
}

TEST(FseriesMetrics, CircleAndSmallCounts) {
    TempDir dir;
    const std::string circle = file_with(dir, "circle.fseries", kCircle);
    const ext::FilamentEnergyResult r = ext::curve_metrics_from_fseries(circle, 64, 3);
    EXPECT_NEAR(r.kappa_max, 0.5, 1e-12);
    EXPECT_NEAR(r.kappa_mean, 0.5, 1e-12);
    EXPECT_NEAR(r.bend_energy, r.L / 4.0, 1e-12);
    EXPECT_NEAR(r.L, 256.0 * std::sin(M_PI / 64.0), 1e-12);
    EXPECT_EQ(r.ds_avg, r.L / 64.0);
    EXPECT_EQ(r.path, circle);
    EXPECT_EQ(r.nsamples, 64);
    EXPECT_EQ(r.m_loc, 0);
    EXPECT_EQ(r.E_total, 0.0);
    EXPECT_EQ(r.Gamma, 0.0);

    const ext::FilamentEnergyResult zero = ext::curve_metrics_from_fseries(circle, 0, 3);
    for (double v : {zero.L, zero.ds_avg, zero.kappa_max, zero.kappa_mean, zero.bend_energy,
                     zero.min_non_neighbor_dist, zero.reach_proxy})
        EXPECT_EQ(v, 0.0);
    // Two points: the closed length runs there and back; no curvature, no distance.
    const ext::FilamentEnergyResult two = ext::curve_metrics_from_fseries(circle, 2, 3);
    EXPECT_EQ(two.L, 8.0);
    EXPECT_EQ(two.kappa_max, 0.0);
    EXPECT_EQ(two.min_non_neighbor_dist, 0.0);
    EXPECT_EQ(two.reach_proxy, 0.0);
    // Eight points and skip 4: no pair is far enough apart.
    const ext::FilamentEnergyResult none = ext::curve_metrics_from_fseries(circle, 8, 4);
    EXPECT_EQ(none.min_non_neighbor_dist, 1e300);
    EXPECT_EQ(none.reach_proxy, 5e299);
}

TEST(FseriesMetrics, RepeatedSampleCountsInTheMean) {
    Polyline square = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
    double L, kmax, kmean, bend;
    ext::curve_metrics_from_points(square, L, kmax, kmean, bend);
    const double k = kmax;
    EXPECT_DOUBLE_EQ(kmean, k);
    square.insert(square.begin() + 1, square[1]);  // a zero-length segment at vertex 1
    ext::curve_metrics_from_points(square, L, kmax, kmean, bend);
    EXPECT_DOUBLE_EQ(L, 4.0 * std::sqrt(2.0));
    // Vertices 1 and 2 drop out; the other three keep their curvature; the divisor counts five.
    EXPECT_DOUBLE_EQ(kmax, k);
    EXPECT_DOUBLE_EQ(kmean, 3.0 * k / 5.0);

    for (const Polyline& few : {Polyline{}, Polyline{{1, 2, 3}}, Polyline{{0, 0, 0}, {3, 4, 0}}}) {
        ext::curve_metrics_from_points(few, L, kmax, kmean, bend);
        EXPECT_EQ(kmax + kmean + bend, 0.0);
        EXPECT_EQ(L, ext::curve_length(few));
    }
    EXPECT_EQ(ext::curve_length({{0, 0, 0}, {3, 4, 0}}), 10.0);
}

TEST(FseriesMetrics, MinDistanceMatchesTheLiteralDoubleLoop) {
    std::mt19937_64 g(7);
    for (std::size_t n : {4u, 5u, 8u, 9u, 33u, 200u}) {
        Polyline p = test_support::random_points(g, n, 2.0);
        p[n / 2] = p[0];  // a coincident pair
        for (int skip : {INT_MIN, -3, -1, 0, 1, 2, 3, 4, 5, 16, 100, INT_MAX}) {
            EXPECT_EQ(ext::min_non_neighbor_distance(p, skip), literal_min_distance(p, skip)) << n << " " << skip;
            EXPECT_EQ(ext::reach_proxy(p, skip), 0.5 * literal_min_distance(p, skip));
        }
    }
    const Polyline three = {{0, 0, 0}, {1, 0, 0}, {5, 0, 0}};
    EXPECT_EQ(ext::min_non_neighbor_distance(three, -1), 0.0);
    EXPECT_EQ(ext::reach_proxy(three, -1), 0.0);
    // skip >= n/2: the sentinel.
    const Polyline eight = test_support::random_points(g, 8, 1.0);
    EXPECT_EQ(ext::min_non_neighbor_distance(eight, 4), 1e300);
    EXPECT_EQ(ext::reach_proxy(eight, 4), 5e299);
}

// ---------------------------------------------------------------------------------------------
// Grid helicity of a file
// ---------------------------------------------------------------------------------------------

TEST(FseriesHelicity, InvariantsOfTheLargestBlockAndMetrics) {
    TempDir dir;
    const std::string p = file_with(dir, "t.fseries", std::string("% small\n1 0 0 1 0 0\n\n") + kTrefoil);
    const ext::HelicityResult r = ext::helicity_from_fseries(p, 8, 0.5, 2, 40);
    const tarq::FourierBlock block = tarq::FourierKnot::parse_fseries_multi(p)[1];
    const tarq::HelicityInvariants h = tarq::KnotDynamics::compute_helicity_from_fourier_block(block, 8, 0.5, 2, 40);
    EXPECT_EQ(r.Hc, std::get<0>(h));
    EXPECT_EQ(r.Hm, std::get<1>(h));
    EXPECT_EQ(r.a_mu, std::get<2>(h));
    const ext::FilamentEnergyResult m = ext::curve_metrics_from_fseries(p, 40, 3);
    EXPECT_EQ(r.L, m.L);
    EXPECT_EQ(r.kappa_max, m.kappa_max);
    EXPECT_EQ(r.kappa_mean, m.kappa_mean);
    EXPECT_EQ(r.bend_energy, m.bend_energy);
    EXPECT_EQ(r.min_non_neighbor_dist, m.min_non_neighbor_dist);
    EXPECT_EQ(r.reach_proxy, m.reach_proxy);
    EXPECT_EQ(r.path, p);
    EXPECT_EQ(r.nsamples, 40);

    for (int n = 4; n <= 7; ++n) {
        const ext::HelicityResult few = ext::helicity_from_fseries(p, 4, 0.5, 1, n);
        EXPECT_EQ(few.min_non_neighbor_dist, 1e300);
        EXPECT_EQ(few.reach_proxy, 5e299);
    }
    const ext::HelicityResult three = ext::helicity_from_fseries(p, 4, 0.5, 1, 3);
    EXPECT_EQ(three.min_non_neighbor_dist, 0.0);
    EXPECT_EQ(three.reach_proxy, 0.0);
}

TEST(FseriesHelicity, GridPreconditions) {
    TempDir dir;
    const std::string p = file_with(dir, "t.fseries", kTrefoil);
    expect_throw_msg<std::invalid_argument>([&] { ext::helicity_from_fseries(p, 8, 0.5, -1, 10); },
                                            "helicity_from_fseries: negative interior_margin");
    expect_throw_msg<std::invalid_argument>([&] { ext::helicity_from_fseries(p, 1291, 0.5, 2, 10); },
                                            "helicity_from_fseries: grid_size above 1290");
    EXPECT_THROW(ext::helicity_from_fseries(p, -2, 0.5, 0, 10), std::length_error);
    EXPECT_THROW(ext::helicity_from_fseries(p, 8, 0.5, 2, -1), std::length_error);
    expect_throw_msg<std::invalid_argument>(
        [&] { ext::batch_helicity_from_dir(dir.path().string(), 8, 0.5, -1, 10, false); },
        "batch_helicity_from_dir: negative interior_margin");
    expect_throw_msg<std::invalid_argument>(
        [&] { ext::batch_helicity_from_dir(dir.path().string(), 1291, 0.5, 2, 10, true); },
        "batch_helicity_from_dir: grid_size above 1290");
    // The checks come once the file has been read: a file without a block is reported first, and a
    // directory without files gives no result whatever the arguments.
    const std::string missing = path_in(dir, "missing.fseries");
    for (const int margin : {-1, 2}) {
        expect_throw_msg<std::runtime_error>([&] { ext::helicity_from_fseries(missing, 1291, 0.5, margin, 10); },
                                             "no blocks parsed from: " + missing);
    }
    TempDir empty;
    EXPECT_TRUE(ext::batch_helicity_from_dir(empty.path().string(), 1291, 0.5, -1, 10, true).empty());
}

// ---------------------------------------------------------------------------------------------
// Filament energy
// ---------------------------------------------------------------------------------------------

TEST(FseriesEnergy, NonlocalSumMatchesTheLiteralDoubleLoop) {
    TempDir dir;
    // The trefoil, a doubly covered segment (nearly coincident pairs) and a curve collapsed to one point
    // (every pair at r = 0, every tangent zero).
    const std::vector<std::string> files = {file_with(dir, "t.fseries", kTrefoil),
                                            file_with(dir, "seg.fseries", "1 0 0 0 0 0\n"),
                                            file_with(dir, "point.fseries", "0 0 0 0 0 0\n")};
    for (const std::string& f : files) {
        for (int n : {4, 7, 64, 301}) {
            const Polyline pts = ext::sample_curve_centered(f, n);
            for (int skip : {-2, 0, 1, 3}) {
                for (double delta : {0.0, 0.05, 0.3}) {
                    ext::FilamentEnergyParams params;
                    params.nsamples = n;
                    params.skip_neighbors_base = skip;
                    params.delta = delta;
                    params.Gamma = 1.7;
                    params.rho_outer = 3.0;
                    const auto both = test_support::both_paths([&] { return ext::filament_energy_from_fseries(f, params); });
                    const ext::FilamentEnergyResult& r = both.first;
                    EXPECT_EQ(r.E_nonlocal, both.second.E_nonlocal);
                    const double sum = literal_nonlocal_sum(pts, std::max(skip, 0), delta, r.ds_avg);
                    EXPECT_EQ(r.E_nonlocal, 3.0 * 1.7 * 1.7 / 25.132741228718345 * sum) << f << n << skip << delta;
                    EXPECT_EQ(r.m_loc, std::max(skip, 0));
                    EXPECT_EQ(r.min_non_neighbor_dist, literal_min_distance(pts, std::max(1, skip)));
                }
            }
        }
    }
}

TEST(FseriesEnergy, TermsFlagsAndCopies) {
    TempDir dir;
    const std::string f = file_with(dir, "t.fseries", kTrefoil);
    ext::FilamentEnergyParams p;
    p.nsamples = 100;
    p.rho_local = 2e-6;
    p.Gamma = 1.5;
    p.a_core = 0.01;
    p.c_rankine_outer = 0.25;
    p.delta = 1e-9;
    const ext::FilamentEnergyResult base = ext::filament_energy_from_fseries(f, p);
    EXPECT_EQ(base.E_core_int, ((2e-6 * 1.5 * 1.5) / 50.26548245743669) * base.L);
    EXPECT_EQ(base.E_local_match, 0.0);  // s_cut_local 0
    EXPECT_EQ(base.m_loc, 1);
    EXPECT_EQ(base.E_total, (base.E_nonlocal + base.E_local_match) + base.E_core_int);

    p.s_cut_local = 2.5 * base.ds_avg;
    const ext::FilamentEnergyResult cut = ext::filament_energy_from_fseries(f, p);
    EXPECT_EQ(cut.m_loc, 3);
    EXPECT_EQ(cut.E_local_match,
              ((2e-6 * 1.5 * 1.5) / 12.566370614359172 * cut.L) * (std::log(p.s_cut_local / 0.01) + 0.25));
    for (const auto& [field, copy] : std::vector<std::pair<double, double>>{{p.rho_outer, cut.rho_outer},
                                                                            {p.rho_local, cut.rho_local},
                                                                            {p.Gamma, cut.Gamma},
                                                                            {p.a_core, cut.a_core},
                                                                            {p.delta, cut.delta},
                                                                            {p.s_cut_local, cut.s_cut_local},
                                                                            {p.c_rankine_outer, cut.c_rankine_outer}})
        EXPECT_EQ(field, copy);
    EXPECT_EQ(cut.nsamples, 100);
    EXPECT_EQ(cut.path, f);

    p.a_core = 0.0;
    EXPECT_EQ(ext::filament_energy_from_fseries(f, p).E_local_match, 0.0);

    // A cut-off of more samples than an int holds excludes every pair.
    p.s_cut_local = 1e300;
    const ext::FilamentEnergyResult wide = ext::filament_energy_from_fseries(f, p);
    EXPECT_EQ(wide.m_loc, INT_MAX);
    EXPECT_EQ(wide.E_nonlocal, 0.0);

    // Squared distances overflow on a circle of radius 1e307: ds_avg is infinite, and an infinite cut-off
    // over it is no number of samples.
    const std::string huge = file_with(dir, "huge.fseries", "1e307 0 0 1e307 0 0\n");
    ext::FilamentEnergyParams inf_cut;
    inf_cut.nsamples = 16;
    inf_cut.s_cut_local = INFINITY;
    const ext::FilamentEnergyResult inf = ext::filament_energy_from_fseries(huge, inf_cut);
    EXPECT_EQ(inf.ds_avg, INFINITY);
    EXPECT_EQ(inf.m_loc, INT_MAX);

    p.include_nonlocal = p.include_local_match = p.include_core_int = false;
    p.s_cut_local = 0.1;
    p.a_core = 0.01;
    const ext::FilamentEnergyResult off = ext::filament_energy_from_fseries(f, p);
    EXPECT_EQ(off.E_nonlocal + off.E_local_match + off.E_core_int + off.E_total, 0.0);
    EXPECT_EQ(off.L, base.L);
    EXPECT_EQ(off.kappa_max, base.kappa_max);
    EXPECT_EQ(off.bend_energy, base.bend_energy);

    ext::FilamentEnergyParams none;
    none.nsamples = 0;
    none.skip_neighbors_base = -4;
    const ext::FilamentEnergyResult empty = ext::filament_energy_from_fseries(f, none);
    EXPECT_EQ(empty.m_loc, 0);
    EXPECT_EQ(empty.L + empty.ds_avg + empty.E_total + empty.min_non_neighbor_dist, 0.0);
    none.skip_neighbors_base = 6;
    EXPECT_EQ(ext::filament_energy_from_fseries(f, none).m_loc, 6);
}

TEST(FseriesEnergy, DeltaAtAPairDistanceLeavesThePairOut) {
    TempDir dir;
    const std::string f = file_with(dir, "c.fseries", kCircle);
    // Eight points on a circle: with m_loc 3 only the four opposite pairs (distance 4) remain.
    ext::FilamentEnergyParams p;
    p.nsamples = 8;
    p.skip_neighbors_base = 3;
    const Polyline pts = ext::sample_curve_centered(f, 8);
    EXPECT_NE(ext::filament_energy_from_fseries(f, p).E_nonlocal, 0.0);
    p.delta = literal_distance(pts[0], pts[4]);
    for (int i = 1; i < 4; ++i) ASSERT_LE(literal_distance(pts[i], pts[i + 4]), p.delta);
    EXPECT_EQ(ext::filament_energy_from_fseries(f, p).E_nonlocal, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Directory batch and comparison
// ---------------------------------------------------------------------------------------------

class FseriesBatch : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.path().string();
        for (const char* name : {".fseries", "B.fseries", "a.fseries", "a/b.fseries", "x.FSERIES", "y.fseries.bak",
                                 "d.fseries/e.fseries", "target"})
            write_file(dir_.path() / name, kTrefoil);
        fs::create_symlink("target", dir_.path() / "l.fseries");
        fs::create_symlink("a", dir_.path() / "ld");
        fs::create_symlink("missing", dir_.path() / "dangling.fseries");
    }
    void TearDown() override { ext::testing::set_entry_types_ignored(false); }

    std::vector<std::string> paths(const std::string& root, bool recurse) const {
        std::vector<std::string> out;
        for (const ext::HelicityResult& r : ext::batch_helicity_from_dir(root, 4, 0.5, 1, 12, recurse))
            out.push_back(r.path);
        return out;
    }

    TempDir dir_;
    std::string root_;
};

TEST_F(FseriesBatch, FlatAndRecursiveListings) {
    const std::string r = root_;
    EXPECT_EQ(paths(r, false),
              (std::vector<std::string>{r + "/.fseries", r + "/B.fseries", r + "/a.fseries", r + "/l.fseries"}));
    const std::vector<std::string> tree = {r + "/.fseries",  r + "/B.fseries",           r + "/a.fseries",
                                           r + "/a/b.fseries", r + "/d.fseries/e.fseries", r + "/l.fseries"};
    EXPECT_EQ(paths(r, true), tree);
    EXPECT_EQ(paths(r + "/", true), tree);
    EXPECT_EQ(paths(r + "/", false).front(), r + "/.fseries");

    // Every result is the file's own helicity.
    const ext::HelicityResult one = ext::batch_helicity_from_dir(r, 4, 0.5, 1, 12, false)[1];
    const ext::HelicityResult direct = ext::helicity_from_fseries(r + "/B.fseries", 4, 0.5, 1, 12);
    EXPECT_EQ(one.Hc, direct.Hc);
    EXPECT_EQ(one.L, direct.L);
    EXPECT_EQ(one.nsamples, 12);
}

TEST_F(FseriesBatch, WithoutEntryTypesStatDecidesAndCyclesEndOnce) {
    // A link back to the root (a cycle) and a link to a directory outside the tree.
    TempDir outside;
    write_file(outside.path() / "y.fseries", kTrefoil);
    fs::create_symlink(outside.path(), dir_.path() / "d.fseries" / "out");
    fs::create_symlink("..", dir_.path() / "a" / "up");
    const std::string r = root_;
    const std::vector<std::string> typed = paths(r, true);
    ext::testing::set_entry_types_ignored(true);
    const std::vector<std::string> untyped = paths(r, true);
    EXPECT_EQ(std::count(untyped.begin(), untyped.end(), r + "/d.fseries/out/y.fseries"), 1);
    EXPECT_EQ(std::count(typed.begin(), typed.end(), r + "/d.fseries/out/y.fseries"), 0);
    // A directory is not entered again below itself, so the links back up ("a/up", "ld/up") end there and
    // no file of the root appears twice; a directory reached by two names ("a" and the link "ld") is
    // listed under both.
    for (const char* f : {"/.fseries", "/B.fseries", "/a.fseries", "/l.fseries", "/a/b.fseries", "/ld/b.fseries"})
        EXPECT_EQ(std::count(untyped.begin(), untyped.end(), r + f), 1) << f;
    EXPECT_EQ(untyped.size(), typed.size() + 2);
}

TEST_F(FseriesBatch, Failures) {
    for (const std::string& bad :
         {root_ + "/missing", root_ + "/B.fseries", root_ + std::string(1, '\0'), std::string()}) {
        expect_throw_msg<std::runtime_error>([&] { ext::batch_helicity_from_dir(bad, 4, 0.5, 1, 12, false); },
                                             "directory does not exist: " + bad);
    }
    TempDir empty;
    EXPECT_TRUE(ext::batch_helicity_from_dir(empty.path().string(), 4, 0.5, 1, 12, true).empty());
    write_file(empty.path() / "no.txt", kTrefoil);
    EXPECT_TRUE(ext::batch_helicity_from_dir(empty.path().string(), 4, 0.5, 1, 12, false).empty());

    // One file without a block ends the whole call with its path.
    const std::string bad = root_ + "/a/zz.fseries";
    write_file(bad, "% nothing\n");
    expect_throw_msg<std::runtime_error>([&] { ext::batch_helicity_from_dir(root_, 4, 0.5, 1, 12, true); },
                                         "no blocks parsed from: " + bad);
    EXPECT_EQ(paths(root_, false).size(), 4u);
}

TEST(FseriesCompare, KeysDifferencesAndErrors) {
    TempDir dir;
    const std::string a = file_with(dir, "a.fseries", kTrefoil);
    const std::string b = file_with(dir, "b.fseries", kCircle);
    const std::vector<std::string> keys = {"L_a",          "L_b",          "bend_energy_a", "bend_energy_b",
                                           "dL",           "dbend_energy", "dkappa_max",    "dkappa_mean",
                                           "dreach_proxy", "kappa_max_a",  "kappa_max_b",   "kappa_mean_a",
                                           "kappa_mean_b", "reach_proxy_a", "reach_proxy_b", "rms_point_delta"};
    const auto same = ext::compare_fseries_files(a, a, 64, 3);
    std::vector<std::string> got;
    for (const auto& kv : same) {
        got.push_back(kv.first);
        if (kv.first[0] == 'd' || kv.first == "rms_point_delta") {
            EXPECT_EQ(kv.second, 0.0) << kv.first;
        }
    }
    EXPECT_EQ(got, keys);

    const auto ab = ext::compare_fseries_files(a, b, 64, 3);
    const ext::FilamentEnergyResult ra = ext::curve_metrics_from_fseries(a, 64, 3);
    const ext::FilamentEnergyResult rb = ext::curve_metrics_from_fseries(b, 64, 3);
    EXPECT_EQ(ab.at("L_a"), ra.L);
    EXPECT_EQ(ab.at("dL"), rb.L - ra.L);
    EXPECT_EQ(ab.at("dkappa_mean"), rb.kappa_mean - ra.kappa_mean);
    EXPECT_EQ(ab.at("reach_proxy_b"), rb.reach_proxy);
    const Polyline pa = ext::sample_curve_centered(a, 64), pb = ext::sample_curve_centered(b, 64);
    double sum = 0.0;
    for (int i = 0; i < 64; ++i) {
        const double d = literal_distance(pa[i], pb[i]);
        sum += d * d;
    }
    EXPECT_NEAR(ab.at("rms_point_delta"), std::sqrt(sum / 64.0), 1e-14);

    for (const auto& kv : ext::compare_fseries_files(a, b, 0, 3)) EXPECT_EQ(kv.second, 0.0) << kv.first;
    EXPECT_EQ(ext::compare_fseries_files(a, b, 8, 4).at("reach_proxy_a"), 5e299);

    const std::string m1 = path_in(dir, "m1"), m2 = path_in(dir, "m2");
    expect_throw_msg<std::runtime_error>([&] { ext::compare_fseries_files(m1, m2, 8, 3); },
                                         "no blocks parsed from: " + m1);
    expect_throw_msg<std::runtime_error>([&] { ext::compare_fseries_files(a, m2, 8, 3); },
                                         "no blocks parsed from: " + m2);
}
