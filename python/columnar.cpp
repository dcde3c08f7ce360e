// The columnar methods: trigger rows and sample arrays in, feature or hit rows out, with no
// Python object per trigger.  The work is done by tessel/columnar/batch.hpp, which takes each
// trigger through the same step and hit making as the object path; this file only checks and
// converts the arrays, releases the interpreter lock around the loop and publishes the result.
// The classes themselves, with these methods among the others, are defined in
// register_pipeline.cpp.

#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "columnar.hpp"
#include "py_callable_reconstructor.hpp"
#include "tessel/columnar/batch.hpp"

namespace {

using tessel::HitFeaturesNumpyRow;
using tessel::HitNumpyRow;
using tessel::MultiPMTTriggerNumpyRow;
using tessel::TarvoTriggerNumpyRow;

constexpr const char* TARVO_FIELDS =
    "channel, trigger_time_s, trigger_time_ticks, baseline, intsum";
constexpr const char* MULTIPMT_FIELDS = "time, channel, time_over_threshold, adc_sample";
constexpr const char* FEATURE_FIELDS =
    "channel, pmt_type, id, trigger_time, waveform_integral, time_over_threshold, adc_sample, "
    "rising_edge_time";

py::object numpy() { return py::module_::import("numpy"); }

std::string shape_text(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis) {
        text += (axis > 0 ? ", " : "") + std::to_string(array.shape(axis));
    }
    return text + (array.ndim() == 1 ? ",)" : ")");
}

/// `np.asarray(obj, dtype)`; a failed conversion becomes a TypeError naming the argument, with
/// NumPy's error as its cause.
py::array as_array(const py::handle& obj, const py::object& dtype, const std::string& what) {
    try {
        return numpy().attr("asarray")(obj, dtype);
    } catch (py::error_already_set& error) {
        py::raise_from(error, PyExc_TypeError,
                       (what + " cannot be converted to a NumPy array" +
                        (dtype.is_none() ? "" : " of the required dtype"))
                           .c_str());
        throw py::error_already_set();
    }
}

/// A one-dimensional array of `Row`.  An array of the row type (any strides) is used in place;
/// another structured array with the same field names in the same order (other field types,
/// byte order or padding) and a sequence of tuples are converted by NumPy.  Anything else, in
/// particular a plain numeric array that NumPy would broadcast into every field, is refused.
template <class Row>
py::array rows_argument(const py::handle& obj, const char* name, const char* dtype_name,
                        const char* fields) {
    const auto target = py::dtype::of<Row>();
    if (py::isinstance<py::array>(obj)) {
        const auto given = py::reinterpret_borrow<py::array>(obj).dtype();
        if (!given.has_fields() || !given.attr("names").equal(target.attr("names"))) {
            throw py::type_error(std::string(name) + " must be an array of " + dtype_name +
                                 " rows (fields " + fields + "), got dtype " +
                                 py::str(given).cast<std::string>());
        }
    }
    py::array rows = as_array(obj, target, name);
    if (rows.ndim() != 1) {
        throw py::value_error(std::string(name) +
                              " must be a one-dimensional array of rows, got shape " +
                              shape_text(rows));
    }
    return rows;
}

/// An integer array of `ndim` dimensions as `Int`.  Integer (or boolean) arrays of another type
/// are converted after checking that every value fits, so that nothing wraps around; floating
/// point and other kinds are refused, as the object path refuses them for samples.
template <class Int>
py::array integer_argument(const py::handle& obj, const std::string& name, py::ssize_t ndim,
                           const std::string& layout) {
    py::array array = as_array(obj, py::none(), name);
    const char kind = array.dtype().kind();
    if (kind != 'u' && kind != 'i' && kind != 'b') {
        throw py::type_error(name + " must be an array of integers (" +
                             py::str(py::dtype::of<Int>()).cast<std::string>() + "), got dtype " +
                             py::str(array.dtype()).cast<std::string>());
    }
    if (array.ndim() != ndim) {
        throw py::value_error(name + " must be " + layout + ", got shape " + shape_text(array));
    }
    const auto target = py::dtype::of<Int>();
    if (array.dtype().equal(target)) {
        return array;
    }
    if (array.size() > 0) {
        const py::object low = array.attr("min")();
        const py::object high = array.attr("max")();
        const py::int_ lowest(std::numeric_limits<Int>::min());
        const py::int_ highest(std::numeric_limits<Int>::max());
        if (low < lowest || high > highest) {
            throw py::value_error(name + " holds values from " + py::str(low).cast<std::string>() +
                                  " to " + py::str(high).cast<std::string>() +
                                  ", outside the range of " + py::str(target).cast<std::string>() +
                                  " (" + py::str(lowest).cast<std::string>() + " to " +
                                  py::str(highest).cast<std::string>() + ")");
        }
    }
    return array.attr("astype")(target);
}

/// The checked arrays of one call on Tarvo triggers.  The arrays are held here so that the raw
/// views stay valid while the interpreter lock is released.
struct TarvoInput {
    py::array triggers;
    py::array samples;
    py::array offsets;
    tessel::StridedRows<TarvoTriggerNumpyRow> rows;
    tessel::WaveformRows waveforms = tessel::WaveformRows::fixed({}, 0, 0);
};

TarvoInput tarvo_input(const py::handle& triggers, const py::handle& waveforms,
                       const py::handle& offsets) {
    TarvoInput in;
    in.triggers = rows_argument<TarvoTriggerNumpyRow>(triggers, "triggers", "tarvo_trigger_dtype",
                                                      TARVO_FIELDS);
    in.rows = {in.triggers.data(), static_cast<std::size_t>(in.triggers.shape(0)),
               in.triggers.strides(0)};
    if (offsets.is_none()) {
        in.samples = integer_argument<std::uint16_t>(
            waveforms, "waveforms", 2,
            "a two-dimensional array (triggers, samples) when offsets is None");
        in.waveforms = tessel::WaveformRows::fixed(in.samples.data(),
                                                   static_cast<std::size_t>(in.samples.shape(0)),
                                                   static_cast<std::size_t>(in.samples.shape(1)),
                                                   in.samples.strides(0), in.samples.strides(1));
    } else {
        in.samples = integer_argument<std::uint16_t>(
            waveforms, "waveforms", 1, "a one-dimensional array of samples when offsets are given");
        in.offsets = integer_argument<std::int64_t>(offsets, "offsets", 1,
                                                    "a one-dimensional array of n + 1 offsets");
        in.waveforms = tessel::WaveformRows::ragged(
            in.samples.data(), static_cast<std::size_t>(in.samples.shape(0)), in.samples.strides(0),
            in.offsets.data(), static_cast<std::size_t>(in.offsets.shape(0)),
            in.offsets.strides(0));
    }
    return in;
}

template <class Row>
tessel::StridedRows<Row> strided(const py::array& rows) {
    return {rows.data(), static_cast<std::size_t>(rows.shape(0)), rows.strides(0)};
}

/// Whether a Python-callable reconstructor takes part: then the lock is kept, and the callable
/// is called as the object path calls it.
bool calls_python(const tessel::HitMaker& hit_maker) {
    for (const auto& reconstructor : hit_maker.reconstructors()) {
        if (dynamic_cast<const PyCallableReconstructor*>(reconstructor.get()) != nullptr) {
            return true;
        }
    }
    return false;
}

/// Runs `work` without the interpreter lock unless `keep_lock`.  What `work` reads must not be
/// changeable from Python meanwhile: the arrays' shapes are fixed while they are referenced,
/// `run_info` is taken by value, a stand-alone HitMaker is used through `borrowed_copy`, and a
/// FeatureExtractor or ChargeReconstruction offers no operation that changes it.
template <class Work>
std::size_t run(bool keep_lock, Work&& work) {
    if (keep_lock) {
        return std::forward<Work>(work)();
    }
    py::gil_scoped_release release;
    return std::forward<Work>(work)();
}

/// A new array of `capacity` rows, filled by `fill` (which returns the rows written) and cut to
/// that count.  The array is created at its largest size (as many rows per input row as a
/// trigger yields records at most, one hit per record) and shrunk in place, so no second copy of
/// the output ever exists; nothing reaches the caller if `fill` throws.
template <class Row, class Fill>
py::array_t<Row> output_rows(std::size_t capacity, Fill&& fill) {
    py::array_t<Row> out(static_cast<py::ssize_t>(capacity));
    const std::size_t written = std::forward<Fill>(fill)(out.mutable_data());
    if (written != capacity) {
        out.resize({static_cast<py::ssize_t>(written)}, false);
    }
    return out;
}

/// `rows`, or (rows, truncated) when asked for the count of truncated triggers.
template <class Row>
py::object with_truncated(py::array_t<Row> rows, std::size_t truncated, bool asked) {
    if (!asked) {
        return std::move(rows);
    }
    return py::make_tuple(std::move(rows), truncated);
}

constexpr const char* TARVO_ARGUMENTS = R"doc(triggers : numpy.ndarray
    One-dimensional array of tarvo_trigger_dtype rows (channel, trigger_time_s,
    trigger_time_ticks, baseline, intsum), one per trigger.  Any strides are read in place;
    another structured array with the same field names, or a sequence of tuples, is
    converted.
waveforms : numpy.ndarray
    The samples (LSB): with offsets None, a two-dimensional array (triggers, samples) of
    waveforms of one length; otherwise a flat one-dimensional array of samples.  Any strides
    are read in place; other integer types are converted if every value lies in 0..65535.
offsets : numpy.ndarray, optional
    With a flat waveforms array: n + 1 non-decreasing int64 offsets within
    [0, len(waveforms)], waveform i being waveforms[offsets[i]:offsets[i + 1]] (the list
    layout of Arrow and awkward arrays); offsets[0] need not be 0.
first_trigger : int, optional
    Position in the run of the first row (default 0): row i gets trigger position
    first_trigger + i in its hit id, so that a run processed in chunks gets the ids of a
    single call.
run_info : RunInfo, optional
    Run information (default is a simulation run).
return_truncated : bool, optional
    Also return how many waveforms held more pulses than the 16 records a trigger can
    have (default False).)doc";

constexpr const char* TARVO_RAISES = R"doc(Raises
------
TypeError
    An argument that is not an array of the required kind (wrong fields, non-integer
    samples or offsets, something NumPy cannot convert).
ValueError
    Wrong dimensions; waveforms rows or offsets not matching the triggers; offsets that
    decrease or point outside the samples; sample values outside 0..65535; trigger positions
    that do not fit the hit id; a waveform of fewer than 3 samples that is not dropped first
    (the message names its row).  Nothing is returned when an error is raised.)doc";

/// The signature line that stub generators read (pybind11's own would name C++ types), then the
/// docstring.
std::string with_signature(const char* cls, const char* name, const char* parameters,
                           const std::string& doc,
                           const char* returns = "numpy.typing.NDArray[numpy.void]") {
    return std::string(name) + "(self: orvane." + cls + ", " + parameters + ") -> " + returns +
           "\n\n" + doc;
}

constexpr const char* TARVO_SIGNATURE =
    "triggers: numpy.typing.ArrayLike, waveforms: numpy.typing.ArrayLike, "
    "offsets: numpy.typing.ArrayLike | None = None, "
    "first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, "
    "run_info: orvane.RunInfo = RunInfo.simulation_run(), return_truncated: bool = False";
constexpr const char* TARVO_RETURNS =
    "numpy.typing.NDArray[numpy.void] | tuple[numpy.typing.NDArray[numpy.void], int]";
constexpr const char* MULTIPMT_SIGNATURE =
    "triggers: numpy.typing.ArrayLike, "
    "first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, "
    "run_info: orvane.RunInfo = RunInfo.simulation_run()";

std::string tarvo_doc(const char* cls, const char* name, const char* summary, const char* returns) {
    return with_signature(cls, name, TARVO_SIGNATURE,
                          std::string(summary) + "\n\nParameters\n----------\n" + TARVO_ARGUMENTS +
                              "\n\nReturns\n-------\nnumpy.ndarray or tuple\n    " + returns +
                              "\n    With return_truncated, a tuple (rows, truncated): truncated "
                              "counts the\n    waveforms that held more pulses than a trigger's "
                              "16 records (the first 16\n    were kept; only the pulse finder "
                              "finds several).\n\n" +
                              TARVO_RAISES,
                          TARVO_RETURNS);
}

}  // namespace

py::object extract_tarvo_numpy(const tessel::FeatureExtractor& self, const py::handle& triggers,
                               const py::handle& waveforms, const py::handle& offsets,
                               std::uint64_t first_trigger, tessel::RunInfo run_info,
                               bool return_truncated) {
    const TarvoInput in = tarvo_input(triggers, waveforms, offsets);
    const tessel::TriggerStep step = self.step(run_info);
    std::size_t truncated = 0;
    auto rows = output_rows<HitFeaturesNumpyRow>(
        in.rows.size() * step.max_waveform_records(), [&](HitFeaturesNumpyRow* out) {
            return run(false, [&] {
                const auto input =
                    tessel::TarvoRowInput::check(in.rows, in.waveforms, first_trigger);
                const auto done = tessel::extract_rows(step, input, {0, input.size()}, out);
                truncated = done.truncated;
                return done.written;
            });
        });
    return with_truncated(std::move(rows), truncated, return_truncated);
}

py::array_t<HitFeaturesNumpyRow> extract_multipmt_numpy(const tessel::FeatureExtractor& self,
                                                        const py::handle& triggers,
                                                        std::uint64_t first_trigger,
                                                        tessel::RunInfo run_info) {
    const py::array rows = rows_argument<MultiPMTTriggerNumpyRow>(
        triggers, "triggers", "multipmt_trigger_dtype", MULTIPMT_FIELDS);
    const auto view = strided<MultiPMTTriggerNumpyRow>(rows);
    const tessel::TriggerStep step = self.step(run_info);
    return output_rows<HitFeaturesNumpyRow>(view.size(), [&](HitFeaturesNumpyRow* out) {
        return run(false, [&] {
            tessel::check_trigger_positions(first_trigger, view.size());
            return tessel::extract_rows(step, view, first_trigger, {0, view.size()}, out).written;
        });
    });
}

py::array_t<HitNumpyRow> make_hits_numpy(const tessel::HitMaker& self, const py::handle& features,
                                         bool no_discard) {
    const py::array rows = rows_argument<HitFeaturesNumpyRow>(features, "features",
                                                              "hit_features_dtype", FEATURE_FIELDS);
    const auto view = strided<HitFeaturesNumpyRow>(rows);
    // Taken while the lock is held: another Python thread may add reconstructors to `self`
    // meanwhile (which may move its list), but never removes one, so the calls stay valid.
    const std::vector<tessel::RecoCall> calls = self.calls();
    const bool keep_lock = calls_python(self);
    return output_rows<HitNumpyRow>(view.size(), [&](HitNumpyRow* out) {
        return run(keep_lock, [&] {
            return tessel::make_hit_rows(calls, view, no_discard, {0, view.size()}, out).written;
        });
    });
}

py::object reconstruct_tarvo_numpy(const tessel::ChargeReconstruction& self,
                                   const py::handle& triggers, const py::handle& waveforms,
                                   const py::handle& offsets, std::uint64_t first_trigger,
                                   tessel::RunInfo run_info, bool return_truncated) {
    const TarvoInput in = tarvo_input(triggers, waveforms, offsets);
    const tessel::TriggerStep step = self.feature_extractor().step(run_info);
    const std::vector<tessel::RecoCall> calls = self.hit_maker().calls();
    const bool keep_lock = calls_python(self.hit_maker());
    std::size_t truncated = 0;
    auto rows = output_rows<
        HitNumpyRow>(in.rows.size() * step.max_waveform_records(), [&](HitNumpyRow* out) {
        return run(keep_lock, [&] {
            const auto input = tessel::TarvoRowInput::check(in.rows, in.waveforms, first_trigger);
            const auto done = tessel::reconstruct_rows(step, calls, input, {0, input.size()}, out);
            truncated = done.truncated;
            return done.written;
        });
    });
    return with_truncated(std::move(rows), truncated, return_truncated);
}

py::array_t<HitNumpyRow> reconstruct_multipmt_numpy(const tessel::ChargeReconstruction& self,
                                                    const py::handle& triggers,
                                                    std::uint64_t first_trigger,
                                                    tessel::RunInfo run_info) {
    const py::array rows = rows_argument<MultiPMTTriggerNumpyRow>(
        triggers, "triggers", "multipmt_trigger_dtype", MULTIPMT_FIELDS);
    const auto view = strided<MultiPMTTriggerNumpyRow>(rows);
    const tessel::TriggerStep step = self.feature_extractor().step(run_info);
    const std::vector<tessel::RecoCall> calls = self.hit_maker().calls();
    const bool keep_lock = calls_python(self.hit_maker());
    return output_rows<HitNumpyRow>(view.size(), [&](HitNumpyRow* out) {
        return run(keep_lock, [&] {
            tessel::check_trigger_positions(first_trigger, view.size());
            return tessel::reconstruct_rows(step, calls, view, first_trigger, {0, view.size()}, out)
                .written;
        });
    });
}

const char* extract_tarvo_doc() {
    static const std::string doc = tarvo_doc(
        "FeatureExtractor", "extract_tarvo_numpy",
        "Extract hit features from arrays of Tarvo trigger rows and their waveforms.\n\n"
        "The columnar form of extract_features for one trigger kind: no Python object is made\n"
        "per trigger, and the interpreter lock is released while the library works.  The\n"
        "records, their order and their ids are those extract_features gives for the same\n"
        "triggers.",
        "One-dimensional array of hit_features_dtype rows, in trigger order; -1 and NaN mark\n"
        "    unset features.  A dropped trigger yields no row.");
    return doc.c_str();
}

const char* extract_multipmt_doc() {
    static const std::string doc =
        with_signature("FeatureExtractor", "extract_multipmt_numpy", MULTIPMT_SIGNATURE,
                       R"doc(Extract hit features from an array of multi-PMT trigger rows.

The columnar form of extract_features for one trigger kind, without a Python object per
trigger and with the interpreter lock released; every trigger yields one record.

Parameters
----------
triggers : numpy.ndarray
    One-dimensional array of multipmt_trigger_dtype rows (time, channel,
    time_over_threshold, adc_sample).  Any strides are read in place; another structured
    array with the same field names, or a sequence of tuples, is converted.
first_trigger : int, optional
    Position in the run of the first row (default 0), for the hit ids.
run_info : RunInfo, optional
    Run information (default is a simulation run).

Returns
-------
numpy.ndarray
    One-dimensional array of hit_features_dtype rows, one per trigger, in trigger order.

Raises
------
TypeError
    triggers is not an array of the required fields.
ValueError
    triggers is not one-dimensional, or the trigger positions do not fit the hit id.)doc");
    return doc.c_str();
}

const char* make_hits_doc() {
    static const std::string doc = with_signature(
        "HitMaker", "make_hits_numpy", "features: numpy.typing.ArrayLike, no_discard: bool = False",
        R"doc(Create hits from an array of hit feature rows.

The columnar form of make_hits: the same hits in the same order, without a Python object
per record.  The interpreter lock is released while the hits are made, unless a
reconstructor added with add_reconstructor_from_callable takes part; then the callable
is called, with the lock held, as make_hits calls it.

Parameters
----------
features : numpy.ndarray
    One-dimensional array of hit_features_dtype rows; -1 and NaN mark unset features.
no_discard : bool, optional
    If True, invalid hits will not be discarded.

Returns
-------
numpy.ndarray
    One-dimensional array of hit_dtype rows.

Raises
------
TypeError
    features is not an array of the required fields.
ValueError
    features is not one-dimensional.)doc");
    return doc.c_str();
}

const char* reconstruct_tarvo_doc() {
    static const std::string doc = tarvo_doc(
        "ChargeReconstruction", "reconstruct_tarvo_numpy",
        "Reconstruct hits from arrays of Tarvo trigger rows and their waveforms.\n\n"
        "The columnar form of reconstruct for one trigger kind: no Python object is made per\n"
        "trigger, and the interpreter lock is released while the library works, so that\n"
        "several threads can reconstruct on several cores.  The hits, their order and their\n"
        "ids are those reconstruct gives for the same triggers.",
        "One-dimensional array of hit_dtype rows of the valid hits, in trigger order.");
    return doc.c_str();
}

const char* reconstruct_multipmt_doc() {
    static const std::string doc =
        with_signature("ChargeReconstruction", "reconstruct_multipmt_numpy", MULTIPMT_SIGNATURE,
                       R"doc(Reconstruct hits from an array of multi-PMT trigger rows.

The columnar form of reconstruct for one trigger kind, without a Python object per trigger
and with the interpreter lock released.

Parameters
----------
triggers : numpy.ndarray
    One-dimensional array of multipmt_trigger_dtype rows (time, channel,
    time_over_threshold, adc_sample).  Any strides are read in place; another structured
    array with the same field names, or a sequence of tuples, is converted.
first_trigger : int, optional
    Position in the run of the first row (default 0), for the hit ids.
run_info : RunInfo, optional
    Run information (default is a simulation run).

Returns
-------
numpy.ndarray
    One-dimensional array of hit_dtype rows of the valid hits, in trigger order.

Raises
------
TypeError
    triggers is not an array of the required fields.
ValueError
    triggers is not one-dimensional, or the trigger positions do not fit the hit id.)doc");
    return doc.c_str();
}
