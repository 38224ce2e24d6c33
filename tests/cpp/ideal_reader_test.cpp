// Tests of the ideal-database reader, the lookup by identifier, the header line and the
// evaluation of components.
//
// The reader matches its markup with hand-written scanners. A second reader
// (ideal_regex_reference.hpp) does the same job with the case-insensitive std::regex patterns that
// define the format; on short inputs (where libstdc++'s recursive regex executor is safe) both must
// agree exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"
#include "ideal_regex_reference.hpp"
#include "test_support.hpp"

namespace {

using ideal_reference::picture;
using ideal_reference::regex_outcome;
using ideal_reference::scanner_outcome;

using tarq::FourierBlock;
using tarq::Vec3;
using AB = tarq::FourierKnot::IdealABBlock;
using Component = tarq::FourierKnot::IdealABComponent;
using FK = tarq::FourierKnot;

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Fixtures: the first two entries of the built-in database, verbatim.

const std::string kEntry011 =
    "<AB Id=\"0:1:1\" Conway=\"0\" L=\"6.283185\" D=\" 1.000000\">\n"
    "  <Coeff I=\"  1\" A=\" 1.000000, 0.000000, 0.000000\" B=\" 0.000000, 1.000000, 0.000000\" />\n"
    "</AB>\n";

const std::string kEntry012 =
    "<AB Id=\"0:1:2\" Conway=\"0\" L=\"12.0\" D=\"1.0\" n=\"2\">\n"
    "  <Component I=\"1\">\n"
    "    <Coeff I=\"0\" A=\"-1.5, 0.0, 0.0\" B=\" 0.0, 0.0, 0.0\" />\n"
    "    <Coeff I=\"1\" A=\" 1.0, 0.0, 0.0\" B=\" 0.0, 1.0, 0.0\" />\n"
    "  </Component>\n"
    "  <Component I=\"2\">\n"
    "    <Coeff I=\"0\" A=\" 1.5, 0.0, 0.0\" B=\" 0.0, 0.0, 0.0\" />\n"
    "    <Coeff I=\"1\" A=\" 1.0, 0.0, 0.0\" B=\" 0.0, 1.0, 0.0\" />\n"
    "  </Component>\n"
    "</AB>\n";

const std::string kEntryL2a1 =
    "<AB Id=\"L2a1\" Conway=\"2\" D=\" 1.000000\">\n"
    "<Component I=\"1\" L=\" 6.000000\">\n"
    "  <Coeff I=\"  0\" A=\"-1.000000, 0.000000, 0.000000\" B=\" 0.000000, 0.000000, 0.000000\" />\n"
    "  <Coeff I=\"  1\" A=\" 1.000000, 0.000000, 0.000000\" B=\" 0.000000, 1.000000, 0.000000\" />\n"
    "</Component>\n"
    "<Component I=\"2\" L=\" 6.000000\">\n"
    "  <Coeff I=\"  0\" A=\" 1.000000, 0.000000, 0.000000\" B=\" 0.000000, 0.000000, 0.000000\" />\n"
    "  <Coeff I=\"  1\" A=\" 1.000000, 0.000000, 0.000000\" B=\" 0.000000, 0.000000, 1.000000\" />\n"
    "</Component>\n"
    "</AB>\n";

std::string row(int i, const std::string& a, const std::string& b) {
    return "<Coeff I=\"" + std::to_string(i) + "\" A=\"" + a + "\" B=\"" + b + "\" />\n";
}

std::string entry(const std::string& attrs, const std::string& body) { return "<AB " + attrs + ">\n" + body + "</AB>\n"; }

AB parse_one(const std::string& text) {
    const std::vector<AB> v = FK::parse_ideal_txt_from_string(text);
    if (v.size() != 1) throw std::logic_error("expected one entry, got " + std::to_string(v.size()));
    return v[0];
}

std::vector<double> harmonics_1_to(int n) {
    std::vector<double> v;
    for (int k = 1; k <= n; ++k) v.push_back(k);
    return v;
}

std::string source_path(const std::string& rel) { return std::string(TARQ_SOURCE_DIR) + "/" + rel; }

bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// =======================================================================================
// Scanner against the defining patterns

TEST(IdealReaderPatterns, TableOfTrickyInputsMatchesRegexReader) {
    const std::string r1 = row(1, "1, 2, 3", "4, 5, 6");
    const std::vector<std::string> cases = {
        // attribute names: case, whole names, order, empty and odd values
        entry("id=\"x\" d=\"2.0\"", r1),
        entry("ID=\"X\" CONWAY=\"c\" l=\"3\" D=\"4\" N=\"5\"", r1),
        entry("my_D=\"5\" D=\"7\" xId=\"no\" Id=\"yes\"", r1),
        entry("n=\"3\" D=\"1\" L=\"2\" Conway=\"9 2\" Id=\"3:1:1\"", r1),
        entry("Id=\"\" Id=\"second\" Conway=\"\" L=\"\" D=\"\" n=\"\"", r1),
        entry("Id=\"a\" Id=\"b\" L=\"1\" L=\"2\"", r1),
        entry("Conway=\"x L=\" Id=\"q\"", r1),
        entry("Id =\"spaced\" Id= \"spaced\" Id=\"ok\"", r1),
        entry("Id=\"unterminated", r1),
        entry("Id=\"a\"D=\"3\"", r1),
        entry("Id=\"a\" 2D=\"3\" _L=\"4\"", r1),
        entry("Id='single' D=\"1\"", r1),
        entry("Id=\"\xc3\xa9\" \xc3\xa9L=\"5\"", r1),
        entry("Id=\"x\"\tL=\"\t16.371637xyz\r\n\" D=\"\v1.5\" n=\" 4 \"", r1),
        entry("n=\"2.5\"", r1),
        entry("n=\"-3\"", r1),
        entry("n=\"abc\"", r1),
        entry("n=\"99999999999\"", r1),
        entry("n=\"\v7\"", r1),
        entry("L=\"abc\"", r1),
        entry("L=\"1e999\"", r1),
        entry("D=\"  \"", r1),
        entry("L=\"nan\" D=\"-inf\"", r1),
        entry("L=\"0x1p3\" D=\"1e-300\"", r1),
        // groups
        entry("Id=\"g\"", "<Component I=\"2\" L=\"1.0\">" + r1 + "</Component>" + row(3, "1 1 1", "1 1 1")),
        entry("Id=\"g\"", "<component i=\"2\">" + r1 + "</COMPONENT>"),
        entry("Id=\"g\"", "<Component L=\"2\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Components I=\"3\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component_x I=\"3\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component-x I=\"3\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component\nI=\"4\"\n>" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component>" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"1\">" + r1),
        entry("Id=\"g\"", "<Component I=\"1\">" + r1 + "<Component I=\"2\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"1\">" + r1 + "</Component><Component I=\"2\">" + r1),
        entry("Id=\"g\"", "<Component I=\"1\">" + r1 + "</Component ><Component I=\"2\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\" 7\">" + r1 + "</Component><Component I=\"7 \">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"-1\">" + r1 + "</Component><Component I=\"+2\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component xI=\"5\" I=\"6\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"\" I=\"8\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"99999999999\">" + r1 + "</Component>"),
        entry("Id=\"g\"", "<Component I=\"1\"></Component>"),
        entry("Id=\"g\"", "<Component I=\"1\" note=\"a<b\">" + r1 + "</Component>"),
        // rows
        entry("Id=\"r\"", row(1, "1", "2") + row(3, "1,2,3", "4,5,6")),
        entry("Id=\"r\"", row(2, "1 2 3", "4 5 6") + row(2, "7 8 9", "1 2 3")),
        entry("Id=\"r\"", row(2, "1 2 3", "4 5 6") + row(2, "7 8 9", "1 2")),
        entry("Id=\"r\"", row(0, "1 2 3", "4 5 6") + row(0, "-1 -2 -3", "0 0 0")),
        entry("Id=\"r\"", "<Coeff I=\"1\" B=\"1 2 3\" A=\"4 5 6\" />"),
        entry("Id=\"r\"", "<Coeff I=\"1 \" A=\"1 2 3\" B=\"4 5 6\" />"),
        entry("Id=\"r\"", "<Coeff I=\"\t\n1\" A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<coeff\ni=\"1\"\ta=\"1 2 3\"\rb=\"4 5 6\"\f/\v>"),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1 2 3\" B=\"4 5 6\" / >"),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1 2 3\" B=\"4 5 6\"//>"),
        entry("Id=\"r\"", "<Coeff I=\"1\"A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<CoeffI=\"1\" A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff  I=\"1\"  A=\"\"  B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1 2 3\" B=\"4 5 6\" extra=\"1\">"),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1 2 3\" B=\"4 5 6\"" + row(2, "1 2 3", "1 2 3")),
        entry("Id=\"r\"", "<Coeff <Coeff I=\"1\" A=\"a>b\" B=\"4 5 6\">" + row(2, "1 2 3", "1 2 3")),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1 2 3\n\" B=\"<Coeff I=\"2\" A=\"1 1 1\" B=\"2 2 2\">\">"),
        entry("Id=\"r\"", row(1, "-0.000006,-0.000001, 0.000000", " 0.750450,-0.823952,-0.001991")),
        entry("Id=\"r\"", row(1, "1,,2,,3", "1 2 3 4 junk")),
        entry("Id=\"r\"", row(1, "1.5e 2 3", "1 2 3") + row(2, "inf 0 0", "0 0 0") + row(3, "1e999 0 0", "0 0 0")),
        entry("Id=\"r\"", row(1, "1e-320 0x10 3", "0 0 0") + row(4, "- 1 2", "0 0 0")),
        entry("Id=\"r\"", "<Coeff I=\"007\" A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff I=\"99999999999\" A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff I=\"2000000\" A=\"1 2\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff I=\"-1\" A=\"1 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", "<Coeff I=\"1\" A=\"1" + std::string(1, '\0') + " 2 3\" B=\"4 5 6\">"),
        entry("Id=\"r\"", ""),
        entry("Id=\"r\"", "no rows here"),
        // entry scan
        "",
        "ab",
        "<ab Id=\"x\"></ab>",
        "<AB Id=\"x\">",
        "<AB Id=\"x\"" + r1,
        entry("Id=\"1\"", r1) + "<AB Id=\"2\">" + r1,
        "<AB Conway=\"a>b\" Id=\"z\">" + r1 + "</AB>",
        "<ABC Id=\"x\">" + r1 + "</AB></AB>",
        "<AB Id=\"x\"></AB><AB Id=\"y\">junk</AB>text<AB>" + r1 + "</AB>",
        "<AB<AB Id=\"x\">" + r1 + "</AB>",
        "<DATA TiABe=\"t\" Author=\"a\">\n" + kEntry011 + kEntry012 + kEntryL2a1 + "</DATA>",
        entry("Id=\"ok\"", r1) + entry("Id=\"bad\" L=\"abc\"", r1),
    };
    for (const std::string& text : cases) {
        EXPECT_EQ(scanner_outcome(text), regex_outcome(text)) << "input: " << printable(text);
    }
}

// Random texts: a soup of markup fragments, and well-formed entries with random damage.
class TextGenerator {
public:
    explicit TextGenerator(unsigned seed) : rng_(seed) {}

    std::string soup() {
        static const std::vector<std::string> tokens = {
            "<AB", "<ab", ">", "</AB>", "</ab>", " ", "  ", "\t", "\n", "\r", "\v", "\"", "=", "=\"", ",", "/",
            "/>", "<", "Id=\"", "ID=\"", "xId=\"", "Conway=\"", "L=\"", "d=\"", "D=\"", "_D=\"", "n=\"", "3:1:1",
            "1.5", " 2.5 ", "abc", "-3", "7", "007", "0", "12", "<Component", "<component", "<COMPONENTs",
            "<Component_", "</Component>", "</component>", "</Component", " I=\"", "i=\"", "xI=\"", "<Coeff",
            "<coeff", "<Coeffs", " A=\"", " a=\"", " B=\"", " b=\"", "1, 2, 3", "1,2,3", "-0.5,-1e3, 2", "1 2",
            "4 5 6 7", "inf", "x", std::string(1, '\0'), "\xc3\xa9", "\xff"};
        std::string s;
        const int n = pick(0, 50);
        for (int i = 0; i < n; ++i) s += tokens[pick(0, static_cast<int>(tokens.size()) - 1)];
        return s;
    }

    std::string document() {
        std::string s = chance(0.3) ? "<DATA Title=\"t\">\n" : "";
        const int entries = pick(1, 3);
        for (int e = 0; e < entries; ++e) s += ab_entry() + (chance(0.5) ? "\n" : "");
        if (chance(0.3)) s += "</DATA>";
        return damage(s);
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p; }
    template <class T>
    const T& one_of(const std::vector<T>& v) {
        return v[pick(0, static_cast<int>(v.size()) - 1)];
    }

    std::string space(bool required) {
        static const std::vector<std::string> ws = {" ", " ", "  ", "\t", "\n", "\r\n", "\v", "\f"};
        if (!required && chance(0.5)) return "";
        if (chance(0.05)) return "";
        return one_of(ws);
    }

    std::string number() {
        static const std::vector<std::string> nums = {"1.0",  "-1.5",     "0.000000", " 0.750450", "-0.000006",
                                                      "2",    "1e3",      "abc",      "",          "1e999",
                                                      "-inf", "16.37xyz", "007",      " 4 ",       "2.5"};
        return one_of(nums);
    }

    std::string triple() {
        static const std::vector<std::string> seps = {",", ", ", " ", ",,", "\t"};
        std::string t = number() + one_of(seps) + number();
        if (chance(0.85)) t += one_of(seps) + number();
        if (chance(0.1)) t += one_of(seps) + number();
        return t;
    }

    std::string digits() {
        static const std::vector<std::string> d = {"0", "1", "2", "3", "  1", "007", " 12", "1 ", "", "x", "-1", "256"};
        return one_of(d);
    }

    std::string coeff_row() {
        static const std::vector<std::string> names = {"Coeff", "coeff", "COEFF", "Coeffs"};
        static const std::vector<std::string> ends = {" />", "/>", ">", " >", " / >", "", "//>"};
        std::string a = space(true) + (chance(0.8) ? "A" : "a") + "=\"" + triple() + "\"";
        std::string b = space(true) + (chance(0.8) ? "B" : "b") + "=\"" + triple() + "\"";
        if (chance(0.05)) std::swap(a, b);
        return space(false) + "<" + one_of(names) + space(true) + "I=\"" + digits() + "\"" + a + b + one_of(ends) +
               "\n";
    }

    std::string rows() {
        std::string s;
        const int n = pick(0, 5);
        for (int i = 0; i < n; ++i) s += coeff_row();
        return s;
    }

    std::string group() {
        static const std::vector<std::string> opens = {"Component", "component", "COMPONENT", "Components",
                                                       "Component_1"};
        static const std::vector<std::string> closes = {"</Component>", "</component>", "</COMPONENT>",
                                                        "</Component >", ""};
        std::string attrs;
        if (chance(0.8)) attrs += space(true) + (chance(0.8) ? "I" : "i") + "=\"" + digits() + "\"";
        if (chance(0.4)) attrs += space(true) + "L=\"" + number() + "\"";
        return "<" + one_of(opens) + attrs + space(false) + ">\n" + rows() + one_of(closes) + "\n";
    }

    std::string ab_entry() {
        struct Attr {
            std::vector<std::string> names;
            bool numeric;
        };
        static const std::vector<Attr> attrs = {{{"Id", "id", "ID", "xId"}, false},
                                                {{"Conway", "conway", "CONWAY"}, false},
                                                {{"L", "l", "_L"}, true},
                                                {{"D", "d", "my_D"}, true},
                                                {{"n", "N", "2n"}, true}};
        static const std::vector<std::string> ids = {"3:1:1", "8:1:10", "", "L2a1", "a b"};
        std::vector<std::string> parts;
        for (const Attr& a : attrs) {
            if (chance(0.2)) continue;
            const std::string value = a.numeric ? number() : one_of(ids);
            parts.push_back(one_of(a.names) + "=\"" + value + "\"");
        }
        std::shuffle(parts.begin(), parts.end(), rng_);
        std::string tag = "<AB";
        for (const std::string& p : parts) tag += space(true) + p;
        tag += space(false) + ">\n";
        std::string body;
        if (chance(0.5)) {
            const int n = pick(1, 3);
            for (int i = 0; i < n; ++i) body += group();
            if (chance(0.3)) body += rows();
        } else {
            body = rows();
        }
        return tag + body + (chance(0.9) ? "</AB>" : "</ab>");
    }

    std::string damage(std::string s) {
        static const std::string alphabet = "<>\"=/ \nIABab,0123456789";
        const int edits = chance(0.5) ? 0 : pick(1, 3);
        for (int i = 0; i < edits && !s.empty(); ++i) {
            const std::size_t at = static_cast<std::size_t>(pick(0, static_cast<int>(s.size()) - 1));
            if (chance(0.5)) {
                s.erase(at, 1);
            } else {
                s.insert(at, 1, alphabet[pick(0, static_cast<int>(alphabet.size()) - 1)]);
            }
        }
        return s;
    }

    std::mt19937 rng_;
};

TEST(IdealReaderPatterns, RandomTextsMatchRegexReader) {
    TextGenerator gen(20240611u);
    int cases_with_entries = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string text = (i % 4 == 0) ? gen.soup() : gen.document();
        const std::string expected = regex_outcome(text);
        ASSERT_EQ(scanner_outcome(text), expected) << "case " << i << ", input: " << printable(text);
        if (expected.find('\n') != std::string::npos) ++cases_with_entries;
    }
    // The generator must reach the interesting paths, not only produce empty results.
    EXPECT_GT(cases_with_entries, 2000);
}

// =======================================================================================
// Reading texts

TEST(IdealReaderText, FirstBuiltInEntryUnitCircle) {
    const AB ab = parse_one(kEntry011);
    EXPECT_EQ(ab.id, "0:1:1");
    EXPECT_EQ(ab.conway, "0");
    EXPECT_EQ(ab.L, 6.283185);
    EXPECT_EQ(ab.D, 1.0);
    EXPECT_EQ(ab.n, 1);
    ASSERT_EQ(ab.components.size(), 1u);
    const Component& c = ab.components[0];
    EXPECT_EQ(c.component_index, 1);
    EXPECT_EQ(c.A0, (Vec3{0, 0, 0}));
    EXPECT_EQ(c.B0, (Vec3{0, 0, 0}));
    EXPECT_EQ(c.fourier.header, "% ideal component");
    EXPECT_EQ(c.fourier.a_x, std::vector<double>{1.0});
    EXPECT_EQ(c.fourier.b_x, std::vector<double>{0.0});
    EXPECT_EQ(c.fourier.a_y, std::vector<double>{0.0});
    EXPECT_EQ(c.fourier.b_y, std::vector<double>{1.0});
    EXPECT_EQ(c.fourier.a_z, std::vector<double>{0.0});
    EXPECT_EQ(c.fourier.b_z, std::vector<double>{0.0});
    EXPECT_EQ(ab.fourier.b_y, c.fourier.b_y);
    EXPECT_EQ(ab.fourier.header, "% ideal component");
}

TEST(IdealReaderText, SecondBuiltInEntryTwoComponents) {
    const AB ab = parse_one(kEntry012);
    EXPECT_EQ(ab.id, "0:1:2");
    EXPECT_EQ(ab.conway, "0");
    EXPECT_EQ(ab.L, 12.0);
    EXPECT_EQ(ab.D, 1.0);
    EXPECT_EQ(ab.n, 2);
    ASSERT_EQ(ab.components.size(), 2u);
    EXPECT_EQ(ab.components[0].component_index, 1);
    EXPECT_EQ(ab.components[1].component_index, 2);
    EXPECT_EQ(ab.components[0].A0, (Vec3{-1.5, 0, 0}));
    EXPECT_EQ(ab.components[1].A0, (Vec3{1.5, 0, 0}));
    for (const Component& c : ab.components) {
        EXPECT_EQ(c.B0, (Vec3{0, 0, 0}));
        EXPECT_EQ(c.fourier.a_x, std::vector<double>{1.0});
        EXPECT_EQ(c.fourier.b_y, std::vector<double>{1.0});
        EXPECT_EQ(c.fourier.a_y, std::vector<double>{0.0});
    }
    // The record's own block is the first component's.
    EXPECT_EQ(ab.fourier.a_x, ab.components[0].fourier.a_x);
}

TEST(IdealReaderText, LinkWithoutLengthOrCount) {
    const AB ab = parse_one(kEntryL2a1);
    EXPECT_EQ(ab.L, 0.0);
    EXPECT_EQ(ab.D, 1.0);
    EXPECT_EQ(ab.n, 1);
    ASSERT_EQ(ab.components.size(), 2u);
    EXPECT_EQ(ab.components[0].component_index, 1);
    EXPECT_EQ(ab.components[1].component_index, 2);
    EXPECT_EQ(ab.components[0].A0, (Vec3{-1, 0, 0}));
    EXPECT_EQ(ab.components[1].A0, (Vec3{1, 0, 0}));
    EXPECT_EQ(ab.components[0].fourier.a_x.size(), 1u);
    EXPECT_EQ(ab.components[1].fourier.b_z, std::vector<double>{1.0});
}

TEST(IdealReaderText, TrefoilHeaderAndManyRows) {
    std::string body;
    for (int i = 250; i >= 1; --i) body += row(i, std::to_string(i) + ", 0, 0", "0, 0, " + std::to_string(-i));
    const AB ab = parse_one(entry("Id=\"3:1:1\" Conway=\"3\" L=\"16.371637\" D=\" 1.000000\"", body));
    EXPECT_EQ(ab.id, "3:1:1");
    EXPECT_EQ(ab.conway, "3");
    EXPECT_EQ(ab.L, 16.371637);
    EXPECT_EQ(ab.D, 1.0);
    EXPECT_EQ(ab.n, 1);
    ASSERT_EQ(ab.components.size(), 1u);
    EXPECT_EQ(ab.components[0].component_index, 1);
    EXPECT_EQ(ab.components[0].A0, (Vec3{0, 0, 0}));
    EXPECT_EQ(ab.components[0].fourier.a_x, harmonics_1_to(250));
    EXPECT_EQ(ab.components[0].fourier.b_z.back(), -250.0);
    EXPECT_EQ(ab.components[0].fourier.a_y, std::vector<double>(250, 0.0));
}

TEST(IdealReaderText, AttributeValues) {
    struct Case {
        std::string attrs;
        std::string id, conway;
        double L, D;
        int n;
    };
    const std::vector<Case> cases = {
        {"Id=\"3:1:1\"", "3:1:1", "", 0.0, 0.0, 1},           // no D: stays 0
        {"ID=\"x\" d=\"2.0\"", "x", "", 0.0, 2.0, 1},         // names without regard to case
        {"my_D=\"5\" D=\"7\"", "", "", 0.0, 7.0, 1},          // whole names only
        {"Id=\" a b \" Conway=\"\"", " a b ", "", 0.0, 0.0, 1},  // Id untrimmed, empty Conway
        {"Conway=\"2,2,2-\" L=\"\"", "", "2,2,2-", 0.0, 0.0, 1},  // empty L keeps default
        {"L=\"16.371637xyz\"", "", "", 16.371637, 0.0, 1},
        {"L=\" -1.5\"", "", "", -1.5, 0.0, 1},
        {"n=\"0\"", "", "", 0.0, 0.0, 1},
        {"n=\"-3\"", "", "", 0.0, 0.0, 1},
        {"n=\"1\"", "", "", 0.0, 0.0, 1},
        {"n=\"abc\"", "", "", 0.0, 0.0, 1},
        {"n=\"\"", "", "", 0.0, 0.0, 1},
        {"n=\"99999999999\"", "", "", 0.0, 0.0, 1},
        {"n=\"3\"", "", "", 0.0, 0.0, 3},
        {"n=\"2.5\"", "", "", 0.0, 0.0, 2},
        {"n=\" 4 \"", "", "", 0.0, 0.0, 4},
    };
    for (const Case& c : cases) {
        const AB ab = parse_one(entry(c.attrs, row(1, "1 0 0", "0 1 0")));
        EXPECT_EQ(ab.id, c.id) << c.attrs;
        EXPECT_EQ(ab.conway, c.conway) << c.attrs;
        EXPECT_EQ(ab.L, c.L) << c.attrs;
        EXPECT_EQ(ab.D, c.D) << c.attrs;
        EXPECT_EQ(ab.n, c.n) << c.attrs;
    }
}

TEST(IdealReaderText, BadLengthsEndTheWholeCall) {
    const std::string good = entry("Id=\"ok\"", "");
    EXPECT_THROW(FK::parse_ideal_txt_from_string(good + entry("L=\"abc\"", "")), std::invalid_argument);
    EXPECT_THROW(FK::parse_ideal_txt_from_string(good + entry("D=\"  \"", "")), std::invalid_argument);
    EXPECT_THROW(FK::parse_ideal_txt_from_string(good + entry("L=\"1e999\"", "")), std::out_of_range);
    EXPECT_THROW(FK::parse_ideal_txt_from_string(good + entry("D=\"-1e999\"", "")), std::out_of_range);
}

TEST(IdealReaderText, RowsAndOffsets) {
    {  // missing indices are zeros
        const Component c = parse_one(entry("", row(1, "1 1 1", "1 1 1") + row(3, "3 3 3", "3 3 3"))).components[0];
        EXPECT_EQ(c.fourier.a_x, (std::vector<double>{1, 0, 3}));
        EXPECT_EQ(c.fourier.b_z, (std::vector<double>{1, 0, 3}));
    }
    {  // the later of two equal indices wins ...
        const Component c = parse_one(entry("", row(2, "1 1 1", "1 1 1") + row(2, "5 5 5", "6 6 6"))).components[0];
        EXPECT_EQ(c.fourier.a_x, (std::vector<double>{0, 5}));
        EXPECT_EQ(c.fourier.b_x, (std::vector<double>{0, 6}));
    }
    {  // ... unless it is dropped for a short triple
        const Component c = parse_one(entry("", row(2, "1 1 1", "1 1 1") + row(2, "5 5 5", "6 6"))).components[0];
        EXPECT_EQ(c.fourier.a_x, (std::vector<double>{0, 1}));
    }
    {  // B before A, or a blank after the digits: not a row
        const Component c = parse_one(entry("", "<Coeff I=\"1\" B=\"1 2 3\" A=\"1 2 3\" />\n"
                                                "<Coeff I=\"2 \" A=\"1 2 3\" B=\"1 2 3\" />\n"))
                                .components[0];
        EXPECT_TRUE(c.fourier.a_x.empty());
    }
    {  // only an offset row
        const Component c = parse_one(entry("", row(0, "1,2,3", "4,5,6"))).components[0];
        EXPECT_TRUE(c.fourier.a_x.empty());
        EXPECT_TRUE(c.fourier.b_z.empty());
        EXPECT_EQ(c.A0, (Vec3{1, 2, 3}));
        EXPECT_EQ(c.B0, (Vec3{4, 5, 6}));
    }
    {  // built-in number layout: a comma directly before a minus sign
        const Component c = parse_one(entry("", row(1, "-0.000006,-0.000001, 0.000000", "1,2,3"))).components[0];
        EXPECT_EQ(c.fourier.a_x, std::vector<double>{-0.000006});
        EXPECT_EQ(c.fourier.a_y, std::vector<double>{-0.000001});
    }
    {  // text after the third number is ignored
        const Component c = parse_one(entry("", row(1, "1 2 3 4 x", "1 2 3"))).components[0];
        EXPECT_EQ(c.fourier.a_z, std::vector<double>{3});
    }
}

TEST(IdealReaderText, ComponentGroups) {
    const std::string r = row(1, "1 0 0", "0 1 0");
    {  // rows outside the groups are ignored; L on a group tag is ignored
        const AB ab = parse_one(entry("", row(2, "9 9 9", "9 9 9") + "<Component I=\"2\" L=\"3.0\">" + r +
                                              "</Component>" + row(3, "9 9 9", "9 9 9")));
        ASSERT_EQ(ab.components.size(), 1u);
        EXPECT_EQ(ab.components[0].component_index, 2);
        EXPECT_EQ(ab.components[0].fourier.a_x.size(), 1u);
    }
    {  // neither groups nor rows
        const AB ab = parse_one(entry("Id=\"e\"", "nothing\n"));
        ASSERT_EQ(ab.components.size(), 1u);
        EXPECT_EQ(ab.components[0].component_index, 1);
        EXPECT_TRUE(ab.components[0].fourier.a_x.empty());
        EXPECT_EQ(ab.components[0].fourier.header, "% ideal component");
    }
    {  // a group tag without I; lower-case words
        const AB ab = parse_one(entry("", "<Component L=\"2\">" + r + "</Component><component i=\"5\">" + r +
                                              "</COMPONENT>"));
        ASSERT_EQ(ab.components.size(), 2u);
        EXPECT_EQ(ab.components[0].component_index, 0);
        EXPECT_EQ(ab.components[1].component_index, 5);
    }
    {  // an unclosed group forms none: the body is read whole
        const AB ab = parse_one(entry("", "<Component I=\"4\">\n" + r));
        ASSERT_EQ(ab.components.size(), 1u);
        EXPECT_EQ(ab.components[0].component_index, 1);
        EXPECT_EQ(ab.components[0].fourier.a_x, std::vector<double>{1.0});
    }
    {  // a group index beyond int ends the call
        EXPECT_THROW(parse_one(entry("", "<Component I=\"2147483648\">" + r + "</Component>")), std::out_of_range);
    }
}

TEST(IdealReaderText, EntryScan) {
    const std::string r = row(1, "1 0 0", "0 1 0");
    EXPECT_TRUE(FK::parse_ideal_txt_from_string("").empty());
    EXPECT_TRUE(FK::parse_ideal_txt_from_string("ab").empty());
    EXPECT_TRUE(FK::parse_ideal_txt_from_string("<DATA>\nno entries\n</DATA>").empty());
    EXPECT_TRUE(FK::parse_ideal_txt_from_string("<ab Id=\"x\">" + r + "</ab>").empty());
    {  // the last entry lacks its closing mark
        const auto v = FK::parse_ideal_txt_from_string(entry("Id=\"1\"", r) + entry("Id=\"2\"", r) + "<AB Id=\"3\">" + r);
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(v[1].id, "2");
    }
    {  // a '>' inside a value ends the open tag
        const AB ab = parse_one("<AB Conway=\"a>b\" Id=\"z\">" + r + "</AB>");
        EXPECT_EQ(ab.conway, "");
        EXPECT_EQ(ab.id, "");
    }
}

TEST(IdealReaderText, RowIndexLimit) {
    // The largest index accepted still makes arrays of that length.
    const Component c = parse_one(entry("", row(1048576, "1 2 3", "4 5 6"))).components[0];
    EXPECT_EQ(c.fourier.a_x.size(), 1048576u);
    EXPECT_EQ(c.fourier.b_z.back(), 6.0);

    struct Case {
        std::string index;
        std::string message;  // empty: the library's own text for an int overflow
    };
    const std::vector<Case> cases = {
        {"1048577", "parse_ideal_txt_from_string: row index above 1048576: 1048577"},
        {"2000000000", "parse_ideal_txt_from_string: row index above 1048576: 2000000000"},
        {"0002000000", "parse_ideal_txt_from_string: row index above 1048576: 2000000"},
        {"2147483648", ""},
        {"99999999999999999999", ""},
    };
    for (const Case& k : cases) {
        const std::string text = entry("", "<Coeff I=\"" + k.index + "\" A=\"0 0 0\" B=\"0 0 0\"/>");
        try {
            FK::parse_ideal_txt_from_string(text);
            ADD_FAILURE() << "no exception for index " << k.index;
        } catch (const std::out_of_range& e) {
            if (!k.message.empty()) {
                EXPECT_EQ(std::string(e.what()), k.message);
            }
        }
    }
}

TEST(IdealReaderText, RowsAreCappedInAllComponentsOfOneCall) {
    const auto group = [](int i, const std::string& rows) {
        return "<Component I=\"" + std::to_string(i) + "\">" + rows + "</Component>\n";
    };
    const std::string half = row(524288, "1 2 3", "4 5 6");
    {  // up to the cap in all, over components and entries
        const auto v = FK::parse_ideal_txt_from_string(entry("", group(1, half) + group(2, row(262144, "1 0 0", "0 1 0"))) +
                                                       entry("", row(262144, "1 0 0", "0 1 0")));
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(v[0].components[0].fourier.a_x.size(), 524288u);
        EXPECT_EQ(v[0].components[1].fourier.b_z.size(), 262144u);
        EXPECT_EQ(v[1].components[0].fourier.a_y.size(), 262144u);
    }
    {  // rows that fail to parse allocate nothing and count for nothing
        const auto v = FK::parse_ideal_txt_from_string(entry("", group(1, half) + group(2, half) +
                                                                 group(3, row(1048576, "x", "0 0 0"))));
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].components[2].fourier.a_x.size(), 0u);
    }
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string full = row(1048576, "1 2 3", "4 5 6");
    std::string many;  // the short text that once asked for hundreds of megabytes
    for (int i = 1; i <= 11; ++i) many += group(i, full);
    const std::vector<Case> cases = {
        {entry("", group(1, full) + group(2, row(1, "1 0 0", "0 1 0"))), "1048577"},
        {entry("", group(1, half) + group(2, half + row(524289, "1 0 0", "0 1 0"))), "1048577"},
        {entry("", half) + entry("", half) + entry("", row(7, "1 0 0", "0 1 0")), "1048583"},
        {entry("", many), "2097152"},
    };
    for (const Case& c : cases) {
        test_support::expect_throw_msg<std::out_of_range>(
            [&] { FK::parse_ideal_txt_from_string(c.text); },
            "parse_ideal_txt_from_string: rows above 1048576 in all: " + c.message);
    }
}

TEST(IdealReaderText, LongInputsDoNotOverflowTheStack) {
    // Captures far beyond what a recursive regex executor survives.
    const std::size_t big = 4u << 20;
    {  // a long A value: three numbers, then text
        const std::string a = "1, 2, 3 " + std::string(big, 'x');
        const Component c = parse_one(entry("", row(1, a, "4 5 6"))).components[0];
        EXPECT_EQ(c.fourier.a_x, std::vector<double>{1});
        EXPECT_EQ(c.fourier.a_z, std::vector<double>{3});
    }
    {  // a long Id value and a long attribute list before D
        const std::string id(big, 'k');
        const AB ab = parse_one(entry("Id=\"" + id + "\" " + std::string(big, ' ') + "D=\"2\"", ""));
        EXPECT_EQ(ab.id.size(), big);
        EXPECT_EQ(ab.D, 2.0);
    }
    {  // a long group: 60,000 rows inside one Component
        std::string inner;
        for (int i = 1; i <= 60000; ++i) inner += row(i, "1 0 0", "0 1 0");
        const AB ab = parse_one(entry("", "<Component I=\"3\">\n" + inner + "</Component>\n"));
        ASSERT_EQ(ab.components.size(), 1u);
        EXPECT_EQ(ab.components[0].component_index, 3);
        EXPECT_EQ(ab.components[0].fourier.a_x.size(), 60000u);
    }
    {  // a long unclosed group and a long group-attribute list
        const std::string filler(big, 'z');
        const AB ab = parse_one(entry("", "<Component I=\"2\"" + filler + ">" + filler + row(1, "1 0 0", "0 1 0")));
        EXPECT_EQ(ab.components.size(), 1u);
        EXPECT_EQ(ab.components[0].component_index, 1);
    }
    {  // a long row index
        const std::string text = entry("", "<Coeff I=\"" + std::string(big, '0') + "7\" A=\"1 0 0\" B=\"0 1 0\"/>");
        EXPECT_EQ(parse_one(text).components[0].fourier.a_x.size(), 7u);
    }
}

// =======================================================================================
// Reading files

TEST(IdealReaderFile, MissingFileThrows) {
    const std::string path = "/nonexistent-dir/ideal.txt";
    try {
        FK::parse_ideal_txt_multi(path);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "parse_ideal_txt_multi: cannot open file: " + path);
    }
}

TEST(IdealReaderFile, FileEqualsText) {
    const test_support::TempDir dir;
    const std::string path = (dir.path() / "ideal_reader_test_file.txt").string();
    test_support::write_file(path, "");
    EXPECT_TRUE(FK::parse_ideal_txt_multi(path).empty());
    const std::string text = "<DATA Title=\"t\">\n" + kEntry011 + kEntry012 + kEntryL2a1 + "</DATA>";
    test_support::write_file(path, text);
    const auto from_file = FK::parse_ideal_txt_multi(path);
    EXPECT_EQ(from_file.size(), 3u);
    EXPECT_EQ(picture(from_file), picture(FK::parse_ideal_txt_from_string(text)));
}

TEST(IdealReaderFile, BuiltInDatabase) {
    std::string text;
    if (!read_file(source_path("resources/ideal.txt"), text)) GTEST_SKIP() << "resources/ideal.txt not present";
    const std::vector<AB> all = FK::parse_ideal_txt_from_string(text);
    ASSERT_EQ(all.size(), 263u);
    EXPECT_EQ(all.front().id, "0:1:1");
    EXPECT_EQ(all.back().id, "L6n1");
    EXPECT_EQ(all.back().components.size(), 3u);
    EXPECT_EQ(picture({all[0]}), picture({parse_one(kEntry011)}));
    EXPECT_EQ(picture({all[1]}), picture({parse_one(kEntry012)}));
    const int trefoil = FK::index_of_ideal_id(all, "3:1:1");
    ASSERT_GE(trefoil, 0);
    EXPECT_EQ(picture({all[trefoil]}), picture({FK::parse_ideal_ab_by_id_from_string(text, "3:1:1")}));
    EXPECT_EQ(FK::format_ideal_ab_header(all[trefoil]),
              "AB Id=\"3:1:1\" Conway=\"3\" L=\"16.371637\" D=\"1.000000\" n=\"1\"");
    const AB link = FK::parse_ideal_ab_by_id_from_string(text, "L2a1");
    EXPECT_EQ(link.L, 0.0);
    EXPECT_EQ(link.D, 1.0);
    EXPECT_EQ(link.n, 1);
    ASSERT_EQ(link.components.size(), 2u);
    EXPECT_EQ(link.components[0].component_index, 1);
    EXPECT_EQ(link.components[1].component_index, 2);
    EXPECT_EQ(link.components[0].A0, (Vec3{-1, 0, 0}));
    EXPECT_EQ(link.components[1].A0, (Vec3{1, 0, 0}));
    EXPECT_EQ(link.components[0].fourier.a_x.size(), 1u);
    const tarq::FilamentSet two = FK::evaluate_ideal_ab_components(all[1], {0.0});
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0][0], (Vec3{-0.5, 0.0, 0.0}));
    EXPECT_EQ(two[1][0], (Vec3{2.5, 0.0, 0.0}));
    for (const AB& ab : all) {
        ASSERT_FALSE(ab.components.empty()) << ab.id;
        for (const Component& c : ab.components) {
            EXPECT_EQ(c.fourier.a_x.size(), c.fourier.b_z.size()) << ab.id;
            EXPECT_LE(c.fourier.a_x.size(), 256u) << ab.id;
        }
    }
    // Entry by entry (each well inside what the recursive regex executor survives), the
    // scanners agree with the defining patterns on the real data too.
    std::size_t pos = 0;
    for (int i = 0; i < 263; ++i) {
        const std::size_t lt = text.find("<AB", pos);
        const std::size_t end = text.find("</AB>", lt);
        ASSERT_NE(end, std::string::npos);
        const std::string one = text.substr(lt, end + 5 - lt);
        EXPECT_EQ(picture({all[i]}), regex_outcome(one)) << all[i].id;
        pos = end + 5;
    }
}

// =======================================================================================
// Lookup by identifier

TEST(IdealLookup, FindsTheFirstEntryWithTheIdentifier) {
    const std::string text = entry("Id=\"a\" L=\"1\"", "") + entry("Id=\"b\" L=\"2\"", "") + entry("Id=\"b\" L=\"3\"", "");
    const AB ab = FK::parse_ideal_ab_by_id_from_string(text, "b");
    EXPECT_EQ(ab.id, "b");
    EXPECT_EQ(ab.L, 2.0);
    EXPECT_EQ(FK::index_of_ideal_id(FK::parse_ideal_txt_from_string(text), "b"), 1);
    EXPECT_EQ(picture({FK::parse_ideal_ab_by_id_from_string(kEntry011 + kEntry012, "0:1:2")}),
              picture({parse_one(kEntry012)}));
}

TEST(IdealLookup, NotFound) {
    const std::string r = row(1, "1 0 0", "0 1 0");
    struct Case {
        std::string text, id;
    };
    const std::vector<Case> cases = {
        {entry("Id=\"8:1:10\"", r), "8:1:1"},             // the closing quote is part of the key
        {entry("id=\"8:1:1\"", r), "8:1:1"},              // the name is matched with case
        {"<AB Id=\"8:1:1\">" + r, "8:1:1"},               // no closing mark after the tag
        {"<AB Id=\"8:1:1\"", "8:1:1"},                    // no end of the tag
        {"", "x"},
        {"<ab Id=\"x\">" + r + "</ab>", "x"},
    };
    for (const Case& c : cases) {
        try {
            FK::parse_ideal_ab_by_id_from_string(c.text, c.id);
            ADD_FAILURE() << "found " << c.id << " in " << printable(c.text);
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "parse_ideal_ab_by_id_from_string: AB Id not found: " + c.id);
        }
    }
}

TEST(IdealLookup, ReadsOnlyTheMatchingEntry) {
    const std::string r = row(1, "1 0 0", "0 1 0");
    const std::string text = entry("Id=\"bad\" L=\"abc\"", r) + entry("Id=\"good\" L=\"2\"", r) +
                             entry("Id=\"worse\" D=\"1e999\"", r);
    EXPECT_EQ(FK::parse_ideal_ab_by_id_from_string(text, "good").L, 2.0);
    EXPECT_THROW(FK::parse_ideal_ab_by_id_from_string(text, "bad"), std::invalid_argument);
    EXPECT_THROW(FK::parse_ideal_ab_by_id_from_string(text, "worse"), std::out_of_range);
}

TEST(IdealLookup, IndexOfIdentifier) {
    std::vector<AB> blocks(3);
    blocks[0].id = "3:1:1";
    blocks[1].id = "3:1:1 ";
    blocks[2].id = "3:1:1";
    EXPECT_EQ(FK::index_of_ideal_id({}, "x"), -1);
    EXPECT_EQ(FK::index_of_ideal_id(blocks, "3:1:1"), 0);
    EXPECT_EQ(FK::index_of_ideal_id(blocks, "3:1:1 "), 1);
    EXPECT_EQ(FK::index_of_ideal_id(blocks, "3:1:"), -1);
    EXPECT_EQ(FK::index_of_ideal_id(blocks, "3:1:1x"), -1);
}

// =======================================================================================
// Header line

TEST(IdealHeader, Format) {
    AB ab;
    EXPECT_EQ(FK::format_ideal_ab_header(ab), "AB Id=\"\" Conway=\"\" L=\"0.000000\" D=\"0.000000\" n=\"1\"");
    ab.id = "3:1:1";
    ab.conway = "3";
    ab.L = 16.371637;
    ab.D = 1.0;
    EXPECT_EQ(FK::format_ideal_ab_header(ab), "AB Id=\"3:1:1\" Conway=\"3\" L=\"16.371637\" D=\"1.000000\" n=\"1\"");
    ab.id = "a\"b";
    ab.conway = "8*2:.-2 0";
    ab.L = -1.5;
    ab.D = 0.0;
    ab.n = 3;
    EXPECT_EQ(FK::format_ideal_ab_header(ab),
              "AB Id=\"a\"b\" Conway=\"8*2:.-2 0\" L=\"-1.500000\" D=\"0.000000\" n=\"3\"");
    ab.L = 1e20;
    ab.D = 0.0000004;
    ab.n = -7;
    EXPECT_EQ(FK::format_ideal_ab_header(ab),
              "AB Id=\"a\"b\" Conway=\"8*2:.-2 0\" L=\"100000000000000000000.000000\" D=\"0.000000\" n=\"-7\"");
}

// =======================================================================================
// Evaluation

TEST(IdealEvaluate, UnitCircleEntry) {
    const AB ab = parse_one(kEntry011);
    const double half_pi = std::acos(-1.0) / 2.0;
    const tarq::Polyline p = FK::evaluate_ideal_component(ab.components[0], {0.0, half_pi});
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], (Vec3{1.0, 0.0, 0.0}));
    EXPECT_EQ(p[1][0], std::cos(half_pi));
    EXPECT_EQ(p[1][1], 1.0);
    EXPECT_EQ(p[1][2], 0.0);
}

TEST(IdealEvaluate, OffsetsOfBothComponents) {
    const AB ab = parse_one(kEntry012);
    const tarq::FilamentSet f = FK::evaluate_ideal_ab_components(ab, {0.0});
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0], (tarq::Polyline{{-0.5, 0.0, 0.0}}));
    EXPECT_EQ(f[1], (tarq::Polyline{{2.5, 0.0, 0.0}}));
    for (const tarq::Polyline& p : FK::evaluate_ideal_ab_components(ab, {})) EXPECT_TRUE(p.empty());
    EXPECT_TRUE(FK::evaluate_ideal_ab_components(AB{}, {0.0, 1.0}).empty());
}

TEST(IdealEvaluate, OffsetIsTheSumOfBothOffsetTriples) {
    Component c;
    c.A0 = {1.0, 2.0, 3.0};
    c.B0 = {0.5, -4.0, 0.25};
    const tarq::Polyline empty_block = FK::evaluate_ideal_component(c, {0.0, 1.0, -7.0});
    ASSERT_EQ(empty_block.size(), 3u);
    for (const Vec3& p : empty_block) EXPECT_EQ(p, (Vec3{1.5, -2.0, 3.25}));

    // With a block: the block's points shifted by A0 + B0, every parameter in order.
    c.fourier = parse_one(entry("", row(1, "1 0 0", "0 1 0") + row(2, "0 0 0.5", "0 0 0"))).fourier;
    const std::vector<double> s = {0.3, 2.0, -1.0};
    const tarq::Polyline shifted = FK::evaluate_ideal_component(c, s);
    const tarq::Polyline plain = FK::evaluate(c.fourier, s);
    ASSERT_EQ(shifted.size(), 3u);
    for (std::size_t i = 0; i < s.size(); ++i) {
        EXPECT_EQ(shifted[i][0], 1.5 + plain[i][0]);
        EXPECT_EQ(shifted[i][1], -2.0 + plain[i][1]);
        EXPECT_EQ(shifted[i][2], 3.25 + plain[i][2]);
        EXPECT_NEAR(plain[i][0], std::cos(s[i]), 1e-15);
        EXPECT_NEAR(plain[i][2], 0.5 * std::cos(2 * s[i]), 1e-15);
    }
}

}  // namespace
