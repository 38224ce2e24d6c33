// Readers of .fseries texts: two lenient readers (string and file) sharing one line loop,
// and the stricter, header-less member loadBlocks.
#include <cstdint>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/errors.hpp"
#include "core/file_reading.hpp"
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"

namespace tarq {

namespace {

// A line's number stream costs about as much as reading some tens of bytes.
constexpr std::uint64_t kLineWork = 64;

inline bool has_rows(const FourierBlock& b) { return !b.a_x.empty(); }

inline void append_row(FourierBlock& b, const double (&v)[6]) {
    b.a_x.push_back(v[0]);
    b.b_x.push_back(v[1]);
    b.a_y.push_back(v[2]);
    b.b_y.push_back(v[3]);
    b.a_z.push_back(v[4]);
    b.b_z.push_back(v[5]);
}

// A block without rows is not emitted, so a header taken from a comment stays pending.
inline void close_block(FourierBlock& current, std::vector<FourierBlock>& out) {
    if (!has_rows(current)) return;
    out.push_back(current);
    current = FourierBlock();
}

std::vector<FourierBlock> parse_lenient(std::istream& in) {
    std::vector<FourierBlock> out;
    FourierBlock current;
    std::string line;
    InterruptPoller poller(kPollWork);
    while (std::getline(in, line, '\n')) {
        poller.tick(line.size() + kLineWork);
        while (!line.empty()) {
            const char c = line.back();
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
            line.pop_back();
        }
        if (line.empty()) {
            close_block(current, out);
            continue;
        }
        if (line[0] == '%') {
            close_block(current, out);
            std::size_t pos = 1;
            while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
            current.header = line.substr(pos);
            continue;
        }
        std::istringstream row(line);
        double v[6];
        if (row >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5]) append_row(current, v);
    }
    close_block(current, out);
    return out;
}

}  // namespace

std::vector<FourierBlock> FourierKnot::parse_fseries_from_string(const std::string& content) {
    std::istringstream in(content);
    return parse_lenient(in);
}

std::vector<FourierBlock> FourierKnot::parse_fseries_multi(const std::string& path) {
    std::string text;
    if (!read_regular_file(path, text)) return {};
    return parse_fseries_from_string(text);
}

void FourierKnot::loadBlocks(const std::string& path) {
    std::string text;
    if (!read_regular_file(path, text)) {
        blocks.clear();
        throw RuntimeError("Cannot open file: " + path);
    }
    // Read aside, so that an interrupt leaves the blocks as they were.
    std::vector<FourierBlock> read;
    std::istringstream in(text);
    FourierBlock current;
    std::string line;
    InterruptPoller poller(kPollWork);
    while (std::getline(in, line, '\n')) {
        poller.tick(line.size() + kLineWork);
        if (line.empty() || line[0] == '%') {
            close_block(current, read);
            continue;
        }
        // Exactly six numbers make a row: a seventh number disqualifies the line.
        std::istringstream row(line);
        double v[6];
        int count = 0;
        double extra;
        while (count < 6 && row >> v[count]) ++count;
        if (count == 6 && !(row >> extra)) append_row(current, v);
    }
    close_block(current, read);
    blocks = std::move(read);
}

}  // namespace tarq
