// The .fseries file tools: the in-place upgrade of older three-column files, curve metrics, grid helicity
// and filament energy of one file, the helicity of a directory of files and the comparison of two files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/types.hpp"

namespace tarq::tarqext {

struct CanonicalizeResult {
    std::string path;
    int found_numeric_rows = 0;
    bool changed = false;
    std::string reason;
};

struct HelicityResult {
    std::string path;
    double a_mu = 0.0;
    double Hc = 0.0;
    double Hm = 0.0;
    double L = 0.0;
    double kappa_max = 0.0;
    double kappa_mean = 0.0;
    double bend_energy = 0.0;
    double min_non_neighbor_dist = 0.0;
    double reach_proxy = 0.0;
    int nsamples = 0;
};

struct FilamentEnergyParams {
    double rho_outer = 7e-7;
    double rho_local = 7e-7;
    double Gamma = 1.0;
    double a_core = 1.0;
    double delta = 0.0;
    double s_cut_local = 0.0;
    bool include_nonlocal = true;
    bool include_local_match = true;
    bool include_core_int = true;
    double c_rankine_outer = 0.0;
    int nsamples = 1024;
    int skip_neighbors_base = 1;
};

struct FilamentEnergyResult {
    std::string path;
    double L = 0.0;
    double ds_avg = 0.0;
    int m_loc = 0;
    double E_nonlocal = 0.0;
    double E_local_match = 0.0;
    double E_core_int = 0.0;
    double E_total = 0.0;
    double kappa_max = 0.0;
    double kappa_mean = 0.0;
    double bend_energy = 0.0;
    double min_non_neighbor_dist = 0.0;
    double reach_proxy = 0.0;
    double rho_outer = 0.0;
    double rho_local = 0.0;
    double Gamma = 0.0;
    double a_core = 0.0;
    double delta = 0.0;
    double s_cut_local = 0.0;
    double c_rankine_outer = 0.0;
    int nsamples = 0;
};

// ---- canonicaliser (fseries_canonicalize.cpp) ----

// The numbers read one after another by stream extraction until the first failure; no value when
// the line does not begin with a number.
std::optional<std::vector<double>> parse_floats_line(const std::string& line);
// True for lines made only of blanks, tabs, CR and LF, and for lines whose first other character is '%'.
bool is_comment_or_blank(const std::string& line);
// Replaces a leading three-number row by a six-column row of zeros when the row after it has six
// numbers; the new text replaces the file only once it is completely written.
CanonicalizeResult canonicalize_fseries_file_inplace(const std::string& path);

// ---- curve metrics and filament energy (tarq_extensions.cpp) ----

// The largest block of the file at t_i = 2*pi*i/nsamples (end point excluded), mean subtracted.
Polyline sample_curve_centered(const std::string& path, int nsamples);
void curve_metrics_from_points(const Polyline& points, double& L, double& kappa_max, double& kappa_mean,
                               double& bend_energy);
double curve_length(const Polyline& points);
// Smallest distance between points of cyclic index separation greater than skip; 1e300 when none.
double min_non_neighbor_distance(const Polyline& points, int skip);
double reach_proxy(const Polyline& points, int skip);
FilamentEnergyResult curve_metrics_from_fseries(const std::string& path, int nsamples, int skip);
HelicityResult helicity_from_fseries(const std::string& path, int grid_size, double spacing, int interior_margin,
                                     int nsamples);
FilamentEnergyResult filament_energy_from_fseries(const std::string& path, const FilamentEnergyParams& params);

// ---- directory batch and file comparison (fseries_batch.cpp) ----

// Results sorted by path, byte-wise.
std::vector<HelicityResult> batch_helicity_from_dir(const std::string& root_dir, int grid_size, double spacing,
                                                    int interior_margin, int nsamples, bool recurse);
std::map<std::string, double> compare_fseries_files(const std::string& path_a, const std::string& path_b,
                                                    int nsamples, int skip);

namespace testing {
// Makes the recursive walk behave as on a file system that reports no entry types, so that tests can
// reach the stat-decided branch (and the guard against cycles of directory links) on any file system.
void set_entry_types_ignored(bool ignored);
}  // namespace testing

}  // namespace tarq::tarqext
