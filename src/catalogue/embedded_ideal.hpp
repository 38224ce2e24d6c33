// The built-in ideal-database texts, keyed by path relative to the resource directory.
#pragma once

#include <string>

#include "core/types.hpp"

namespace tarq {

// A new map with every embedded ideal text at every call.
KnotFileMap get_embedded_ideal_files();

// One text by relative name, else by base name; built from a process-wide copy of the map.
std::string load_embedded_ideal_text(const std::string& name);

}  // namespace tarq
