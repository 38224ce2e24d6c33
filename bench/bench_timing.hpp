// Timing for the benchmark programs: thread CPU time (time spent preempted on a shared machine does not
// count) beside wall time, best of several runs.
#pragma once

#include <time.h>

#include <algorithm>
#include <functional>

namespace bench {

inline double clock_seconds(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct Timing {
    double cpu = 1e300;   // best thread CPU time of one run [s]
    double wall = 1e300;  // best wall time of one run [s]
};

inline Timing best_of(const std::function<void()>& run, int repeats) {
    Timing t;
    for (int r = 0; r < repeats; ++r) {
        const double w0 = clock_seconds(CLOCK_MONOTONIC);
        const double c0 = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
        run();
        t.cpu = std::min(t.cpu, clock_seconds(CLOCK_THREAD_CPUTIME_ID) - c0);
        t.wall = std::min(t.wall, clock_seconds(CLOCK_MONOTONIC) - w0);
    }
    return t;
}

}  // namespace bench
