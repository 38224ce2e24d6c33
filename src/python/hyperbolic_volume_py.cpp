// The hyperbolic volume of a PD code, delegated to the outside Python module tarq_hypvol_no_deps.
#include "python/common.hpp"

#include "core/types.hpp"

void bind_hyperbolic_volume(py::module_& m) {
    m.def(
        "hyperbolic_volume_from_pd",
        [](const tarq::PDCode& pd) {
            py::gil_scoped_acquire gil;
            // Imported at every call: no handle is kept, so a module installed or replaced later is used.
            py::module_ solver = py::module_::import("tarq_hypvol_no_deps");
            py::object volume = solver.attr("hyperbolic_volume_from_pd");
            py::list crossings = py::cast(pd);
            return volume(crossings, py::arg("verbose") = false).cast<double>();
        },
        py::arg("pd"), "Hyperbolic volume from PD (delegates to Python if no native solver).");
}
