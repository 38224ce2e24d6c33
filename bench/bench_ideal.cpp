// Timing of the embedded ideal catalogue: building the whole map, and the first and a later lookup.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/embedded_ideal.hpp"

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    using clock = std::chrono::steady_clock;
    std::size_t sink = 0;

    // The first lookup builds the process-wide map; later ones copy one text.
    auto t0 = clock::now();
    sink += tarq::load_embedded_ideal_text("ideal_database.txt").size();
    const double first_lookup = ms_since(t0);
    t0 = clock::now();
    sink += tarq::load_embedded_ideal_text("12n888.txt").size();
    const double later_lookup = ms_since(t0);

    std::vector<double> builds;
    for (int k = 0; k < 7; ++k) {
        t0 = clock::now();
        const tarq::KnotFileMap files = tarq::get_embedded_ideal_files();
        builds.push_back(ms_since(t0));
        sink += files.size();
    }
    std::sort(builds.begin(), builds.end());

    std::printf("get_embedded_ideal_files: median %.2f ms, min %.2f ms, max %.2f ms (target < 100 ms)\n",
                builds[builds.size() / 2], builds.front(), builds.back());
    std::printf("load_embedded_ideal_text: first call %.2f ms (builds the map), later call %.3f ms\n",
                first_lookup, later_lookup);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
