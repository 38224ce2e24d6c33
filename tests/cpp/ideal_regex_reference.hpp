// The ideal-database format read with the case-insensitive std::regex patterns that define it, and an exact
// textual picture of a parse outcome: the reference for the scanner's tests and its fuzz target.
#pragma once

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/fourier_knot.hpp"

namespace ideal_reference {

using tarq::FourierBlock;
using tarq::Vec3;
using AB = tarq::FourierKnot::IdealABBlock;
using Component = tarq::FourierKnot::IdealABComponent;
using FK = tarq::FourierKnot;

// Runs f to its end on a thread with a 512 MiB stack (reserved address space; only the pages used count).
inline void run_on_large_stack(const std::function<void()>& f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t{512} << 20);
    pthread_t thread;
    auto call = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    const int err = pthread_create(&thread, &attr, call, const_cast<std::function<void()>*>(&f));
    pthread_attr_destroy(&attr);
    if (err != 0) throw std::system_error(err, std::generic_category(), "pthread_create");
    pthread_join(thread, nullptr);
}

// ---------------------------------------------------------------------------------------
// Regex reader: the format's defining patterns, applied as the format prescribes.
namespace regex_reader {

constexpr auto kFlags = std::regex::ECMAScript | std::regex::icase;

inline std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const std::size_t a = s.find_first_not_of(blanks);
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

inline bool triple(const std::string& text, Vec3& out) {
    std::string copy = text;
    for (char& c : copy) {
        if (c == ',') c = ' ';
    }
    std::istringstream in(copy);
    in >> out[0] >> out[1] >> out[2];
    return !in.fail();
}

inline Component component(const std::string& open_tag, const std::string& inner, std::size_t& total_rows) {
    static const std::regex comp_I_re(R"re(\bI="\s*([0-9]+)")re", kFlags);
    static const std::regex coeff_re(R"re(<Coeff\s+I="\s*([0-9]+)\"\s+A="([^"]+)\"\s+B="([^"]+)\"\s*/?>)re", kFlags);
    Component c;
    std::smatch m;
    if (std::regex_search(open_tag, m, comp_I_re)) c.component_index = std::stoi(m[1].str());
    std::map<int, std::pair<Vec3, Vec3>> rows;
    for (std::sregex_iterator it(inner.begin(), inner.end(), coeff_re), end; it != end; ++it) {
        const int index = std::stoi((*it)[1].str());
        if (index > 1048576) throw std::out_of_range("row index");
        Vec3 a{0, 0, 0}, b{0, 0, 0};
        if (!triple((*it)[2].str(), a)) continue;
        if (!triple((*it)[3].str(), b)) continue;
        rows[index] = {a, b};
    }
    if (rows.count(0)) {
        c.A0 = rows[0].first;
        c.B0 = rows[0].second;
    }
    const int n = rows.empty() ? 0 : std::max(0, rows.rbegin()->first);
    // The rows allocated by one parse call are capped in all as well.
    total_rows += static_cast<std::size_t>(n);
    if (total_rows > 1048576) throw std::out_of_range("rows in all");
    FourierBlock& f = c.fourier;
    f.header = "% ideal component";
    for (auto* v : {&f.a_x, &f.b_x, &f.a_y, &f.b_y, &f.a_z, &f.b_z}) v->assign(n, 0.0);
    for (const auto& [k, ab] : rows) {
        if (k < 1) continue;
        f.a_x[k - 1] = ab.first[0];
        f.b_x[k - 1] = ab.second[0];
        f.a_y[k - 1] = ab.first[1];
        f.b_y[k - 1] = ab.second[1];
        f.a_z[k - 1] = ab.first[2];
        f.b_z[k - 1] = ab.second[2];
    }
    return c;
}

inline std::vector<Component> components(const std::string& body, std::size_t& total_rows) {
    static const std::regex comp_full_re(R"re(<Component\b([^>]*)>([\s\S]*?)</Component>)re", kFlags);
    std::vector<Component> out;
    for (std::sregex_iterator it(body.begin(), body.end(), comp_full_re), end; it != end; ++it) {
        out.push_back(component("<Component" + (*it)[1].str() + ">", (*it)[2].str(), total_rows));
    }
    if (out.empty()) out.push_back(component("<Component I=\"1\">", body, total_rows));
    return out;
}

inline std::vector<AB> parse(const std::string& content) {
    std::size_t total_rows = 0;
    static const std::regex id_re(R"re(\bId="([^"]+)")re", kFlags);
    static const std::regex conway_re(R"re(\bConway="([^"]*)")re", kFlags);
    static const std::regex L_re(R"re(\bL="([^"]+)")re", kFlags);
    static const std::regex D_re(R"re(\bD="([^"]+)")re", kFlags);
    static const std::regex n_re(R"re(\bn="([^"]+)")re", kFlags);
    std::vector<AB> out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t lt = content.find("<AB", pos);
        if (lt == std::string::npos) break;
        const std::size_t gt = content.find('>', lt);
        if (gt == std::string::npos) break;
        const std::size_t end = content.find("</AB>", gt);
        if (end == std::string::npos) break;
        const std::string tag = content.substr(lt, gt - lt + 1);
        const std::string body = content.substr(gt + 1, end - gt - 1);
        AB ab;
        std::smatch m;
        if (std::regex_search(tag, m, id_re)) ab.id = m[1].str();
        if (std::regex_search(tag, m, conway_re)) ab.conway = m[1].str();
        if (std::regex_search(tag, m, L_re)) ab.L = std::stod(trim(m[1].str()));
        if (std::regex_search(tag, m, D_re)) ab.D = std::stod(trim(m[1].str()));
        if (std::regex_search(tag, m, n_re)) {
            try {
                const int v = std::stoi(trim(m[1].str()));
                ab.n = v < 2 ? 1 : v;
            } catch (const std::logic_error&) {
                ab.n = 1;
            }
        }
        ab.components = components(body, total_rows);
        ab.fourier = ab.components[0].fourier;
        out.push_back(ab);
        pos = end + 5;
    }
    return out;
}

}  // namespace regex_reader

// ---------------------------------------------------------------------------------------
// A complete, exact textual picture of a parse outcome (doubles in hexadecimal).

inline std::string hex(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", v);
    return buf;
}

inline void put_block(std::ostringstream& os, const FourierBlock& f) {
    os << "[" << f.header << "]";
    for (const auto* v : {&f.a_x, &f.b_x, &f.a_y, &f.b_y, &f.a_z, &f.b_z}) {
        os << " {";
        for (double x : *v) os << hex(x) << ",";
        os << "}";
    }
}

inline std::string picture(const std::vector<AB>& blocks) {
    std::ostringstream os;
    for (const AB& ab : blocks) {
        os << "AB id=<" << ab.id << "> conway=<" << ab.conway << "> L=" << hex(ab.L) << " D=" << hex(ab.D)
           << " n=" << ab.n << "\n";
        for (const Component& c : ab.components) {
            os << "  C " << c.component_index << " A0=" << hex(c.A0[0]) << "," << hex(c.A0[1]) << ","
               << hex(c.A0[2]) << " B0=" << hex(c.B0[0]) << "," << hex(c.B0[1]) << "," << hex(c.B0[2]) << " ";
            put_block(os, c.fourier);
            os << "\n";
        }
        os << "  F ";
        put_block(os, ab.fourier);
        os << "\n";
    }
    return os.str();
}

template <class Parse>
std::string outcome(Parse parse, const std::string& text) {
    try {
        return picture(parse(text));
    } catch (const std::invalid_argument&) {
        return "throws invalid_argument";
    } catch (const std::out_of_range&) {
        return "throws out_of_range";
    }
}

inline std::string scanner_outcome(const std::string& text) { return outcome(FK::parse_ideal_txt_from_string, text); }

// libstdc++'s regex executor recurses once per character of a capture; instrumented builds need far more
// stack per frame than the default thread stack holds, so the reference runs on a thread of its own.
inline std::string regex_outcome(const std::string& text) {
    std::string result;
    run_on_large_stack([&] { result = outcome(regex_reader::parse, text); });
    return result;
}

}  // namespace ideal_reference
