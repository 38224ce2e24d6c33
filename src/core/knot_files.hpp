// Search for knot data files on disk: caller's base directory, then the directories named by
// TARQ_KNOT_DATA_DIR and TARQ_RESOURCE_DIR, then fixed relative and system directories.
#pragma once

#include <string>

namespace tarq {

// A candidate is readable when it names a regular file that opens for reading (core/file_reading.hpp).

// First readable "knot." + knot_id + ".fseries" in search order, exactly as the path was built;
// empty when none is found. The environment is read at every call.
std::string find_knot_file_path(const std::string& knot_id, const std::string& base_dir);

// First readable ideal-database file `name` (may hold a relative directory) in search order;
// empty when none is found.
std::string find_ideal_file_path(const std::string& name, const std::string& base_dir);

}  // namespace tarq
