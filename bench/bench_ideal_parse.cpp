// Times the ideal-database reader on the whole database (target: all 263 entries in under 1 s)
// and the lookup of its last entry. Reads the path given as first argument, else
// resources/ideal.txt when present, else a synthetic text of the same layout and size.
// Exits with 1 when the target is missed or the entry count is wrong.
// `bench_ideal_parse PATH --write-synthetic` writes the synthetic text to PATH when PATH is absent.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "core/fourier_knot.hpp"

namespace {

void append_row(std::string& out, const char* indent, int index, double seed) {
    double v[6];
    for (int j = 0; j < 6; ++j) v[j] = 2.0 * std::sin(seed * (j + 1) + 0.37 * index) / (1.0 + 0.05 * index);
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s<Coeff I=\"%3d\" A=\"%9.6f,%9.6f,%9.6f\" B=\"%9.6f,%9.6f,%9.6f\" />\n", indent, index,
                  v[0], v[1], v[2], v[3], v[4], v[5]);
    out += buf;
}

// 253 one-component knots with about 239 rows each, 3 short multi-component entries and
// 7 links of 2 or 3 groups: the layout and size (about 5.6 MB) of the built-in database.
std::string synthetic_database() {
    std::string s = "<DATA TiABe=\"Synthetic database\" Author=\"bench\" Date=\"1/1/2000 0:00:00\">\n";
    s += "<AB Id=\"0:1:1\" Conway=\"0\" L=\"6.283185\" D=\" 1.000000\">\n";
    s += "  <Coeff I=\"  1\" A=\" 1.000000, 0.000000, 0.000000\" B=\" 0.000000, 1.000000, 0.000000\" />\n</AB>\n";
    for (const char* id : {"0:1:2", "2:2:1", "6:2:3"}) {
        const int groups = id[0] == '6' ? 3 : 2;
        s += std::string("<AB Id=\"") + id + "\" Conway=\"0\" L=\"12.0\" D=\"1.0\" n=\"" + std::to_string(groups) + "\">\n";
        for (int g = 1; g <= groups; ++g) {
            s += "  <Component I=\"" + std::to_string(g) + "\">\n";
            s += g == 1 ? "    <Coeff I=\"0\" A=\"-1.5, 0.0, 0.0\" B=\" 0.0, 0.0, 0.0\" />\n"
                        : "    <Coeff I=\"0\" A=\" 1.5, 0.0, 0.0\" B=\" 0.0, 0.0, 0.0\" />\n";
            s += "    <Coeff I=\"1\" A=\" 1.0, 0.0, 0.0\" B=\" 0.0, 1.0, 0.0\" />\n";
            s += "  </Component>\n";
        }
        s += "</AB>\n";
    }
    for (int k = 0; k < 252; ++k) {
        char tag[128];
        std::snprintf(tag, sizeof tag, "<AB Id=\"%d:1:%d\" Conway=\"%d 2\" L=\"%9.6f\" D=\" 1.000000\">\n", 3 + k / 32,
                      1 + k % 32, k, 16.0 + 0.1 * k);
        s += tag;
        for (int i = 1; i <= 253; ++i) {
            if (i % 18 == (k % 18)) continue;  // about 14 indices left out
            append_row(s, "  ", i, 0.1 + k);
        }
        s += "</AB>\n";
    }
    const char* links[] = {"L2a1", "L4a1", "L5a1", "L6a1", "L8a1", "L6a4", "L6n1"};
    for (int l = 0; l < 7; ++l) {
        s += std::string("<AB Id=\"") + links[l] + "\" Conway=\"2\" D=\" 1.000000\">\n";
        const int groups = l >= 5 ? 3 : 2;
        for (int g = 1; g <= groups; ++g) {
            s += "<Component I=\"" + std::to_string(g) + "\" L=\" 6.000000\">\n";
            for (int i = 0; i <= 170; ++i) append_row(s, "  ", i, 0.7 * l + g);
            s += "</Component>\n";
        }
        s += "</AB>\n";
    }
    s += "</DATA>";
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "resources/ideal.txt";
    const bool dump = argc > 2 && std::string(argv[2]) == "--write-synthetic";
    std::string text;
    std::string source;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::stringstream ss;
            ss << in.rdbuf();
            text = ss.str();
            source = path;
        }
    }
    if (text.empty()) {
        text = synthetic_database();
        source = "synthetic text";
        if (dump) {
            std::ofstream(path, std::ios::binary) << text;
            return 0;
        }
    }

    std::size_t entries = 0;
    std::size_t rows = 0;
    const bench::Timing parse = bench::best_of(
        [&] {
            const std::vector<tarq::FourierKnot::IdealABBlock> all =
                tarq::FourierKnot::parse_ideal_txt_from_string(text);
            entries = all.size();
            rows = 0;
            for (const auto& ab : all)
                for (const auto& c : ab.components) rows += c.fourier.a_x.size();
        },
        5);
    tarq::FourierKnot::IdealABBlock last;
    const bench::Timing lookup =
        bench::best_of([&] { last = tarq::FourierKnot::parse_ideal_ab_by_id_from_string(text, "L6n1"); }, 5);
    const double best = parse.cpu;

    std::printf("ideal reader: %s, %.2f MB: %zu entries (%zu harmonic slots) in %.3f s CPU, %.3f s wall; lookup of %s "
                "(%zu components) in %.4f s CPU, %.4f s wall (minimum of 5)\n",
                source.c_str(), text.size() / 1e6, entries, rows, parse.cpu, parse.wall, last.id.c_str(),
                last.components.size(), lookup.cpu, lookup.wall);
    if (entries != 263) {
        std::printf("FAILED: expected 263 entries\n");
        return 1;
    }
    if (best >= 1.0) {
        std::printf("FAILED: target is under 1 s\n");
        return 1;
    }
    return 0;
}
