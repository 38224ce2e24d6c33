#include "core/file_reading.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>

#include "core/interrupt.hpp"

namespace tarq {

namespace {

// A descriptor closed on every way out.
class ReadDescriptor {
public:
    // Opens `path` for reading when it names a regular file; otherwise the descriptor is not open.
    explicit ReadDescriptor(const std::string& path) {
        if (path.find('\0') != std::string::npos) return;
        // Non-blocking, so that opening a FIFO does not wait for a writer before it is refused; the flag
        // has no effect on reading a regular file.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) return;
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ReadDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    bool is_open() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

constexpr std::size_t kChunk = std::size_t{1} << 16;

}  // namespace

bool read_regular_file(const std::string& path, std::string& text) {
    ReadDescriptor in(path);
    if (!in.is_open()) return false;
    std::string out;
    char chunk[kChunk];
    // About 1 MiB between polls.
    InterruptPoller poller(16);
    for (;;) {
        const ssize_t n = ::read(in.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno != EINTR) return false;
            poll_interrupt();  // a signal (Ctrl-C) cut the read short
            continue;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
        poller.tick();
    }
    text = std::move(out);
    return true;
}

bool opens_as_regular_file(const std::string& path) { return ReadDescriptor(path).is_open(); }

}  // namespace tarq
