// Conversions shared by the registration units: NumPy arrays to and from the library's sequences.
// Include after common.hpp.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "python/common.hpp"
#include "core/types.hpp"

namespace tarq_py {

// Anything NumPy can turn into a C-contiguous float64 array; already-conforming arrays are not copied.
using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

inline void require(bool ok, const std::string& message) {
    if (!ok) throw std::invalid_argument(message);
}

// A bound record argument taken by pointer, so that None reaches the binding as null: it raises
// RuntimeError (empty message) before the operation runs, as a reference argument did in earlier
// versions of the binding library.
template <class T>
T& record(T* p) {
    if (p == nullptr) throw std::runtime_error("");
    return *p;
}

// A library function whose first parameter is a record, bound so that the record arrives by pointer
// and None raises through record() before the function runs.
template <class R, class T, class... Args>
auto by_record(R (*f)(const T&, Args...)) {
    return [f](const T* p, Args... args) -> R { return f(record(p), std::forward<Args>(args)...); };
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

// Rows of an (N, 3) array as points; any other shape raises std::invalid_argument(message).
inline std::vector<tarq::Vec3> rows_to_vec3(const CArray& a, const char* message) {
    if (a.ndim() != 2 || a.shape(1) != 3) throw std::invalid_argument(message);
    const std::size_t n = static_cast<std::size_t>(a.shape(0));
    std::vector<tarq::Vec3> out(n);
    const double* p = a.data();
    for (std::size_t i = 0; i < n; ++i) out[i] = {p[3 * i], p[3 * i + 1], p[3 * i + 2]};
    return out;
}

// Elements of a contiguous array in order (callers check the dimension first).
inline std::vector<double> to_doubles(const CArray& a) {
    const double* p = a.data();
    return std::vector<double>(p, p + static_cast<std::size_t>(a.size()));
}

// A new (N, 3) float64 array; (0, 3) for no points.
inline py::array_t<double> vec3_array(const std::vector<tarq::Vec3>& v) {
    py::array_t<double> out({static_cast<py::ssize_t>(v.size()), static_cast<py::ssize_t>(3)});
    auto w = out.mutable_unchecked<2>();
    for (std::size_t i = 0; i < v.size(); ++i) {
        const auto r = static_cast<py::ssize_t>(i);
        w(r, 0) = v[i][0];
        w(r, 1) = v[i][1];
        w(r, 2) = v[i][2];
    }
    return out;
}

// A new 1-D float64 array.
inline py::array_t<double> double_array(const std::vector<double>& v) {
    py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
    auto w = out.mutable_unchecked<1>();
    for (std::size_t i = 0; i < v.size(); ++i) w(static_cast<py::ssize_t>(i)) = v[i];
    return out;
}

}  // namespace tarq_py
