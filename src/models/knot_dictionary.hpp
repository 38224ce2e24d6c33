// The knot dictionary record and the extended-precision golden ratio.
// The dictionary itself lives in knot_dictionary.cpp; the zoo evaluator there is its only reader.
#pragma once

#include <cstdint>
#include <vector>

struct TARQKnotInvariants {
    double bridge_b;
    std::int32_t genus_g;
    std::int32_t component_count;
    std::vector<std::int32_t> braid_word;  // i stands for sigma_i, -i for its inverse
};

namespace TARQ {
namespace Constants {
// (1 + sqrt 5) / 2 in the 64-bit-significand format; set while the module file loads.
extern const long double PHI;
}  // namespace Constants
}  // namespace TARQ
