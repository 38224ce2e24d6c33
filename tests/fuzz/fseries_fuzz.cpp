// libFuzzer target: the .fseries readers (from a string, from a file) and loadBlocks on arbitrary bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"

namespace {

bool same(const std::vector<tarq::FourierBlock>& a, const std::vector<tarq::FourierBlock>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].header != b[i].header || a[i].a_x != b[i].a_x || a[i].b_x != b[i].b_x || a[i].a_y != b[i].a_y ||
            a[i].b_y != b[i].b_y || a[i].a_z != b[i].a_z || a[i].b_z != b[i].b_z)
            return false;
    }
    return true;
}

// NaN rows compare unequal to themselves; the readers agree on them when their bit patterns agree.
bool has_nan(const std::vector<tarq::FourierBlock>& v) {
    for (const auto& b : v)
        for (const auto* c : {&b.a_x, &b.b_x, &b.a_y, &b.b_y, &b.a_z, &b.b_z})
            for (double x : *c)
                if (x != x) return true;
    return false;
}

const std::string& scratch_path() {
    static const std::string path = "/tmp/tarq_fseries_fuzz_" + std::to_string(getpid()) + ".fseries";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<tarq::FourierBlock> from_text = tarq::FourierKnot::parse_fseries_from_string(text);
    {
        std::ofstream out(scratch_path(), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    // The file reader is the string reader on the file's bytes.
    const std::vector<tarq::FourierBlock> from_file = tarq::FourierKnot::parse_fseries_multi(scratch_path());
    if (!has_nan(from_text) && !same(from_text, from_file)) std::abort();
    tarq::FourierKnot knot;
    knot.loadBlocks(scratch_path());
    for (const tarq::FourierBlock& b : knot.blocks) {
        if (b.a_x.empty() || b.b_z.size() != b.a_x.size()) std::abort();
    }
    if (!knot.blocks.empty()) (void)tarq::FourierKnot::index_of_largest_block(knot.blocks);
    return 0;
}
