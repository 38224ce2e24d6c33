// Small inline helpers on Vec3, shared by every kernel; each keeps the left-to-right operation order
// ((x·x + y·y) + z·z) that the bit-exact results rely on.
#pragma once

#include <cmath>

#include "core/types.hpp"

namespace tarq::vec3 {

inline Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 scale(const Vec3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline Vec3 div(const Vec3& a, double s) { return {a[0] / s, a[1] / s, a[2] / s}; }
inline double dot(const Vec3& a, const Vec3& b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm2(const Vec3& a) { return (a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]; }
inline double norm(const Vec3& a) { return std::sqrt(norm2(a)); }
inline double norm(double x, double y, double z) { return std::sqrt((x * x + y * y) + z * z); }

}  // namespace tarq::vec3
