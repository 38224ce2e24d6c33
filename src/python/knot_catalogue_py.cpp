// Knot family, catalogues: the embedded ideal and knot files, loaded knots and VortexKnotSystem.
#include "python/knot_py.hpp"
#include "python/call_copy.hpp"
#include "python/paths.hpp"
#include "python/text.hpp"

#include <memory>
#include <string>
#include <vector>

#include "catalogue/embedded_ideal.hpp"
#include "catalogue/embedded_knots.hpp"
#include "catalogue/vortex_knot_system.hpp"
#include "core/errors.hpp"

namespace knot_py {

// The embedded catalogues, ideal records and their evaluation.
void bind_catalogue_functions(py::module_& m) {
    m.def(
        "get_embedded_ideal_files", [] { return tarq_py::text_dict(tarq::get_embedded_ideal_files()); },
        "Return embedded ideal*.txt resources as {relative_name: content}.");
    m.def(
        "load_embedded_ideal_text",
        [](const std::string& name) { return tarq_py::Text{tarq::load_embedded_ideal_text(name)}; },
        py::arg("name") = "ideal.txt", "Load embedded ideal text resource from library (basename fallback supported).");
    m.def(
        "parse_embedded_ideal_txt",
        [](const std::string& name) {
            return FourierKnot::parse_ideal_txt_from_string(tarq::load_embedded_ideal_text(name));
        },
        py::arg("name") = "ideal.txt", "Parse embedded ideal*.txt resource into AB blocks.");
    m.def(
        "parse_embedded_ideal_ab_by_id",
        [](const tarq_py::Text& ab_id, const std::string& name) {
            return FourierKnot::parse_ideal_ab_by_id_from_embedded(ab_id.bytes, name);
        },
        py::arg("ab_id"), py::arg("name") = "ideal.txt",
        "Parse a single AB block by Id from an embedded ideal*.txt resource.");
    m.def(
        "parse_ideal_ab_by_id_from_string",
        [](const tarq_py::Text& content, const tarq_py::Text& ab_id) {
            return FourierKnot::parse_ideal_ab_by_id_from_string(content.bytes, ab_id.bytes);
        },
        py::arg("content"), py::arg("ab_id"), "Parse a single AB block by Id from ideal.txt-style content string.");
    tarq_py::def_by_record(
        m, "format_ideal_ab_header",
        +[](const IdealABBlock& ab) { return tarq_py::Text{FourierKnot::format_ideal_ab_header(ab)}; }, py::arg("ab"),
        "Format AB metadata as: AB Id=\"...\" Conway=\"...\" L=\"...\" D=\"...\" n=\"...\"");
    m.def(
        "get_embedded_knot_files", [] { return tarq_py::text_dict(tarq::get_embedded_knot_files()); },
        "Return embedded .fseries resources as {knot_id: file_content}.");
    m.def(
        "parse_fseries_from_string",
        [](const tarq_py::Text& content) { return FourierKnot::parse_fseries_from_string(content.bytes); },
        py::arg("content"), "Parse .fseries content string into Fourier blocks.");
    m.def(
        "load_embedded_knot_block",
        [](const std::string& knot_id) {
            // A fresh map on purpose: this lookup does not share the filament's process-wide copy.
            const tarq::KnotFileMap files = tarq::get_embedded_knot_files();
            const auto it = files.find(knot_id);
            if (it == files.end()) throw tarq::RuntimeError("Embedded knot id not found: " + knot_id);
            const std::vector<FourierBlock> blocks = FourierKnot::parse_fseries_from_string(it->second);
            const int k = FourierKnot::index_of_largest_block(blocks);
            if (k < 0) throw tarq::RuntimeError("No Fourier block found in embedded knot: " + knot_id);
            return blocks[static_cast<std::size_t>(k)];
        },
        py::arg("knot_id"), "Load embedded knot by id and return its largest Fourier block.");
    m.def(
        "evaluate_ideal_component",
        [](const IdealABComponent* component, const CArray& s) {
            const IdealABComponent c = tarq_py::record(component, "evaluate_ideal_component", "component");
            return tarq_py::vec3_array(FourierKnot::evaluate_ideal_component(c, one_dim_s(s)));
        },
        py::arg("component"), py::arg("s"), "Evaluate a single ideal AB component (includes I=0 offset).");
    m.def(
        "evaluate_ideal_ab_components",
        [](const IdealABBlock* ab, const CArray& s) {
            const IdealABBlock block = tarq_py::record(ab, "evaluate_ideal_ab_components", "ab");
            tarq::FilamentSet parts = FourierKnot::evaluate_ideal_ab_components(block, one_dim_s(s));
            py::list out;
            for (Polyline& p : parts) out.append(tarq_py::vec3_array(std::move(p)));
            return out;
        },
        py::arg("ab"), py::arg("s"), "Evaluate all components of an ideal AB block.");
}

void bind_loaded_knots(py::module_& m) {
    using LK = FourierKnot::LoadedKnot;
    py::class_<LK> loaded(m, "LoadedKnot");
    // The name is cut from the file's name, so it decodes as file names do.
    loaded
        .def_property_readonly(
            "name", py::cpp_function([](const LK& k) { return tarq_py::FsPath{k.name}; }, py::is_method(loaded)))
        .def_readonly("points", &LK::points)
        .def_readonly("curvature", &LK::curvature)
        .def(
            "get_points_array", [](const LK& k) { return tarq_py::vec3_array(k.points); },
            "Get points as NumPy array (N,3)")
        .def(
            "get_curvature_array", [](const LK& k) { return tarq_py::double_array(k.curvature); },
            "Get curvature as NumPy array (N,)");

    m.def("load_all_knots", tarq_py::with_fs_paths(&FourierKnot::load_all_knots), py::arg("paths"),
          py::arg("nsamples") = 1000, "Load all knots from a list of .fseries file paths.");
}

void bind_vortex_knot_system(py::module_& m) {
    using VKS = tarq::VortexKnotSystem;
    py::class_<VKS, std::shared_ptr<VKS>>(m, "VortexKnotSystem")
        .def(py::init<double>(), py::arg("circulation") = 1.0,
             "Initialize a VortexKnotSystem with optional circulation parameter.")
        .def("initialize_trefoil_knot", tarq_py::on_copy(&VKS::initialize_trefoil_knot), py::arg("resolution") = 400,
             "Initialize a trefoil knot with given resolution.")
        .def("initialize_figure8_knot", tarq_py::on_copy(&VKS::initialize_figure8_knot), py::arg("resolution") = 400,
             "Initialize a figure-eight knot with given resolution.")
        .def("initialize_knot_from_name", tarq_py::on_copy(&VKS::initialize_knot_from_name), py::arg("knot_id"),
             py::arg("resolution") = 1000, "Initialize any knot from bundled .fseries file by identifier.")
        .def("evolve", tarq_py::on_copy(&VKS::evolve), py::arg("dt"), py::arg("steps"),
             "Evolve vortex knot using Biot\u2013Savart dynamics.")
        // The points' caster converts a reference into the object from a copy of its own.
        .def("get_positions", &VKS::get_positions, "Get current 3D positions of the knot.")
        .def("get_tangents", &VKS::get_tangents, "Get current tangent vectors of the knot.");
}

}  // namespace knot_py
