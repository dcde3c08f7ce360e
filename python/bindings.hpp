#pragma once

// Included first by every binding file, so that every translation unit of the module sees the
// same casters: the three bound vectors are opaque (they stay library lists, shared by
// reference, instead of being converted to Python lists).

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>
#include <pybind11/stl_bind.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/columnar/rows.hpp"
#include "tessel/tessel.hpp"

namespace py = pybind11;

/// The name of a settings file as passed from Python: `SettingsPath` takes what a filesystem
/// path takes (str, bytes or os.PathLike), `SettingsName` what a string takes (str or bytes).
/// Like Python's own `open`, both refuse a name holding a NUL character with ValueError
/// ("embedded null character" for text, "embedded null byte" for bytes) instead of letting the
/// system open the file named by the part before it.
struct SettingsPath {
    std::filesystem::path path;
};
struct SettingsName {
    std::string name;
};

/// Text from the library (UTF-8) as a Python str, with bytes that are not UTF-8 (a file name or
/// a table field in another encoding) shown as \xNN escapes rather than failing to decode.
inline py::str shown(std::string_view text) {
    PyObject* decoded =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(decoded);
}

/// A file name from the library as Python's own os functions give it: bytes that are not UTF-8
/// become surrogate escapes, so that the name opens the same file again.
inline py::str file_name(std::string_view name) {
    PyObject* decoded =
        PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(decoded);
}

namespace pybind11::detail {

/// Throws ValueError if `name` (str or bytes) holds a NUL character; other objects pass.
inline void refuse_embedded_nul(handle name) {
    const char* what = nullptr;
    if (PyUnicode_Check(name.ptr())) {
        const Py_ssize_t length = PyUnicode_GetLength(name.ptr());
        if (PyUnicode_FindChar(name.ptr(), 0, 0, length, 1) != -1) {
            what = "embedded null character";
        }
    } else if (PyBytes_Check(name.ptr())) {
        const std::string_view bytes(PyBytes_AS_STRING(name.ptr()),
                                     static_cast<std::size_t>(PyBytes_GET_SIZE(name.ptr())));
        if (bytes.find('\0') != std::string_view::npos) {
            what = "embedded null byte";
        }
    }
    if (what != nullptr) {
        throw value_error(std::string(what) + " in the file name " +
                          repr(name).cast<std::string>());
    }
}

template <>
struct type_caster<SettingsPath> {
    PYBIND11_TYPE_CASTER(SettingsPath, make_caster<std::filesystem::path>::name);

    bool load(handle src, bool convert) {
        // os.fspath first, as `open` does: a path-like object's name is checked too.
        object name = reinterpret_steal<object>(PyOS_FSPath(src.ptr()));
        if (!name) {
            PyErr_Clear();
            return false;
        }
        refuse_embedded_nul(name);
        make_caster<std::filesystem::path> path;
        if (!path.load(src, convert)) {
            return false;
        }
        value.path = cast_op<std::filesystem::path&&>(std::move(path));
        return true;
    }
};

template <>
struct type_caster<SettingsName> {
    PYBIND11_TYPE_CASTER(SettingsName, make_caster<std::string>::name);

    bool load(handle src, bool convert) {
        if (PyUnicode_Check(src.ptr())) {
            // Encoded as `open` encodes a str name, so that one read from the file system (with
            // its undecodable bytes as surrogate escapes) names the same file.
            refuse_embedded_nul(src);
            const auto bytes = reinterpret_steal<object>(PyUnicode_EncodeFSDefault(src.ptr()));
            if (!bytes) {
                PyErr_Clear();
                return false;
            }
            value.name.assign(PyBytes_AS_STRING(bytes.ptr()),
                              static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
            return true;
        }
        make_caster<std::string> name;
        if (!name.load(src, convert)) {
            return false;
        }
        refuse_embedded_nul(src);
        value.name = cast_op<std::string&&>(std::move(name));
        return true;
    }
};

}  // namespace pybind11::detail

PYBIND11_MAKE_OPAQUE(std::vector<tessel::Hit>)
PYBIND11_MAKE_OPAQUE(std::vector<tessel::HitFeatures>)
PYBIND11_MAKE_OPAQUE(std::vector<std::uint16_t>)

// The row types `HitNumpyRow` and `HitFeaturesNumpyRow` (and the trigger rows of the columnar
// path) are the library's, with their layouts pinned in tessel/columnar/rows.hpp: the batch
// functions write them directly.
using tessel::HitFeaturesNumpyRow;
using tessel::HitNumpyRow;

/// Row data types (hit, feature and trigger rows), `hit_dtype` / `hit_features_dtype` and the
/// four conversion functions.
void register_numpy(py::module_& m);
/// `VectorHitFeatures`, `VectorHit`, `VectorUInt16`, each convertible from any iterable.
void register_vectors(py::module_& m);
/// `Hit`, `TarvoTrigger`, `MultiPMTTrigger`, `HitFeatures`, `RunInfo`.
void register_records(py::module_& m);
/// `FeatureExtractor`, `HitMaker`, `ChargeReconstruction`, each with all its methods (object
/// and columnar).
void register_pipeline(py::module_& m);
/// Translation of chained library errors into chained Python exceptions.
void register_errors(py::module_& m);
/// `SettingsProblem`, `check_settings` and `summarize_settings`: the check of a settings file.
void register_check(py::module_& m);
/// `ChannelTable`, and the channel table of a `FeatureExtractor` (after register_pipeline).
void register_channels(py::module_& m);
