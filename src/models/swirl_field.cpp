// The swirl force field: every step in float, in the operation order the field's definition gives.
#include "models/swirl_field.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "core/interrupt.hpp"

namespace tarq {

std::vector<std::array<float, 2>> compute_swirl_field(int res, float time) {
    // The entry count is a signed 32-bit quantity; the square is formed in 64 bits so that no res wraps
    // around to a small count that the fill loop would overrun.
    const std::int64_t n = static_cast<std::int64_t>(res) * static_cast<std::int64_t>(res);
    if (n > std::numeric_limits<std::int32_t>::max()) throw std::length_error("vector");
    std::vector<std::array<float, 2>> out(static_cast<std::size_t>(n), std::array<float, 2>{0.0f, 0.0f});
    if (res <= 0) return out;

    const float phase = time * -6.0f;
    const float fres = static_cast<float>(res);
    InterruptPoller poller(std::uint64_t{1} << 18);
    std::array<float, 2>* row = out.data();
    for (int i = 0; i < res; ++i, row += res) {
        const float x = static_cast<float>(i) / fres + -0.5f;
        for (int j = 0; j < res; ++j) {
            const float y = static_cast<float>(j) / fres + -0.5f;
            const float r2 = (y * y + x * x) + 1e-5f;
            const float r = std::sqrt(r2);
            const float m = std::sin(r * 10.0f + phase) * 0.03f + 1.0f;
            const float a = 0.25f / r;
            const float b = 0.1f / r2;
            row[j] = {m * (b * (-x) - y * a), m * (a * x - y * b)};
        }
        poller.tick(static_cast<std::uint64_t>(res));
    }
    return out;
}

}  // namespace tarq
