// Number parsing from text that ignores the process's C locale: Python programs may set LC_NUMERIC to a
// comma-decimal locale, which would change what strtod, std::stod and sscanf("%lf") read.
#pragma once

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <locale.h>

namespace tarq::text {

// The "C" locale, created once and never freed (it lives as long as the process).
inline locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// strtod in the "C" locale: same syntax, result, end pointer and errno as strtod under setlocale(LC_ALL, "C").
inline double strtod_c(const char* s, char** end) { return strtod_l(s, end, c_locale()); }

// std::stod in the "C" locale: the same result and the same exceptions ("stod").
inline double stod_c(const std::string& s, std::size_t* idx = nullptr) {
    const char* p = s.c_str();
    char* end = nullptr;
    const int saved = errno;
    errno = 0;
    const double v = strtod_c(p, &end);
    const int err = errno;
    errno = saved;
    if (end == p) throw std::invalid_argument("stod");
    if (err == ERANGE) throw std::out_of_range("stod");
    if (idx) *idx = static_cast<std::size_t>(end - p);
    return v;
}

}  // namespace tarq::text
