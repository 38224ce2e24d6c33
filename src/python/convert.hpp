// Conversions shared by the registration units: NumPy arrays to and from the library's sequences.
// Include after common.hpp.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/common.hpp"
#include "core/interrupt.hpp"
#include "core/types.hpp"

namespace tarq_py {

inline void require(bool ok, const std::string& message) {
    if (!ok) throw std::invalid_argument(message);
}

// A bound record argument taken by pointer, so that None reaches the binding as null: it raises
// RuntimeError naming the function and the argument before the operation runs.
template <class T>
T& record(T* p, const char* function, const char* argument) {
    if (p == nullptr) {
        const std::string type = py::str(py::type::handle_of<std::remove_const_t<T>>().attr("__name__"));
        throw std::runtime_error(std::string(function) + ": " + argument + " must be a " + type + ", not None");
    }
    return *p;
}

// A library function whose first parameter is a record, bound so that the record arrives by pointer
// and None raises through record() before the function runs. The function reads its own copy of the
// record (see call_copy.hpp).
template <class R, class T, class... Args>
auto by_record(const char* function, const char* argument, R (*f)(const T&, Args...)) {
    return [function, argument, f](const T* p, Args... args) -> R {
        const T copy = record(p, function, argument);
        return f(copy, std::forward<Args>(args)...);
    };
}

// m.def of such a function under `name`, its record argument described by `record_arg`.
template <class R, class T, class... Args, class... Extra>
void def_by_record(py::module_& m, const char* name, R (*f)(const T&, Args...), const py::arg& record_arg,
                   const Extra&... extra) {
    m.def(name, by_record(name, record_arg.name, f), record_arg, extra...);
}

// Runs the library call f for the Python function `name`: a std::invalid_argument that a deeper routine
// raised under its own name ("computeVorticity: ...") is raised again under the name the user called.
template <class F>
auto under_name(const char* name, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::invalid_argument& e) {
        const std::string message = e.what();
        const std::string prefix = std::string(name) + ": ";
        if (message.compare(0, prefix.size(), prefix) == 0) throw;
        const std::size_t colon = message.find(": ");
        throw std::invalid_argument(prefix + (colon == std::string::npos ? message : message.substr(colon + 2)));
    }
}

// A library function bound under the Python name `name` (see under_name).
template <class R, class... Args>
auto renamed(const char* name, R (*f)(Args...)) {
    return [name, f](Args... args) -> R { return under_name(name, [&] { return f(std::forward<Args>(args)...); }); };
}

// try_c_contiguous, raising NumPy's error when the conversion fails.
inline CArray c_contiguous(const py::array& a) {
    CArray c = try_c_contiguous(a);
    if (!c) throw py::error_already_set();
    return c;
}

// Rows of an (N, 3) array as points; any other shape raises std::invalid_argument(message).
inline std::vector<tarq::Vec3> rows_to_vec3(const CArray& a, const char* message) {
    if (a.ndim() != 2 || a.shape(1) != 3) throw std::invalid_argument(message);
    const std::size_t n = static_cast<std::size_t>(a.shape(0));
    // Reserved, not zeroed: the pages of a huge set are first touched inside the polled loop.
    std::vector<tarq::Vec3> out;
    out.reserve(n);
    const double* p = a.data();
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back({p[3 * i], p[3 * i + 1], p[3 * i + 2]});
        poller.tick(3);
    }
    return out;
}

// Elements of a contiguous array in order (callers check the dimension first).
inline std::vector<double> to_doubles(const CArray& a) {
    const double* p = a.data();
    const auto n = static_cast<std::size_t>(a.size());
    std::vector<double> out;
    out.reserve(n);
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t i = 0; i < n; i += seq::kCopyBlock) {
        const std::size_t m = std::min(seq::kCopyBlock, n - i);
        out.insert(out.end(), p + i, p + i + m);
        poller.tick(m);
    }
    return out;
}

// A new (N, 3) float64 array; (0, 3) for no points. The points are taken by value: a caller's lvalue is
// copied first, since a poll runs Python code, which may replace the storage it came from.
inline py::array_t<double> vec3_array(std::vector<tarq::Vec3> v) {
    py::array_t<double> out({static_cast<py::ssize_t>(v.size()), static_cast<py::ssize_t>(3)});
    auto w = out.mutable_unchecked<2>();
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t i = 0; i < v.size(); ++i) {
        const auto r = static_cast<py::ssize_t>(i);
        w(r, 0) = v[i][0];
        w(r, 1) = v[i][1];
        w(r, 2) = v[i][2];
        poller.tick(3);
    }
    return out;
}

// A new 1-D float64 array, of values taken by value as for vec3_array.
inline py::array_t<double> double_array(std::vector<double> v) {
    py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
    double* w = out.mutable_data();
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t i = 0; i < v.size(); i += seq::kCopyBlock) {
        const std::size_t m = std::min(seq::kCopyBlock, v.size() - i);
        std::copy(v.begin() + static_cast<std::ptrdiff_t>(i), v.begin() + static_cast<std::ptrdiff_t>(i + m), w + i);
        poller.tick(m);
    }
    return out;
}

}  // namespace tarq_py
