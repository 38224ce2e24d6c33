#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "catalogue/embedded_knots.hpp"
#include "catalogue/vortex_knot_system.hpp"
#include "core/biot_savart.hpp"
#include "core/fourier_knot.hpp"

namespace fs = std::filesystem;
using tarq::Vec3;
using tarq::VortexKnotSystem;

namespace {

// Points the knot-file search at a private directory for the life of a test.
class ScopedKnotDir {
public:
    ScopedKnotDir() {
        dir_ = fs::temp_directory_path() / ("vks_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        fs::create_directories(dir_);
        setenv("TARQ_KNOT_DATA_DIR", dir_.c_str(), 1);
        unsetenv("TARQ_RESOURCE_DIR");
    }
    ~ScopedKnotDir() {
        unsetenv("TARQ_KNOT_DATA_DIR");
        fs::remove_all(dir_);
    }
    std::string write(const std::string& id, const std::string& text) const {
        const fs::path p = dir_ / ("knot." + id + ".fseries");
        std::ofstream(p) << text;
        return p.string();
    }

private:
    fs::path dir_;
    static inline int counter_ = 0;
};

void expect_cyclic_half_difference_tangents(const VortexKnotSystem& s) {
    const auto& p = s.get_positions();
    const auto& t = s.get_tangents();
    ASSERT_EQ(p.size(), t.size());
    const std::size_t n = p.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3& a = p[(i + 1) % n];
        const Vec3& b = p[(i + n - 1) % n];
        for (int c = 0; c < 3; ++c) EXPECT_EQ(t[i][c], 0.5 * (a[c] - b[c])) << "point " << i;
    }
}

}  // namespace

TEST(VortexKnotSystem, NewObjectIsEmpty) {
    VortexKnotSystem s(2.5);
    EXPECT_TRUE(s.get_positions().empty());
    EXPECT_TRUE(s.get_tangents().empty());
    EXPECT_EQ(s.circulation, 2.5);
}

TEST(VortexKnotSystem, BuiltInGenerators) {
    VortexKnotSystem s(1.0);
    s.initialize_trefoil_knot(400);
    ASSERT_EQ(s.get_positions().size(), 400u);
    EXPECT_EQ(s.get_positions()[0], (Vec3{3.0, 0.0, 0.0}));
    // t = (i * 2pi) / n, multiplication first.
    const double t = (7.0 * 6.283185307179586) / 400.0;
    const double r = 2.0 + std::cos(3.0 * t);
    EXPECT_EQ(s.get_positions()[7], (Vec3{r * std::cos(2.0 * t), r * std::sin(2.0 * t), std::sin(3.0 * t)}));
    expect_cyclic_half_difference_tangents(s);

    s.initialize_figure8_knot(1);
    ASSERT_EQ(s.get_positions().size(), 1u);
    EXPECT_EQ(s.get_positions()[0], (Vec3{3.0, 0.0, 0.0}));
    EXPECT_EQ(s.get_tangents()[0], (Vec3{0.0, 0.0, 0.0}));

    s.initialize_figure8_knot(256);
    const double u = (5.0 * 6.283185307179586) / 256.0;
    const double q = 2.0 + std::cos(2.0 * u);
    EXPECT_EQ(s.get_positions()[5], (Vec3{q * std::cos(3.0 * u), q * std::sin(3.0 * u), std::sin(4.0 * u)}));
    expect_cyclic_half_difference_tangents(s);

    s.initialize_trefoil_knot(0);
    EXPECT_TRUE(s.get_positions().empty());
    EXPECT_TRUE(s.get_tangents().empty());
}

TEST(VortexKnotSystem, TrefoilFromCatalogueWinsOverFileOnDisk) {
    ScopedKnotDir dir;
    dir.write("3_1", "% decoy\n1 0 0 1 0 0\n");
    VortexKnotSystem s(1.0);
    s.initialize_knot_from_name("3_1", 1000);
    const auto& p = s.get_positions();
    ASSERT_EQ(p.size(), 1000u);
    double mean[3] = {0, 0, 0}, extent = 0.0;
    for (const Vec3& q : p) {
        for (int c = 0; c < 3; ++c) mean[c] += q[c];
        extent = std::max(extent, std::hypot(q[0], q[1], q[2]));
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(mean[c] / 1000.0, 0.0, 1e-12);
        EXPECT_NEAR(p.front()[c], p.back()[c], 1e-12);
    }
    // The decoy is a unit circle in the xy plane; the catalogue trefoil is not planar.
    double zmax = 0.0;
    for (const Vec3& q : p) zmax = std::max(zmax, std::fabs(q[2]));
    EXPECT_GT(zmax, 1e-3);
    EXPECT_GT(extent, 0.0);
    expect_cyclic_half_difference_tangents(s);
}

TEST(VortexKnotSystem, ResolutionEdgeCases) {
    VortexKnotSystem s(1.0);
    s.initialize_knot_from_name("3_1", 1);
    ASSERT_EQ(s.get_positions().size(), 1u);
    for (double c : s.get_positions()[0]) EXPECT_TRUE(std::isfinite(c));

    s.initialize_knot_from_name("3_1", 0);
    EXPECT_TRUE(s.get_positions().empty());

    s.initialize_trefoil_knot(10);
    const auto before = s.get_positions();
    for (std::size_t n : {std::size_t{1} << 31, (std::size_t{1} << 32) - 1, (std::size_t{1} << 32) + 5}) {
        EXPECT_THROW(s.initialize_knot_from_name("3_1", n), std::length_error) << n;
        EXPECT_EQ(s.get_positions(), before);
    }
}

// The same text gives the same points whether it comes from the catalogue or from a file: a copy of the
// embedded "3_1" under a name the catalogue does not hold takes the file path.
TEST(VortexKnotSystem, CataloguePathAndFilePathAgreeForTheSameText) {
    const tarq::KnotFileMap files = tarq::get_embedded_knot_files();
    const auto it = files.find("3_1");
    ASSERT_NE(it, files.end());
    ScopedKnotDir dir;
    const std::string path = dir.write("zz_copy_of_3_1", it->second);
    for (const std::size_t n : {1u, 2u, 7u, 1000u}) {
        VortexKnotSystem from_catalogue(1.0), from_file(1.0);
        from_catalogue.initialize_knot_from_name("3_1", n);
        from_file.initialize_knot_from_name("zz_copy_of_3_1", n);
        ASSERT_EQ(from_catalogue.get_positions().size(), n);
        EXPECT_EQ(from_catalogue.get_positions(), from_file.get_positions()) << n;
        EXPECT_EQ(from_catalogue.get_tangents(), from_file.get_tangents()) << n;
        EXPECT_EQ(from_file.get_positions(), tarq::FourierKnot::load_knot(path, static_cast<int>(n)).first) << n;
    }
}

TEST(VortexKnotSystem, FallbackToKnotFile) {
    ScopedKnotDir dir;
    const std::string path = dir.write("zz_test_circle", "% circle\n1 0 0 1 0 0\n");
    VortexKnotSystem s(1.0);
    s.initialize_knot_from_name("zz_test_circle", 9);
    ASSERT_EQ(s.get_positions().size(), 9u);
    // load_knot samples at 2*pi*j/(n-1) and centres; the duplicate end point shifts the mean slightly.
    EXPECT_NEAR(s.get_positions()[2][1] - s.get_positions()[0][1], 1.0, 1e-12);
    expect_cyclic_half_difference_tangents(s);

    const std::string empty = dir.write("zz_test_empty", "% nothing here\n");
    s.initialize_trefoil_knot(5);
    const auto before = s.get_positions();
    try {
        s.initialize_knot_from_name("zz_test_empty", 100);
        FAIL() << "expected a failure";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not initialize knot zz_test_empty: Failed to load knot zz_test_empty from " + empty);
    }
    EXPECT_EQ(s.get_positions(), before);

    // Resolutions beyond the 32-bit count: the loader refuses them once the file gives a block; a file
    // without a block reports the failed load first.
    for (std::size_t n : {std::size_t{1} << 31, (std::size_t{1} << 32) + 5}) {
        try {
            s.initialize_knot_from_name("zz_test_circle", n);
            FAIL() << "expected a failure for " << n;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Could not initialize knot zz_test_circle: cannot create std::vector larger than max_size()");
        }
        try {
            s.initialize_knot_from_name("zz_test_empty", n);
            FAIL() << "expected a failure for " << n;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Could not initialize knot zz_test_empty: Failed to load knot zz_test_empty from " + empty);
        }
        EXPECT_EQ(s.get_positions(), before);
    }
}

TEST(VortexKnotSystem, MissingKnotKeepsEarlierFilament) {
    ScopedKnotDir dir;
    VortexKnotSystem s(1.0);
    s.initialize_trefoil_knot(12);
    const auto before = s.get_positions();
    try {
        s.initialize_knot_from_name("no_such_knot_q9", 100);
        FAIL() << "expected a failure";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not initialize knot no_such_knot_q9: Could not find .fseries file for knot: no_such_knot_q9");
    }
    EXPECT_EQ(s.get_positions(), before);
    EXPECT_THROW(VortexKnotSystem::find_knot_file("no_such_knot_q9"), std::runtime_error);
}

TEST(VortexKnotSystem, EvolveTakesEulerStepsFromTheOldState) {
    VortexKnotSystem s(1.7);
    s.initialize_trefoil_knot(64);
    const auto p0 = s.get_positions();
    const auto t0 = s.get_tangents();

    s.evolve(0.01, 0);
    EXPECT_EQ(s.get_positions(), p0);
    EXPECT_EQ(s.get_tangents(), t0);

    s.evolve(0.01, 1);
    const auto& p1 = s.get_positions();
    for (std::size_t j = 0; j < p0.size(); ++j) {
        const Vec3 v = tarq::BiotSavart::velocity(p0[j], p0, t0, 1.7);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(p1[j][c], p0[j][c] + v[c] * 0.01) << j;
    }
    expect_cyclic_half_difference_tangents(s);

    VortexKnotSystem empty(1.0);
    empty.evolve(0.1, 5);
    EXPECT_TRUE(empty.get_positions().empty());
}
