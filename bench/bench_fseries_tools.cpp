// The .fseries file tools, single thread: the directory helicity batch over the 78 catalogue texts written
// as files, against the Biot-Savart segment law's pairs/s in the same run (target: at least 80% of it),
// and curve metrics and filament energy of one file at 2048 samples (target: under 20 ms each).
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_timing.hpp"
#include "catalogue/embedded_knots.hpp"
#include "core/biot_savart.hpp"
#include "core/fourier_knot.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/tarq_extensions.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int kGrid = 32;
constexpr double kSpacing = 0.1;
constexpr int kMargin = 8;
constexpr int kHelicitySamples = 1000;
constexpr int kMetricSamples = 2048;
constexpr int kRepeats = 5;

volatile double g_sink = 0.0;

// The grid and the closed, centred curve that the helicity of one file evaluates.
void helicity_problem(const tarq::FourierBlock& block, tarq::Polyline& curve, std::vector<tarq::Vec3>& grid) {
    std::vector<double> t(kHelicitySamples);
    for (int i = 0; i < kHelicitySamples; ++i) t[i] = (i * (2.0 * M_PI)) / (kHelicitySamples - 1);
    curve = tarq::FourierKnot::center_points(tarq::FourierKnot::evaluate(block, t));
    grid.clear();
    for (int a = 0; a < kGrid; ++a)
        for (int b = 0; b < kGrid; ++b)
            for (int c = 0; c < kGrid; ++c)
                grid.push_back({(a - kGrid / 2) * kSpacing, (b - kGrid / 2) * kSpacing, (c - kGrid / 2) * kSpacing});
}

void print_time(const char* what, const bench::Timing& t, double target_ms) {
    std::printf("%-58s cpu %8.3f ms  wall %8.3f ms  (target < %.0f ms: %s)\n", what, t.cpu * 1e3, t.wall * 1e3,
                target_ms, t.cpu * 1e3 < target_ms ? "met" : "NOT met");
}

}  // namespace

int main() {
    std::string tmpl = (fs::temp_directory_path() / "tarq_bench_fseries_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir(tmpl);
    const tarq::KnotFileMap knots = tarq::get_embedded_knot_files();
    std::string largest;
    std::size_t largest_rows = 0;
    for (const auto& kv : knots) {
        const fs::path file = dir / ("knot." + kv.first + ".fseries");
        std::ofstream(file) << kv.second;
        const auto blocks = tarq::FourierKnot::parse_fseries_from_string(kv.second);
        const std::size_t rows = blocks[tarq::FourierKnot::index_of_largest_block(blocks)].a_x.size();
        if (rows > largest_rows) {
            largest_rows = rows;
            largest = file.string();
        }
    }

    // Segment law on the problem of one file ("3_1"): 1000 segments on 32^3 grid points.
    tarq::Polyline curve;
    std::vector<tarq::Vec3> grid;
    const auto blocks = tarq::FourierKnot::parse_fseries_from_string(knots.at("3_1"));
    helicity_problem(blocks[tarq::FourierKnot::index_of_largest_block(blocks)], curve, grid);
    const double kernel_pairs = static_cast<double>(curve.size()) * static_cast<double>(grid.size());
    const bench::Timing tk = bench::best_of(
        [&] { g_sink = tarq::BiotSavart::computeVelocity(curve, grid, 1.0)[100][1]; }, kRepeats);
    const double kernel_rate = kernel_pairs / tk.cpu;
    std::printf("%-58s cpu %8.3f ms  wall %8.3f ms  %10.3e pairs/s\n", "BiotSavart::computeVelocity 1000 x 32^3",
                tk.cpu * 1e3, tk.wall * 1e3, kernel_rate);

    const double batch_pairs = static_cast<double>(knots.size()) * kHelicitySamples * kernel_pairs / kHelicitySamples;
    const bench::Timing tb = bench::best_of(
        [&] {
            const auto r = tarq::tarqext::batch_helicity_from_dir(dir.string(), kGrid, kSpacing, kMargin,
                                                                  kHelicitySamples, false);
            g_sink = r.front().Hc;
        },
        kRepeats);
    const double batch_rate = batch_pairs / tb.cpu;
    std::printf("%-58s cpu %8.3f s   wall %8.3f s   %10.3e pairs/s = %.0f%% of the kernel (target >= 80%%: %s)\n",
                "batch_helicity_from_dir, 78 files, G 32, 1000 samples", tb.cpu, tb.wall, batch_rate,
                100.0 * batch_rate / kernel_rate, batch_rate >= 0.8 * kernel_rate ? "met" : "NOT met");

    std::printf("largest catalogue text (%zu rows): %s\n", largest_rows, fs::path(largest).filename().c_str());
    for (const std::string& file : {(dir / "knot.3_1.fseries").string(), largest}) {
        const std::string name = fs::path(file).filename().string();
        const bench::Timing tm = bench::best_of(
            [&] { g_sink = tarq::tarqext::curve_metrics_from_fseries(file, kMetricSamples, 3).L; }, kRepeats * 4);
        print_time(("curve_metrics_from_fseries " + name + ", 2048 samples").c_str(), tm, 20.0);
        tarq::tarqext::FilamentEnergyParams params;
        params.nsamples = kMetricSamples;
        const bench::Timing te = bench::best_of(
            [&] { g_sink = tarq::tarqext::filament_energy_from_fseries(file, params).E_total; }, kRepeats * 4);
        print_time(("filament_energy_from_fseries " + name + ", 2048 samples").c_str(), te, 20.0);
        tarq::kernel_dispatch::set_simd_allowed(false);
        const bench::Timing tp = bench::best_of(
            [&] { g_sink = tarq::tarqext::filament_energy_from_fseries(file, params).E_total; }, kRepeats);
        tarq::kernel_dispatch::set_simd_allowed(true);
        print_time("  the same with the portable loops", tp, 20.0);
    }

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
