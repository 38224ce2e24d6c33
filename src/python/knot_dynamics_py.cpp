// Knot family: Fourier blocks, ideal-database records, the fourier_knot object, the curve invariants,
// the embedded catalogue lookups, the NumPy-facing helpers and VortexKnotSystem. Classes and functions
// are registered interleaved so that every signature names result classes that already exist; the
// sub-families live in knot_blocks_py.cpp, knot_invariants_py.cpp and knot_catalogue_py.cpp.
#include "python/knot_py.hpp"

void bind_knot(py::module_& m) {
    using namespace knot_py;
    bind_fourier_records(m);
    bind_block_functions(m);
    bind_descriptors(m);
    bind_invariants(m);
    bind_grid_functions(m);
    bind_catalogue_functions(m);
    bind_loaded_knots(m);
    bind_vortex_knot_system(m);
}
