// Helpers shared by the core unit tests.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

#include "core/kernel_dispatch.hpp"
#include "core/types.hpp"

namespace test_support {

// Expects f to throw E with exactly this message.
template <class E, class F>
void expect_throw_msg(F&& f, const std::string& msg) {
    try {
        f();
        ADD_FAILURE() << "expected an exception with message: " << msg;
    } catch (const E& e) {
        EXPECT_EQ(std::string(e.what()), msg);
    }
}

// Runs f once with the SIMD kernels and once with the portable ones.
template <class F>
auto both_paths(F&& f) {
    tarq::kernel_dispatch::set_simd_allowed(true);
    auto simd = f();
    tarq::kernel_dispatch::set_simd_allowed(false);
    auto portable = f();
    tarq::kernel_dispatch::set_simd_allowed(true);
    return std::make_pair(simd, portable);
}

inline tarq::Polyline random_points(std::mt19937_64& g, std::size_t n, double scale) {
    std::uniform_real_distribution<double> u(-scale, scale);
    tarq::Polyline p(n);
    for (tarq::Vec3& v : p) v = {u(g), u(g), u(g)};
    return p;
}

}  // namespace test_support
