#include "core/knot_files.hpp"

#include <cstdlib>
#include <string>
#include <utility>

#include "core/file_reading.hpp"

namespace tarq {

namespace {

// Tries dir + sep + file; on success stores the candidate in `found`.
bool try_candidate(const std::string& dir, const char* sep, const std::string& file, std::string& found) {
    std::string candidate = dir + sep + file;
    if (!opens_as_regular_file(candidate)) return false;
    found = std::move(candidate);
    return true;
}

// A variable set to the empty string still counts as set.
const char* env(const char* name) { return std::getenv(name); }

constexpr const char* kKnotDirs[] = {
    "src/knot_fseries",
    "src/Knots_FourierSeries",
    "../src/knot_fseries",
    "../src/Knots_FourierSeries",
    "../../src/knot_fseries",
    "../../src/Knots_FourierSeries",
    "knot_fseries",
    "../knot_fseries",
    "share/velorn_core/knot_fseries",
    "../../share/velorn_core/knot_fseries",
    "/usr/local/share/velorn_core/knot_fseries",
    "/usr/share/velorn_core/knot_fseries",
};

constexpr const char* kIdealDirs[] = {
    "resources",
    "../resources",
    "share/velorn_core/resources",
};

}  // namespace

std::string find_knot_file_path(const std::string& knot_id, const std::string& base_dir) {
    const std::string f = "knot." + knot_id + ".fseries";
    std::string found;
    if (!base_dir.empty()) {
        if (try_candidate(base_dir, "/", f, found)) return found;
        if (try_candidate(base_dir, "/knot_fseries/", f, found)) return found;
    }
    if (const char* d = env("TARQ_KNOT_DATA_DIR")) {
        if (try_candidate(d, "/", f, found)) return found;
    }
    if (const char* r = env("TARQ_RESOURCE_DIR")) {
        if (try_candidate(r, "/resources/knot_fseries/", f, found)) return found;
        if (try_candidate(r, "/knot_fseries/", f, found)) return found;
    }
    for (const char* dir : kKnotDirs) {
        if (try_candidate(dir, "/", f, found)) return found;
    }
    return std::string();
}

std::string find_ideal_file_path(const std::string& name, const std::string& base_dir) {
    std::string found;
    if (!base_dir.empty()) {
        if (try_candidate(base_dir, "/", name, found)) return found;
        if (try_candidate(base_dir, "/resources/", name, found)) return found;
    }
    if (const char* r = env("TARQ_RESOURCE_DIR")) {
        if (try_candidate(r, "/", name, found)) return found;
        if (try_candidate(r, "/resources/", name, found)) return found;
    }
    if (const char* d = env("TARQ_KNOT_DATA_DIR")) {
        if (try_candidate(d, "/../", name, found)) return found;
    }
    for (const char* dir : kIdealDirs) {
        if (try_candidate(dir, "/", name, found)) return found;
    }
    return std::string();
}

}  // namespace tarq
