#include "bindings.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

using tessel::Hit;
using tessel::HitFeatures;

template <class Row>
using RowArray = py::array_t<Row, py::array::forcecast>;

// Rows are written and read by the library's conversions (tessel/columnar/rows.hpp): -1 marks an
// unset integer feature, the quiet NaN 0x7FF8000000000000 an unset floating-point one.

/// Asks the kernel to back the reserved storage of a large list with huge pages, as NumPy does for
/// its arrays: filling a new list of millions of records otherwise costs more in page faults (one
/// per 4 KiB) than in the conversion itself.  Only a hint; without it nothing changes but speed.
template <class T>
void advise_huge_pages(const std::vector<T>& list) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21U;
    const auto begin = reinterpret_cast<std::uintptr_t>(list.data());
    const std::uintptr_t first = (begin + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (begin + list.capacity() * sizeof(T)) & ~(huge_page - 1);
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)list;
#endif
}

/// The rows of `array` must lie along its only axis.  The row axis could be taken as the first
/// axis of any array, but silently reading the first column of a 2-D array (or rejecting a 0-d
/// scalar in some other place) hides mistakes; arrays of any other dimension are refused with a
/// ValueError that names their shape.
void require_one_dimension(const py::array& array) {
    if (array.ndim() == 1) {
        return;
    }
    std::string shape = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis) {
        if (axis > 0) {
            shape += ", ";
        }
        shape += std::to_string(array.shape(axis));
    }
    shape += ")";
    throw py::value_error("expected a one-dimensional array of rows, got an array of shape " +
                          shape);
}

RowArray<HitNumpyRow> hit_list_to_numpy(const std::vector<Hit>& hits) {
    RowArray<HitNumpyRow> array(static_cast<py::ssize_t>(hits.size()));
    HitNumpyRow* rows = array.mutable_data();
    for (const Hit& hit : hits) {
        *rows++ = tessel::hit_to_row(hit);
    }
    return array;
}

std::vector<Hit> numpy_to_hit_list(const RowArray<HitNumpyRow>& array) {
    require_one_dimension(array);
    // unchecked<1> indexes through the array's strides, so strided views are read correctly.
    const auto rows = array.unchecked<1>();
    std::vector<Hit> hits;
    hits.reserve(static_cast<std::size_t>(rows.shape(0)));
    advise_huge_pages(hits);
    for (py::ssize_t i = 0; i < rows.shape(0); ++i) {
        hits.push_back(tessel::row_to_hit(rows(i)));
    }
    return hits;
}

RowArray<HitFeaturesNumpyRow> hit_features_list_to_numpy(const std::vector<HitFeatures>& features) {
    RowArray<HitFeaturesNumpyRow> array(static_cast<py::ssize_t>(features.size()));
    HitFeaturesNumpyRow* rows = array.mutable_data();
    for (const HitFeatures& f : features) {
        *rows++ = tessel::features_to_row(f);
    }
    return array;
}

std::vector<HitFeatures> numpy_to_hit_features_list(const RowArray<HitFeaturesNumpyRow>& array) {
    require_one_dimension(array);
    const auto rows = array.unchecked<1>();
    std::vector<HitFeatures> features;
    features.reserve(static_cast<std::size_t>(rows.shape(0)));
    advise_huge_pages(features);
    for (py::ssize_t i = 0; i < rows.shape(0); ++i) {
        tessel::row_to_features(rows(i), features.emplace_back());
    }
    return features;
}

}  // namespace

void register_numpy(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(HitNumpyRow, channel, id, time, charge, time_uncertainty,
                         charge_uncertainty);
    PYBIND11_NUMPY_DTYPE(HitFeaturesNumpyRow, channel, pmt_type, id, trigger_time,
                         waveform_integral, time_over_threshold, adc_sample, rising_edge_time);
    PYBIND11_NUMPY_DTYPE(tessel::TarvoTriggerNumpyRow, channel, trigger_time_s, trigger_time_ticks,
                         baseline, intsum);
    PYBIND11_NUMPY_DTYPE(tessel::MultiPMTTriggerNumpyRow, time, channel, time_over_threshold,
                         adc_sample);
    PYBIND11_NUMPY_DTYPE(tessel::PulseShape, id, channel, first_sample, last_sample, baseline,
                         amplitude, peak_time, width, rise_time, baseline_rms, index, saturated,
                         no_return);
    m.attr("hit_dtype") = py::dtype::of<HitNumpyRow>();
    m.attr("hit_features_dtype") = py::dtype::of<HitFeaturesNumpyRow>();

    // The list types are bound after these functions, so the signatures pybind11 would generate
    // here could only name the C++ types; they are written out instead, in pybind11's layout.
    py::options options;
    options.disable_function_signatures();

    m.def("hit_list_to_numpy", &hit_list_to_numpy, py::arg("hits"),
          R"doc(hit_list_to_numpy(hits: orvane.VectorHit) -> numpy.typing.NDArray[numpy.void]

Convert a list of Hit objects to a structured numpy array.

Parameters
----------
hits : VectorHit
    List of Hit objects to convert.

Returns
-------
numpy.ndarray
    One-dimensional array of rows with the fields channel, id, time, charge, time_uncertainty
    and charge_uncertainty (dtype hit_dtype).)doc");
    m.def("numpy_to_hit_list", &numpy_to_hit_list, py::arg("np_array"),
          R"doc(numpy_to_hit_list(np_array: numpy.typing.ArrayLike) -> orvane.VectorHit

Convert a structured numpy array to a list of Hit objects.

Parameters
----------
np_array : numpy.ndarray
    One-dimensional structured array with the fields channel, id, time, charge,
    time_uncertainty and charge_uncertainty (dtype hit_dtype, or convertible to it).

Returns
-------
VectorHit
    List of Hit objects.)doc");
    m.def(
        "hit_features_list_to_numpy", &hit_features_list_to_numpy, py::arg("features"),
        R"doc(hit_features_list_to_numpy(features: orvane.VectorHitFeatures) -> numpy.typing.NDArray[numpy.void]

Convert a list of HitFeatures objects to a structured numpy array.
Unset fields are represented with -1 for integers and NaN for floats.

Parameters
----------
features : VectorHitFeatures
    List of HitFeatures objects to convert.

Returns
-------
numpy.ndarray
    One-dimensional array of rows with the fields channel, pmt_type, id, trigger_time,
    waveform_integral, time_over_threshold, adc_sample and rising_edge_time
    (dtype hit_features_dtype).)doc");
    m.def(
        "numpy_to_hit_features_list", &numpy_to_hit_features_list, py::arg("np_array"),
        R"doc(numpy_to_hit_features_list(np_array: numpy.typing.ArrayLike) -> orvane.VectorHitFeatures

Convert a structured numpy array to a list of HitFeatures objects.
Fields with -1 for integers and NaN for floats are considered unset.

Parameters
----------
np_array : numpy.ndarray
    One-dimensional structured array with the fields channel, pmt_type, id, trigger_time,
    waveform_integral, time_over_threshold, adc_sample and rising_edge_time
    (dtype hit_features_dtype, or convertible to it).

Returns
-------
VectorHitFeatures
    List of HitFeatures objects.)doc");
}
