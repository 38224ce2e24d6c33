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

// Anything NumPy can turn into a C-contiguous float64 array; already-conforming arrays are not copied.
using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

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

// The array `a` as a C-contiguous float64 array, with the values CArray::ensure gives: `a` itself when it
// conforms, else a copy that NumPy casts block by block with a poll in between, since copying a huge
// broadcast or strided grid takes seconds. Null, with the Python error set, when NumPy cannot convert or
// allocate; an interrupt raised by a poll propagates.
inline CArray try_c_contiguous(const py::array& a) {
    if (CArray::check_(a)) return CArray::ensure(a);
    const auto fail = [] { return py::reinterpret_steal<CArray>(py::handle()); };
    const std::vector<py::ssize_t> shape(a.shape(), a.shape() + a.ndim());
    CArray out;
    try {
        out = CArray(shape);
    } catch (py::error_already_set& e) {
        e.restore();
        return fail();
    }
    auto& api = py::detail::npy_api::get();
    const auto block = static_cast<py::ssize_t>(tarq::kPollWork);
    if (out.size() <= block) return api.PyArray_CopyInto_(out.ptr(), a.ptr()) < 0 ? fail() : out;
    // Blocks are ranges along the first axis whose trailing axes hold at most `block` elements, at each
    // index of the axes before it. Indexing goes through a plain ndarray view, so that a subclass's own
    // indexing cannot change the blocks' shapes.
    const auto src = py::reinterpret_steal<py::object>(
        api.PyArray_View_(a.ptr(), nullptr, reinterpret_cast<PyObject*>(api.PyArray_Type_)));
    if (!src) return fail();
    std::size_t axis = shape.size() - 1;  // a 0-d array is one element: copied whole above
    py::ssize_t inner = 1;
    while (axis > 0 && inner * shape[axis] <= block) inner *= shape[axis--];
    const py::ssize_t rows = std::max<py::ssize_t>(1, block / inner);
    std::vector<py::ssize_t> index(axis, 0);
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (;;) {
        for (py::ssize_t k = 0; k < shape[axis]; k += rows) {
            const py::ssize_t end = std::min(shape[axis], k + rows);
            py::tuple key(axis + 1);
            for (std::size_t j = 0; j < axis; ++j) key[j] = py::int_(index[j]);
            key[axis] = py::slice(k, end, 1);
            const py::object to = out[key], from = src[key];
            if (api.PyArray_CopyInto_(to.ptr(), from.ptr()) < 0) return fail();
            poller.tick(static_cast<std::uint64_t>((end - k) * inner));
        }
        std::size_t j = axis;
        while (j > 0 && ++index[j - 1] == shape[j - 1]) index[--j] = 0;
        if (j == 0) return out;
    }
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
    return std::vector<double>(p, p + static_cast<std::size_t>(a.size()));
}

// A new (N, 3) float64 array; (0, 3) for no points.
inline py::array_t<double> vec3_array(const std::vector<tarq::Vec3>& v) {
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

// A new 1-D float64 array.
inline py::array_t<double> double_array(const std::vector<double>& v) {
    py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
    auto w = out.mutable_unchecked<1>();
    for (std::size_t i = 0; i < v.size(); ++i) w(static_cast<py::ssize_t>(i)) = v[i];
    return out;
}

// A new list of N-element lists of Python floats, one per row, built directly with the C API so that a
// result of millions of rows costs little more than the lists themselves. Long conversions poll for
// interrupts; a partly built list is released on the way out.
template <class T, std::size_t N>
py::list list_from_rows(const std::vector<std::array<T, N>>& rows) {
    const auto n = static_cast<py::ssize_t>(rows.size());
    py::list out(n);
    tarq::InterruptPoller poller(std::uint64_t{1} << 16);
    for (py::ssize_t i = 0; i < n; ++i) {
        PyObject* row = PyList_New(static_cast<Py_ssize_t>(N));
        if (row == nullptr) throw py::error_already_set();
        PyList_SET_ITEM(out.ptr(), i, row);
        const std::array<T, N>& values = rows[static_cast<std::size_t>(i)];
        for (std::size_t k = 0; k < N; ++k) {
            PyObject* item = PyFloat_FromDouble(static_cast<double>(values[k]));
            if (item == nullptr) throw py::error_already_set();
            PyList_SET_ITEM(row, static_cast<Py_ssize_t>(k), item);
        }
        poller.tick();
    }
    return out;
}

}  // namespace tarq_py

namespace tarq_py {

// A std::vector<double> argument with a direct path for the common case of a list or tuple of floats;
// any other input goes through the binding library's own sequence conversion, so what converts (and in
// which overload pass) is unchanged.
struct DoubleSeq {
    std::vector<double> values;
};

}  // namespace tarq_py

namespace pybind11::detail {

template <>
struct type_caster<tarq_py::DoubleSeq> {
    using fallback_caster = make_caster<std::vector<double>>;
    PYBIND11_TYPE_CASTER(tarq_py::DoubleSeq, fallback_caster::name);

    bool load(handle src, bool convert) {
        PyObject* obj = src.ptr();
        if (obj != nullptr && (PyList_CheckExact(obj) || PyTuple_CheckExact(obj))) {
            const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
            PyObject** items = PySequence_Fast_ITEMS(obj);
            value.values.resize(static_cast<std::size_t>(n));
            double* out = value.values.data();
            Py_ssize_t i = 0;
            for (; i < n && PyFloat_CheckExact(items[i]); ++i) out[i] = PyFloat_AS_DOUBLE(items[i]);
            if (i == n) return true;
        }
        fallback_caster fallback;
        if (!fallback.load(src, convert)) return false;
        value.values = cast_op<std::vector<double>&&>(std::move(fallback));
        return true;
    }

    static handle cast(const tarq_py::DoubleSeq& src, return_value_policy policy, handle parent) {
        return fallback_caster::cast(src.values, policy, parent);
    }
};

}  // namespace pybind11::detail
