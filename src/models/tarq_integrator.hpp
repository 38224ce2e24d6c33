// Mass of one closed vortex filament: a core part proportional to its length and a fluid part from the
// regularised Neumann self-inductance integral, both in kilograms.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

// points: the filament in metres, closed by the segment from the last point back to the first.
// m_core_kg = (core mass per metre) * L; m_fluid_kg = chi_spin^2 * E * S / c^2 with
// S = sum_i sum_j (dl_i . dl_j) / sqrt(|P_i - P_j|^2 + r_c^2) over all ordered pairs.
void compute_tarq_mass(const std::vector<Vec3>& points, double chi_spin, double& m_core_kg, double& m_fluid_kg);

}  // namespace tarq
