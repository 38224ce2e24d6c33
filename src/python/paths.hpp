// File names between Python and the library. Names are bytes on disk: a str argument reaches the file
// system as os.fsencode gives it (so a name that os.listdir returned with surrogate escapes is the name on
// disk), and a name or message handed back decodes as os.fsdecode does, so that os.fsencode of it gives
// the bytes back. Any os.PathLike (pathlib.Path) stands for the name its __fspath__ gives. Include after
// common.hpp.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/common.hpp"
#include "python/text.hpp"

namespace tarq_py {

// A path argument or result: the bytes of the name.
struct FsPath {
    std::string bytes;
};

// The bytes as os.fsdecode gives them (a new reference; null with a Python error set on failure).
inline PyObject* fs_decode(const std::string& bytes) {
    return PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

// Parameter types of a library function as Python passes them: a path (a std::string parameter) and a
// list of paths arrive as FsPath, anything else unchanged.
template <class T>
struct PathParam {
    using type = T;
    static T pass(T v) { return std::forward<T>(v); }
};
template <>
struct PathParam<const std::string&> {
    using type = const FsPath&;
    static const std::string& pass(const FsPath& p) { return p.bytes; }
};
template <>
struct PathParam<const std::vector<std::string>&> {
    using type = const std::vector<FsPath>&;
    static std::vector<std::string> pass(const std::vector<FsPath>& paths) {
        std::vector<std::string> out;
        out.reserve(paths.size());
        for (const FsPath& p : paths) out.push_back(p.bytes);
        return out;
    }
};

// A library function whose string parameters are all file names, bound so that they arrive as FsPath.
template <class R, class... Args>
auto with_fs_paths(R (*f)(Args...)) {
    return [f](typename PathParam<Args>::type... args) -> R { return f(PathParam<Args>::pass(args)...); };
}

// A std::string field of a record that holds a file name, read and written as FsPath.
template <class Record, class... Options>
void def_path_field(py::class_<Record, Options...>& cls, const char* name, std::string Record::*field) {
    cls.def_property(
        name,
        py::cpp_function([field](const Record& r) { return FsPath{r.*field}; }, py::is_method(cls)),
        py::cpp_function([field](Record& r, const FsPath& p) { r.*field = p.bytes; }, py::is_method(cls)));
}

}  // namespace tarq_py

namespace pybind11::detail {

template <>
struct type_caster<tarq_py::FsPath> {
    PYBIND11_TYPE_CASTER(tarq_py::FsPath, const_name("str"));

    // A str (encoded as os.fsencode does), or bytes and bytearray as they are, as for any string argument,
    // or an os.PathLike whose __fspath__ gives a str or bytes. An exception that __fspath__ raises (a
    // KeyboardInterrupt among them) or a result of another type is raised as os.fspath raises it, rather
    // than hidden as a mismatched argument; any other object is refused.
    bool load(handle src, bool) {
        PyObject* obj = src.ptr();
        if (obj == nullptr) return false;
        if (PyByteArray_Check(obj)) return tarq_py::raw_bytes(obj, value.bytes);
        if (!PyUnicode_Check(obj) && !PyBytes_Check(obj) &&
            !PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__fspath__"))
            return false;
        const auto name = reinterpret_steal<object>(PyOS_FSPath(obj));
        if (!name) throw error_already_set();
        if (tarq_py::raw_bytes(name.ptr(), value.bytes)) return true;
        return tarq_py::take_encoded(PyUnicode_EncodeFSDefault(name.ptr()), value.bytes);
    }

    static handle cast(const tarq_py::FsPath& src, return_value_policy, handle) {
        PyObject* out = tarq_py::fs_decode(src.bytes);
        if (out == nullptr) throw error_already_set();
        return out;
    }
};

}  // namespace pybind11::detail
