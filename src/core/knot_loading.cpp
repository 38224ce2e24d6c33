// Turning .fseries files into centred samples with their discrete curvature.
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"

namespace tarq {

namespace {


// File name without directory (either separator) and extension, its first "knot" (any case) removed.
std::string knot_name_from_path(const std::string& path) {
    std::string name = path;
    const std::size_t sep = name.find_last_of("/\\");
    if (sep != std::string::npos) name = name.substr(sep + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    std::string lower = name;
    // ASCII only: std::tolower follows the C locale the process has set (a Turkish one lowers 'I' otherwise).
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    const std::size_t pos = lower.find("knot");
    if (pos != std::string::npos) name.erase(pos, 4);
    return name;
}

}  // namespace

std::pair<Polyline, std::vector<double>> FourierKnot::load_knot(const std::string& path, int nsamples) {
    const std::vector<FourierBlock> blocks = parse_fseries_multi(path);
    if (blocks.empty()) return {};
    const FourierBlock& block = blocks[static_cast<std::size_t>(index_of_largest_block(blocks))];

    Polyline points = sample_closed_centred(block, nsamples);
    std::vector<double> kappa = curvature(points, 1e-8);
    return {std::move(points), std::move(kappa)};
}

std::vector<FourierKnot::LoadedKnot> FourierKnot::load_all_knots(const std::vector<std::string>& paths,
                                                                 int nsamples) {
    std::vector<LoadedKnot> result;
    result.reserve(paths.size());
    for (const std::string& path : paths) {
        // Each path costs at least a failed open, more than a poll: a long list stops between files.
        poll_interrupt();
        std::string name = knot_name_from_path(path);
        std::pair<Polyline, std::vector<double>> loaded = load_knot(path, nsamples);
        if (loaded.first.empty()) continue;  // unreadable or empty files are skipped silently
        result.push_back(LoadedKnot{std::move(name), std::move(loaded.first), std::move(loaded.second)});
    }
    return result;
}

}  // namespace tarq
