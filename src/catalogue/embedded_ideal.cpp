// Lookup of one embedded ideal-database text by relative name or base name.
#include "catalogue/embedded_ideal.hpp"

#include <stdexcept>
#include <string>

#include "core/errors.hpp"
#include "core/fourier_knot.hpp"

namespace tarq {

namespace {

// One copy of the catalogue for the process: building it copies about 52 MB, so it is done once,
// on first use (a failed build leaves the static uninitialised and the next call retries).
const KnotFileMap& ideal_lookup_map() {
    static const KnotFileMap files = get_embedded_ideal_files();
    return files;
}

// The part of `key` after its last '/' or '\\' equals the whole of `name`.
bool base_name_equals(const std::string& key, const std::string& name) {
    const std::string::size_type sep = key.find_last_of("/\\");
    const std::string::size_type start = sep == std::string::npos ? 0 : sep + 1;
    return key.size() - start == name.size() && key.compare(start, std::string::npos, name) == 0;
}

}  // namespace

std::string load_embedded_ideal_text(const std::string& name) {
    const KnotFileMap& files = ideal_lookup_map();
    const auto exact = files.find(name);
    if (exact != files.end()) {
        return exact->second;
    }
    for (const auto& entry : files) {
        if (base_name_equals(entry.first, name)) {
            return entry.second;
        }
    }
    throw RuntimeError("Embedded ideal text not found: " + name);
}

FourierKnot::IdealABBlock FourierKnot::parse_ideal_ab_by_id_from_embedded(const std::string& ab_id,
                                                                         const std::string& name) {
    const std::string text = load_embedded_ideal_text(name);
    return parse_ideal_ab_by_id_from_string(text, ab_id);
}

}  // namespace tarq
