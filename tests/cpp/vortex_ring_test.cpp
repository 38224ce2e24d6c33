// Vortex-ring formulas and the golden closure: reference values, NaN and boundary behaviour, solver paths,
// warning counts and messages.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "core/interrupt.hpp"
#include "models/golden_closure.hpp"
#include "models/vortex_ring.hpp"
#include "test_support.hpp"

using tarq::GoldenNLSClosure;
using tarq::VortexRing;
using test_support::expect_throw_msg;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kElectronMass = 9.10938356e-31;
const double kRc = 1.40897017e-15;

const char* const kResidualWarning = "Warning: geometric ratio residual evaluated outside CORE_DOMINATED regime.\n";
const char* const kNewtonWarning =
    "Warning: Inferring fundamental mass geometric ratio outside of CORE_DOMINATED regime.\n";
const char* const kNoBracket = "infer_geometric_ratio_safe: could not bracket root for bisection fallback.";
const char* const kSafeFailed = "infer_geometric_ratio_safe: failed to converge.";

// Collects what is written to std::cerr while it lives.
class CerrCapture {
public:
    CerrCapture() : old_(std::cerr.rdbuf(buf_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(old_); }
    std::string text() const { return buf_.str(); }
    // Number of lines, each of which must be `line`.
    int count_of(const std::string& line) const {
        const std::string s = buf_.str();
        int n = 0;
        for (std::size_t pos = 0; pos < s.size(); pos += line.size(), ++n) {
            if (s.compare(pos, line.size(), line) != 0) return -1;
        }
        return n;
    }

private:
    std::ostringstream buf_;
    std::streambuf* old_;
};

GoldenNLSClosure closure(int regime) { return GoldenNLSClosure(static_cast<GoldenNLSClosure::DensityRegime>(regime)); }

// Target mass whose geometric ratio is exactly `root` in the regime with residual coefficient B.
double target_for_root(double root, double B) {
    const double k = (B / -1.7975103574736352e17) * kRc;
    return -k * ((std::log(8.0 * root) - 1.618033988749895) * root);
}

const double kCoreB = 365.16732678596895;
const double kFluidB = 6.565335609174999e-23;

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Vortex rings

TEST(VortexRing, HillReferenceValues) {
    EXPECT_EQ(VortexRing::hill_circulation(3.0, 1.0), 6.283185307179586);
    EXPECT_EQ(VortexRing::hill_circulation(1.0, 2.0), (8.0 * 6.283185307179586) / 3.0);
    EXPECT_EQ(VortexRing::hill_velocity(5.0, 1.0), 1.0);
    EXPECT_EQ(VortexRing::hill_velocity(1.0, 0.5), 0.4);
    // Inside the sphere: s = 2, q = 4.
    EXPECT_EQ(VortexRing::hill_streamfunction(2.0, 1.0, 1.0, 2.0), 4.0);
    EXPECT_EQ(VortexRing::hill_vorticity(2.0, 1.0, 1.0, 2.0), 2.0);
    // The vorticity bracket weights a3 by four and a2 by one.
    EXPECT_EQ(VortexRing::hill_vorticity(1.0, 0.0, 1.0, 3.0), -5.0);
    EXPECT_EQ(VortexRing::hill_vorticity(1.0, 1.0, 0.0, 3.0), -8.0);
}

TEST(VortexRing, HillIsZeroOnAndOutsideTheBoundaryAndForNaN) {
    struct Case {
        double a2, a3, a4;
    };
    const Case cases[] = {{3.0, 4.0, 5.0}, {4.0, 3.0, -5.0}, {6.0, 0.0, 5.0}, {kNaN, 0.0, 5.0},
                          {0.0, kNaN, 5.0}, {0.0, 0.0, kNaN}, {kInf, 0.0, kInf}};
    for (const Case& c : cases) {
        for (double a1 : {1.0, -2.0, kNaN}) {
            const double psi = VortexRing::hill_streamfunction(a1, c.a2, c.a3, c.a4);
            const double om = VortexRing::hill_vorticity(a1, c.a2, c.a3, c.a4);
            EXPECT_EQ(psi, 0.0);
            EXPECT_FALSE(std::signbit(psi));
            EXPECT_EQ(om, 0.0);
            EXPECT_FALSE(std::signbit(om));
        }
    }
}

TEST(VortexRing, LambOseenValuesAndLimits) {
    // Γ = 2π, r = 1, ν t = 1/4: 1 − e^(−1).
    EXPECT_NEAR(VortexRing::lamb_oseen_velocity(6.283185307179586, 1.0, 0.25, 1.0), 1.0 - std::exp(-1.0), 1e-15);
    EXPECT_EQ(VortexRing::lamb_oseen_vorticity(12.566370614359172, 0.0, 1.0, 1.0), 1.0);
    EXPECT_NEAR(VortexRing::lamb_oseen_vorticity(12.566370614359172, 2.0, 1.0, 1.0), std::exp(-1.0), 1e-16);
    // A wide core leaves almost no swirl; a thin one the potential vortex Γ/(2π r).
    EXPECT_LT(VortexRing::lamb_oseen_velocity(1.0, 1.0, 1e10, 1e10), 1e-20);
    EXPECT_EQ(VortexRing::lamb_oseen_velocity(1.0, 2.0, 1e-10, 1e-10), 1.0 / (6.283185307179586 * 2.0));
    // Only the product a3·a4 matters, bit for bit.
    const double pairs[][2] = {{0.3, 7.0}, {1e-3, 2.5}, {3.7, 0.01}, {-2.0, 0.125}};
    for (const auto& p : pairs) {
        EXPECT_EQ(VortexRing::lamb_oseen_velocity(1.0, 1.0, p[0], p[1]),
                  VortexRing::lamb_oseen_velocity(1.0, 1.0, p[1], p[0]));
    }
    // Zero radius: Γ/0 times (1 − 1) is NaN; zero viscosity divides by zero inside the exponent.
    EXPECT_TRUE(std::isnan(VortexRing::lamb_oseen_velocity(1.0, 0.0, 1.0, 1.0)));
    EXPECT_EQ(VortexRing::lamb_oseen_velocity(1.0, 1.0, 0.0, 1.0), 1.0 / 6.283185307179586);
    EXPECT_TRUE(std::isnan(VortexRing::lamb_oseen_vorticity(1.0, 1.0, 0.0, 1.0)));
}

// ---------------------------------------------------------------------------------------------------------------
// Golden closure: regimes, energies, masses

TEST(GoldenClosure, RegimeConstants) {
    EXPECT_EQ(closure(1).get_active_density(), 3.8934358266918687e18);
    EXPECT_EQ(closure(0).get_active_density(), 7e-7);
    EXPECT_EQ(closure(1).calculate_loop_energy(kRc), 1.1869937015286954e-13);
    EXPECT_EQ(closure(1).calculate_loop_mass(kRc), 1.1869937015286954e-13 / 8.987551787368176e16);
    EXPECT_EQ(closure(1).calculate_loop_mass(kRc), 1.3207086085411951e-30);
    EXPECT_EQ(closure(0).calculate_loop_energy(kRc), 2.1340934538429849e-38);
    GoldenNLSClosure c = closure(0);
    c.set_regime(GoldenNLSClosure::CORE_DOMINATED);
    EXPECT_EQ(c.get_active_density(), 3.8934358266918687e18);
}

TEST(GoldenClosure, NonPositiveRadiusFollowsTheLogarithm) {
    EXPECT_TRUE(std::isnan(closure(1).calculate_loop_energy(0.0)));
    EXPECT_TRUE(std::isnan(closure(1).calculate_loop_mass(-1e-15)));
    EXPECT_TRUE(std::isnan(closure(0).calculate_loop_energy(kNaN)));
}

TEST(GoldenClosure, UnknownRegimeIsRejectedAtCallTime) {
    for (int regime : {2, -1, INT_MAX, INT_MIN}) {
        const GoldenNLSClosure c = closure(regime);
        expect_throw_msg<std::runtime_error>([&] { c.get_active_density(); }, "Unknown density regime selected.");
        expect_throw_msg<std::runtime_error>([&] { c.calculate_loop_energy(kRc); }, "Unknown density regime selected.");
        expect_throw_msg<std::runtime_error>([&] { c.calculate_loop_mass(kRc); }, "Unknown density regime selected.");
        EXPECT_EQ(c.calculate_screened_mass(1.0, 2), 0.38196601125010515);
    }
}

TEST(GoldenClosure, ScreenedMass) {
    EXPECT_EQ(closure(1).calculate_screened_mass(1.0, 0), 1.0);
    EXPECT_EQ(closure(1).calculate_screened_mass(1.0, -1), 1.618033988749895);
    EXPECT_EQ(closure(1).calculate_screened_mass(3.0, 2), 0.38196601125010515 * 3.0);
    // The most negative exponent is widened before negation.
    EXPECT_EQ(closure(1).calculate_screened_mass(1.0, INT_MIN), kInf);
    EXPECT_EQ(closure(1).calculate_screened_mass(1.0, INT_MAX), 0.0);
}

// ---------------------------------------------------------------------------------------------------------------
// Golden closure: residual and solvers

TEST(GoldenClosure, ResidualChecksXBeforeTheRegime) {
    for (int regime : {0, 1, 2}) {
        CerrCapture cap;
        for (double x : {0.0, -0.0, -1.0, -kInf}) {
            expect_throw_msg<std::domain_error>([&] { closure(regime).geometric_ratio_residual(x, kElectronMass); },
                                                "geometric_ratio_residual: x must be > 0.");
        }
        EXPECT_EQ(cap.text(), "");
    }
    CerrCapture cap;
    EXPECT_TRUE(std::isnan(closure(1).geometric_ratio_residual(kNaN, kElectronMass)));
    EXPECT_EQ(cap.text(), "");
    expect_throw_msg<std::runtime_error>([] { closure(2).geometric_ratio_residual(1.0, kElectronMass); },
                                         "Unknown density regime selected.");
    EXPECT_EQ(cap.count_of(kResidualWarning), 1);
}

TEST(GoldenClosure, ResidualRootIsTheTargetMassRatio) {
    const GoldenNLSClosure core = closure(1);
    const double x = core.infer_geometric_ratio(kElectronMass, 1e-12, 100);
    EXPECT_NEAR(core.calculate_loop_mass(x * kRc), kElectronMass, 1e-15 * kElectronMass);
    EXPECT_NEAR(core.geometric_ratio_residual(x, kElectronMass), 0.0, 1e-15);
}

TEST(GoldenClosure, NewtonCoreDominated) {
    CerrCapture cap;
    EXPECT_EQ(closure(1).infer_geometric_ratio(kElectronMass, 1e-12, 100), 0.89838128044679477);
    EXPECT_EQ(closure(1).infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 100),
              0.89838128044679488);
    EXPECT_EQ(cap.text(), "");
}

TEST(GoldenClosure, NewtonEffectiveFluidWarnsOnce) {
    CerrCapture cap;
    EXPECT_EQ(closure(0).infer_geometric_ratio(kElectronMass, 1e-12, 100), 3.3821630161479524e22);
    EXPECT_EQ(cap.count_of(kNewtonWarning), 1);
}

TEST(GoldenClosure, NewtonFailures) {
    for (int max_iter : {0, -5, INT_MIN}) {
        expect_throw_msg<std::runtime_error>([&] { closure(1).infer_geometric_ratio(kElectronMass, 1e-12, max_iter); },
                                             "Newton-Raphson failed to converge for geometric ratio.");
    }
    // Three steps are not enough for 1e-12; NaN steps never converge.
    expect_throw_msg<std::runtime_error>([] { closure(1).infer_geometric_ratio(kElectronMass, 1e-12, 3); },
                                         "Newton-Raphson failed to converge for geometric ratio.");
    expect_throw_msg<std::runtime_error>([] { closure(1).infer_geometric_ratio(kNaN, 1e-12, 100); },
                                         "Newton-Raphson failed to converge for geometric ratio.");
    CerrCapture cap;
    expect_throw_msg<std::runtime_error>([] { closure(7).infer_geometric_ratio(kElectronMass, 1e-12, 0); },
                                         "Unknown density regime selected.");
    EXPECT_EQ(cap.count_of(kNewtonWarning), 1);
}

TEST(GoldenClosure, SafeSolverEffectiveFluidCannotBracket) {
    // One Newton evaluation, two endpoints, twelve widenings of two.
    {
        CerrCapture cap;
        expect_throw_msg<std::runtime_error>(
            [] { closure(0).infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 100); },
            kNoBracket);
        EXPECT_EQ(cap.count_of(kResidualWarning), 27);
    }
    // Without the Newton phase the bracket error still comes first.
    {
        CerrCapture cap;
        expect_throw_msg<std::runtime_error>(
            [] { closure(0).infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 0); },
            kNoBracket);
        EXPECT_EQ(cap.count_of(kResidualWarning), 26);
    }
}

TEST(GoldenClosure, SafeSolverBracketValidation) {
    const double bad[][2] = {{0.0, 1.0}, {-1.0, 1.0}, {1.0, 1.0}, {2.0, 1.0}, {-2.0, -1.0}, {1.0, -0.0}};
    for (const auto& b : bad) {
        CerrCapture cap;
        expect_throw_msg<std::invalid_argument>(
            [&] { closure(0).infer_geometric_ratio_safe(kElectronMass, 1.0, b[0], b[1], 1e-12, 1e-12, 100); },
            "infer_geometric_ratio_safe: require 0 < x_min < x_max.");
        EXPECT_EQ(cap.text(), "");
    }
    // NaN bounds pass the check; the Newton phase then converges from x0.
    EXPECT_NEAR(closure(1).infer_geometric_ratio_safe(kElectronMass, 1.0, kNaN, 10.0, 1e-12, 1e-12, 100),
                0.8983812804467948, 1e-15);
    // An unknown regime is reported by the first residual.
    CerrCapture cap;
    expect_throw_msg<std::runtime_error>(
        [] { closure(2).infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 100); },
        "Unknown density regime selected.");
    EXPECT_EQ(cap.count_of(kResidualWarning), 1);
}

TEST(GoldenClosure, SafeSolverClampsTheStartToTheBracket) {
    for (int regime : {0, 1}) {
        const double B = regime == 0 ? kFluidB : kCoreB;
        const double hi_target = target_for_root(10.0, B);
        const double lo_target = target_for_root(0.5, B);
        CerrCapture cap;
        EXPECT_EQ(closure(regime).infer_geometric_ratio_safe(hi_target, 100.0, 1e-6, 10.0, 1e-12, 1e-6, 100), 10.0);
        EXPECT_EQ(closure(regime).infer_geometric_ratio_safe(lo_target, 1e-9, 0.5, 10.0, 1e-12, 1e-6, 100), 0.5);
        // One residual evaluation each.
        EXPECT_EQ(cap.count_of(kResidualWarning), regime == 0 ? 2 : 0);
    }
}

TEST(GoldenClosure, SafeSolverFallsBackToBisection) {
    // From 0.5 the first Newton step leaves [0.5, 0.9], which holds the root.
    const GoldenNLSClosure core = closure(1);
    EXPECT_NEAR(core.infer_geometric_ratio_safe(kElectronMass, 0.5, 0.5, 0.9, 1e-12, 1e-12, 100), 0.8983812804467948,
                2e-12);
    // One Newton iteration, then four halvings: not enough.
    expect_throw_msg<std::runtime_error>(
        [&] { core.infer_geometric_ratio_safe(kElectronMass, 0.5, 0.5, 0.9, 1e-12, 1e-12, 1); }, kSafeFailed);
    // Without the Newton phase or budget the bracket is still checked, then the call fails.
    expect_throw_msg<std::runtime_error>(
        [&] { core.infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 0); }, kSafeFailed);
    expect_throw_msg<std::runtime_error>(
        [&] { core.infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, 1e-12, 1e-12, -3); }, kSafeFailed);
}

TEST(GoldenClosure, SafeSolverHalvingBudgetDoesNotOverflow) {
    // 4·max_iter exceeds the int range for these; the bisection must still run.
    const GoldenNLSClosure core = closure(1);
    for (int max_iter : {536870912, 1073741824, INT_MAX}) {
        EXPECT_NEAR(core.infer_geometric_ratio_safe(kElectronMass, 0.5, 0.5, 0.9, 1e-12, 1e-12, max_iter),
                    0.8983812804467948, 2e-12);
    }
}

TEST(GoldenClosure, SafeSolverWidensTwelveTimesAtMost) {
    // Newton from 1 leaves [0.5, 1]; the bracket doubles up to 4096, enough for a root at 4000 but not 4100.
    const GoldenNLSClosure core = closure(1);
    const double t4000 = target_for_root(4000.0, kCoreB);
    EXPECT_NEAR(core.infer_geometric_ratio_safe(t4000, 1.0, 0.5, 1.0, 1e-12, 1e-12, 100), 4000.0, 1e-9);
    const double t4100 = target_for_root(4100.0, kCoreB);
    expect_throw_msg<std::runtime_error>(
        [&] { core.infer_geometric_ratio_safe(t4100, 1.0, 0.5, 1.0, 1e-12, 1e-12, 100); }, kNoBracket);
    // The lower end stops at 1e-12: a root at 5e-13 stays out of reach, though 2e-12/4096 would pass it.
    const double tiny = target_for_root(5e-13, kCoreB);
    expect_throw_msg<std::runtime_error>(
        [&] { core.infer_geometric_ratio_safe(tiny, 1.0, 2e-12, 4e-12, 1e-12, 1e-12, 100); }, kNoBracket);
}

TEST(GoldenClosure, SafeSolverNonFiniteEndpoints) {
    for (double target : {kInf, -kInf, kNaN}) {
        expect_throw_msg<std::runtime_error>(
            [&] { closure(1).infer_geometric_ratio_safe(target, 1.0, 1e-6, 10.0, 1e-12, 1e-12, 100); },
            "infer_geometric_ratio_safe: non-finite residual at bracket endpoints.");
    }
    // 8·x_max overflows the logarithm's argument.
    expect_throw_msg<std::runtime_error>(
        [] { closure(1).infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 1e308, 1e-12, 1e-12, 0); },
        "infer_geometric_ratio_safe: non-finite residual at bracket endpoints.");
}

TEST(GoldenClosure, SolversPollTheInterruptHook) {
    struct Stop {};
    static int polls;
    polls = 0;
    tarq::set_interrupt_hook([] {
        if (++polls == 3) throw Stop{};
    });
    const GoldenNLSClosure core = closure(1);
    // Negative tolerances never accept a step, so only the hook ends these loops early.
    EXPECT_THROW(core.infer_geometric_ratio(kElectronMass, -1.0, INT_MAX), Stop);
    polls = 0;
    EXPECT_THROW(core.infer_geometric_ratio_safe(kElectronMass, 1.0, 1e-6, 10.0, -1.0, -1.0, INT_MAX), Stop);
    tarq::set_interrupt_hook(nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// Golden closure: static helpers

TEST(GoldenClosure, StaticHelpers) {
    EXPECT_NEAR(GoldenNLSClosure::infer_effective_base(8.0, 3), 2.0, 1e-15);
    EXPECT_EQ(GoldenNLSClosure::infer_effective_base(9.0, 2), 3.0);
    EXPECT_EQ(GoldenNLSClosure::predicted_ratio_from_base(2.0, -1), 0.5);
    EXPECT_EQ(GoldenNLSClosure::predicted_ratio_from_base(2.0, 0), 1.0);
    EXPECT_EQ(GoldenNLSClosure::predicted_ratio_from_base(1.5, 3), 3.375);
    EXPECT_EQ(GoldenNLSClosure::relative_error(0.0, 2.0), 1.0);
    EXPECT_EQ(GoldenNLSClosure::relative_error(3.0, -2.0), 2.5);
    EXPECT_TRUE(std::isnan(GoldenNLSClosure::relative_error(1.0, kNaN)));
    EXPECT_TRUE(std::isnan(GoldenNLSClosure::infer_effective_base(kNaN, 2)));
}

TEST(GoldenClosure, StaticHelperMessages) {
    expect_throw_msg<std::domain_error>([] { GoldenNLSClosure::infer_effective_base(0.0, 0); },
                                        "infer_effective_base: ratio must be > 0.");
    expect_throw_msg<std::domain_error>([] { GoldenNLSClosure::infer_effective_base(-1.0, 3); },
                                        "infer_effective_base: ratio must be > 0.");
    for (int n : {0, -1, INT_MIN}) {
        expect_throw_msg<std::invalid_argument>([&] { GoldenNLSClosure::infer_effective_base(8.0, n); },
                                                "infer_effective_base: exponent_n must be positive.");
    }
    for (double base : {0.0, -0.0, -2.0, -kInf}) {
        expect_throw_msg<std::domain_error>([&] { GoldenNLSClosure::predicted_ratio_from_base(base, 1); },
                                            "predicted_ratio_from_base: base must be > 0.");
    }
    for (double observed : {0.0, -0.0}) {
        expect_throw_msg<std::domain_error>([&] { GoldenNLSClosure::relative_error(1.0, observed); },
                                            "relative_error: observed must be nonzero.");
    }
}
