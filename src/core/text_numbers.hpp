// Number parsing from text that ignores the process's C locale: Python programs may set LC_NUMERIC to a
// comma-decimal locale, which would change what strtod, std::stod and sscanf("%lf") read.
#pragma once

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <climits>
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

// std::stoi in the "C" locale: the same result and the same exceptions ("stoi").
inline int stoi_c(const std::string& s, std::size_t* idx = nullptr, int base = 10) {
    const char* p = s.c_str();
    char* end = nullptr;
    const int saved = errno;
    errno = 0;
    const long v = strtol_l(p, &end, base, c_locale());
    const int err = errno;
    errno = saved;
    if (end == p) throw std::invalid_argument("stoi");
    if (err == ERANGE || v < INT_MIN || v > INT_MAX) throw std::out_of_range("stoi");
    if (idx) *idx = static_cast<std::size_t>(end - p);
    return static_cast<int>(v);
}

namespace detail {

inline bool is_space_c(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool is_digit_c(char c) { return c >= '0' && c <= '9'; }
inline bool is_xdigit_c(char c) { return is_digit_c(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline char lower_c(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Takes the lower-case letters of `word` from s, each in either case, into buf; false at the first other
// character (scanf's matching failure: the conversion assigns nothing).
inline bool take_word(const char*& s, const char* word, std::string& buf) {
    for (; *word != '\0'; ++word, ++s) {
        if (lower_c(*s) != *word) return false;
        buf.push_back(*s);
    }
    return true;
}

// One "%lf" of glibc's scanf in the "C" locale. scanf first gathers the characters that may continue a
// number by its own rules, consumes all of them, and converts them with strtod; so "1e+" gives 1 and
// consumes three characters, where strtod alone would stop after the 1. Returns 1 (value stored, s past
// the gathered text), 0 (matching failure) or -1 (the text ends before the number starts).
inline int scan_double(const char*& s, double& out) {
    while (is_space_c(*s)) ++s;
    if (*s == '\0') return -1;
    std::string buf;
    const char* p = s;
    bool got_sign = false;
    if (*p == '-' || *p == '+') {
        got_sign = true;
        buf.push_back(*p++);
        if (*p == '\0') return 0;
    }
    if (lower_c(*p) == 'n') {
        if (!take_word(p, "nan", buf)) return 0;
    } else if (lower_c(*p) == 'i') {
        if (!take_word(p, "inf", buf)) return 0;
        if (lower_c(*p) == 'i' && !take_word(p, "inity", buf)) return 0;
    } else {
        bool got_digit = false, got_dot = false, got_e = false, hex = false;
        char exp_char = 'e';
        if (*p == '0') {
            buf.push_back(*p++);
            if (lower_c(*p) == 'x') {
                buf.push_back(*p++);
                hex = true;
                exp_char = 'p';
            } else {
                got_digit = true;
            }
        }
        for (;; ++p) {
            const char c = *p;
            if (is_digit_c(c) || (!got_e && hex && is_xdigit_c(c))) {
                buf.push_back(c);
                got_digit = true;
            } else if (got_e && buf.back() == exp_char && (c == '-' || c == '+')) {
                buf.push_back(c);
            } else if (got_digit && !got_e && lower_c(c) == exp_char) {
                buf.push_back(exp_char);
                got_e = got_dot = true;
            } else if (!got_dot && c == '.') {
                buf.push_back(c);
                got_dot = true;
            } else {
                break;
            }
        }
        const std::size_t prefix = got_sign ? 1 : 0;
        if (buf.size() == prefix || (hex && buf.size() == prefix + 2)) return 0;
    }
    char* end = nullptr;
    const double v = strtod_c(buf.c_str(), &end);
    if (end == buf.c_str()) return 0;
    out = v;
    s = p;
    return 1;
}

}  // namespace detail

// std::sscanf(s, "%lf,%lf,%lf", &v[0], &v[1], &v[2]) as in the "C" locale (glibc's rules): the same values
// stored, later ones left untouched after a partial match, and the same return value (the count stored,
// or -1 when the text holds nothing but blanks).
inline int scan_comma_triple_c(const char* s, double (&v)[3]) {
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (*s != ',') return k;
            ++s;
        }
        const int r = detail::scan_double(s, v[k]);
        if (r != 1) return (r < 0 && k == 0) ? -1 : k;
    }
    return 3;
}

}  // namespace tarq::text
