// libFuzzer target: the particle evaluator's database reader, through its public entry, on arbitrary bytes;
// the identifier is the first one the text names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "models/ab_initio_mass.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string id = "3:1:1";
    const std::size_t at = text.find("<AB Id=\"");
    if (at != std::string::npos) {
        const std::size_t end = text.find('"', at + 8);
        id = text.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
    }
    tarq::ParticleEvaluator evaluator{tarq::FilamentSet{}};
    try {
        if (evaluator.extract_and_build_filament(text, id, 16)) {
            for (const tarq::Polyline& p : evaluator.filaments) {
                if (p.size() != 16) std::abort();
            }
        }
    } catch (const std::logic_error&) {
        // an index that is no number or beyond int: the reader's own report
    }
    return 0;
}
