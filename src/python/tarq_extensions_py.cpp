#include "python/common.hpp"

void bind_extensions(py::module_& m) {
    (void)m;
}
