// A call reads the storage of the bound objects it is given only through its own copy, taken when the call
// begins. Python code can run in the middle of any call (a signal handler at an interrupt poll, a finalizer
// while a result is built) and may replace an object's vectors; the call then goes on with the values it
// started with, and nothing it reads can be freed under it. A method that changes its object stores its copy
// back when it returns; one that fails or is interrupted leaves the object as it was.
// Include after common.hpp.
#pragma once

#include <type_traits>
#include <utility>

namespace tarq_py {

// A method's result as a value of its own: a reference into the object would outlive the copy.
template <class R>
using OwnedResult = std::remove_cv_t<std::remove_reference_t<R>>;

// A const method of C, run on a copy of self.
template <class C, class R, class... Args>
auto on_copy(R (C::*method)(Args...) const) {
    return [method](const C& self, Args... args) -> OwnedResult<R> {
        const C work = self;
        return (work.*method)(std::forward<Args>(args)...);
    };
}

// A method that changes C, run on a copy of self that replaces self once the method has returned.
template <class C, class R, class... Args>
auto on_copy(R (C::*method)(Args...)) {
    return [method](C& self, Args... args) -> OwnedResult<R> {
        C work = self;
        if constexpr (std::is_void_v<R>) {
            (work.*method)(std::forward<Args>(args)...);
            self = std::move(work);
        } else {
            OwnedResult<R> result = (work.*method)(std::forward<Args>(args)...);
            self = std::move(work);
            return result;
        }
    };
}

}  // namespace tarq_py
