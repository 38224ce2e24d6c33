// Locale-free number reading: the same results as the C library's readers in the "C" locale, whatever
// locale the process has set.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text_numbers.hpp"

namespace {

using tarq::text::scan_comma_triple_c;
using tarq::text::stoi_c;

// std::stoi's outcome as text: value and end index, or the exception's kind and message.
template <class F>
std::string stoi_outcome(F&& f, const std::string& s) {
    try {
        std::size_t idx = 0;
        const int v = f(s, &idx);
        return std::to_string(v) + " @" + std::to_string(idx);
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument ") + e.what();
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range ") + e.what();
    }
}

// What a scan stored, bit for bit, and its return value; unset slots keep their sentinels.
struct Scan {
    int ret;
    double v[3];
    bool operator==(const Scan& o) const { return ret == o.ret && std::memcmp(v, o.v, sizeof v) == 0; }
};

Scan by_sscanf(const char* s) {
    Scan r{0, {-7.0, -8.0, -9.0}};
    r.ret = std::sscanf(s, "%lf,%lf,%lf", &r.v[0], &r.v[1], &r.v[2]);
    return r;
}

Scan by_scanner(const char* s) {
    Scan r{0, {-7.0, -8.0, -9.0}};
    r.ret = scan_comma_triple_c(s, r.v);
    return r;
}

std::ostream& operator<<(std::ostream& os, const Scan& s) {
    return os << s.ret << ": " << s.v[0] << ", " << s.v[1] << ", " << s.v[2];
}

bool usable(const char* name) {
    if (std::setlocale(LC_NUMERIC, name) == nullptr) return false;
    const bool comma = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    std::setlocale(LC_NUMERIC, "C");
    return comma;
}

// A comma-decimal locale: an installed one, or one generated with localedef into a temporary folder (found
// through LOCPATH, which the C library reads at every setlocale; `generated` names it, for removal). Null when
// neither works.
const char* comma_locale(std::string& generated) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        if (usable(name)) return name;
    }
    char folder[] = "/tmp/tarq_locales_XXXXXX";
    if (mkdtemp(folder) == nullptr) return nullptr;
    generated = folder;
    const std::string command = "localedef -i de_DE -f UTF-8 " + std::string(folder) + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return nullptr;
    setenv("LOCPATH", folder, 1);
    return usable("de_DE.UTF-8") ? "de_DE.UTF-8" : nullptr;
}

const std::vector<std::string> kTripleCases = {
    "1,2,3", " 1.5, -2.5e1,\t3", "1 , 2, 3", "1,,3", "1,2", "1", "", "   ", ",1,2", "x", "1e,2,3", "1e+,2,3",
    "1.e5,2E-1,.5", ".,1,2", "-,1,2", "+", "1.2.3,4,5", "0x1p3,0X.8,0x", "0x,1,2", "0x.p1,2,3", "0xg,1,2",
    "nan,inf,-infinity", "NaN(1),2,3", "infix,2,3", "infinity,INF,iNfInItY", "inf", "in,1,2", "na,1,2",
    "1e999,-1e999,1e-999", "007,0008,09", "1,2,3,4", "1,2,3x", "1\n,2,3", "1,\n2,\v3", "--1,2,3",
    "1e5e5,2,3", "1,2.,3.", "0e,1,2", "0x1e,0x1P+,0x1p-2", "١,2,3", "1\xa0,2,3"};

}  // namespace

TEST(TextNumbers, StoiMatchesTheLibraryInTheCLocale) {
    const std::vector<std::string> cases = {"42",          " \t-7",      "+3x",          "0009",  "2147483647",
                                            "-2147483648", "2147483648", "-2147483649", "99999999999999999999",
                                            "abc",         "",           "-",           " +",    "\v\f\r\n12",
                                            "0x1A",        "1e3",        "١٢"};
    for (const std::string& s : cases) {
        const auto library = [](const std::string& t, std::size_t* i) { return std::stoi(t, i); };
        const auto ours = [](const std::string& t, std::size_t* i) { return stoi_c(t, i); };
        EXPECT_EQ(stoi_outcome(ours, s), stoi_outcome(library, s)) << "input: " << s;
    }
    EXPECT_EQ(stoi_c("1A", nullptr, 16), 26);
}

TEST(TextNumbers, CommaTripleMatchesSscanfOnTrickyTexts) {
    for (const std::string& s : kTripleCases) EXPECT_EQ(by_scanner(s.c_str()), by_sscanf(s.c_str())) << "input: " << s;
    // A partial match leaves the later slots untouched.
    EXPECT_EQ(by_scanner("1.5,x,3"), (Scan{1, {1.5, -8.0, -9.0}}));
    EXPECT_EQ(by_scanner("  "), (Scan{-1, {-7.0, -8.0, -9.0}}));
}

TEST(TextNumbers, CommaTripleMatchesSscanfOnRandomTexts) {
    std::mt19937 rng(20261210u);
    static const char alphabet[] = "0123456789.,eE+-xXpPaAfFnNiItTyY \t\n";
    for (int k = 0; k < 200000; ++k) {
        char s[24];
        const int len = static_cast<int>(rng() % 20);
        for (int i = 0; i < len; ++i) s[i] = alphabet[rng() % (sizeof alphabet - 1)];
        s[len] = '\0';
        ASSERT_EQ(by_scanner(s), by_sscanf(s)) << "input: " << s;
    }
}

TEST(TextNumbers, ResultsDoNotFollowACommaDecimalLocale) {
    std::string generated;
    const char* name = comma_locale(generated);
    if (name == nullptr) {
        if (!generated.empty()) std::filesystem::remove_all(generated);
        GTEST_SKIP() << "no comma-decimal locale installed, and localedef could not make one";
    }
    std::vector<Scan> in_c;
    for (const std::string& s : kTripleCases) in_c.push_back(by_scanner(s.c_str()));
    const double stod_c_value = tarq::text::stod_c("16.371637");
    std::setlocale(LC_NUMERIC, name);
    EXPECT_EQ(by_sscanf("1.5,2,3").v[0], 1.0);  // the C library's reader follows the locale: "1" then ".5"
    for (std::size_t i = 0; i < kTripleCases.size(); ++i)
        EXPECT_EQ(by_scanner(kTripleCases[i].c_str()), in_c[i]) << "input: " << kTripleCases[i];
    EXPECT_EQ(tarq::text::stod_c("16.371637"), stod_c_value);
    EXPECT_EQ(stoi_c(" 12"), 12);
    std::setlocale(LC_NUMERIC, "C");
    if (!generated.empty()) std::filesystem::remove_all(generated);
}
