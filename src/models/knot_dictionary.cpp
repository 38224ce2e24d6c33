// The knot dictionary and the zoo evaluator's closed-form golden masses over it.
#include "models/knot_dictionary.hpp"
#include "models/zoo_evaluator.hpp"

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/constants.hpp"

// ---------------------------------------------------------------------------------------------------------------
// Load-time constants. PHI is defined before the dictionary so that it is set first; both are ready before the
// module's init function runs.

namespace TARQ {
namespace Constants {
const long double PHI = (1.0L + std::sqrt(5.0L)) * 0.5L;
}  // namespace Constants
}  // namespace TARQ

static const std::map<std::string, TARQKnotInvariants> TARQ_MASTER_DICTIONARY = {
    {"Knot 10_1 (Twist)", {3.0, 1, 1, {-1, -2, 3, -4, 5, -4, -3, 2, -4, 1, -5, 6, -7, -6, 5, -4, -3, 2, -4, -5,
                                       6, 7, -8, -7, -6, 5, -4, -3, -4, -5, 6, 5, 7, -4, 8, 3, 5, -2, -6, 3}}},
    {"Knot 11_1 (Torus)", {2.0, 5, 1, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 12a1202", {3.0, 3, 1, {1, 2, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2}}},
    {"Knot 15a331", {3.0, 4, 1, {1, 2, 1, 2, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2, 1}}},
    {"Knot 3_1 (Trefoil)", {2.0, 1, 1, {-1, -1, -1}}},
    {"Knot 4_1 (Figure-Eight)", {3.0, 1, 1, {1, -2, 1, -2}}},
    {"Knot 5_1 (Torus)", {2.0, 2, 1, {-1, -1, -1, -1, -1}}},
    {"Knot 5_2 (Twist)", {3.0, 1, 1, {-1, 2, -3, 2, 2, 1, 2, 3, 2}}},
    {"Knot 6_1 (Twist)", {3.0, 1, 1, {-1, 2, -3, 4, -3, 2, 1, -3, 2, -4, 3, 2}}},
    {"Knot 6_2", {3.0, 1, 1, {1, -2, 1, 1, 1, -2}}},
    {"Knot 6_3", {3.0, 1, 1, {1, -2, 1, -2, -2, 1}}},
    {"Knot 7_1 (Torus)", {2.0, 3, 1, {-1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 7_2 (Twist)", {3.0, 1, 1, {-1, -1, -1, -2, 1, -2, -3, 2, -3}}},
    {"Knot 8_1 (Twist)", {3.0, 1, 1, {-1, -2, 3, -4, 3, 5, 2, -6, 1, 3, -4, 3, 5, -2, -4, 3, -4, -5, 4, 6, -5, 4,
                                      3, 2}}},
    {"Knot 8_12", {3.0, 2, 1, {-1, 2, -3, 2, 1, 2, -3, 4, -3, 2, -3, -4}}},
    {"Knot 8_17", {3.0, 1, 1, {-1, 2, -1, -1, 2, 2, -1, 2}}},
    {"Knot 8_19 (T_3,4)", {3.0, 3, 1, {1, 2, 1, 2, 1, 1, 2, 1}}},
    {"Knot 8_2", {3.0, 2, 1, {-1, 2, -1, -1, -1, -1, -1, 2}}},
    {"Knot 8_21", {3.0, 2, 1, {1, 2, -1, -2, 1, 2, 1, 2}}},
    {"Knot 8_9", {3.0, 1, 1, {-1, 2, 2, 2, -1, -1, -1, 2}}},
    {"Knot 9_1 (Torus)", {2.0, 4, 1, {-1, -1, -1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 9_2 (Twist)", {2.0, 1, 1, {-1, -1, -1, -2, 1, -2, -3, 2, -3, -4, 3, -4}}},
    {"Link 2^2_1 (Hopf Link)", {2.0, 0, 2, {-1, -1}}},
    {"Link 4^2_1 (Solomon's)", {2.0, 1, 2, {-1, -1, -1, -1}}},
    {"Link 5^2_1 (Whitehead)", {3.0, 1, 2, {-1, -1, 2, -1, 2}}},
    {"Link 6^2_1", {3.0, 1, 2, {1, -2, 1, -2, 1, -2}}},
    {"Link 6^3_1", {3.0, 0, 3, {-1, 2, 2, -1, 2, 2}}},
    {"Link 6^3_2 (Borromean)", {3.0, 1, 3, {-1, 2, -1, 2, -1, 2}}},
    {"Link 6^3_3", {3.0, 1, 3, {-1, 2, 2, -1, -2, -2}}},
    {"Link 8^2_1", {3.0, 2, 2, {-1, 2, -3, 4, -5, 4, 6, 3, 7, -2, 1, 3, -2, 3, 4, 5, 4, -3, 2, 4, -5, -6, 5, 4, -3,
                                4, -5, 6, -7, -6, 5, 4}}},
    {"Unknot", {1.0, 0, 1, {1}}},
    {"Unlink", {1.0, 0, 2, {1, -1}}},
};

namespace tarq {

// ---------------------------------------------------------------------------------------------------------------
// Zoo evaluator

namespace {

// M0 b phi^(-2g) c^2 / MeV, every step rounded in extended precision.
double golden_mass_mev(double b, std::int32_t g) {
    const long double M0 = 1.00569529987773389713e-54L;
    const long double c2 = 89875517873681764.0L;
    const double mev_J = 1.602176634e-13;
    const long double t1 = M0 * static_cast<long double>(b);
    const long double p = std::pow(TARQ::Constants::PHI, static_cast<long double>(-2 * g));
    const long double t2 = p * t1;
    const long double t3 = t2 * c2;
    const long double t4 = t3 / static_cast<long double>(mev_J);
    return static_cast<double>(t4);
}

}  // namespace

std::vector<ZooEvaluator::Result> ZooEvaluator::evaluate_all_golden_nls() {
    std::vector<Result> out;
    for (const auto& entry : TARQ_MASTER_DICTIONARY) {
        const TARQKnotInvariants& inv = entry.second;
        out.push_back(Result{entry.first, golden_mass_mev(inv.bridge_b, inv.genus_g), inv.bridge_b, inv.genus_g});
    }
    return out;
}

double ZooEvaluator::get_entry_mass(const std::string& identifier) {
    const auto it = TARQ_MASTER_DICTIONARY.find(identifier);
    if (it == TARQ_MASTER_DICTIONARY.end()) return -1.0;
    return golden_mass_mev(it->second.bridge_b, it->second.genus_g);
}

}  // namespace tarq
