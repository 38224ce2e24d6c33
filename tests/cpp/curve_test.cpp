// Curve model and .fseries readers: evaluation, centring, curvature, block choice, the
// FourierKnot lifecycle and the lenient and strict line rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"

#include "test_support.hpp"

namespace {

using test_support::block_of_rows;
using test_support::expect_throw_msg;

using tarq::FourierBlock;
using tarq::FourierKnot;
using tarq::Polyline;
using tarq::Vec3;



std::vector<std::array<double, 6>> rows_of(const FourierBlock& b) {
    std::vector<std::array<double, 6>> rows;
    for (std::size_t k = 0; k < b.a_x.size(); ++k)
        rows.push_back({b.a_x[k], b.b_x[k], b.a_y[k], b.b_y[k], b.a_z[k], b.b_z[k]});
    return rows;
}

// Every reader must produce blocks with six arrays of one length and at least one row.
void expect_well_formed(const std::vector<FourierBlock>& blocks) {
    for (const FourierBlock& b : blocks) {
        const std::size_t n = b.a_x.size();
        EXPECT_GT(n, 0u);
        EXPECT_EQ(b.b_x.size(), n);
        EXPECT_EQ(b.a_y.size(), n);
        EXPECT_EQ(b.b_y.size(), n);
        EXPECT_EQ(b.a_z.size(), n);
        EXPECT_EQ(b.b_z.size(), n);
    }
}

// One scratch directory for this file's cases, removed with its files when the test program ends.
const test_support::TempDir& scratch() {
    static const test_support::TempDir dir;
    return dir;
}

std::string temp_path(const std::string& name) { return (scratch().path() / name).string(); }

std::string write_file(const std::string& name, const std::string& text) {
    const std::string path = temp_path(name);
    test_support::write_file(path, text);
    return path;
}

const std::array<double, 6> kCircleRow{1, 0, 0, 1, 0, 0};
const std::array<double, 6> kZeroRow{0, 0, 0, 0, 0, 0};

// ------------------------------------------------------------------------------------------------
// Evaluation
// ------------------------------------------------------------------------------------------------

TEST(CurveEvaluate, RowKIsHarmonicKPlusOne) {
    const std::vector<double> s{0.0, 0.3, 1.0, M_PI / 2, 4.0, -2.5, 9.0};
    const Polyline once = FourierKnot::evaluate(block_of_rows({kCircleRow}), s);
    const Polyline twice = FourierKnot::evaluate(block_of_rows({kZeroRow, kCircleRow}), s);
    ASSERT_EQ(once.size(), s.size());
    ASSERT_EQ(twice.size(), s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        EXPECT_DOUBLE_EQ(once[i][0], std::cos(s[i]));
        EXPECT_DOUBLE_EQ(once[i][1], std::sin(s[i]));
        EXPECT_EQ(once[i][2], 0.0);
        EXPECT_NEAR(twice[i][0], std::cos(2 * s[i]), 1e-15);
        EXPECT_NEAR(twice[i][1], std::sin(2 * s[i]), 1e-15);
    }
    const Vec3 p = FourierKnot::evalPoint(block_of_rows({kZeroRow, kCircleRow}), M_PI / 2);
    EXPECT_NEAR(p[0], -1.0, 1e-15);
    EXPECT_NEAR(p[1], 0.0, 1e-15);
}

TEST(CurveEvaluate, AllSixColumnsAndParameterOrderAreKept) {
    // x = 1 cos s + 2 sin s + 3 cos 2s ..., checked against the series written out.
    const FourierBlock b = block_of_rows({{1, 2, 3, 4, 5, 6}, {-1, 0.5, 0.25, -2, 7, -3}});
    const std::vector<double> s{2.0, -1.0, 100.0, 0.5};
    const Polyline p = FourierKnot::evaluate(b, s);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double c1 = std::cos(s[i]), s1 = std::sin(s[i]), c2 = std::cos(2 * s[i]), s2 = std::sin(2 * s[i]);
        EXPECT_NEAR(p[i][0], (1 * c1 + 2 * s1) + (-1 * c2 + 0.5 * s2), 1e-13);
        EXPECT_NEAR(p[i][1], (3 * c1 + 4 * s1) + (0.25 * c2 - 2 * s2), 1e-13);
        EXPECT_NEAR(p[i][2], (5 * c1 + 6 * s1) + (7 * c2 - 3 * s2), 1e-13);
        EXPECT_EQ(FourierKnot::evalPoint(b, s[i]), p[i]);
    }
}

TEST(CurveEvaluate, EmptyBlockAndEmptyParameters) {
    const Polyline origin = FourierKnot::evaluate(FourierBlock{}, {0.0, 1.0, 2.0});
    ASSERT_EQ(origin.size(), 3u);
    for (const Vec3& p : origin) EXPECT_EQ(p, (Vec3{0.0, 0.0, 0.0}));
    EXPECT_TRUE(FourierKnot::evaluate(block_of_rows({kCircleRow}), {}).empty());
    EXPECT_EQ(FourierKnot::evalPoint(FourierBlock{}, 1.0), (Vec3{0.0, 0.0, 0.0}));
}

TEST(CurveEvaluate, RaggedBlockReadsMissingCoefficientsAsZero) {
    // Only a_x sets the row count; shorter arrays are padded with zeros, longer ones cut.
    FourierBlock ragged;
    ragged.a_x = {1.0, 0.5, 0.25};
    ragged.b_x = {0.1};
    ragged.b_y = {1.0, 2.0, 3.0, 4.0, 5.0};
    ragged.a_z = {0.0, 0.7};
    FourierBlock padded = block_of_rows({{1.0, 0.1, 0, 1.0, 0, 0}, {0.5, 0, 0, 2.0, 0.7, 0}, {0.25, 0, 0, 3.0, 0, 0}});
    const std::vector<double> s{0.0, 0.4, 2.2, 5.9};
    EXPECT_EQ(FourierKnot::evaluate(ragged, s), FourierKnot::evaluate(padded, s));

    FourierKnot a, b;
    a.activeBlock = ragged;
    b.activeBlock = padded;
    a.reconstruct(9);
    b.reconstruct(9);
    EXPECT_EQ(a.points, b.points);
}

// ------------------------------------------------------------------------------------------------
// Centring and curvature
// ------------------------------------------------------------------------------------------------

TEST(CurveCenter, MeanIsSubtracted) {
    EXPECT_TRUE(FourierKnot::center_points({}).empty());
    EXPECT_EQ(FourierKnot::center_points({{3.0, -4.0, 5.5}}), (Polyline{{0.0, 0.0, 0.0}}));
    const Polyline p{{1, 2, 3}, {4, -1, 0}, {-2, 5, 9}, {0.5, 0.25, -1}};
    const Polyline c = FourierKnot::center_points(p);
    ASSERT_EQ(c.size(), p.size());
    double sx = 0, sy = 0, sz = 0;
    for (const Vec3& q : c) {
        sx += q[0];
        sy += q[1];
        sz += q[2];
    }
    EXPECT_NEAR(sx, 0.0, 1e-14);
    EXPECT_NEAR(sy, 0.0, 1e-14);
    EXPECT_NEAR(sz, 0.0, 1e-14);
    EXPECT_EQ(c[0], (Vec3{1 - 3.5 / 4, 2 - 6.25 / 4, 3 - 11.0 / 4}));
}

TEST(CurveCurvature, FewPointsGiveZeros) {
    EXPECT_TRUE(FourierKnot::curvature({}, 1e-8).empty());
    EXPECT_EQ(FourierKnot::curvature({{1, 2, 3}}, 1e-8), std::vector<double>(1, 0.0));
    EXPECT_EQ(FourierKnot::curvature({{1, 2, 3}, {4, 5, 6}}, 1e-8), std::vector<double>(2, 0.0));
}

TEST(CurveCurvature, RegularPolygonMatchesClosedForm) {
    struct Case {
        std::size_t n;
        double R;
        double eps;
    };
    for (const Case& c : {Case{3, 1.0, 0.0}, Case{8, 2.5, 1e-8}, Case{200, 0.7, 1e-3}, Case{5000, 3.0, 0.0}}) {
        Polyline p(c.n);
        const double th = 2 * M_PI / static_cast<double>(c.n);
        for (std::size_t i = 0; i < c.n; ++i)
            p[i] = {c.R * std::cos(th * static_cast<double>(i)), c.R * std::sin(th * static_cast<double>(i)), 1.0};
        const double expected =
            2 * c.R * c.R * std::sin(th) * (1 - std::cos(th)) / (std::pow(c.R * std::sin(th), 3) + c.eps);
        const std::vector<double> k = FourierKnot::curvature(p, c.eps);
        ASSERT_EQ(k.size(), c.n);
        for (double v : k) EXPECT_NEAR(v, expected, 1e-9 * expected) << "n=" << c.n;
        if (c.n == 5000) {
            EXPECT_NEAR(k[0], 1.0 / c.R, 1e-6);
        }
    }
}

TEST(CurveCurvature, ClosedNeighboursAndCoincidentNeighbours) {
    Polyline p{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0.5}, {-0.5, 0.5, 0.2}, {-0.3, -0.2, 0.1}};
    const std::vector<double> before = FourierKnot::curvature(p, 1e-8);
    p.back() = {-0.4, -0.6, 0.3};
    const std::vector<double> after = FourierKnot::curvature(p, 1e-8);
    const std::size_t n = p.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || i == n - 2 || i == n - 1) {
            EXPECT_NE(before[i], after[i]) << i;
        } else {
            EXPECT_EQ(before[i], after[i]) << i;
        }
    }
    // The two neighbours of point 1 coincide: d1 = 0 gives 0 / eps.
    const Polyline q{{0, 0, 0}, {1, 2, 3}, {0, 0, 0}, {5, 5, 5}};
    EXPECT_EQ(FourierKnot::curvature(q, 1e-8)[1], 0.0);
}

// ------------------------------------------------------------------------------------------------
// Block choice and the object lifecycle
// ------------------------------------------------------------------------------------------------

FourierBlock block_with_rows(std::size_t n, const std::string& header) {
    return block_of_rows(std::vector<std::array<double, 6>>(n, kCircleRow), header);
}

TEST(CurveLargestBlock, FirstOfMaximalLength) {
    EXPECT_EQ(FourierKnot::index_of_largest_block({}), -1);
    EXPECT_EQ(FourierKnot::index_of_largest_block({block_with_rows(2, "a")}), 0);
    const std::vector<FourierBlock> bl{block_with_rows(3, "a"), block_with_rows(5, "b"), block_with_rows(5, "c")};
    EXPECT_EQ(FourierKnot::index_of_largest_block(bl), 1);
    EXPECT_EQ(FourierKnot::index_of_largest_block({block_with_rows(0, "a"), block_with_rows(0, "b")}), 0);

    FourierKnot k;
    k.blocks = bl;
    k.points = {{9, 9, 9}};
    k.selectMaxHarmonics();
    EXPECT_EQ(k.activeBlock.header, "b");
    EXPECT_EQ(k.activeBlock.a_x.size(), 5u);
    EXPECT_EQ(k.blocks.size(), 3u);
    EXPECT_EQ(k.points, (Polyline{{9, 9, 9}}));  // selection leaves the samples alone
}

TEST(CurveLifecycle, FreshObjectFailsAndKeepsState) {
    FourierKnot k;
    k.points = {{1, 2, 3}};
    expect_throw_msg<std::runtime_error>([&] { k.reconstruct(10); }, "No active Fourier block selected");
    EXPECT_EQ(k.points, (Polyline{{1, 2, 3}}));
    // The emptiness test comes before N is looked at.
    expect_throw_msg<std::runtime_error>([&] { k.reconstruct(0); }, "No active Fourier block selected");

    k.activeBlock = block_with_rows(2, "kept");
    expect_throw_msg<std::runtime_error>([&] { k.selectMaxHarmonics(); }, "No Fourier blocks loaded");
    EXPECT_EQ(k.activeBlock.header, "kept");
}

TEST(CurveLifecycle, ReconstructSamplesWithoutEndPoint) {
    FourierKnot k;
    k.blocks = {block_of_rows({kCircleRow})};
    k.selectMaxHarmonics();
    k.reconstruct(4);
    ASSERT_EQ(k.points.size(), 4u);
    const double h = 2 * M_PI / 4;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(k.points[i][0], std::cos(static_cast<double>(i) * h));
        EXPECT_EQ(k.points[i][1], std::sin(static_cast<double>(i) * h));
    }
    EXPECT_NEAR(k.points[1][0], 0.0, 1e-15);
    EXPECT_NEAR(k.points[2][0], -1.0, 1e-15);
    EXPECT_NEAR(k.points[3][1], -1.0, 1e-15);

    k.reconstruct(0);
    EXPECT_TRUE(k.points.empty());
}

// ------------------------------------------------------------------------------------------------
// .fseries readers
// ------------------------------------------------------------------------------------------------

// One text exercising the line rules; the CRLF form differs for loadBlocks only.
const char* const kTortureLines[] = {"% first",      "%   Header B  ",     "",      "1 2 3 4 5 6",
                                     " % not a comment", "7 8 9 10 11 12 13", "1 2 3", "",
                                     "2 2 2 2 2 2",  "% C",                "3 3 3 3 3 3", "% trailing"};

std::string torture_text(const std::string& eol) {
    std::string s;
    for (const char* l : kTortureLines) s += std::string(l) + eol;
    return s;
}

using Rows = std::vector<std::array<double, 6>>;
const std::array<double, 6> kR1{1, 2, 3, 4, 5, 6}, kR7{7, 8, 9, 10, 11, 12}, kR2{2, 2, 2, 2, 2, 2},
    kR3{3, 3, 3, 3, 3, 3};

void expect_lenient_torture(const std::vector<FourierBlock>& b) {
    expect_well_formed(b);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].header, "Header B");
    EXPECT_EQ(rows_of(b[0]), (Rows{kR1, kR7}));
    EXPECT_EQ(b[1].header, "");
    EXPECT_EQ(rows_of(b[1]), (Rows{kR2}));
    EXPECT_EQ(b[2].header, "C");
    EXPECT_EQ(rows_of(b[2]), (Rows{kR3}));
}

TEST(FseriesReader, LenientLineRulesFromStringAndFile) {
    for (const std::string eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol == "\n" ? "LF" : "CRLF");
        const std::string text = torture_text(eol);
        const std::vector<FourierBlock> from_string = FourierKnot::parse_fseries_from_string(text);
        expect_lenient_torture(from_string);
        const std::string path = write_file("torture.fseries", text);
        const std::vector<FourierBlock> from_file = FourierKnot::parse_fseries_multi(path);
        expect_lenient_torture(from_file);
        ASSERT_EQ(from_file.size(), from_string.size());
        for (std::size_t i = 0; i < from_file.size(); ++i) {
            EXPECT_EQ(from_file[i].header, from_string[i].header);
            EXPECT_EQ(rows_of(from_file[i]), rows_of(from_string[i]));
        }
        std::remove(path.c_str());
    }
}

TEST(FseriesReader, StrictLineRulesOfLoadBlocks) {
    FourierKnot k;
    k.loadBlocks(write_file("strict_lf.fseries", torture_text("\n")));
    expect_well_formed(k.blocks);
    ASSERT_EQ(k.blocks.size(), 3u);
    EXPECT_EQ(rows_of(k.blocks[0]), (Rows{kR1}));  // the seven-number line is not a row
    EXPECT_EQ(rows_of(k.blocks[1]), (Rows{kR2}));
    EXPECT_EQ(rows_of(k.blocks[2]), (Rows{kR3}));
    for (const FourierBlock& b : k.blocks) EXPECT_EQ(b.header, "");

    // A line holding only a carriage return is no break, so the first two runs merge.
    k.loadBlocks(write_file("strict_crlf.fseries", torture_text("\r\n")));
    expect_well_formed(k.blocks);
    ASSERT_EQ(k.blocks.size(), 2u);
    EXPECT_EQ(rows_of(k.blocks[0]), (Rows{kR1, kR2}));
    EXPECT_EQ(rows_of(k.blocks[1]), (Rows{kR3}));
    std::remove(temp_path("strict_lf.fseries").c_str());
    std::remove(temp_path("strict_crlf.fseries").c_str());
}

TEST(FseriesReader, LenientTableOfTexts) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> headers;
        std::vector<Rows> rows;
    };
    const std::vector<Case> cases{
        {"empty", "", {}, {}},
        {"comments only", "% a\n% b\n", {}, {}},
        {"three numbers per line", "1 2 3\n4 5 6\n", {}, {}},
        {"header survives a blank line", "% name\n\n1 2 3 4 5 6\n", {"name"}, {{kR1}}},
        {"header trimmed both ways", "%  \tword  \t\n1 2 3 4 5 6\n", {"word"}, {{kR1}}},
        {"percent alone", "%\n1 2 3 4 5 6\n", {""}, {{kR1}}},
        {"double percent", "%%x\n1 2 3 4 5 6\n", {"%x"}, {{kR1}}},
        {"blank line splits", "1 2 3 4 5 6\n\n2 2 2 2 2 2\n", {"", ""}, {{kR1}, {kR2}}},
        {"whitespace-only line splits", "1 2 3 4 5 6\n \t \n2 2 2 2 2 2\n", {"", ""}, {{kR1}, {kR2}}},
        {"comment splits and names the next", "% A\n1 2 3 4 5 6\n% B\n2 2 2 2 2 2", {"A", "B"}, {{kR1}, {kR2}}},
        {"trailing comment dropped", "1 2 3 4 5 6\n% end\n", {""}, {{kR1}}},
        {"blank-led percent does not split", "% A\n1 2 3 4 5 6\n  % x\n2 2 2 2 2 2\n", {"A"}, {{kR1, kR2}}},
        {"last row without line feed", "% A\n1 2 3 4 5 6", {"A"}, {{kR1}}},
        {"trailing words ignored", "1 2 3 4 5 6 words here\n", {""}, {{kR1}}},
        {"bad number among six", "1 2 3 4 5 x\n1 2 3 4 5 6\n", {""}, {{kR1}}},
        {"overflowing number rejected", "1 2 3 4 5 1e999\n2 2 2 2 2 2\n", {""}, {{kR2}}},
        {"leading blanks and tabs", "   1\t2  3 4\t\t5 6\n", {""}, {{kR1}}},
        {"exponent and sign forms", "-1.5e0 +2 .5 1E1 -0 3.\n", {""}, {{{-1.5, 2, 0.5, 10, -0.0, 3}}}},
        {"comment between header and rows replaces it", "% A\n% B\n\n% C\n1 2 3 4 5 6\n", {"C"}, {{kR1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<FourierBlock> b = FourierKnot::parse_fseries_from_string(c.text);
        expect_well_formed(b);
        ASSERT_EQ(b.size(), c.rows.size());
        for (std::size_t i = 0; i < b.size(); ++i) {
            EXPECT_EQ(b[i].header, c.headers[i]);
            EXPECT_EQ(rows_of(b[i]), c.rows[i]);
        }
    }
}

TEST(FseriesReader, StrictTableOfLines) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Rows> rows;
    };
    const std::vector<Case> cases{
        {"seven numbers ignored", "1 2 3 4 5 6 7\n2 2 2 2 2 2\n", {{kR2}}},
        {"six numbers then a word", "1 2 3 4 5 6 end\n", {{kR1}}},
        {"six numbers then carriage return", "1 2 3 4 5 6\r\n", {{kR1}}},
        {"blank-only line is no break", "1 2 3 4 5 6\n   \n2 2 2 2 2 2\n", {{kR1, kR2}}},
        {"empty line breaks", "1 2 3 4 5 6\n\n2 2 2 2 2 2", {{kR1}, {kR2}}},
        {"comment breaks", "1 2 3 4 5 6\n%x\n2 2 2 2 2 2", {{kR1}, {kR2}}},
        {"five numbers ignored", "1 2 3 4 5\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FourierKnot k;
        k.loadBlocks(write_file("strict_case.fseries", c.text));
        expect_well_formed(k.blocks);
        ASSERT_EQ(k.blocks.size(), c.rows.size());
        for (std::size_t i = 0; i < k.blocks.size(); ++i) EXPECT_EQ(rows_of(k.blocks[i]), c.rows[i]);
    }
    std::remove(temp_path("strict_case.fseries").c_str());
}

TEST(FseriesReader, MissingFile) {
    const std::string path = temp_path("does_not_exist/knot.fseries");
    EXPECT_TRUE(FourierKnot::parse_fseries_multi(path).empty());

    FourierKnot k;
    k.blocks = {block_with_rows(2, "old")};
    k.activeBlock = block_with_rows(3, "active");
    k.points = {{1, 1, 1}};
    expect_throw_msg<std::runtime_error>([&] { k.loadBlocks(path); }, "Cannot open file: " + path);
    EXPECT_TRUE(k.blocks.empty());
    EXPECT_EQ(k.activeBlock.header, "active");
    EXPECT_EQ(k.points, (Polyline{{1, 1, 1}}));
}

TEST(FseriesReader, TrefoilTextThroughTheWholeChain) {
    const std::string text =
        "% Knot 3_1 (trefoil knot)\n"
        "    0.000000    0.224483    0.224483    0.000000    0.000000    0.000000\n"
        "    0.995730    0.000000    0.000000    0.995730    0.000000    0.000000\n"
        "    0.000000    0.000000    0.000000    0.000000    0.445727    0.000000\n"
        "    0.000000    0.000000    0.000000    0.000000    0.000000    0.000000\n"
        "    0.000000    0.221238   -0.221238    0.000000    0.000000    0.000000\n";
    const std::vector<FourierBlock> b = FourierKnot::parse_fseries_from_string(text);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].header, "Knot 3_1 (trefoil knot)");
    EXPECT_EQ(b[0].a_x, (std::vector<double>{0, 0.99573, 0, 0, 0}));
    EXPECT_EQ(b[0].a_y, (std::vector<double>{0.224483, 0, 0, 0, -0.221238}));
    EXPECT_EQ(b[0].a_z, (std::vector<double>{0, 0, 0.445727, 0, 0}));

    FourierKnot k;
    k.loadBlocks(write_file("trefoil.fseries", text));
    ASSERT_EQ(k.blocks.size(), 1u);
    EXPECT_EQ(rows_of(k.blocks[0]), rows_of(b[0]));
    k.selectMaxHarmonics();
    k.reconstruct(8);
    // x(0) = sum of a_x, y(0) = sum of a_y, z(0) = sum of a_z.
    EXPECT_DOUBLE_EQ(k.points[0][0], 0.99573);
    EXPECT_DOUBLE_EQ(k.points[0][1], 0.224483 - 0.221238);
    EXPECT_DOUBLE_EQ(k.points[0][2], 0.445727);
    std::remove(temp_path("trefoil.fseries").c_str());
}

}  // namespace
