// Type casters of the library's float sequences: std::vector<double>, vectors of fixed-size rows
// (std::vector<std::array<T, N>>: Vec3 point lists, coefficient rows, PD codes), rows of floats
// (std::vector<std::vector<double>>), vectors of point lists (FilamentSet), index pairs, and fixed-size
// rows by themselves (std::array<T, N> and rows of rows: Vec3, Mat3, GridShape). Included by common.hpp,
// so that every registration unit sees these casters and no other.
//
// Arguments. A list or tuple is read directly, element by element, with the element rules of the binding
// library's own casters; any other sequence goes through the binding library's conversion, so what
// converts (and in which overload pass) is unchanged. An object with the buffer protocol (a NumPy array,
// array.array, memoryview; not str, bytes or bytearray) is read as if its tolist() had been passed in its
// place: the same values and the same refusals of a shape or element type, in both overload passes.
// Native float64 arrays, strided or broadcast, are read straight from their memory; arrays of bools,
// integers and binary floats of at most 64 bits, whose tolist() items the float caster takes as the very
// values NumPy's cast to float64 gives, are cast to float64 first; any other array goes through tolist()
// a block at a time.
//
// Results. Lists are built with the C API and kept out of the garbage collector until complete, so that no
// Python code (a finalizer run by a collection, a signal handler) can reach a half-built list (see
// Builder). A result that is an lvalue
// (a container field of a bound object, a method returning a reference to its storage) is copied first:
// a finalizer run while the lists are built may replace the very field being converted.
//
// Every long conversion, in or out, polls for interrupts at the shared stride. A poll runs Python signal
// handlers, which may change the list being read: no pointer into a list outlives a poll or any other call
// that can run Python code, and sizes and items are read afresh after each.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/interrupt.hpp"

namespace py = pybind11;

namespace tarq_py {

// Anything NumPy can turn into a C-contiguous float64 array; already-conforming arrays are not copied.
using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

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

namespace seq {

using Poller = tarq::InterruptPoller;
using py::handle;
using py::object;

template <class T>
struct is_array : std::false_type {};
template <class T, std::size_t N>
struct is_array<std::array<T, N>> : std::true_type {};

template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class T>
struct is_pair : std::false_type {};
template <class A, class B>
struct is_pair<std::pair<A, B>> : std::true_type {};

// The scalar type at the bottom of a nested sequence type.
template <class X>
struct leaf {
    using type = X;
};
template <class T, std::size_t N>
struct leaf<std::array<T, N>> {
    using type = typename leaf<T>::type;
};
template <class T>
struct leaf<std::vector<T>> {
    using type = typename leaf<T>::type;
};
template <class X>
using leaf_t = typename leaf<X>::type;

// NumPy's type number of float16 (its other numbers are named by the binding library).
constexpr int kNpyHalf = 23;

// Elements whose tolist() is taken at once; a larger array is taken a block of this many elements at a time.
constexpr py::ssize_t kTolistBlock = py::ssize_t{1} << 12;

inline py::detail::npy_api& npy() { return py::detail::npy_api::get(); }

[[noreturn]] inline void throw_python_error() { throw py::error_already_set(); }

inline object steal_or_raise(PyObject* p) {
    if (p == nullptr) throw_python_error();
    return py::reinterpret_steal<object>(p);
}

// Bounds the nesting of argument objects that stand for other objects (a 0-d object array holding
// another array, a tolist() returning an array), as the interpreter bounds recursion: RecursionError.
class RecursionGuard {
public:
    RecursionGuard() {
        if (Py_EnterRecursiveCall(" while converting an argument") != 0) throw_python_error();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// An argument read through its buffer: anything exporting one, except the string types, which the
// binding library never takes as sequences of numbers (bytearray keeps its conversion as a sequence).
inline bool reads_as_buffer(PyObject* obj) {
    return PyObject_CheckBuffer(obj) && !PyUnicode_Check(obj) && !PyBytes_Check(obj) && !PyByteArray_Check(obj);
}

// Whether the array's tolist() is NumPy's own, which builds the lists from the array's memory.
inline bool tolist_is_numpys(PyObject* arr) {
    PyTypeObject* type = Py_TYPE(arr);
    if (type == npy().PyArray_Type_) return true;
    // Kept for good: the descriptor lives as long as NumPy's array type.
    static PyObject* numpys = nullptr;
    if (numpys == nullptr) {
        numpys = PyObject_GetAttrString(reinterpret_cast<PyObject*>(npy().PyArray_Type_), "tolist");
        if (numpys == nullptr) throw_python_error();
    }
    const auto own = py::reinterpret_steal<object>(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "tolist"));
    if (!own) {
        PyErr_Clear();  // the call of tolist() raises it again
        return false;
    }
    return own.ptr() == numpys;
}

// Item k of a list, held, or null past its end: an element's conversion may run Python code that reaches
// the list (the collector lists every tracked object) and changes it.
inline object list_item(PyObject* list, Py_ssize_t k) {
    if (k >= PyList_GET_SIZE(list)) return object();
    return py::reinterpret_borrow<object>(PyList_GET_ITEM(list, k));
}

inline object tolist(PyObject* obj) { return steal_or_raise(PyObject_CallMethod(obj, "tolist", nullptr)); }

// ---- shapes of float64 data ----

// Whether the tolist() of an array of this shape, whose items are numbers, converts to X: each dimension
// is a list level, the items the scalars, an empty list ends the check.
template <class X>
bool shape_fits(int ndim, const py::ssize_t* shape) {
    if constexpr (std::is_arithmetic<X>::value) {
        return ndim == 0;
    } else if constexpr (is_array<X>::value) {
        return ndim >= 1 && static_cast<std::size_t>(shape[0]) == std::tuple_size<X>::value &&
               shape_fits<typename X::value_type>(ndim - 1, shape + 1);
    } else {
        return ndim >= 1 && (shape[0] == 0 || shape_fits<typename X::value_type>(ndim - 1, shape + 1));
    }
}

// Whether the tolist() of an array of this shape, whose items are of any type, may convert to the row X:
// the axes it has match X's lengths, and none stands where X holds scalars, whose items would be lists.
// Axes that it lacks leave their levels to the items.
template <class X>
bool row_shape_fits(int ndim, const py::ssize_t* shape) {
    if constexpr (std::is_arithmetic<X>::value) {
        return ndim == 0;
    } else {
        return ndim == 0 || (static_cast<std::size_t>(shape[0]) == std::tuple_size<X>::value &&
                             row_shape_fits<typename X::value_type>(ndim - 1, shape + 1));
    }
}

inline double read_double(const char* p) {
    double v;
    std::memcpy(&v, p, sizeof v);  // the data may be unaligned
    return v;
}

// Elements copied between polls from contiguous float64 memory.
constexpr std::size_t kCopyBlock = std::size_t{1} << 14;

// Reads X from native float64 memory at p, of a shape that shape_fits accepted.
template <class X>
void read_f64(const char* p, const py::ssize_t* shape, const py::ssize_t* strides, X& out, Poller& poller) {
    if constexpr (std::is_arithmetic<X>::value) {
        out = read_double(p);
    } else if constexpr (is_array<X>::value) {
        for (std::size_t k = 0; k < out.size(); ++k)
            read_f64(p + static_cast<py::ssize_t>(k) * strides[0], shape + 1, strides + 1, out[k], poller);
    } else {
        using E = typename X::value_type;
        const auto n = static_cast<std::size_t>(shape[0]);
        out.clear();
        if constexpr (std::is_arithmetic<E>::value || is_array<E>::value) {
            constexpr std::size_t width = sizeof(E) / sizeof(double);
            const bool contiguous = strides[0] == static_cast<py::ssize_t>(sizeof(E)) &&
                                    (width == 1 || strides[1] == static_cast<py::ssize_t>(sizeof(double)));
            if (contiguous) {
                // Grown a block at a time, not zeroed at once: the pages of a huge result are first touched
                // inside the polled loop.
                out.reserve(n);
                for (std::size_t i = 0; i < n; i += kCopyBlock) {
                    const std::size_t m = std::min(kCopyBlock, n - i);
                    out.resize(i + m);
                    std::memcpy(out.data() + i, p + i * sizeof(E), m * sizeof(E));
                    poller.tick(m * width);
                }
                return;
            }
        }
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            out.emplace_back();
            read_f64(p + static_cast<py::ssize_t>(i) * strides[0], shape + 1, strides + 1, out.back(), poller);
            poller.tick(std::is_arithmetic<E>::value ? 1 : is_array<E>::value ? sizeof(E) / sizeof(double) : 1);
        }
    }
}

// ---- loading ----

template <class X>
bool load_level(PyObject* obj, bool convert, X& out, Poller& poller);

// An element of a list, tuple or array: a scalar through the binding library's caster, anything else as
// an argument of its own type. The caller holds a reference to `item` (the caster may run Python code).
template <class E>
bool load_element(PyObject* item, bool convert, E& out, Poller& poller) {
    if constexpr (std::is_arithmetic<E>::value) {
        py::detail::make_caster<E> caster;
        if (!caster.load(item, convert)) return false;
        out = py::detail::cast_op<E>(caster);
        return true;
    } else {
        return load_level(item, convert, out, poller);
    }
}

// The binding library's own caster of a vector or a fixed-size row, which the casters below stand in for.
template <class X>
struct standard_caster;
template <class T>
struct standard_caster<std::vector<T>> {
    using type = py::detail::list_caster<std::vector<T>, T>;
};
template <class T, std::size_t N>
struct standard_caster<std::array<T, N>> {
    using type = py::detail::array_caster<std::array<T, N>, T, false, N>;
};
template <class X>
using standard_caster_t = typename standard_caster<X>::type;

// Any other sequence or iterable: the binding library's own conversion.
template <class X>
bool load_fallback(PyObject* obj, bool convert, X& out) {
    standard_caster_t<X> caster;
    if (!caster.load(obj, convert)) return false;
    out = static_cast<X&&>(std::move(caster));
    return true;
}

// A list or tuple (exactly), as the binding library converts one: a vector takes every item, a row of N
// items (checked first) takes them by index.
template <class X>
bool load_from_list(PyObject* obj, bool convert, X& out, Poller& poller) {
    if constexpr (is_array<X>::value) {
        using T = typename X::value_type;
        constexpr auto N = static_cast<Py_ssize_t>(std::tuple_size<X>::value);
        if (Py_SIZE(obj) != N) return false;
        if constexpr (std::is_floating_point<T>::value) {
            PyObject** items = PySequence_Fast_ITEMS(obj);  // read without running Python code
            Py_ssize_t k = 0;
            for (; k < N && PyFloat_Check(items[k]); ++k)
                out[static_cast<std::size_t>(k)] = static_cast<T>(PyFloat_AS_DOUBLE(items[k]));
            if (k == N) return true;
        }
        // An item's conversion may run Python code that changes the row: each item is fetched afresh, and
        // a row that shrank raises IndexError, as the binding library's array caster does.
        for (Py_ssize_t k = 0; k < N; ++k) {
            const object item = steal_or_raise(PySequence_GetItem(obj, k));
            if (!load_element(item.ptr(), convert, out[static_cast<std::size_t>(k)], poller)) return false;
        }
        return true;
    } else {
        using E = typename X::value_type;
        const bool is_list = PyList_CheckExact(obj);
        out.clear();
        out.reserve(static_cast<std::size_t>(Py_SIZE(obj)));
        // The size and the items are read afresh after every poll and every conversion that may run Python
        // code, which may change the list: a list shrinking ends the loop, as its iterator would.
        for (Py_ssize_t i = 0; i < Py_SIZE(obj);) {
            if constexpr (std::is_floating_point<E>::value) {
                PyObject** items = PySequence_Fast_ITEMS(obj);
                const Py_ssize_t end = std::min<Py_ssize_t>(Py_SIZE(obj), i + static_cast<Py_ssize_t>(kCopyBlock));
                const Py_ssize_t start = i;
                for (; i < end && PyFloat_Check(items[i]); ++i)
                    out.push_back(static_cast<E>(PyFloat_AS_DOUBLE(items[i])));
                poller.tick(static_cast<std::uint64_t>(i - start));
                if (i == end) continue;
            }
            const object item =
                py::reinterpret_borrow<object>(is_list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i));
            E element{};
            if (!load_element(item.ptr(), convert, element, poller)) return false;
            out.push_back(std::move(element));
            poller.tick(is_array<E>::value ? sizeof(E) / sizeof(leaf_t<E>) : 1);
            ++i;
        }
        return true;
    }
}

// A plain ndarray (its type's tolist() is NumPy's) as its tolist() would convert: the items of its first
// axis a block at a time, or, for elements larger than a block, each as an array of its own.
template <class X>
bool load_from_array_items(PyObject* arr, bool convert, X& out, Poller& poller) {
    const auto* a = py::detail::array_proxy(arr);
    if (a->nd == 0) {
        // tolist() is the one item itself.
        const object item = tolist(arr);
        const RecursionGuard guard;
        return load_level(item.ptr(), convert, out, poller);
    }
    const py::ssize_t n = a->dimensions[0];
    if constexpr (is_array<X>::value) {
        // Checked on the shape before tolist(), which a huge array would take long to build.
        if (!row_shape_fits<X>(a->nd, a->dimensions)) return false;
        const object items = tolist(arr);
        for (std::size_t k = 0; k < out.size(); ++k) {
            const object item = list_item(items.ptr(), static_cast<Py_ssize_t>(k));
            if (!item || !load_element(item.ptr(), convert, out[k], poller)) return false;
        }
        return true;
    } else {
        using E = typename X::value_type;
        out.clear();
        if (a->nd > 1 && std::is_arithmetic<E>::value) return n == 0;  // its items are lists
        py::ssize_t inner = 1;
        for (int d = 1; d < a->nd && inner <= kTolistBlock; ++d) inner *= a->dimensions[d];
        if (inner > kTolistBlock) {
            for (py::ssize_t i = 0; i < n; ++i) {
                const object sub = steal_or_raise(PySequence_GetItem(arr, i));
                E element{};
                if (!load_element(sub.ptr(), convert, element, poller)) return false;
                out.push_back(std::move(element));
                poller.tick();
            }
            return true;
        }
        const py::ssize_t rows = std::max<py::ssize_t>(1, kTolistBlock / std::max<py::ssize_t>(1, inner));
        for (py::ssize_t i = 0; i < n; i += rows) {
            const object block = steal_or_raise(PySequence_GetSlice(arr, i, std::min(n, i + rows)));
            const object items = tolist(block.ptr());
            for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.ptr()); ++k) {
                const object item = list_item(items.ptr(), k);
                E element{};
                if (!item || !load_element(item.ptr(), convert, element, poller)) return false;
                out.push_back(std::move(element));
                poller.tick(static_cast<std::uint64_t>(std::max<py::ssize_t>(1, inner)));
            }
        }
        return true;
    }
}

// Whether tolist() of an array of this dtype gives bools, ints or floats that the float caster takes, in
// both passes, as the values NumPy's cast to float64 gives.
inline bool casts_exactly_to_double(const py::detail::PyArrayDescr_Proxy* d) {
    const int num = d->type_num;
    return (num >= py::detail::npy_api::NPY_BOOL_ && num <= py::detail::npy_api::NPY_ULONGLONG_) ||
           num == py::detail::npy_api::NPY_FLOAT_ || num == py::detail::npy_api::NPY_DOUBLE_ || num == kNpyHalf;
}

inline bool is_native_double(const py::detail::PyArrayDescr_Proxy* d) {
    constexpr char native = PY_LITTLE_ENDIAN ? '<' : '>';
    return d->type_num == py::detail::npy_api::NPY_DOUBLE_ && (d->byteorder == '=' || d->byteorder == native);
}

// A plain ndarray: float data read directly, anything else by its tolist() items.
template <class X>
bool load_from_array(PyObject* arr, bool convert, X& out, Poller& poller) {
    if constexpr (std::is_same<leaf_t<X>, double>::value) {
        const auto* a = py::detail::array_proxy(arr);
        const auto* d = py::detail::array_descriptor_proxy(a->descr);
        if (casts_exactly_to_double(d)) {
            if (!shape_fits<X>(a->nd, a->dimensions)) return false;
            if (is_native_double(d)) {
                read_f64(a->data, a->dimensions, a->strides, out, poller);
                return true;
            }
            const CArray c = try_c_contiguous(py::reinterpret_borrow<py::array>(arr));
            if (!c) throw_python_error();
            const auto* ca = py::detail::array_proxy(c.ptr());
            read_f64(ca->data, ca->dimensions, ca->strides, out, poller);
            return true;
        }
    }
    return load_from_array_items(arr, convert, out, poller);
}

// An object with the buffer protocol, as its tolist() would convert.
template <class X>
bool load_from_buffer(PyObject* obj, bool convert, X& out, Poller& poller) {
    auto& api = npy();
    if (api.PyArray_Check_(obj)) {
        if (!tolist_is_numpys(obj)) {
            const object items = tolist(obj);
            const RecursionGuard guard;
            return load_level(items.ptr(), convert, out, poller);
        }
        if (Py_TYPE(obj) == api.PyArray_Type_) return load_from_array(obj, convert, out, poller);
        // A plain view: a subclass's own indexing plays no part in its tolist().
        const object view =
            steal_or_raise(api.PyArray_View_(obj, nullptr, reinterpret_cast<PyObject*>(api.PyArray_Type_)));
        return load_from_array(view.ptr(), convert, out, poller);
    }
    // Another exporter is read as NumPy reads its buffer; the view holds the export, so that the exporter
    // cannot resize its memory meanwhile. A buffer NumPy cannot read keeps the conversion as a sequence.
    const auto memory = py::reinterpret_steal<object>(PyMemoryView_FromObject(obj));
    if (!memory) {
        PyErr_Clear();
        return load_fallback(obj, convert, out);
    }
    const auto arr = py::reinterpret_steal<object>(api.PyArray_FromAny_(memory.ptr(), nullptr, 0, 0, 0, nullptr));
    if (!arr) {
        PyErr_Clear();
        return load_fallback(obj, convert, out);
    }
    return load_from_array(arr.ptr(), convert, out, poller);
}

template <class X>
bool load_level(PyObject* obj, bool convert, X& out, Poller& poller) {
    static_assert(std::is_arithmetic<leaf_t<X>>::value, "sequences of numbers only");
    if (obj == nullptr) return false;
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) return load_from_list(obj, convert, out, poller);
    if (reads_as_buffer(obj)) return load_from_buffer(obj, convert, out, poller);
    return load_fallback(obj, convert, out);
}

// ---- casting ----

// Whether X is a row of numbers: its list allocates no object the collector tracks and polls nowhere, so
// it is complete before any Python code can run.
template <class X>
constexpr bool is_number_row() {
    if constexpr (is_array<X>::value)
        return std::is_arithmetic<typename X::value_type>::value;
    else
        return false;
}

// gc.isenabled, looked up once. (The C function for it is newer than some interpreters that must load the
// module to be told that it is not theirs.)
inline PyObject* gc_isenabled() {
    static PyObject* isenabled = nullptr;  // kept for good, as the gc module keeps it
    if (isenabled == nullptr) {
        const object gc = steal_or_raise(PyImport_ImportModule("gc"));
        isenabled = PyObject_GetAttrString(gc.ptr(), "isenabled");
        if (isenabled == nullptr) throw_python_error();
    }
    return isenabled;
}

// Whether the garbage collector runs collections as objects are allocated: gc.isenabled().
inline bool collector_enabled() {
    const object enabled = steal_or_raise(PyObject_CallObject(gc_isenabled(), nullptr));
    return PyObject_IsTrue(enabled.ptr()) == 1;
}

// Finalizers still call the module while the interpreter shuts down, once imports no longer work; what a call
// imports on first use is looked up before that, at exit (module.cpp): gc.isenabled, and NumPy's C API, which
// the binding library imports with the first array, when NumPy is loaded (a program that never used NumPy is
// not made to import it at exit). A lookup that fails here fails again in the call that needs it.
inline void look_up_before_shutdown() {
    try {
        gc_isenabled();
    } catch (const std::exception&) {
    }
    const auto numpy = py::reinterpret_steal<object>(PyImport_GetModule(py::str("numpy").ptr()));
    if (!numpy) {
        PyErr_Clear();
        return;
    }
    try {
        npy();
    } catch (const std::exception&) {
    }
}

// Builds results as Python objects with the C API: lists for sequences, tuples for pairs.
//
// A list whose building can run Python code (a collection run by the allocation of its items, a poll) is
// kept out of the garbage collector's view until complete, so that no finalizer or signal handler can reach
// it half-built. Rows of numbers are never seen half-built; they are kept out only while the collector is
// enabled, so that the collections the building runs do not scan (and promote) the rows already built.
// Tuples of numbers stay out for good, as the collector itself leaves them. track() hands a complete
// result to the collector.
class Builder {
public:
    // has_rows: whether the results hold rows of numbers, whose handling depends on the collector's state.
    explicit Builder(bool has_rows) : rows_out_(has_rows && collector_enabled()), poller_(tarq::kPollWork) {}

    // A new reference, or null with the Python error set; an interrupt raised by a poll propagates, the
    // partly built objects released.
    template <class X>
    PyObject* make(const X& x) {
        if constexpr (std::is_floating_point<X>::value) {
            return PyFloat_FromDouble(static_cast<double>(x));
        } else if constexpr (std::is_arithmetic<X>::value) {
            return py::detail::make_caster<X>::cast(x, py::return_value_policy::move, handle()).ptr();
        } else if constexpr (is_pair<X>::value) {
            object out = steal_or_raise(PyTuple_New(2));
            if (rows_out_) PyObject_GC_UnTrack(out.ptr());
            PyObject* first = make(x.first);
            if (first == nullptr) return nullptr;
            PyTuple_SET_ITEM(out.ptr(), 0, first);
            PyObject* second = make(x.second);
            if (second == nullptr) return nullptr;
            PyTuple_SET_ITEM(out.ptr(), 1, second);
            return out.release().ptr();
        } else if constexpr (is_number_row<X>()) {
            // The hot case of long results: no poll, no Python code, released by hand on a failure.
            PyObject* out = PyList_New(static_cast<Py_ssize_t>(x.size()));
            if (out == nullptr) return nullptr;
            if (rows_out_) PyObject_GC_UnTrack(out);
            for (std::size_t k = 0; k < x.size(); ++k) {
                PyObject* item = make(x[k]);
                if (item == nullptr) {
                    Py_DECREF(out);
                    return nullptr;
                }
                PyList_SET_ITEM(out, static_cast<Py_ssize_t>(k), item);
            }
            return out;
        } else {
            using E = typename X::value_type;
            const auto n = static_cast<Py_ssize_t>(x.size());
            object out = steal_or_raise(PyList_New(n));
            if (kept_out<X>()) PyObject_GC_UnTrack(out.ptr());
            for (Py_ssize_t i = 0; i < n; ++i) {
                PyObject* item = make(x[static_cast<std::size_t>(i)]);
                if (item == nullptr) return nullptr;  // the partly built list is released with `out`
                PyList_SET_ITEM(out.ptr(), i, item);
                if constexpr (std::is_arithmetic<E>::value)
                    poller_.tick();
                else if constexpr (is_array<E>::value)
                    poller_.tick(std::tuple_size<E>::value);
                else if constexpr (is_pair<E>::value)
                    poller_.tick(2);
                else
                    poller_.tick();
            }
            return out.release().ptr();
        }
    }

    // Hands the lists of a complete result that make() kept out to the collector.
    template <class X>
    void track(PyObject* obj) const {
        if constexpr (is_vector<X>::value || is_array<X>::value) {
            using E = typename X::value_type;
            if constexpr (is_vector<E>::value || is_array<E>::value) {
                if (!is_number_row<E>() || rows_out_)
                    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) track<E>(PyList_GET_ITEM(obj, i));
            }
            if (kept_out<X>()) PyObject_GC_Track(obj);
        }
    }

private:
    template <class X>
    bool kept_out() const {
        return !is_number_row<X>() || rows_out_;
    }

    bool rows_out_;
    Poller poller_;
};

// Whether X holds rows of numbers.
template <class X>
constexpr bool has_number_rows() {
    if constexpr (is_number_row<X>())
        return true;
    else if constexpr (is_vector<X>::value || is_array<X>::value)
        return has_number_rows<typename X::value_type>();
    else
        return false;
}

template <class X>
handle build(const X& x) {
    Builder builder(has_number_rows<X>() || is_pair<typename X::value_type>::value);
    PyObject* out = builder.make(x);
    if (out == nullptr) throw_python_error();
    builder.track<X>(out);
    return out;
}

}  // namespace seq

// Several results, which the caller owns, as one tuple of lists, handed to the garbage collector together
// once all are built: building the later ones then makes no collection scan the earlier ones.
template <class... V>
py::typing::Tuple<V...> result_tuple(const V&... values) {
    seq::Builder builder((seq::has_number_rows<V>() || ...));
    auto out = seq::steal_or_raise(PyTuple_New(sizeof...(V)));
    PyObject_GC_UnTrack(out.ptr());
    Py_ssize_t k = 0;
    const bool built =
        ((PyTuple_SET_ITEM(out.ptr(), k, builder.make(values)), PyTuple_GET_ITEM(out.ptr(), k++) != nullptr) && ...);
    if (!built) seq::throw_python_error();  // the items built so far are released with the tuple
    k = 0;
    (builder.track<V>(PyTuple_GET_ITEM(out.ptr(), k++)), ...);
    PyObject_GC_Track(out.ptr());
    return py::reinterpret_steal<py::typing::Tuple<V...>>(out.release());
}

namespace seq {

// The caster of a vector of numbers, rows or vectors: the binding library's list caster in name and in
// what converts, with the direct paths above.
template <class V>
struct SequenceCaster {
    using Standard = py::detail::list_caster<V, typename V::value_type>;
    PYBIND11_TYPE_CASTER(V, Standard::name);

    bool load(handle src, bool convert) {
        Poller poller(tarq::kPollWork);
        return load_level(src.ptr(), convert, value, poller);
    }

    // An lvalue may be storage that Python code run during the conversion replaces: converted from a copy.
    static handle cast(const V& src, py::return_value_policy, handle) {
        const V copy(src);
        return build(copy);
    }
    static handle cast(V&& src, py::return_value_policy, handle) { return build(src); }
};

// A vector of index pairs, only ever a result: built directly, loaded by the binding library.
template <class V>
struct PairListCaster {
    using Standard = py::detail::list_caster<V, typename V::value_type>;
    PYBIND11_TYPE_CASTER(V, Standard::name);

    bool load(handle src, bool convert) { return load_fallback(src.ptr(), convert, value); }

    static handle cast(const V& src, py::return_value_policy, handle) {
        const V copy(src);
        return build(copy);
    }
    static handle cast(V&& src, py::return_value_policy, handle) { return build(src); }
};

// A fixed-size row as a parameter by itself (a point, a matrix by rows, a grid shape): the binding library's
// array caster in name and in results, loaded as the rows of the vector casters are.
template <class A>
struct RowCaster {
    using Standard = standard_caster_t<A>;
    PYBIND11_TYPE_CASTER(A, Standard::name);

    bool load(handle src, bool convert) {
        Poller poller(tarq::kPollWork);
        return load_level(src.ptr(), convert, value, poller);
    }

    // Converted from a copy: the result's list is allocated before the values are read, and a collection
    // run by that allocation may run a finalizer that replaces the very field being converted.
    static handle cast(const A& src, py::return_value_policy policy, handle parent) {
        const A copy(src);
        return Standard::cast(copy, policy, parent);
    }
};

}  // namespace seq
}  // namespace tarq_py

namespace pybind11::detail {

// A CArray parameter: an array that must be copied into C order (strided, broadcast, another dtype) is copied
// by try_c_contiguous, which polls for interrupts between blocks, instead of in one NumPy call that Ctrl-C
// cannot stop. What converts, and in which overload pass, is what the binding library's own caster gives.
template <>
struct pyobject_caster<tarq_py::CArray> {
    using type = tarq_py::CArray;
    PYBIND11_TYPE_CASTER(type, handle_type_name<type>::name);

    bool load(handle src, bool convert) {
        if (!convert && !type::check_(src)) return false;
        if (src && !type::check_(src) && isinstance<array>(src)) {
            value = tarq_py::try_c_contiguous(reinterpret_borrow<array>(src));
            if (!value) PyErr_Clear();  // as ensure() does: the overload does not match
        } else {
            value = type::ensure(src);
        }
        return static_cast<bool>(value);
    }

    static handle cast(const handle& src, return_value_policy, handle) { return src.inc_ref(); }
};

template <>
struct type_caster<std::vector<double>> : tarq_py::seq::SequenceCaster<std::vector<double>> {};

template <class T, std::size_t N>
struct type_caster<std::vector<std::array<T, N>>> : tarq_py::seq::SequenceCaster<std::vector<std::array<T, N>>> {};

template <>
struct type_caster<std::vector<std::vector<double>>>
    : tarq_py::seq::SequenceCaster<std::vector<std::vector<double>>> {};

template <class T, std::size_t N>
struct type_caster<std::vector<std::vector<std::array<T, N>>>>
    : tarq_py::seq::SequenceCaster<std::vector<std::vector<std::array<T, N>>>> {};

template <>
struct type_caster<std::vector<std::pair<int, int>>>
    : tarq_py::seq::PairListCaster<std::vector<std::pair<int, int>>> {};

// Rows by themselves, for the leaf types that bound rows hold (Vec3, GridShape, PD rows), and rows of rows
// (Mat3). More specialized than the binding library's caster of std::array, which they replace.
template <std::size_t N>
struct type_caster<std::array<double, N>> : tarq_py::seq::RowCaster<std::array<double, N>> {};

template <std::size_t N>
struct type_caster<std::array<int, N>> : tarq_py::seq::RowCaster<std::array<int, N>> {};
static_assert(std::is_same<std::int32_t, int>::value, "GridShape's rows take the int caster above");

template <class T, std::size_t M, std::size_t N>
struct type_caster<std::array<std::array<T, M>, N>> : tarq_py::seq::RowCaster<std::array<std::array<T, M>, N>> {};

}  // namespace pybind11::detail
