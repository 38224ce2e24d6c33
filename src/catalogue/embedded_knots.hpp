// The 78 built-in .fseries knot texts, keyed by knot identifier.
#pragma once

#include "core/types.hpp"

namespace tarq {

// A new map at every call.
KnotFileMap get_embedded_knot_files();

}  // namespace tarq
