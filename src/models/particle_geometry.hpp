// Closed-polyline lengths shared by the particle evaluator's energy and tail units.
#pragma once

#include "core/interrupt.hpp"
#include "core/types.hpp"
#include "core/vec3.hpp"

namespace tarq::particle {

// L plus the closed length of p, segment by segment (the closing segment last).
inline double add_closed_length(const Polyline& p, double L) {
    const std::size_t n = p.size();
    InterruptPoller poller(kPollWork);
    for (std::size_t k = 0; k < n; ++k) {
        poller.tick();
        L += vec3::norm(vec3::sub(p[(k + 1) % n], p[k]));
    }
    return L;
}

inline double closed_length(const Polyline& p) { return add_closed_length(p, 0.0); }

}  // namespace tarq::particle
