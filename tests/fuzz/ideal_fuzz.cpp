// libFuzzer target: the ideal-database reader on arbitrary bytes, checked against the std::regex reference
// on small inputs, and the lookup by identifier.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "../cpp/ideal_regex_reference.hpp"
#include "core/fourier_knot.hpp"

namespace {

// Inputs up to this size also go through the regex reference (slow and deeply recursive).
constexpr std::size_t kReferenceLimit = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string ours = ideal_reference::scanner_outcome(text);
    if (size <= kReferenceLimit) {
        const std::string expected = ideal_reference::regex_outcome(text);
        if (ours != expected) {
            std::fprintf(stderr, "scanner:\n%s\nregex reference:\n%s\n", ours.c_str(), expected.c_str());
            std::abort();
        }
    }
    try {
        (void)tarq::FourierKnot::parse_ideal_ab_by_id_from_string(text, "3:1:1");
    } catch (const std::runtime_error&) {
        // not found
    } catch (const std::logic_error&) {
        // a bad number or index, as the whole-text reader reports it
    }
    return 0;
}
