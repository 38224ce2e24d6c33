// Reader of the ideal-knot database (AB entries of Fourier coefficients), lookup by
// identifier, header line and evaluation of the components.
//
// The markup is matched by hand-written scanners rather than std::regex. Each scanner
// reproduces one case-insensitive ECMAScript pattern exactly (leftmost match, same
// captures, same successive non-overlapping matches):
//
//   attribute NAME   \bNAME="([^"]+)"     (Conway: [^"]*)
//   group index      \bI="\s*([0-9]+)"
//   group            <Component\b([^>]*)>([\s\S]*?)</Component>
//   row              <Coeff\s+I="\s*([0-9]+)"\s+A="([^"]+)"\s+B="([^"]+)"\s*/?>
//
// libstdc++'s regex executor recurses once per character of a capture and overflows the
// stack on captures of some tens of kilobytes, which user texts easily reach, and it is
// several times slower over the whole database. The scanners run in linear time with
// constant stack.

#include "core/errors.hpp"
#include "core/file_reading.hpp"
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"
#include "core/text_numbers.hpp"

#include <cstddef>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarq {

namespace {

// The largest row index, and the most rows the components of one parse call may allocate in all.
constexpr int kMaxRowIndex = 1048576;

// Word characters of the ECMAScript \b assertion in the classic locale.
inline bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// \s in the classic locale.
inline bool is_space_char(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit_char(char c) { return c >= '0' && c <= '9'; }

inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive test for the lower-case literal `lit` at text[pos].
inline bool has_literal_at(std::string_view text, std::size_t pos, std::string_view lit) {
    if (pos > text.size() || text.size() - pos < lit.size()) return false;
    for (std::size_t i = 0; i < lit.size(); ++i) {
        if (ascii_lower(text[pos + i]) != lit[i]) return false;
    }
    return true;
}

// First position >= pos where the lower-case literal `lit` occurs without regard to case,
// or npos.
std::size_t find_literal_nocase(std::string_view text, std::size_t pos, std::string_view lit) {
    const char first = lit[0];
    if (first >= 'a' && first <= 'z') {
        const char upper = static_cast<char>(first - 'a' + 'A');
        for (; pos < text.size(); ++pos) {
            const char c = text[pos];
            if ((c == first || c == upper) && has_literal_at(text, pos, lit)) return pos;
        }
        return std::string_view::npos;
    }
    while (pos < text.size()) {
        const std::size_t at = text.find(first, pos);
        if (at == std::string_view::npos) return std::string_view::npos;
        if (has_literal_at(text, at, lit)) return at;
        pos = at + 1;
    }
    return std::string_view::npos;
}

std::size_t skip_spaces(std::string_view text, std::size_t pos) {
    while (pos < text.size() && is_space_char(text[pos])) ++pos;
    return pos;
}

std::size_t skip_digits(std::string_view text, std::size_t pos) {
    while (pos < text.size() && is_digit_char(text[pos])) ++pos;
    return pos;
}

// \bNAME="([^"]+)" (or [^"]* when allow_empty), case-insensitive, leftmost match.
// `name_eq` is the lower-case name followed by =".
bool find_quoted_attribute(std::string_view tag, std::string_view name_eq, bool allow_empty,
                           std::string_view& value) {
    std::size_t pos = 0;
    while (true) {
        const std::size_t at = find_literal_nocase(tag, pos, name_eq);
        if (at == std::string_view::npos) return false;
        if (at == 0 || !is_word_char(tag[at - 1])) {
            const std::size_t begin = at + name_eq.size();
            const std::size_t close = tag.find('"', begin);
            // Without a later quote no later position can match either.
            if (close == std::string_view::npos) return false;
            if (close > begin || allow_empty) {
                value = tag.substr(begin, close - begin);
                return true;
            }
        }
        pos = at + 1;
    }
}

// \bI="\s*([0-9]+)", case-insensitive, leftmost match: the digits.
bool find_index_attribute(std::string_view tag, std::string_view& digits) {
    std::size_t pos = 0;
    while (true) {
        const std::size_t at = find_literal_nocase(tag, pos, "i=\"");
        if (at == std::string_view::npos) return false;
        if (at == 0 || !is_word_char(tag[at - 1])) {
            const std::size_t begin = skip_spaces(tag, at + 3);
            const std::size_t end = skip_digits(tag, begin);
            if (end > begin && end < tag.size() && tag[end] == '"') {
                digits = tag.substr(begin, end - begin);
                return true;
            }
        }
        pos = at + 1;
    }
}

struct GroupMatch {
    std::string_view attributes;  // capture 1
    std::string_view inner;       // capture 2
    std::size_t end = 0;          // one past the closing tag
};

// <Component\b([^>]*)>([\s\S]*?)</Component>, case-insensitive: the first match at or after pos.
bool next_group(std::string_view body, std::size_t pos, GroupMatch& m) {
    static constexpr std::string_view open = "<component";
    static constexpr std::string_view close = "</component>";
    while (true) {
        const std::size_t at = find_literal_nocase(body, pos, open);
        if (at == std::string_view::npos) return false;
        const std::size_t after = at + open.size();
        if (after < body.size() && is_word_char(body[after])) {
            pos = at + 1;
            continue;
        }
        // [^>]* runs to the first '>', and the lazy inner text to the first closing tag after
        // it. Later open tags lead to the same or later '>' and closing tag, so when either is
        // missing here there is no match at all.
        const std::size_t gt = body.find('>', after);
        if (gt == std::string_view::npos) return false;
        const std::size_t end_tag = find_literal_nocase(body, gt + 1, close);
        if (end_tag == std::string_view::npos) return false;
        m.attributes = body.substr(after, gt - after);
        m.inner = body.substr(gt + 1, end_tag - gt - 1);
        m.end = end_tag + close.size();
        return true;
    }
}

struct RowMatch {
    std::string_view index;  // capture 1
    std::string_view a;      // capture 2
    std::string_view b;      // capture 3
    std::size_t end = 0;     // one past the '>'
};

// <Coeff\s+I="\s*([0-9]+)"\s+A="([^"]+)"\s+B="([^"]+)"\s*/?> at exactly `at`.
bool row_at(std::string_view t, std::size_t at, RowMatch& m) {
    std::size_t p = at;
    if (!has_literal_at(t, p, "<coeff")) return false;
    p += 6;
    std::size_t q = skip_spaces(t, p);
    if (q == p || !has_literal_at(t, q, "i=\"")) return false;
    p = skip_spaces(t, q + 3);
    q = skip_digits(t, p);
    if (q == p || q >= t.size() || t[q] != '"') return false;
    m.index = t.substr(p, q - p);
    p = q + 1;
    for (int field = 0; field < 2; ++field) {
        q = skip_spaces(t, p);
        if (q == p || !has_literal_at(t, q, field == 0 ? "a=\"" : "b=\"")) return false;
        p = q + 3;
        q = t.find('"', p);
        if (q == std::string_view::npos || q == p) return false;
        (field == 0 ? m.a : m.b) = t.substr(p, q - p);
        p = q + 1;
    }
    p = skip_spaces(t, p);
    if (p < t.size() && t[p] == '/') ++p;
    if (p >= t.size() || t[p] != '>') return false;
    m.end = p + 1;
    return true;
}

// The first row match at or after pos.
bool next_row(std::string_view t, std::size_t pos, RowMatch& m) {
    while (pos < t.size()) {
        const std::size_t at = t.find('<', pos);
        if (at == std::string_view::npos) return false;
        if (row_at(t, at, m)) return true;
        pos = at + 1;
    }
    return false;
}

std::string _tarq_trim_copy2(const std::string& s) {
    static constexpr const char* kBlanks = " \t\r\n";
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    const std::size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// Reads one A or B triple; commas count as blanks. One stream serves all rows of a
// component (building a stream per row costs more than the parse itself).
class TripleReader {
public:
    TripleReader() { stream_.imbue(std::locale::classic()); }

    bool _tarq_parse_vec3_csv2(std::string_view text, Vec3& out) {
        buffer_.assign(text.data(), text.size());
        for (char& c : buffer_) {
            if (c == ',') c = ' ';
        }
        stream_.clear();
        stream_.str(buffer_);
        stream_ >> out[0] >> out[1] >> out[2];
        return !stream_.fail();
    }

private:
    std::string buffer_;
    std::istringstream stream_;
};

// Component and row indices: the standard string-to-int conversion of the digits
// (std::out_of_range beyond int).
int parse_index(std::string_view digits) { return text::stoi_c(std::string(digits)); }

struct Row {
    int index;
    Vec3 a;
    Vec3 b;
};

// A component as read: its arrays are sized and filled only once the whole text has been read, so that
// a text demanding more rows than allowed in all is refused before any of them is allocated.
struct PendingComponent {
    int component_index = 0;
    std::vector<Row> rows;  // text order; applying them in order gives the later of two equal indices
    std::size_t n_harmonics = 0;
};

// Rows that the components of one parse call may still allocate. A larger row index would make every
// coefficient array of its component that long; many components each naming a large index would
// multiply that: a few bytes of text must not be able to demand gigabytes.
class RowBudget {
public:
    // Called before the component being read grows to `rows` rows; earlier components have spent theirs.
    void require(std::size_t rows) const {
        if (rows > left_) {
            throw std::out_of_range("parse_ideal_txt_from_string: rows above 1048576 in all: " +
                                    std::to_string(used() + rows));
        }
    }
    void spend(std::size_t rows) { left_ -= rows; }

private:
    std::size_t used() const { return static_cast<std::size_t>(kMaxRowIndex) - left_; }
    std::size_t left_ = static_cast<std::size_t>(kMaxRowIndex);
};

PendingComponent _tarq_parse_component_block(std::string_view open_tag, std::string_view inner,
                                             TripleReader& triples, RowBudget& budget, InterruptPoller& poller) {
    PendingComponent comp;
    std::string_view digits;
    if (find_index_attribute(open_tag, digits)) comp.component_index = parse_index(digits);

    RowMatch m;
    std::size_t pos = 0;
    while (next_row(inner, pos, m)) {
        poller.tick(m.end - pos);
        pos = m.end;
        const int index = parse_index(m.index);
        if (index > kMaxRowIndex) {
            throw std::out_of_range("parse_ideal_txt_from_string: row index above 1048576: " +
                                    std::to_string(index));
        }
        Row row{index, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
        if (!triples._tarq_parse_vec3_csv2(m.a, row.a)) continue;
        if (!triples._tarq_parse_vec3_csv2(m.b, row.b)) continue;
        if (index >= 1 && static_cast<std::size_t>(index) > comp.n_harmonics) {
            comp.n_harmonics = static_cast<std::size_t>(index);
            budget.require(comp.n_harmonics);
        }
        comp.rows.push_back(row);
    }
    budget.spend(comp.n_harmonics);
    return comp;
}

FourierKnot::IdealABComponent build_component(const PendingComponent& pending) {
    FourierKnot::IdealABComponent comp;
    comp.component_index = pending.component_index;
    FourierBlock& f = comp.fourier;
    f.header = "% ideal component";
    const std::size_t n = pending.n_harmonics;
    f.a_x.assign(n, 0.0);
    f.b_x.assign(n, 0.0);
    f.a_y.assign(n, 0.0);
    f.b_y.assign(n, 0.0);
    f.a_z.assign(n, 0.0);
    f.b_z.assign(n, 0.0);
    for (const Row& row : pending.rows) {
        if (row.index == 0) {
            comp.A0 = row.a;
            comp.B0 = row.b;
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(row.index) - 1;
        f.a_x[k] = row.a[0];
        f.b_x[k] = row.b[0];
        f.a_y[k] = row.a[1];
        f.b_y[k] = row.b[1];
        f.a_z[k] = row.a[2];
        f.b_z[k] = row.b[2];
    }
    return comp;
}

std::vector<PendingComponent> _tarq_parse_ab_components_from_body(std::string_view body, TripleReader& triples,
                                                                  RowBudget& budget, InterruptPoller& poller) {
    std::vector<PendingComponent> components;
    GroupMatch m;
    std::size_t pos = 0;
    std::string open_tag;
    while (next_group(body, pos, m)) {
        pos = m.end;
        open_tag.assign("<Component");
        open_tag.append(m.attributes.data(), m.attributes.size());
        open_tag.push_back('>');
        components.push_back(_tarq_parse_component_block(open_tag, m.inner, triples, budget, poller));
    }
    if (components.empty()) {
        components.push_back(_tarq_parse_component_block("<Component I=\"1\">", body, triples, budget, poller));
    }
    return components;
}

std::string copy_of(std::string_view v) { return std::string(v.data(), v.size()); }

// Whether `key` occurs in `text`, as text.find(key) tells, polling by the characters compared: a tag with
// many long partial matches of a long key costs their product.
bool contains_polled(std::string_view text, std::string_view key, InterruptPoller& poller) {
    if (key.empty()) return true;
    if (key.size() > text.size()) return false;
    const std::size_t last = text.size() - key.size();
    std::size_t pos = 0;
    while (pos <= last) {
        const std::size_t at = text.find(key[0], pos);
        if (at == std::string_view::npos || at > last) return false;
        std::size_t k = 1;
        while (k < key.size() && text[at + k] == key[k]) ++k;
        poller.tick(at - pos + k);
        if (k == key.size()) return true;
        pos = at + 1;
    }
    return false;
}

}  // namespace

std::vector<FourierKnot::IdealABBlock> FourierKnot::parse_ideal_txt_from_string(const std::string& content) {
    std::vector<IdealABBlock> result;
    std::vector<std::vector<PendingComponent>> pending;
    TripleReader triples;
    RowBudget budget;
    // Polled by the bytes of the rows read, so that a huge text stays interruptible.
    InterruptPoller poller(kPollWork);
    std::size_t pos = 0;
    while (true) {
        const std::size_t lt = content.find("<AB", pos);
        if (lt == std::string::npos) break;
        const std::size_t gt = content.find('>', lt);
        if (gt == std::string::npos) break;
        const std::size_t end = content.find("</AB>", gt);
        if (end == std::string::npos) break;
        poller.tick(end + 5 - pos);

        const std::string_view text(content);
        const std::string_view tag = text.substr(lt, gt - lt + 1);
        const std::string_view body = text.substr(gt + 1, end - gt - 1);

        IdealABBlock ab;
        std::string_view value;
        if (find_quoted_attribute(tag, "id=\"", false, value)) ab.id = copy_of(value);
        if (find_quoted_attribute(tag, "conway=\"", true, value)) ab.conway = copy_of(value);
        if (find_quoted_attribute(tag, "l=\"", false, value)) ab.L = text::stod_c(_tarq_trim_copy2(copy_of(value)));
        if (find_quoted_attribute(tag, "d=\"", false, value)) ab.D = text::stod_c(_tarq_trim_copy2(copy_of(value)));
        if (find_quoted_attribute(tag, "n=\"", false, value)) {
            int n = 1;
            try {
                n = text::stoi_c(_tarq_trim_copy2(copy_of(value)));
            } catch (const std::invalid_argument&) {
                n = 1;
            } catch (const std::out_of_range&) {
                n = 1;
            }
            ab.n = n < 2 ? 1 : n;
        }
        pending.push_back(_tarq_parse_ab_components_from_body(body, triples, budget, poller));
        result.push_back(std::move(ab));
        pos = end + 5;
    }
    for (std::size_t i = 0; i < result.size(); ++i) {
        IdealABBlock& ab = result[i];
        ab.components.reserve(pending[i].size());
        for (const PendingComponent& c : pending[i]) {
            poller.tick(c.n_harmonics + c.rows.size() + 1);
            ab.components.push_back(build_component(c));
        }
        ab.fourier = ab.components.front().fourier;
    }
    return result;
}

std::vector<FourierKnot::IdealABBlock> FourierKnot::parse_ideal_txt_multi(const std::string& path) {
    std::string text;
    if (!read_regular_file(path, text)) throw RuntimeError("parse_ideal_txt_multi: cannot open file: " + path);
    return parse_ideal_txt_from_string(text);
}

FourierKnot::IdealABBlock FourierKnot::parse_ideal_ab_by_id_from_string(const std::string& content,
                                                                         const std::string& ab_id) {
    const std::string key = "Id=\"" + ab_id + "\"";
    const std::string_view text(content);
    InterruptPoller poller(kPollWork);
    std::size_t pos = 0;
    while (true) {
        const std::size_t lt = content.find("<AB", pos);
        if (lt == std::string::npos) break;
        const std::size_t gt = content.find('>', lt);
        if (gt == std::string::npos) break;
        poller.tick(gt + 1 - pos);
        if (!contains_polled(text.substr(lt, gt - lt + 1), key, poller)) {
            pos = gt + 1;
            continue;
        }
        const std::size_t end = content.find("</AB>", gt);
        if (end == std::string::npos) break;
        std::vector<IdealABBlock> one = parse_ideal_txt_from_string(content.substr(lt, end + 5 - lt));
        if (one.empty()) break;  // cannot happen: the cut holds exactly this entry
        return one.front();
    }
    throw RuntimeError("parse_ideal_ab_by_id_from_string: AB Id not found: " + ab_id);
}

int FourierKnot::index_of_ideal_id(const std::vector<IdealABBlock>& blocks, const std::string& id) {
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        poller.tick(id.size() + 1);
        if (blocks[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

std::string FourierKnot::format_ideal_ab_header(const IdealABBlock& block) {
    std::ostringstream os;
    os.imbue(std::locale::classic());
    os << std::fixed << std::setprecision(6);
    os << "AB Id=\"" << block.id << "\" Conway=\"" << block.conway << "\" L=\"" << block.L << "\" D=\"" << block.D
       << "\" n=\"" << block.n << "\"";
    return os.str();
}

Polyline FourierKnot::evaluate_ideal_component(const IdealABComponent& component, const std::vector<double>& s) {
    Polyline pts = evaluate(component.fourier, s);
    const Vec3 o{component.A0[0] + component.B0[0], component.A0[1] + component.B0[1],
                 component.A0[2] + component.B0[2]};
    InterruptPoller poller(kPollWork);
    for (Vec3& p : pts) {
        poller.tick();
        p[0] = o[0] + p[0];
        p[1] = o[1] + p[1];
        p[2] = o[2] + p[2];
    }
    return pts;
}

FilamentSet FourierKnot::evaluate_ideal_ab_components(const IdealABBlock& block, const std::vector<double>& s) {
    FilamentSet out;
    out.reserve(block.components.size());
    // Each evaluation polls by its own work; many small components add up to a long call as well.
    InterruptPoller poller(kPollWork);
    for (const IdealABComponent& c : block.components) {
        poller.tick((c.fourier.a_x.size() + 2) * s.size() + 1);
        out.push_back(evaluate_ideal_component(c, s));
    }
    return out;
}

}  // namespace tarq
