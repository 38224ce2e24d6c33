// Swirl force field: grid layout, degenerate sizes, the oversized-grid guard, and agreement with the field's
// vector form evaluated in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "core/interrupt.hpp"
#include "models/swirl_field.hpp"
#include "test_support.hpp"

using tarq::compute_swirl_field;

namespace {

// m (0.25 (-y, x)/r - 0.1 (x, y)/r^2), m = 1 + 0.03 sin(10 r - 6 t), r^2 = x^2 + y^2 + 1e-5, in double.
std::array<double, 2> vector_form(double x, double y, double t) {
    const double r2 = x * x + y * y + 1e-5;
    const double r = std::sqrt(r2);
    const double m = 1.0 + 0.03 * std::sin(10.0 * r - 6.0 * t);
    return {m * (0.25 * -y / r - 0.1 * x / r2), m * (0.25 * x / r - 0.1 * y / r2)};
}

}  // namespace

TEST(SwirlField, DegenerateSizes) {
    EXPECT_TRUE(compute_swirl_field(0, 0.5f).empty());
    // A negative resolution still gives res^2 entries, none of them filled.
    const auto neg = compute_swirl_field(-3, 0.5f);
    ASSERT_EQ(neg.size(), 9u);
    for (const auto& f : neg) {
        EXPECT_EQ(f[0], 0.0f);
        EXPECT_EQ(f[1], 0.0f);
    }
}

TEST(SwirlField, SinglePointAndCornerReference) {
    const auto one = compute_swirl_field(1, 0.0f);
    ASSERT_EQ(one.size(), 1u);
    const auto four = compute_swirl_field(4, 0.0f);
    ASSERT_EQ(four.size(), 16u);
    // Both sample (-0.5, -0.5) first.
    EXPECT_EQ(one[0], four[0]);
    EXPECT_NEAR(four[0][0], 0.282659113, 1e-7);
    EXPECT_NEAR(four[0][1], -0.0784097612, 1e-7);
}

TEST(SwirlField, OuterIndexIsX) {
    const auto f = compute_swirl_field(4, 0.25f);
    // Entry 1 is (x, y) = (-0.5, -0.25), entry 4 is (-0.25, -0.5): mirror images across y = x.
    const auto e1 = vector_form(-0.5, -0.25, 0.25);
    EXPECT_NEAR(f[1][0], e1[0], 1e-6);
    EXPECT_NEAR(f[1][1], e1[1], 1e-6);
    const auto e4 = vector_form(-0.25, -0.5, 0.25);
    EXPECT_NEAR(f[4][0], e4[0], 1e-6);
    EXPECT_NEAR(f[4][1], e4[1], 1e-6);
    EXPECT_NE(f[1], f[4]);
}

TEST(SwirlField, CentreVanishesForEvenResolution) {
    for (float t : {0.0f, 1.3f, -7.0f}) {
        const auto f = compute_swirl_field(4, t);
        EXPECT_EQ(f[10][0], 0.0f) << t;
        EXPECT_EQ(f[10][1], 0.0f) << t;
        const auto g = compute_swirl_field(10, t);
        EXPECT_EQ(g[5 * 10 + 5][0], 0.0f) << t;
        EXPECT_EQ(g[5 * 10 + 5][1], 0.0f) << t;
    }
}

TEST(SwirlField, WholeGridMatchesDoublePrecisionForm) {
    const int res = 37;
    for (float t : {0.0f, 0.75f, -2.5f}) {
        const auto f = compute_swirl_field(res, t);
        ASSERT_EQ(f.size(), static_cast<std::size_t>(res * res));
        for (int i = 0; i < res; ++i) {
            for (int j = 0; j < res; ++j) {
                const auto e = vector_form(i / double(res) - 0.5, j / double(res) - 0.5, t);
                const auto& got = f[static_cast<std::size_t>(i * res + j)];
                // Single-precision rounding of the coordinates dominates near the centre.
                const double tol = 1e-5 * (std::abs(e[0]) + std::abs(e[1])) + 1e-6;
                ASSERT_NEAR(got[0], e[0], tol) << i << "," << j;
                ASSERT_NEAR(got[1], e[1], tol) << i << "," << j;
            }
        }
    }
}

TEST(SwirlField, NonFiniteTimePropagates) {
    const auto f = compute_swirl_field(2, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(f[0][0]));
    EXPECT_TRUE(std::isnan(f[3][1]));
}

TEST(SwirlField, EntryCountBeyondSigned32BitsIsRejected) {
    // 46341^2 exceeds INT32_MAX; 65536^2 and 65537^2 would wrap to 0 and 131073 in 32-bit arithmetic.
    for (int res : {46341, -46341, 65536, 65537, 92682, std::numeric_limits<int>::max(),
                    std::numeric_limits<int>::min()}) {
        test_support::expect_throw_msg<std::length_error>([res] { compute_swirl_field(res, 0.0f); }, "vector");
    }
}

namespace {

int g_polls = 0;
struct Interrupted {};
void interrupt_on_first_poll() {
    ++g_polls;
    throw Interrupted{};
}

}  // namespace

TEST(SwirlField, LargeGridPollsForInterrupts) {
    g_polls = 0;
    tarq::set_interrupt_hook(&interrupt_on_first_poll);
    EXPECT_THROW(compute_swirl_field(1024, 0.0f), Interrupted);
    tarq::set_interrupt_hook(nullptr);
    EXPECT_EQ(g_polls, 1);
}
