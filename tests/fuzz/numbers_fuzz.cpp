// libFuzzer target: the locale-free number readers against the C library's in the "C" locale.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/text_numbers.hpp"

namespace {

template <class F>
std::string outcome(F&& f) {
    try {
        return f();
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument ") + e.what();
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range ") + e.what();
    }
}

std::string bits(const double* v, std::size_t n) { return std::string(reinterpret_cast<const char*>(v), n * sizeof(double)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    {  // sscanf("%lf,%lf,%lf") reads up to the first NUL
        double a[3] = {-1.0, -2.0, -3.0}, b[3] = {-1.0, -2.0, -3.0};
        const int ra = std::sscanf(text.c_str(), "%lf,%lf,%lf", &a[0], &a[1], &a[2]);
        const int rb = tarq::text::scan_comma_triple_c(text.c_str(), b);
        if (ra != rb || bits(a, 3) != bits(b, 3)) std::abort();
    }
    {
        std::size_t ia = 0, ib = 0;
        const std::string da = outcome([&] { const double v = std::stod(text, &ia); return bits(&v, 1) + std::to_string(ia); });
        const std::string db = outcome([&] { const double v = tarq::text::stod_c(text, &ib); return bits(&v, 1) + std::to_string(ib); });
        if (da != db) std::abort();
        const std::string sa = outcome([&] { return std::to_string(std::stoi(text, &ia)) + "@" + std::to_string(ia); });
        const std::string sb = outcome([&] { return std::to_string(tarq::text::stoi_c(text, &ib)) + "@" + std::to_string(ib); });
        if (sa != sb) std::abort();
    }
    return 0;
}
