// The grid helicity of every .fseries file of a directory (flat or depth-first over its tree) and the
// side-by-side comparison of two files.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/interrupt.hpp"
#include "core/tarq_extensions.hpp"
#include "core/tarq_extensions_detail.hpp"
#include "core/vec3.hpp"

namespace tarq::tarqext {

namespace {

constexpr char kSuffix[] = ".fseries";
constexpr std::size_t kSuffixLen = sizeof(kSuffix) - 1;

bool g_entry_types_ignored = false;

std::string join_path(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (a.back() == '/') return a + b;
    return a + "/" + b;
}

bool has_suffix(const std::string& s) {
    return s.size() >= kSuffixLen && s.compare(s.size() - kSuffixLen, kSuffixLen, kSuffix) == 0;
}

bool is_dot_or_dotdot(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// A listed file: the suffix, and stat (following links) reports a regular file.
bool is_fseries_file(const std::string& full) {
    if (!has_suffix(full)) return false;
    struct stat st;
    return ::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Closes the directory stream on every way out, exceptions included.
class DirStream {
public:
    explicit DirStream(const std::string& path) : d_(::opendir(path.c_str())) {}
    ~DirStream() {
        if (d_ != nullptr) ::closedir(d_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    DIR* get() const { return d_; }

private:
    DIR* d_;
};

using DirId = std::pair<dev_t, ino_t>;

// Entries are polled in counts: each may cost a stat, and a directory can hold millions.
constexpr std::uint64_t kEntryPollStride = 1024;

std::vector<std::string> list_fseries_flat(const std::string& root) {
    std::vector<std::string> out;
    DirStream d(root);
    if (d.get() == nullptr) return out;
    InterruptPoller poller(kEntryPollStride);
    while (const dirent* e = ::readdir(d.get())) {
        poller.tick();
        if (is_dot_or_dotdot(e->d_name)) continue;
        std::string full = join_path(root, e->d_name);
        if (is_fseries_file(full)) out.push_back(std::move(full));
    }
    return out;
}

// Depth-first, in readdir order. A directory that is one of its own ancestors, identified by (device, inode),
// is not entered again: where the file system reports no entry types, links to directories are walked, and
// a cycle of them would otherwise recurse until the stack overflows. Only the ancestors count, so a tree
// that the file system shows at two places (a bind mount) is listed at both, as the walk lists it anyway.
void collect_recursive(const std::string& dir, std::vector<std::string>& out, std::set<DirId>& ancestors,
                       InterruptPoller& poller) {
    DirStream d(dir);
    if (d.get() == nullptr) return;
    struct stat self;
    if (::fstat(::dirfd(d.get()), &self) != 0) return;
    const DirId id{self.st_dev, self.st_ino};
    if (!ancestors.insert(id).second) return;
    while (const dirent* e = ::readdir(d.get())) {
        poller.tick();
        if (is_dot_or_dotdot(e->d_name)) continue;
        std::string full = join_path(dir, e->d_name);
        const unsigned char type = g_entry_types_ignored ? static_cast<unsigned char>(DT_UNKNOWN) : e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::stat(full.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                collect_recursive(full, out, ancestors, poller);
            } else if (S_ISREG(st.st_mode) && has_suffix(full)) {
                out.push_back(std::move(full));
            }
        } else if (type == DT_DIR) {
            collect_recursive(full, out, ancestors, poller);
        } else if (is_fseries_file(full)) {
            out.push_back(std::move(full));
        }
    }
    ancestors.erase(id);
}

void collect_fseries_recursive_posix(const std::string& dir, std::vector<std::string>& out) {
    std::set<DirId> ancestors;
    InterruptPoller poller(kEntryPollStride);
    collect_recursive(dir, out, ancestors, poller);
}

}  // namespace

namespace testing {
void set_entry_types_ignored(bool ignored) { g_entry_types_ignored = ignored; }
}  // namespace testing

std::vector<HelicityResult> batch_helicity_from_dir(const std::string& root_dir, int grid_size, double spacing,
                                                    int interior_margin, int nsamples, bool recurse) {
    struct stat st;
    if (root_dir.find('\0') != std::string::npos || ::stat(root_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw RuntimeError("directory does not exist: " + root_dir);

    std::vector<std::string> files;
    if (recurse) {
        collect_fseries_recursive_posix(root_dir, files);
    } else {
        files = list_fseries_flat(root_dir);
    }

    std::vector<HelicityResult> results;
    results.reserve(files.size());
    for (const std::string& f : files) {
        poll_interrupt();
        results.push_back(
            detail::helicity_of_file("batch_helicity_from_dir", f, grid_size, spacing, interior_margin, nsamples));
    }
    std::sort(results.begin(), results.end(),
              [](const HelicityResult& a, const HelicityResult& b) { return a.path < b.path; });
    return results;
}

std::map<std::string, double> compare_fseries_files(const std::string& path_a, const std::string& path_b,
                                                    int nsamples, int skip) {
    const FilamentEnergyResult ra = curve_metrics_from_fseries(path_a, nsamples, skip);
    const FilamentEnergyResult rb = curve_metrics_from_fseries(path_b, nsamples, skip);
    const Polyline pa = sample_curve_centered(path_a, nsamples);
    const Polyline pb = sample_curve_centered(path_b, nsamples);

    const std::size_t m = std::min(pa.size(), pb.size());
    double delta = 0.0;
    if (m > 0) {
        double sum = 0.0;
        InterruptPoller poller(kPollWork);
        for (std::size_t i = 0; i < m; ++i) {
            poller.tick();
            sum += vec3::norm2(vec3::sub(pa[i], pb[i]));
        }
        delta = std::sqrt(sum / static_cast<double>(m));
    }

    // Each metric as the value of file a, of file b, and b minus a.
    using R = FilamentEnergyResult;
    static const std::pair<const char*, double R::*> kMetrics[] = {
        {"L", &R::L},
        {"kappa_max", &R::kappa_max},
        {"kappa_mean", &R::kappa_mean},
        {"bend_energy", &R::bend_energy},
        {"reach_proxy", &R::reach_proxy},
    };
    std::map<std::string, double> out;
    for (const auto& [name, field] : kMetrics) {
        out[std::string(name) + "_a"] = ra.*field;
        out[std::string(name) + "_b"] = rb.*field;
        out["d" + std::string(name)] = rb.*field - ra.*field;
    }
    out["rms_point_delta"] = delta;
    return out;
}

}  // namespace tarq::tarqext
