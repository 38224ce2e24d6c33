// Timing of the embedded ideal catalogue: building the whole map, and the first and a later lookup. Thread CPU
// time first (the map build: minimum of seven runs), wall time beside.
#include <cstdio>
#include <string>

#include "bench_support.hpp"
#include "catalogue/embedded_ideal.hpp"

int main() {
    std::size_t sink = 0;

    // The first lookup builds the process-wide map; later ones copy one text. Both happen once per process.
    const bench::Timing first =
        bench::best_of([&] { sink += tarq::load_embedded_ideal_text("ideal_database.txt").size(); }, 1);
    const bench::Timing later = bench::best_of([&] { sink += tarq::load_embedded_ideal_text("12n888.txt").size(); }, 1);
    const bench::Timing builds = bench::best_of([&] { sink += tarq::get_embedded_ideal_files().size(); }, 7);

    std::printf("get_embedded_ideal_files: %.2f ms CPU, %.2f ms wall (minimum of 7; target < 100 ms)\n",
                builds.cpu * 1e3, builds.wall * 1e3);
    std::printf("load_embedded_ideal_text: first call %.2f ms CPU, %.2f ms wall (builds the map), later call %.3f ms "
                "CPU, %.3f ms wall\n",
                first.cpu * 1e3, first.wall * 1e3, later.cpu * 1e3, later.wall * 1e3);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
