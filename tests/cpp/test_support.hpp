// Helpers shared by the core unit tests.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/types.hpp"

namespace test_support {

// Expects f to throw E with exactly this message (whole, NUL bytes included, where the exception keeps it).
template <class E, class F>
void expect_throw_msg(F&& f, const std::string& msg) {
    try {
        f();
        ADD_FAILURE() << "expected an exception with message: " << msg;
    } catch (const E& e) {
        EXPECT_EQ(tarq::message_of(e), msg);
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

// Runs f on every kernel path this CPU has, widest first ("avx512", "avx2", then "portable").
template <class F>
auto every_path(F&& f) {
    namespace kd = tarq::kernel_dispatch;
    std::vector<std::pair<std::string, decltype(f())>> out;
    kd::set_simd_allowed(true);
    if (kd::avx512_available()) out.emplace_back("avx512", f());
    kd::set_avx512_allowed(false);
    if (kd::simd_available()) out.emplace_back("avx2", f());
    kd::set_avx512_allowed(true);
    kd::set_simd_allowed(false);
    out.emplace_back("portable", f());
    kd::set_simd_allowed(true);
    return out;
}

inline tarq::Polyline random_points(std::mt19937_64& g, std::size_t n, double scale) {
    std::uniform_real_distribution<double> u(-scale, scale);
    tarq::Polyline p(n);
    for (tarq::Vec3& v : p) v = {u(g), u(g), u(g)};
    return p;
}

// A block from (a_x, b_x, a_y, b_y, a_z, b_z) rows, row k being harmonic k + 1.
inline tarq::FourierBlock block_of_rows(const std::vector<std::array<double, 6>>& rows,
                                        const std::string& header = "") {
    tarq::FourierBlock b;
    b.header = header;
    for (const auto& r : rows) {
        b.a_x.push_back(r[0]);
        b.b_x.push_back(r[1]);
        b.a_y.push_back(r[2]);
        b.b_y.push_back(r[3]);
        b.a_z.push_back(r[4]);
        b.b_z.push_back(r[5]);
    }
    return b;
}

// A fresh temporary directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarq_test_XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes text to p byte for byte, creating the parent directories.
inline void write_file(const std::filesystem::path& p, const std::string& text) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << text;
    if (!out.good()) throw std::runtime_error("cannot write test file " + p.string());
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_support
