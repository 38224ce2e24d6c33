// The particle evaluator's database search: the ideal database text and an entry's components.
//
// This reader is not the core's ideal-database reader on purpose: it keeps the particle model's own
// tolerant rules (the first I=/A=/B= anywhere in a row, harmonics above 19 or negative dropped, a
// missing I meaning 1, samples without the closing end point), which give different curves for the
// same text than the core's strict row pattern and would change every mass built on them.
#include "models/ab_initio_mass.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "catalogue/embedded_knots.hpp"
#include "core/constants.hpp"
#include "core/errors.hpp"
#include "core/file_reading.hpp"
#include "core/interrupt.hpp"
#include "core/text_numbers.hpp"

namespace tarq {

namespace {

using constants::kTwoPi;

constexpr int kMaxHarmonic = 19;

// Catalogue first, then $TARQ_IDEAL_DATABASE, then the fixed relative paths; the first source that yields ends it.
std::string find_database_text() {
    {
        const KnotFileMap files = get_embedded_knot_files();
        for (const auto& kv : files) {
            if (kv.first.find("ideal_database.txt") != std::string::npos) {
                if (!kv.second.empty()) return kv.second;
                break;
            }
        }
    }
    std::string text;
    const char* env = std::getenv("TARQ_IDEAL_DATABASE");
    if (env != nullptr && env[0] != '\0' && read_regular_file(env, text)) return text;
    static const char* const kPaths[] = {
        "ideal_database.txt",
        "Front-End/knot_fseries/ideal_database.txt",
        "../Front-End/knot_fseries/ideal_database.txt",
        "../../Front-End/knot_fseries/ideal_database.txt",
    };
    for (const char* p : kPaths) {
        if (read_regular_file(p, text)) return text;
    }
    return std::string();
}

// One component: Coeff rows into harmonic tables 0..19, then `resolution` samples without the end point.
Polyline build_component(const std::string& text, int resolution) {
    Vec3 A[kMaxHarmonic + 1] = {};
    Vec3 B[kMaxHarmonic + 1] = {};
    int maxI = 0;
    std::size_t pos = 0;
    // A database named by the environment can hold any number of rows.
    InterruptPoller poller(kPollWork);
    for (;;) {
        const std::size_t c = text.find("<Coeff", pos);
        if (c == std::string::npos) break;
        const std::size_t e = text.find("/>", c);
        if (e == std::string::npos) break;
        poller.tick(e + 2 - pos);
        const std::string row = text.substr(c, e - c);
        int I = 1;
        const std::size_t ip = row.find("I=\"");
        if (ip != std::string::npos) I = text::stoi_c(row.substr(ip + 3), nullptr, 10);
        const std::size_t ap = row.find("A=\"");
        const std::size_t bp = row.find("B=\"");
        if (ap != std::string::npos && bp != std::string::npos) {
            double a[3] = {0.0, 0.0, 0.0};
            double b[3] = {0.0, 0.0, 0.0};
            text::scan_comma_triple_c(row.c_str() + ap + 3, a);
            text::scan_comma_triple_c(row.c_str() + bp + 3, b);
            // Indices outside the tables (above 19, or negative) are dropped.
            if (I >= 0 && I <= kMaxHarmonic) {
                A[I] = {a[0], a[1], a[2]};
                B[I] = {b[0], b[1], b[2]};
                maxI = std::max(maxI, I);
            }
        }
        pos = e + 2;
    }

    // A negative resolution converts to a huge count, which the vector rejects with std::length_error.
    // Reserved, not zeroed: the pages of a huge set are first touched inside the polled loop.
    Polyline pts;
    pts.reserve(static_cast<std::size_t>(static_cast<long long>(resolution)));
    const double dres = static_cast<double>(resolution);
    for (int k = 0; k < resolution; ++k) {
        poller.tick(static_cast<std::uint64_t>(maxI) + 1);
        const double t = (static_cast<double>(k) * kTwoPi) / dres;
        Vec3 p = A[0];
        for (int j = 1; j <= maxI; ++j) {
            const double cj = std::cos(static_cast<double>(j) * t);
            const double sj = std::sin(static_cast<double>(j) * t);
            p[0] = p[0] + (cj * A[j][0] + sj * B[j][0]);
            p[1] = p[1] + (cj * A[j][1] + sj * B[j][1]);
            p[2] = p[2] + (cj * A[j][2] + sj * B[j][2]);
        }
        pts.push_back(p);
    }
    return pts;
}

}  // namespace

ParticleEvaluator::ParticleEvaluator(const std::string& knot_ab_id, int resolution) {
    const std::string db = find_database_text();
    if (db.empty()) throw RuntimeError("[!] TARQcore: ideal_database.txt niet gevonden.");
    if (!extract_and_build_filament(db, knot_ab_id, resolution)) {
        throw RuntimeError("[!] TARQcore: Knoop ID " + knot_ab_id + " niet gevonden in database.");
    }
}

ParticleEvaluator::ParticleEvaluator(const FilamentSet& input_filaments) : filaments(input_filaments) {}

bool ParticleEvaluator::extract_and_build_filament(const std::string& db_text, const std::string& knot_ab_id,
                                                   int resolution) {
    const std::string key = "<AB Id=\"" + knot_ab_id + "\"";
    const std::size_t start = db_text.find(key);
    if (start == std::string::npos) return false;
    const std::size_t stop = db_text.find("</AB>", start);
    if (stop == std::string::npos) return false;
    const std::string entry = db_text.substr(start, stop - start);
    // Built aside, so that an interrupt (or a failed allocation) leaves the filaments as they were.
    FilamentSet built;

    std::size_t cpos = entry.find("<Component");
    if (cpos == std::string::npos) {
        built.push_back(build_component(entry, resolution));
    } else {
        for (;;) {
            const std::size_t cend = entry.find("</Component>", cpos);
            if (cend == std::string::npos) break;
            built.push_back(build_component(entry.substr(cpos, cend - cpos), resolution));
            cpos = entry.find("<Component", cend);
            if (cpos == std::string::npos) break;
        }
    }
    filaments = std::move(built);
    return !filaments.empty();
}

}  // namespace tarq
