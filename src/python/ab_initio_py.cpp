#include "python/common.hpp"
#include "python/call_copy.hpp"
#include "python/convert.hpp"
#include "python/text.hpp"

#include <utility>

#include "core/interrupt.hpp"
#include "models/ab_initio_mass.hpp"

void bind_ab_initio(py::module_& m) {
    using tarq::ParticleEvaluator;
    using tarq::ZooEvaluator;
    using Config = ParticleEvaluator::TailApproxConfig;
    using Metrics = ParticleEvaluator::RelativisticMetrics;

    py::class_<Config>(m, "TailApproxConfig")
        .def(py::init<>())
        .def_readwrite("enabled", &Config::enabled)
        .def_readwrite("radial_samples", &Config::radial_samples)
        .def_readwrite("azimuth_samples", &Config::azimuth_samples)
        .def_readwrite("r_min_factor", &Config::r_min_factor)
        .def_readwrite("r_max_factor", &Config::r_max_factor)
        .def_readwrite("exclusion_ds_factor", &Config::exclusion_ds_factor)
        .def_readwrite("use_log_shell_weight", &Config::use_log_shell_weight);

    py::class_<Metrics>(m, "RelativisticMetrics")
        .def(py::init([]() { return Metrics{}; }))
        .def_readwrite("helicity", &Metrics::helicity)
        .def_readwrite("time_dilation_map", &Metrics::time_dilation_map)
        .def_readwrite("core_time_dilation", &Metrics::core_time_dilation);

    py::class_<ParticleEvaluator>(m, "ParticleEvaluator")
        .def(py::init([](const tarq_py::Text& knot_ab_id, int resolution) {
                 // Text, so that the id of a record read from the database finds that record.
                 return ParticleEvaluator(knot_ab_id.bytes, resolution);
             }),
             py::arg("knot_ab_id"), py::arg("resolution") = 4000)
        .def(py::init<const tarq::FilamentSet&>(), py::arg("input_filaments"))
        .def(
            "relax",
            [](ParticleEvaluator& self, int iterations, double timestep) {
                // Lets an interrupt from Python stop a long relaxation between iterations; the relaxation
                // runs on a copy, as every call does (call_copy.hpp).
                ParticleEvaluator work = self;
                work.relax_hamiltonian(iterations, timestep, &tarq::poll_interrupt);
                self = std::move(work);
            },
            py::arg("iterations") = 1000, py::arg("timestep") = 0.01)
        .def("get_dimless_ropelength", tarq_py::on_copy(&ParticleEvaluator::get_dimless_ropelength),
             py::arg("stretch_lambda") = 1.0)
        .def("get_physical_length_m", tarq_py::on_copy(&ParticleEvaluator::get_physical_length_m))
        .def("compute_core_energy_J", tarq_py::on_copy(&ParticleEvaluator::compute_core_energy_J))
        .def("compute_tail_energy_J", tarq_py::on_copy(&ParticleEvaluator::compute_tail_energy_J),
             py::arg("include_tail") = false)
        .def("get_mass_mev_ab_initio", tarq_py::on_copy(&ParticleEvaluator::get_mass_mev_ab_initio),
             py::arg("include_tail") = false)
        .def("get_core_mass_mev_only", tarq_py::on_copy(&ParticleEvaluator::get_core_mass_mev_only))
        .def("set_tail_approx_config",
             [](ParticleEvaluator& pe, const ParticleEvaluator::TailApproxConfig* config) {
                 pe.set_tail_approx_config(tarq_py::record(config, "set_tail_approx_config", "config"));
             })
        .def("get_tail_approx_config", &ParticleEvaluator::get_tail_approx_config)
        .def("compute_tail_energy_surrogate_J", tarq_py::on_copy(&ParticleEvaluator::compute_tail_energy_surrogate_J))
        .def("compute_relativistic_metrics", tarq_py::on_copy(&ParticleEvaluator::compute_relativistic_metrics),
             py::arg("circulation") = 9.683619203e-9)
        .def_static("print_canonical_derivation", &ParticleEvaluator::print_canonical_derivation,
                    "Prints the dynamic fluid derivation of the core density.")
        .def(
            "get_filaments",
            // Lists of [x, y, z], converted from a copy: a finalizer run while they are built may change the
            // evaluator.
            [](const ParticleEvaluator& self) { return tarq::FilamentSet(self.filaments); },
            "Export the 3D coordinates of all present vortex rings.");

    py::class_<ZooEvaluator::Result>(m, "ZooResult")
        .def_readonly("identifier", &ZooEvaluator::Result::identifier)
        .def_readonly("mass_mev", &ZooEvaluator::Result::mass_mev)
        .def_readonly("bridge_b", &ZooEvaluator::Result::bridge_b)
        .def_readonly("genus_g", &ZooEvaluator::Result::genus_g);

    py::class_<ZooEvaluator>(m, "ZooEvaluator")
        .def_static("evaluate_all_golden_nls", &ZooEvaluator::evaluate_all_golden_nls,
                    "Run ab initio Golden NLS mass evaluation for the entire TARQ Master Dictionary.")
        .def_static("get_entry_mass", &ZooEvaluator::get_entry_mass, py::arg("identifier"),
                    "Get the mass of a specific knot by its dictionary ID.");
}
