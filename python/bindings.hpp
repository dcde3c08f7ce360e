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
#include <vector>

#include "tessel/rows.hpp"
#include "tessel/tessel.hpp"

namespace py = pybind11;

PYBIND11_MAKE_OPAQUE(std::vector<tessel::Hit>)
PYBIND11_MAKE_OPAQUE(std::vector<tessel::HitFeatures>)
PYBIND11_MAKE_OPAQUE(std::vector<std::uint16_t>)

// The row types `HitNumpyRow` and `HitFeaturesNumpyRow` (and the trigger rows of the columnar
// path) are the library's, with their layouts pinned in tessel/rows.hpp: the batch functions
// write them directly.
using tessel::HitFeaturesNumpyRow;
using tessel::HitNumpyRow;

/// Row data types, `hit_dtype` / `hit_features_dtype` and the four conversion functions.
void register_numpy(py::module_& m);
/// `VectorHitFeatures`, `VectorHit`, `VectorUInt16`, each convertible from any iterable.
void register_vectors(py::module_& m);
/// `Hit`, `TarvoTrigger`, `MultiPMTTrigger`, `HitFeatures`, `RunInfo`.
void register_records(py::module_& m);
/// `FeatureExtractor`, `HitMaker`, `ChargeReconstruction`.
void register_pipeline(py::module_& m);
/// Translation of chained library errors into chained Python exceptions.
void register_errors(py::module_& m);
/// The columnar path: trigger row types, `tarvo_trigger_dtype`, `multipmt_trigger_dtype`, and
/// the `*_numpy` batch methods of FeatureExtractor, HitMaker and ChargeReconstruction.
void register_columnar(py::module_& m);
/// `SettingsProblem`, `check_settings` and `summarize_settings`: the check of a settings file.
void register_check(py::module_& m);
