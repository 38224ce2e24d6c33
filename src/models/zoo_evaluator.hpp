// Closed-form masses for every entry of the knot dictionary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "models/knot_dictionary.hpp"

namespace tarq {

class ZooEvaluator {
public:
    struct Result {
        std::string identifier;
        double mass_mev;
        double bridge_b;
        std::int32_t genus_g;
    };

    // One result per dictionary entry, in key order.
    static std::vector<Result> evaluate_all_golden_nls();
    // The mass of the entry with exactly this key, or -1.0 when there is none.
    static double get_entry_mass(const std::string& identifier);
};

}  // namespace tarq
