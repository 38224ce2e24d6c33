// Search for knot data files on disk: caller's base directory, then the directories named by
// TARQ_KNOT_DATA_DIR and TARQ_RESOURCE_DIR, then fixed relative and system directories.
#pragma once

#include <fstream>
#include <ios>
#include <string>

namespace tarq {

// Opens `path` for reading, unless it holds a NUL byte: the file system would take the name as ending
// there and open another file. True when `in` is open.
bool open_for_reading(std::ifstream& in, const std::string& path, std::ios::openmode mode = std::ios::in);

// First readable "knot." + knot_id + ".fseries" in search order, exactly as the path was built;
// empty when none is found. The environment is read at every call.
std::string find_knot_file_path(const std::string& knot_id, const std::string& base_dir);

// First readable ideal-database file `name` (may hold a relative directory) in search order;
// empty when none is found.
std::string find_ideal_file_path(const std::string& name, const std::string& base_dir);

}  // namespace tarq
