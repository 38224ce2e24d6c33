#include "catalogue/vortex_knot_system.hpp"

#include <cmath>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <utility>

#include "core/biot_savart.hpp"
#include "core/errors.hpp"
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"
#include "core/knot_files.hpp"
#include "core/time_evolution.hpp"
#include "catalogue/embedded_knots.hpp"

namespace tarq {

namespace {

const KnotFileMap& knot_map() {
    static const KnotFileMap map = get_embedded_knot_files();
    return map;
}

// The catalogue path holds the resolution as a 32-bit signed count; anything that does not fit
// (including values the conversion would silently truncate) is refused like a negative vector size.
int sample_count(std::size_t n) {
    if (n > static_cast<std::size_t>(INT32_MAX)) {
        throw std::length_error("cannot create std::vector larger than max_size()");
    }
    return static_cast<int>(n);
}

// The formula at the n open parameters. They are taken one at a time: a table of them would be a large
// allocation, zeroed before the first poll.
template <class Formula>
std::vector<Vec3> generate(std::size_t n, Formula formula) {
    std::vector<Vec3> positions;
    positions.reserve(n);  // a count beyond the vector's limit is refused here
    const auto count = static_cast<std::int64_t>(n);
    InterruptPoller poller(kPollWork);
    for (std::int64_t i = 0; i < count; ++i) {
        poller.tick();
        positions.push_back(formula(FourierKnot::open_parameter(i, count)));
    }
    return positions;
}

// Centred differences of the closed point sequence.
std::vector<Vec3> tangents_of(const std::vector<Vec3>& positions) {
    const std::size_t n = positions.size();
    std::vector<Vec3> tangents(n);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        const std::size_t next = (i + 1 == n) ? 0 : i + 1;
        const std::size_t prev = (i == 0) ? n - 1 : i - 1;
        const Vec3& a = positions[next];
        const Vec3& b = positions[prev];
        tangents[i] = {0.5 * (a[0] - b[0]), 0.5 * (a[1] - b[1]), 0.5 * (a[2] - b[2])};
    }
    return tangents;
}

}  // namespace

VortexKnotSystem::VortexKnotSystem(double circulation_) : circulation(circulation_) {}

void VortexKnotSystem::initialize_trefoil_knot(std::size_t n) {
    set_points(generate(n, [](double t) {
        const double r = 2.0 + std::cos(3.0 * t);
        return Vec3{r * std::cos(2.0 * t), r * std::sin(2.0 * t), std::sin(3.0 * t)};
    }));
}

void VortexKnotSystem::initialize_figure8_knot(std::size_t n) {
    set_points(generate(n, [](double t) {
        const double r = 2.0 + std::cos(2.0 * t);
        return Vec3{r * std::cos(3.0 * t), r * std::sin(3.0 * t), std::sin(4.0 * t)};
    }));
}

void VortexKnotSystem::compute_tangents() { tangents = tangents_of(positions); }

void VortexKnotSystem::set_points(std::vector<Vec3> points) {
    // Both sequences are complete before either is replaced, so that an interrupt changes neither.
    std::vector<Vec3> t = tangents_of(points);
    positions = std::move(points);
    tangents = std::move(t);
}

std::string VortexKnotSystem::find_knot_file(const std::string& name) {
    std::string path = find_knot_file_path(name, "");
    if (path.empty()) throw RuntimeError("Could not find .fseries file for knot: " + name);
    return path;
}

void VortexKnotSystem::initialize_knot_from_name(const std::string& name, std::size_t n) {
    const KnotFileMap& map = knot_map();
    const auto it = map.find(name);
    if (it != map.end() && !it->second.empty()) {
        const std::vector<FourierBlock> blocks = FourierKnot::parse_fseries_from_string(it->second);
        if (!blocks.empty()) {
            const int count = sample_count(n);
            const int k = FourierKnot::index_of_largest_block(blocks);
            set_points(FourierKnot::sample_closed_centred(blocks[static_cast<std::size_t>(k)], count));
            return;
        }
    }
    try {
        const std::string path = find_knot_file(name);
        // An out-of-range resolution goes on as a negative count: load_knot refuses it with std::length_error
        // only once the file has given a block, so a file without one still reports the failed load.
        const int count = n > static_cast<std::size_t>(INT32_MAX) ? -1 : static_cast<int>(n);
        auto loaded = FourierKnot::load_knot(path, count);
        if (loaded.first.empty()) throw RuntimeError("Failed to load knot " + name + " from " + path);
        set_points(std::move(loaded.first));
    } catch (const std::exception& e) {
        throw RuntimeError("Could not initialize knot " + name + ": " + message_of(e));
    }
}

void VortexKnotSystem::evolve(double dt, std::size_t steps) {
    Rollback<std::vector<Vec3>> keep_positions(positions), keep_tangents(tangents);
    InterruptPoller poller(kPollWork);
    const std::uint64_t work = static_cast<std::uint64_t>(positions.size()) * positions.size() + 1;
    std::vector<Vec3> velocities;
    for (std::size_t step = 0; step < steps; ++step) {
        poller.tick(work);
        point_law_euler_step(positions, tangents, circulation, dt, velocities);
        compute_tangents();
    }
    keep_positions.commit();
    keep_tangents.commit();
}

}  // namespace tarq
