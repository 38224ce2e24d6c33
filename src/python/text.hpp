// Text that the library reads from files (block headers, record ids and Conway names, the embedded texts)
// between Python and the library. A file holds bytes, which need not be UTF-8: they decode as UTF-8 with
// surrogate escapes whatever the locale, and a str handed back encodes the same way, so that a record read
// and written again keeps its bytes. Valid UTF-8 reads as it always did. File names are not text: they go
// through FsPath (paths.hpp). Include after common.hpp.
#pragma once

#include <string>

#include <pybind11/typing.h>

#include "python/common.hpp"
#include "core/types.hpp"

namespace tarq_py {

// A text argument or result: its bytes.
struct Text {
    std::string bytes;
};

// The bytes of a bytes or bytearray object, taken as they are, as the binding library does for any string
// argument; false for any other object.
inline bool raw_bytes(PyObject* obj, std::string& out) {
    if (PyBytes_Check(obj)) {
        out.assign(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        return true;
    }
    if (PyByteArray_Check(obj)) {
        out.assign(PyByteArray_AS_STRING(obj), static_cast<std::size_t>(PyByteArray_GET_SIZE(obj)));
        return true;
    }
    return false;
}

// The bytes of `encoded`, a new reference from an encoder (released here); false, with the encoder's error
// cleared, when it is null: a str without a byte form is refused like any argument of another type.
inline bool take_encoded(PyObject* encoded, std::string& out) {
    if (encoded == nullptr) {
        PyErr_Clear();
        return false;
    }
    out.assign(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
    return true;
}

// The bytes as a str (a new reference; null with a Python error set on failure).
inline PyObject* text_decode(const std::string& bytes) {
    return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
}

// A std::string field of a record that holds text, read and written as Text.
template <class Record, class... Options>
void def_text_field(py::class_<Record, Options...>& cls, const char* name, std::string Record::*field) {
    cls.def_property(
        name,
        py::cpp_function([field](const Record& r) { return Text{r.*field}; }, py::is_method(cls)),
        py::cpp_function([field](Record& r, const Text& t) { r.*field = t.bytes; }, py::is_method(cls)));
}

// Texts keyed by name as a dict; the keys are names given in the build, as any str result. Typed, so that
// the signature names what the dict holds.
inline py::typing::Dict<py::str, py::str> text_dict(const tarq::KnotFileMap& texts) {
    py::typing::Dict<py::str, py::str> out;
    for (const auto& [name, text] : texts) {
        const auto value = py::reinterpret_steal<py::object>(text_decode(text));
        if (!value) throw py::error_already_set();
        out[py::cast(name)] = value;
    }
    return out;
}

}  // namespace tarq_py

namespace pybind11::detail {

template <>
struct type_caster<tarq_py::Text> {
    PYBIND11_TYPE_CASTER(tarq_py::Text, const_name("str"));

    // A str (UTF-8, surrogate escapes back to their bytes), or bytes and bytearray as they are. A str that
    // does not encode (a surrogate that is no escape) is refused, as for any string argument.
    bool load(handle src, bool) {
        PyObject* obj = src.ptr();
        if (obj == nullptr) return false;
        if (!PyUnicode_Check(obj)) return tarq_py::raw_bytes(obj, value.bytes);
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size)) {
            value.bytes.assign(utf8, static_cast<std::size_t>(size));
            return true;
        }
        PyErr_Clear();
        return tarq_py::take_encoded(PyUnicode_AsEncodedString(obj, "utf-8", "surrogateescape"), value.bytes);
    }

    static handle cast(const tarq_py::Text& src, return_value_policy, handle) {
        PyObject* out = tarq_py::text_decode(src.bytes);
        if (out == nullptr) throw error_already_set();
        return out;
    }
};

}  // namespace pybind11::detail
