// Cancellation of long loops requested by the caller: the Python layer installs a hook that raises when a
// signal such as Ctrl-C is pending; the core itself stays free of Python headers.
#pragma once

#include <cstdint>
#include <utility>

namespace tarq {

// Called from long loops; it either returns or throws to abandon the computation. What it throws need not
// derive from std::exception (the Python layer's does not), so that code wrapping the library's own failures
// in a message of its own lets an interrupt pass.
using InterruptHook = void (*)();

void set_interrupt_hook(InterruptHook hook) noexcept;

// Runs the installed hook, if any.
void poll_interrupt();

// Polls once every `stride` units of work, so that a loop can call tick() at every unit cheaply.
class InterruptPoller {
public:
    explicit InterruptPoller(std::uint64_t stride) : stride_(stride == 0 ? 1 : stride) {}
    void tick(std::uint64_t work = 1) {
        done_ += work;
        if (done_ >= stride_) {
            done_ = 0;
            poll_interrupt();
        }
    }

private:
    std::uint64_t stride_;
    std::uint64_t done_ = 0;
};

// A stride for InterruptPoller in units of one elementary evaluation (a point pair, a sample): a few
// milliseconds of work between polls.
inline constexpr std::uint64_t kPollWork = std::uint64_t{1} << 20;

// Keeps a copy of a value and puts it back when the scope is left without commit(), so that a long
// call abandoned by an interrupt (or any other exception) leaves its object as it was before the call.
template <class T>
class Rollback {
public:
    explicit Rollback(T& target) : target_(target), saved_(target) {}
    Rollback(const Rollback&) = delete;
    Rollback& operator=(const Rollback&) = delete;
    ~Rollback() {
        if (!committed_) target_ = std::move(saved_);
    }
    void commit() noexcept { committed_ = true; }

private:
    T& target_;
    T saved_;
    bool committed_ = false;
};

}  // namespace tarq
