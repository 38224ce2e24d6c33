// The process-wide hook behind poll_interrupt().
#include "core/interrupt.hpp"

#include <atomic>

namespace tarq {

namespace {
std::atomic<InterruptHook> g_hook{nullptr};
}

void set_interrupt_hook(InterruptHook hook) noexcept { g_hook.store(hook, std::memory_order_relaxed); }

void poll_interrupt() {
    if (InterruptHook hook = g_hook.load(std::memory_order_relaxed)) hook();
}

}  // namespace tarq
