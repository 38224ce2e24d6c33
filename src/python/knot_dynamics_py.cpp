// Knot family: Fourier blocks, ideal-database records, the fourier_knot object, the curve invariants,
// the embedded catalogue lookups, the NumPy-facing helpers and VortexKnotSystem. Classes and functions
// are registered interleaved so that every signature names result classes that already exist.
#include "python/common.hpp"
#include "python/convert.hpp"

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/embedded_ideal.hpp"
#include "catalogue/embedded_knots.hpp"
#include "catalogue/vortex_knot_system.hpp"
#include "core/fourier_knot.hpp"
#include "core/knot_dynamics.hpp"

using tarq::FourierBlock;
using tarq::FourierKnot;
using tarq::KnotDynamics;
using tarq::Polyline;
using tarq::Vec3;
using tarq_py::CArray;
using tarq_py::require;

namespace {

using IdealABComponent = FourierKnot::IdealABComponent;
using IdealABBlock = FourierKnot::IdealABBlock;

// Every array-shape failure of this family reports the same text, whichever function it occurs in.
constexpr const char* kShapeN3 = "pd_from_curve: expected array with shape (N,3)";

std::vector<Vec3> to_vec3(const CArray& a) { return tarq_py::rows_to_vec3(a, kShapeN3); }

void check_1d_same_len(const CArray& a, const CArray& b, const char* pair) {
    if (a.ndim() != 1 || b.ndim() != 1 || a.shape(0) != b.shape(0)) {
        throw std::invalid_argument(std::string("fourier_knot_eval: ") + pair + " must be 1D and same length");
    }
}

// Point sets come as NumPy arrays (taken through to_vec3) or as sequences of triples. A NumPy conversion
// error passes through; a sequence that does not convert raises the binding library's cast error.
Polyline point_set(const py::object& obj) {
    if (py::isinstance<py::array>(obj)) return to_vec3(CArray(obj));
    return obj.cast<Polyline>();
}

std::vector<double> one_dim_s(const CArray& s) {
    require(s.ndim() == 1, "s must be 1D");
    return tarq_py::to_doubles(s);
}

void bind_fourier_records(py::module_& m) {
    py::class_<FourierBlock>(m, "FourierBlock")
        .def(py::init<>())
        .def_readwrite("header", &FourierBlock::header)
        .def_readwrite("a_x", &FourierBlock::a_x)
        .def_readwrite("b_x", &FourierBlock::b_x)
        .def_readwrite("a_y", &FourierBlock::a_y)
        .def_readwrite("b_y", &FourierBlock::b_y)
        .def_readwrite("a_z", &FourierBlock::a_z)
        .def_readwrite("b_z", &FourierBlock::b_z);

    py::class_<IdealABComponent>(m, "IdealABComponent")
        .def(py::init<>())
        .def_readwrite("component_index", &IdealABComponent::component_index)
        .def_readwrite("A0", &IdealABComponent::A0)
        .def_readwrite("B0", &IdealABComponent::B0)
        .def_readwrite("fourier", &IdealABComponent::fourier);

    py::class_<IdealABBlock>(m, "IdealABBlock")
        .def(py::init<>())
        .def_readwrite("id", &IdealABBlock::id)
        .def_readwrite("conway", &IdealABBlock::conway)
        .def_readwrite("L", &IdealABBlock::L)
        .def_readwrite("D", &IdealABBlock::D)
        .def_readwrite("n", &IdealABBlock::n)
        .def_readwrite("components", &IdealABBlock::components)
        .def_readwrite("fourier", &IdealABBlock::fourier);

    py::class_<FourierKnot>(m, "fourier_knot")
        .def(py::init<>())
        .def_readwrite("points", &FourierKnot::points)
        .def_readwrite("blocks", &FourierKnot::blocks)
        .def_readwrite("activeBlock", &FourierKnot::activeBlock)
        .def("loadBlocks", &FourierKnot::loadBlocks)
        .def("selectMaxHarmonics", &FourierKnot::selectMaxHarmonics)
        .def("reconstruct", &FourierKnot::reconstruct);
}

// Readers, block lookup and the exact descriptors of single blocks.
void bind_block_functions(py::module_& m) {
    m.def("parse_fseries_multi", &FourierKnot::parse_fseries_multi, py::arg("path"),
          "Parse a .fseries file into Fourier blocks.");
    m.def("parse_ideal_txt_multi", &FourierKnot::parse_ideal_txt_multi, py::arg("path"),
          "Parse an ideal.txt-style file into IdealABBlock entries.");
    m.def("parse_ideal_txt_from_string", &FourierKnot::parse_ideal_txt_from_string, py::arg("content"),
          "Parse ideal.txt-style content string into IdealABBlock entries.");
    m.def("index_of_ideal_id", &FourierKnot::index_of_ideal_id, py::arg("blocks"), py::arg("id"),
          "Return index of IdealABBlock with given id, or -1 if not found.");
    m.def("index_of_largest_block", &FourierKnot::index_of_largest_block, py::arg("blocks"),
          "Return index of block with most harmonics.");
    m.def("evaluate_fourier_block", &FourierKnot::evaluate, py::arg("block"), py::arg("s"),
          "Evaluate r(s) for the given Fourier block.");
    m.def("evaluate_with_derivatives", &FourierKnot::evaluate_with_derivatives, py::arg("block"), py::arg("s"),
          "Evaluate Fourier block and its first three derivatives at parameter s.");
    m.def("curvature_exact", &FourierKnot::curvature_exact, py::arg("block"), py::arg("s"), py::arg("eps") = 1e-12,
          "Compute exact curvature from Fourier coefficients at sample parameters.");
    m.def("length_exact", &FourierKnot::length_exact, py::arg("block"), py::arg("nsamples") = 4096,
          "Compute exact length of Fourier curve by sampling.");
    m.def("bending_energy_exact", &FourierKnot::bending_energy_exact, py::arg("block"), py::arg("nsamples") = 4096,
          py::arg("eps") = 1e-12, "Compute bending energy integral of Fourier curve.");
    m.def("mode_energies", &FourierKnot::mode_energies, py::arg("block"),
          "Compute per-mode energy from Fourier coefficients.");
    m.def("min_self_distance_sampled", &FourierKnot::min_self_distance_sampled, py::arg("points"),
          py::arg("exclude_window") = 4, "Compute minimum self-distance of a closed polygonal curve.");
    m.def("min_self_distance_exactish", &FourierKnot::min_self_distance_exactish, py::arg("block"),
          py::arg("nsamples") = 2048, py::arg("exclude_window") = 4,
          "Estimate minimum self-distance of Fourier curve via sampling.");
}

void bind_descriptors(py::module_& m) {
    using GD = FourierKnot::GeometricDescriptors;
    py::class_<GD>(m, "GeometricDescriptors")
        .def_readonly("L", &GD::L)
        .def_readonly("bending_energy", &GD::bending_energy)
        .def_readonly("min_self_distance", &GD::min_self_distance)
        .def_readonly("writhe", &GD::writhe)
        .def_readonly("mode_energy", &GD::mode_energy);

    m.def("describe_fourier_block", &FourierKnot::describe_fourier_block, py::arg("block"), py::arg("nsamples") = 2048, py::arg("exclude_window") = 4,
        "Compute geometric descriptors (length, bending energy, self-distance, writhe, mode energies) for a "
        "Fourier block.");

    m.def(
        "fourier_knot_eval",
        [](const CArray& a_x, const CArray& b_x, const CArray& a_y, const CArray& b_y, const CArray& a_z,
           const CArray& b_z, const CArray& s) {
            check_1d_same_len(a_x, b_x, "a_x/b_x");
            check_1d_same_len(a_y, b_y, "a_y/b_y");
            check_1d_same_len(a_z, b_z, "a_z/b_z");
            require(s.ndim() == 1, "fourier_knot_eval: s must be 1D");
            // The block is sized by the x pair; y or z coefficients the caller did not give count as zero.
            const std::size_t n = static_cast<std::size_t>(a_x.shape(0));
            FourierBlock block;
            const CArray* src[6] = {&a_x, &b_x, &a_y, &b_y, &a_z, &b_z};
            std::vector<double>* dst[6] = {&block.a_x, &block.b_x, &block.a_y, &block.b_y, &block.a_z, &block.b_z};
            for (int c = 0; c < 6; ++c) {
                const std::size_t have = static_cast<std::size_t>(src[c]->shape(0));
                const double* p = src[c]->data();
                dst[c]->assign(n, 0.0);
                for (std::size_t k = 0; k < n && k < have; ++k) (*dst[c])[k] = p[k];
            }
            const Polyline pts = FourierKnot::evaluate(block, tarq_py::to_doubles(s));
            const auto len = static_cast<py::ssize_t>(pts.size());
            py::array_t<double> x(len), y(len), z(len);
            auto wx = x.mutable_unchecked<1>();
            auto wy = y.mutable_unchecked<1>();
            auto wz = z.mutable_unchecked<1>();
            for (py::ssize_t i = 0; i < len; ++i) {
                const Vec3& p = pts[static_cast<std::size_t>(i)];
                wx(i) = p[0];
                wy(i) = p[1];
                wz(i) = p[2];
            }
            return py::make_tuple(x, y, z);
        },
        py::arg("a_x"), py::arg("b_x"), py::arg("a_y"), py::arg("b_y"), py::arg("a_z"), py::arg("b_z"), py::arg("s"),
        "NumPy-friendly Fourier evaluation returning (x,y,z)");
}

// Invariants of point sequences; all but the crossing-number estimate take their arguments by position.
void bind_invariants(py::module_& m) {
    using FR = KnotDynamics::FourierResult;
    py::class_<FR>(m, "FourierResult")
        .def_readonly("positions", &FR::positions)
        .def_readonly("tangents", &FR::tangents);

    m.def("compute_writhe", &KnotDynamics::compute_writhe,
          "\n        Compute the writhe of a closed filament (topological self-linking).\n    ");
    m.def("compute_linking_number", &KnotDynamics::compute_linking_number,
          "\n        Compute the Gauss linking number between two closed loops.\n    ");
    m.def("compute_twist", &KnotDynamics::compute_twist,
          "\n        Compute twist from Frenet frames along a filament.\n    ");
    m.def("compute_centerline_helicity", &KnotDynamics::compute_centerline_helicity,
          "\n        Compute the centerline helicity as the sum of writhe and twist.\n    ");
    m.def("detect_reconnection_candidates", &KnotDynamics::detect_reconnection_candidates,
          "\n        Detect pairs of points on the filament that approach closely enough to be candidates for "
          "reconnection.\n    ");
    m.def("evaluate_fourier_series", &KnotDynamics::evaluate_fourier_series,
          "Evaluate a Fourier series for positions and tangents");
    m.def("writhe_gauss_curve", &KnotDynamics::writhe_gauss_curve, "Compute writhe via Gauss integral");
    m.def("estimate_crossing_number", &KnotDynamics::estimate_crossing_number, py::arg("r"), py::arg("directions") = 24, py::arg("seed") = 12345, "Estimate crossing number from projections");
}

// PD code and the grid helicity pipeline.
void bind_grid_functions(py::module_& m) {
    m.def(
        "pd_from_curve",
        [](const py::object& P3, int tries, unsigned int seed, double min_angle_deg, double depth_tol) {
            const Polyline pts = point_set(P3);
            return KnotDynamics::pd_from_curve(pts, tries, seed, min_angle_deg, depth_tol);
        },
        py::arg("P3"), py::arg("tries") = 40, py::arg("seed") = 12345u, py::arg("min_angle_deg") = 1.0,
        py::arg("depth_tol") = 1e-06, "\nCompute a PD code from a closed 3D polygonal curve.\n");
    m.def(
        "compute_biot_savart_velocity_grid",
        [](const py::object& curve, const py::object& grid_points) {
            const Polyline c = point_set(curve);
            const Polyline g = point_set(grid_points);
            return tarq_py::vec3_array(KnotDynamics::compute_biot_savart_velocity_grid(c, g));
        },
        py::arg("curve"), py::arg("grid_points"), "Compute Biot-Savart velocity field from a closed curve at grid points.");
    m.def(
        "compute_vorticity_grid",
        [](const CArray& velocity, const tarq::GridShape& shape, double spacing) {
            return tarq_py::vec3_array(KnotDynamics::compute_vorticity_grid(to_vec3(velocity), shape, spacing));
        },
        py::arg("velocity"), py::arg("shape"), py::arg("spacing"),
        "Compute vorticity from velocity field on a regular grid.");
    m.def(
        "extract_interior_field",
        [](const CArray& field, const tarq::GridShape& shape, int margin) {
            return tarq_py::vec3_array(KnotDynamics::extract_interior_field(to_vec3(field), shape, margin));
        },
        py::arg("field"), py::arg("shape"), py::arg("margin"), "Extract cubic interior field subset.");
    m.def(
        "compute_helicity_invariants",
        [](const CArray& v_sub, const CArray& w_sub, const CArray& r_sq) {
            const std::vector<Vec3> v = to_vec3(v_sub);
            const std::vector<Vec3> w = to_vec3(w_sub);
            require(r_sq.ndim() == 1 && static_cast<std::size_t>(r_sq.shape(0)) == v.size() &&
                        static_cast<std::size_t>(r_sq.shape(0)) == w.size(),
                    "r_sq must be 1D with same length as v_sub/w_sub");
            return KnotDynamics::compute_helicity_invariants(v, w, tarq_py::to_doubles(r_sq));
        },
        py::arg("v_sub"), py::arg("w_sub"), py::arg("r_sq"), "Compute helicity invariants (H_charge, H_mass, a_mu).");
    m.def("compute_helicity_from_fourier_block", &KnotDynamics::compute_helicity_from_fourier_block, py::arg("block"), py::arg("grid_size") = 32, py::arg("spacing") = 0.1, py::arg("interior_margin") = 8,
        py::arg("nsamples") = 1000, "Compute helicity invariants from a Fourier block.");
    m.def(
        "compute_curvature",
        [](const CArray& points, double eps) {
            return tarq_py::double_array(FourierKnot::curvature(to_vec3(points), eps));
        },
        py::arg("points"), py::arg("eps") = 1e-08, "Compute discrete curvature from points.");
}

// The embedded catalogues, ideal records and their evaluation.
void bind_catalogue_functions(py::module_& m) {
    m.def("get_embedded_ideal_files", &tarq::get_embedded_ideal_files,
          "Return embedded ideal*.txt resources as {relative_name: content}.");
    m.def("load_embedded_ideal_text", &tarq::load_embedded_ideal_text, py::arg("name") = "ideal.txt",
          "Load embedded ideal text resource from library (basename fallback supported).");
    m.def(
        "parse_embedded_ideal_txt",
        [](const std::string& name) {
            return FourierKnot::parse_ideal_txt_from_string(tarq::load_embedded_ideal_text(name));
        },
        py::arg("name") = "ideal.txt", "Parse embedded ideal*.txt resource into AB blocks.");
    m.def("parse_embedded_ideal_ab_by_id", &FourierKnot::parse_ideal_ab_by_id_from_embedded, py::arg("ab_id"),
          py::arg("name") = "ideal.txt", "Parse a single AB block by Id from an embedded ideal*.txt resource.");
    m.def("parse_ideal_ab_by_id_from_string", &FourierKnot::parse_ideal_ab_by_id_from_string, py::arg("content"),
          py::arg("ab_id"), "Parse a single AB block by Id from ideal.txt-style content string.");
    m.def("format_ideal_ab_header", &FourierKnot::format_ideal_ab_header, py::arg("ab"),
          "Format AB metadata as: AB Id=\"...\" Conway=\"...\" L=\"...\" D=\"...\" n=\"...\"");
    m.def("get_embedded_knot_files", &tarq::get_embedded_knot_files,
          "Return embedded .fseries resources as {knot_id: file_content}.");
    m.def("parse_fseries_from_string", &FourierKnot::parse_fseries_from_string, py::arg("content"),
          "Parse .fseries content string into Fourier blocks.");
    m.def(
        "load_embedded_knot_block",
        [](const std::string& knot_id) {
            // A fresh map on purpose: this lookup does not share the filament's process-wide copy.
            const tarq::KnotFileMap files = tarq::get_embedded_knot_files();
            const auto it = files.find(knot_id);
            if (it == files.end()) throw std::runtime_error("Embedded knot id not found: " + knot_id);
            const std::vector<FourierBlock> blocks = FourierKnot::parse_fseries_from_string(it->second);
            const int k = FourierKnot::index_of_largest_block(blocks);
            if (k < 0) throw std::runtime_error("No Fourier block found in embedded knot: " + knot_id);
            return blocks[static_cast<std::size_t>(k)];
        },
        py::arg("knot_id"), "Load embedded knot by id and return its largest Fourier block.");
    m.def(
        "evaluate_ideal_component",
        [](const IdealABComponent& component, const CArray& s) {
            return tarq_py::vec3_array(FourierKnot::evaluate_ideal_component(component, one_dim_s(s)));
        },
        py::arg("component"), py::arg("s"), "Evaluate a single ideal AB component (includes I=0 offset).");
    m.def(
        "evaluate_ideal_ab_components",
        [](const IdealABBlock& ab, const CArray& s) {
            const tarq::FilamentSet parts = FourierKnot::evaluate_ideal_ab_components(ab, one_dim_s(s));
            py::list out;
            for (const Polyline& p : parts) out.append(tarq_py::vec3_array(p));
            return out;
        },
        py::arg("ab"), py::arg("s"), "Evaluate all components of an ideal AB block.");
}

void bind_loaded_knots(py::module_& m) {
    using LK = FourierKnot::LoadedKnot;
    py::class_<LK>(m, "LoadedKnot")
        .def_readonly("name", &LK::name)
        .def_readonly("points", &LK::points)
        .def_readonly("curvature", &LK::curvature)
        .def(
            "get_points_array", [](const LK& k) { return tarq_py::vec3_array(k.points); },
            "Get points as NumPy array (N,3)")
        .def(
            "get_curvature_array", [](const LK& k) { return tarq_py::double_array(k.curvature); },
            "Get curvature as NumPy array (N,)");

    m.def("load_all_knots", &FourierKnot::load_all_knots, py::arg("paths"), py::arg("nsamples") = 1000,
          "Load all knots from a list of .fseries file paths.");
}

void bind_vortex_knot_system(py::module_& m) {
    using VKS = tarq::VortexKnotSystem;
    py::class_<VKS, std::shared_ptr<VKS>>(m, "VortexKnotSystem")
        .def(py::init<double>(), py::arg("circulation") = 1.0,
             "Initialize a VortexKnotSystem with optional circulation parameter.")
        .def("initialize_trefoil_knot", &VKS::initialize_trefoil_knot, py::arg("resolution") = 400,
             "Initialize a trefoil knot with given resolution.")
        .def("initialize_figure8_knot", &VKS::initialize_figure8_knot, py::arg("resolution") = 400,
             "Initialize a figure-eight knot with given resolution.")
        .def("initialize_knot_from_name", &VKS::initialize_knot_from_name, py::arg("knot_id"),
             py::arg("resolution") = 1000, "Initialize any knot from bundled .fseries file by identifier.")
        .def("evolve", &VKS::evolve, py::arg("dt"), py::arg("steps"),
             "Evolve vortex knot using Biot\u2013Savart dynamics.")
        .def("get_positions", &VKS::get_positions, "Get current 3D positions of the knot.")
        .def("get_tangents", &VKS::get_tangents, "Get current tangent vectors of the knot.");
}

}  // namespace

void bind_knot(py::module_& m) {
    bind_fourier_records(m);
    bind_block_functions(m);
    bind_descriptors(m);
    bind_invariants(m);
    bind_grid_functions(m);
    bind_catalogue_functions(m);
    bind_loaded_knots(m);
    bind_vortex_knot_system(m);
}
