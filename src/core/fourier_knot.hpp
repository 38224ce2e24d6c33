// Fourier-series curve model: readers, evaluation, sampling and descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/types.hpp"

namespace tarq {

class FourierKnot {
public:
    struct IdealABComponent {
        int component_index = 0;
        Vec3 A0{0.0, 0.0, 0.0};
        Vec3 B0{0.0, 0.0, 0.0};
        FourierBlock fourier;
    };

    struct IdealABBlock {
        std::string id;
        std::string conway;
        double L = 0.0;
        double D = 0.0;
        int n = 1;
        std::vector<IdealABComponent> components;
        FourierBlock fourier;
    };

    struct GeometricDescriptors {
        double L = 0.0;
        double bending_energy = 0.0;
        double min_self_distance = 0.0;
        double writhe = 0.0;
        std::vector<double> mode_energy;
    };

    struct LoadedKnot {
        std::string name;
        std::vector<Vec3> points;
        std::vector<double> curvature;
    };

    std::vector<FourierBlock> blocks;
    FourierBlock activeBlock;
    std::vector<Vec3> points;

    // ---- curve evaluation (fourier_knot.cpp) ----
    static Polyline evaluate(const FourierBlock& block, const std::vector<double>& s);
    static Vec3 evalPoint(const FourierBlock& block, double t);
    static Polyline center_points(const Polyline& points);
    // Parameters 2*pi*i/(n-1) of a closed curve, both ends included; a single sample sits at parameter
    // 0 (the spacing 2*pi/0 is undefined). A negative count reaches the vector's size check
    // (std::length_error).
    static std::vector<double> closed_parameters(std::int64_t n);
    // The block sampled at closed_parameters(n), centred on the mean of its samples.
    // Open samplings (end point excluded) come in two roundings kept apart on purpose:
    // open_parameters gives (i*2*pi)/n, reconstruct steps i*(2*pi/n).
    static std::vector<double> open_parameters(std::int64_t n);
    // Element i of open_parameters(n), for loops that need the parameters one at a time.
    static double open_parameter(std::int64_t i, std::int64_t n);
    static Polyline sample_closed_centred(const FourierBlock& block, std::int64_t n);
    static std::vector<double> curvature(const Polyline& points, double eps);
    static int index_of_largest_block(const std::vector<FourierBlock>& blocks);
    void selectMaxHarmonics();
    void reconstruct(std::size_t N);

    // ---- .fseries readers (fseries_reader.cpp) ----
    static std::vector<FourierBlock> parse_fseries_from_string(const std::string& content);
    static std::vector<FourierBlock> parse_fseries_multi(const std::string& path);
    void loadBlocks(const std::string& path);

    // ---- knot loading from files (knot_loading.cpp) ----
    static std::pair<Polyline, std::vector<double>> load_knot(const std::string& path, int nsamples);
    static std::vector<LoadedKnot> load_all_knots(const std::vector<std::string>& paths, int nsamples);

    // ---- ideal-database reader and lookup (ideal_reader.cpp) ----
    static std::vector<IdealABBlock> parse_ideal_txt_from_string(const std::string& content);
    static std::vector<IdealABBlock> parse_ideal_txt_multi(const std::string& path);
    static IdealABBlock parse_ideal_ab_by_id_from_string(const std::string& content, const std::string& ab_id);
    static int index_of_ideal_id(const std::vector<IdealABBlock>& blocks, const std::string& id);
    static std::string format_ideal_ab_header(const IdealABBlock& block);
    static Polyline evaluate_ideal_component(const IdealABComponent& component, const std::vector<double>& s);
    static FilamentSet evaluate_ideal_ab_components(const IdealABBlock& block, const std::vector<double>& s);
    // Defined with the embedded catalogue (src/catalogue).
    static IdealABBlock parse_ideal_ab_by_id_from_embedded(const std::string& ab_id, const std::string& name);

    // ---- geometric descriptors (descriptors.cpp) ----
    static std::tuple<Vec3, Vec3, Vec3, Vec3> evaluate_with_derivatives(const FourierBlock& block, double s);
    static std::vector<double> curvature_exact(const FourierBlock& block, const std::vector<double>& s, double eps);
    static double length_exact(const FourierBlock& block, int nsamples);
    static double bending_energy_exact(const FourierBlock& block, int nsamples, double eps);
    static std::vector<double> mode_energies(const FourierBlock& block);
    static double min_self_distance_sampled(const Polyline& p, int exclude_window);
    static double min_self_distance_exactish(const FourierBlock& block, int nsamples, int exclude_window);
    static GeometricDescriptors describe_fourier_block(const FourierBlock& block, int nsamples, int exclude_window);
};

}  // namespace tarq
