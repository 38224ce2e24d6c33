// The .fseries canonicaliser: classifies lines by its own rules and upgrades a leading three-number row
// to a six-column row of zeros, replacing the file only through a completely written temporary copy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/file_reading.hpp"
#include "core/interrupt.hpp"
#include "core/tarq_extensions.hpp"

namespace tarq::tarqext {

namespace {

constexpr const char* kNoRows = "no numeric rows found";
constexpr const char* kAlreadySix = "already has 6-column j=0 row";
constexpr const char* kNoSecond = "no second numeric row";
constexpr const char* kLegacy = "file appears to be 3-column legacy throughout; not auto-converted";
constexpr const char* kUpgraded = "upgraded leading 3-col zeros row to 6-col j=0 row";

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "    0.000000" six times: the six-column row that replaces the three-number row.
std::string zero_row() {
    std::ostringstream out;
    out << std::fixed << std::setprecision(6);
    for (int k = 0; k < 6; ++k) out << "    " << 0.0;
    return out.str();
}

[[noreturn]] void cannot_write(const std::string& path) { throw RuntimeError("cannot write file: " + path); }

bool write_all(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Removes the temporary file unless the rename has consumed it.
class TempFile {
public:
    explicit TempFile(std::string name) : name_(std::move(name)) {}
    ~TempFile() {
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& name() const { return name_; }
    void release() { name_.clear(); }

private:
    std::string name_;
};

// Writes `text` to a new file in the directory of the file that `path` names (through any symbolic
// link), gives it the original's mode and owner, flushes it to disk and renames it over the original.
// Any failure leaves the original as it was and raises "cannot write file: " + path.
void replace_file_contents(const std::string& path, const std::string& text) {
    // The original must accept writing, as rewriting it in place would need.
    const int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) cannot_write(path);
    struct stat st;
    const bool have_stat = ::fstat(probe, &st) == 0;
    ::close(probe);
    if (!have_stat) cannot_write(path);

    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) cannot_write(path);
    const std::string target(resolved);
    std::free(resolved);
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = target.substr(0, slash == 0 ? 1 : slash);

    std::string tmpl = dir + (dir.back() == '/' ? "" : "/") + ".fseries-canonicalize.XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) cannot_write(path);
    TempFile tmp(tmpl);
    bool ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Only a privileged caller can hand the file back to its owner; otherwise it keeps ours.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // not fatal: the text is what matters
        }
    }
    ok = ok && write_all(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) cannot_write(path);
    if (::rename(tmp.name().c_str(), target.c_str()) != 0) cannot_write(path);
    tmp.release();
}

}  // namespace

std::optional<std::vector<double>> parse_floats_line(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> values;
    double v;
    // One line can hold any number of values; each costs about as much as a dozen bytes of reading.
    InterruptPoller poller(kPollWork);
    while (in >> v) {
        poller.tick(16);
        values.push_back(v);
    }
    if (values.empty()) return std::nullopt;
    return values;
}

bool is_comment_or_blank(const std::string& line) {
    for (const char c : line) {
        if (!is_blank_char(c)) return c == '%';
    }
    return true;
}

CanonicalizeResult canonicalize_fseries_file_inplace(const std::string& path) {
    std::string text;
    if (!read_regular_file(path, text)) throw RuntimeError("cannot open file: " + path);
    // Polled by the bytes handled: the file is unchanged until the new text is complete.
    InterruptPoller poller(kPollWork);
    std::vector<std::string> lines;
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line, '\n')) {
            poller.tick(line.size() + 1);
            lines.push_back(line);
        }
    }

    struct NumericRow {
        std::size_t line;
        std::size_t count;
    };
    std::vector<NumericRow> rows;
    std::size_t found = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // A line's number stream costs about as much as reading some tens of bytes.
        poller.tick(lines[i].size() + 64);
        if (is_comment_or_blank(lines[i])) continue;
        const std::optional<std::vector<double>> values = parse_floats_line(lines[i]);
        if (!values || (values->size() != 3 && values->size() != 6)) continue;
        // Only the first two rows take part in the decision; the others are only counted.
        if (rows.size() < 2) rows.push_back({i, values->size()});
        ++found;
    }

    CanonicalizeResult result;
    result.path = path;
    result.found_numeric_rows = found > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(found);
    result.changed = false;
    if (rows.empty()) {
        result.reason = kNoRows;
    } else if (rows[0].count == 6) {
        result.reason = kAlreadySix;
    } else if (rows.size() < 2) {
        result.reason = kNoSecond;
    } else if (rows[1].count == 3) {
        result.reason = kLegacy;
    } else {
        lines[rows[0].line] = zero_row();
        std::string text;
        std::size_t size = 0;
        for (const std::string& l : lines) size += l.size() + 1;
        text.reserve(size);
        for (const std::string& l : lines) {
            poller.tick(l.size() + 1);
            text += l;
            text += '\n';
        }
        replace_file_contents(path, text);
        result.changed = true;
        result.reason = kUpgraded;
    }
    return result;
}

}  // namespace tarq::tarqext
