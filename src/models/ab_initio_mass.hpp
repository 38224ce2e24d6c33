// Ab initio particle masses from knotted vortex filaments of the ideal-knot database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "models/knot_dictionary.hpp"
#include "models/zoo_evaluator.hpp"

namespace tarq {

inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

class ParticleEvaluator {
public:
    // Settings of the tail-energy surrogate.
    struct TailApproxConfig {
        bool enabled = false;
        int radial_samples = 8;
        int azimuth_samples = 8;
        double r_min_factor = 1.25;      // inner radius, in units of r_c
        double r_max_factor = 8.0;       // outer radius, in units of r_c
        double exclusion_ds_factor = 3.0;  // half-width of the own-segment window, in mean segment lengths
        bool use_log_shell_weight = false;  // carried only
    };

    struct RelativisticMetrics {
        double helicity;
        std::vector<double> time_dilation_map;
        double core_time_dilation;
    };

    // One closed polyline per component, in database order; metres after relax_hamiltonian.
    FilamentSet filaments;
    TailApproxConfig tail_config;

    // Finds the ideal database, then builds the filaments of entry `knot_ab_id`.
    ParticleEvaluator(const std::string& knot_ab_id, int resolution);
    explicit ParticleEvaluator(const FilamentSet& input_filaments);

    // Replaces `filaments` with the entry's components once the entry and its end mark are found.
    bool extract_and_build_filament(const std::string& db_text, const std::string& knot_ab_id, int resolution);

    // Damped relaxation followed by scaling to r_e about the centroid. `check` runs before every
    // iteration so that a caller can abort a long relaxation by throwing from it, and an iteration whose
    // repulsion scan is quadratic (crowded points) also polls for interrupts; the filaments are then left
    // as they were before the call.
    // Pair counts of a relaxation, for benchmarks: pairs whose distance the screening computed, and pairs handed
    // on to the exact repulsion rule (those in the window, and the odd tail pair of a full scan).
    struct RelaxationCounts {
        std::uint64_t screened = 0;
        std::uint64_t decided = 0;
    };
    void relax_hamiltonian(int iterations, double timestep, const std::function<void()>& check,
                           RelaxationCounts* counts = nullptr);

    double get_dimless_ropelength(double stretch_lambda) const;
    double get_physical_length_m() const;
    double compute_core_energy_J() const;
    double compute_tail_energy_J(bool include_tail) const;
    double get_mass_mev_ab_initio(bool include_tail) const;
    double get_core_mass_mev_only() const;

    double compute_tail_energy_surrogate_J() const;
    void set_tail_approx_config(const TailApproxConfig& config);
    TailApproxConfig get_tail_approx_config() const;

    RelativisticMetrics compute_relativistic_metrics(double circulation) const;
    static void print_canonical_derivation();

    void local_frame_at_index(std::size_t f, std::size_t i, Vec3& T, Vec3& N, Vec3& B) const;
    Vec3 induced_velocity_bs_surrogate(const Vec3& X, std::size_t f, std::size_t i, double d_excl) const;

    static Vec3 v_add(const Vec3& a, const Vec3& b);
    static Vec3 v_mul(const Vec3& a, double s);
    static double v_dot(const Vec3& a, const Vec3& b);
    static Vec3 v_cross(const Vec3& a, const Vec3& b);
    static double v_norm(const Vec3& a);
    static Vec3 v_unit(const Vec3& a);

private:
    double total_length() const;
    Vec3 induced_velocity(const Vec3& X, std::size_t f, std::size_t i, double d_excl,
                          const std::vector<double>& lengths) const;
};

}  // namespace tarq
