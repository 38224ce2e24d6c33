// File-tool family: the .fseries canonicaliser, curve metrics, grid helicity and filament energy of files,
// directory batches and file comparison. Records first, so that the signatures name their classes.
#include "python/common.hpp"
#include "python/convert.hpp"
#include "python/paths.hpp"
#include "python/text.hpp"

#include <string>

#include "core/tarq_extensions.hpp"
#include "core/tarq_extensions_detail.hpp"

namespace ext = tarq::tarqext;

void bind_extensions(py::module_& m) {
    py::class_<ext::CanonicalizeResult> canonicalized(m, "CanonicalizeResult");
    canonicalized.def(py::init<>());
    tarq_py::def_path_field(canonicalized, "path", &ext::CanonicalizeResult::path);
    canonicalized
        .def_readwrite("found_numeric_rows", &ext::CanonicalizeResult::found_numeric_rows)
        .def_readwrite("changed", &ext::CanonicalizeResult::changed);
    // Text like every str field of a record: bytes given to the setter read back unchanged.
    tarq_py::def_text_field(canonicalized, "reason", &ext::CanonicalizeResult::reason);

    py::class_<ext::HelicityResult> helicity(m, "HelicityResult");
    helicity.def(py::init<>());
    tarq_py::def_path_field(helicity, "path", &ext::HelicityResult::path);
    helicity
        .def_readwrite("a_mu", &ext::HelicityResult::a_mu)
        .def_readwrite("Hc", &ext::HelicityResult::Hc)
        .def_readwrite("Hm", &ext::HelicityResult::Hm)
        .def_readwrite("L", &ext::HelicityResult::L)
        .def_readwrite("kappa_max", &ext::HelicityResult::kappa_max)
        .def_readwrite("kappa_mean", &ext::HelicityResult::kappa_mean)
        .def_readwrite("bend_energy", &ext::HelicityResult::bend_energy)
        .def_readwrite("min_non_neighbor_dist", &ext::HelicityResult::min_non_neighbor_dist)
        .def_readwrite("reach_proxy", &ext::HelicityResult::reach_proxy)
        .def_readwrite("nsamples", &ext::HelicityResult::nsamples);

    py::class_<ext::FilamentEnergyParams>(m, "FilamentEnergyParams")
        .def(py::init<>())
        .def_readwrite("rho_outer", &ext::FilamentEnergyParams::rho_outer)
        .def_readwrite("rho_local", &ext::FilamentEnergyParams::rho_local)
        .def_readwrite("Gamma", &ext::FilamentEnergyParams::Gamma)
        .def_readwrite("a_core", &ext::FilamentEnergyParams::a_core)
        .def_readwrite("delta", &ext::FilamentEnergyParams::delta)
        .def_readwrite("s_cut_local", &ext::FilamentEnergyParams::s_cut_local)
        .def_readwrite("include_nonlocal", &ext::FilamentEnergyParams::include_nonlocal)
        .def_readwrite("include_local_match", &ext::FilamentEnergyParams::include_local_match)
        .def_readwrite("include_core_int", &ext::FilamentEnergyParams::include_core_int)
        .def_readwrite("c_rankine_outer", &ext::FilamentEnergyParams::c_rankine_outer)
        .def_readwrite("nsamples", &ext::FilamentEnergyParams::nsamples)
        .def_readwrite("skip_neighbors_base", &ext::FilamentEnergyParams::skip_neighbors_base);

    py::class_<ext::FilamentEnergyResult> energy(m, "FilamentEnergyResult");
    energy.def(py::init<>());
    tarq_py::def_path_field(energy, "path", &ext::FilamentEnergyResult::path);
    energy
        .def_readwrite("L", &ext::FilamentEnergyResult::L)
        .def_readwrite("ds_avg", &ext::FilamentEnergyResult::ds_avg)
        .def_readwrite("m_loc", &ext::FilamentEnergyResult::m_loc)
        .def_readwrite("E_nonlocal", &ext::FilamentEnergyResult::E_nonlocal)
        .def_readwrite("E_local_match", &ext::FilamentEnergyResult::E_local_match)
        .def_readwrite("E_core_int", &ext::FilamentEnergyResult::E_core_int)
        .def_readwrite("E_total", &ext::FilamentEnergyResult::E_total)
        .def_readwrite("kappa_max", &ext::FilamentEnergyResult::kappa_max)
        .def_readwrite("kappa_mean", &ext::FilamentEnergyResult::kappa_mean)
        .def_readwrite("bend_energy", &ext::FilamentEnergyResult::bend_energy)
        .def_readwrite("min_non_neighbor_dist", &ext::FilamentEnergyResult::min_non_neighbor_dist)
        .def_readwrite("reach_proxy", &ext::FilamentEnergyResult::reach_proxy)
        .def_readwrite("rho_outer", &ext::FilamentEnergyResult::rho_outer)
        .def_readwrite("rho_local", &ext::FilamentEnergyResult::rho_local)
        .def_readwrite("Gamma", &ext::FilamentEnergyResult::Gamma)
        .def_readwrite("a_core", &ext::FilamentEnergyResult::a_core)
        .def_readwrite("delta", &ext::FilamentEnergyResult::delta)
        .def_readwrite("s_cut_local", &ext::FilamentEnergyResult::s_cut_local)
        .def_readwrite("c_rankine_outer", &ext::FilamentEnergyResult::c_rankine_outer)
        .def_readwrite("nsamples", &ext::FilamentEnergyResult::nsamples);

    m.def("canonicalize_fseries_file_inplace", tarq_py::with_fs_paths(&ext::canonicalize_fseries_file_inplace),
          py::arg("path"));
    m.def(
        "compute_helicity_from_fseries",
        [](const tarq_py::FsPath& path, int grid_size, double spacing, int interior_margin, int nsamples) {
            // Argument errors name the function Python called.
            return ext::detail::helicity_of_file("compute_helicity_from_fseries", path.bytes, grid_size, spacing,
                                                 interior_margin, nsamples);
        },
        py::arg("path"), py::arg("grid_size") = 32,
          py::arg("spacing") = 0.1, py::arg("interior_margin") = 8, py::arg("nsamples") = 1000);
    m.def("sample_curve_centered", tarq_py::with_fs_paths(&ext::sample_curve_centered), py::arg("path"),
          py::arg("nsamples") = 1024);
    m.def("compute_curve_metrics_from_fseries", tarq_py::with_fs_paths(&ext::curve_metrics_from_fseries), py::arg("path"),
          py::arg("nsamples") = 2048, py::arg("skip") = 3);
    m.def(
        "curve_length_from_fseries",
        [](const tarq_py::FsPath& path, int nsamples) {
            return ext::curve_length(ext::sample_curve_centered(path.bytes, nsamples));
        },
        py::arg("path"), py::arg("nsamples") = 2048);
    m.def(
        "min_non_neighbor_distance_from_fseries",
        [](const tarq_py::FsPath& path, int nsamples, int skip) {
            return ext::min_non_neighbor_distance(ext::sample_curve_centered(path.bytes, nsamples), skip);
        },
        py::arg("path"), py::arg("nsamples") = 2048, py::arg("skip") = 3);
    m.def(
        "reach_proxy_from_fseries",
        [](const tarq_py::FsPath& path, int nsamples, int skip) {
            return ext::reach_proxy(ext::sample_curve_centered(path.bytes, nsamples), skip);
        },
        py::arg("path"), py::arg("nsamples") = 2048, py::arg("skip") = 3);
    m.def(
        "compute_filament_energy_from_fseries",
        [](const tarq_py::FsPath& path, const ext::FilamentEnergyParams* params) {
            // The call's own copy of the parameters (call_copy.hpp): its sums poll, and a handler may set them.
            const ext::FilamentEnergyParams p =
                tarq_py::record(params, "compute_filament_energy_from_fseries", "params");
            return ext::filament_energy_from_fseries(path.bytes, p);
        },
        py::arg("path"), py::arg("params"));
    m.def("batch_helicity_from_dir", tarq_py::with_fs_paths(&ext::batch_helicity_from_dir), py::arg("root_dir"),
          py::arg("grid_size") = 32, py::arg("spacing") = 0.1, py::arg("interior_margin") = 8,
          py::arg("nsamples") = 1000, py::arg("recurse") = false);
    m.def("compare_fseries_files", tarq_py::with_fs_paths(&ext::compare_fseries_files), py::arg("path_a"),
          py::arg("path_b"), py::arg("nsamples") = 2048, py::arg("skip") = 3);
}
