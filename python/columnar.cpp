// The columnar methods: trigger rows and sample arrays in, feature or hit rows out, with no
// Python object per trigger.  The work is done by tessel/columnar/batch.hpp, which takes each
// trigger through the same step and hit making as the object path; this file only checks and
// converts the arrays, releases the interpreter lock around the loop and publishes the result.
// The classes themselves, with these methods among the others, are defined in
// register_pipeline.cpp.

#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "columnar.hpp"
#include "py_callable_reconstructor.hpp"
#include "tessel/columnar/batch.hpp"
#include "tessel/columnar/parallel.hpp"

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

/// `np.<name>(args...)`.
template <class... Args>
py::object np_call(const char* name, Args&&... args) {
    return numpy().attr(name)(std::forward<Args>(args)...);
}

/// Refuses a value of field `field` that would not survive the conversion from `column`'s type
/// to `to` (an integer out of range or not integral, a finite float too large for a narrower
/// float), naming the field and the first row at fault.  Types whose every value fits pass
/// unchecked; types that are neither integer, boolean nor floating point are refused.
void check_column_fits(const char* name, const std::string& field, const py::array& column,
                       const py::dtype& to) {
    const py::dtype from = column.dtype();
    if (np_call("can_cast", from, to, "safe").cast<bool>()) {
        return;
    }
    const char into = to.kind();
    const char kind = from.kind();
    const std::string to_name = py::str(to).cast<std::string>();
    if ((into == 'i' || into == 'u') && kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f') {
        throw py::type_error(std::string(name) + " field " + field + " must hold integers (" +
                             to_name + "), got dtype " + py::str(from).cast<std::string>());
    }
    if (into == 'f' && kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f') {
        throw py::type_error(std::string(name) + " field " + field +
                             " must hold numbers, got dtype " + py::str(from).cast<std::string>());
    }
    py::object bad;
    std::string why;
    if (into == 'i' || into == 'u') {
        if (kind == 'b' || (field == "id" && kind == 'u' && from.itemsize() == 8)) {
            return;  // a hit id's 64 bits are stored unchanged in the signed field
        }
        const py::object info = np_call("iinfo", to);
        const py::object low = info.attr("min");
        const py::object high = info.attr("max");
        const std::string range = "the range of " + to_name + " (" +
                                  py::str(low).cast<std::string>() + " to " +
                                  py::str(high).cast<std::string>() + ")";
        why = "outside " + range;
        if (kind == 'f') {
            // Both bounds are powers of two (or 0), exact as floats; NaN fails every test.
            const py::float_ below(low);
            const py::float_ above(high.attr("__add__")(1));
            const py::object inside =
                np_call("logical_and", np_call("greater_equal", column, below),
                        np_call("less", column, above));
            const py::object whole = np_call("equal", column, np_call("trunc", column));
            bad = np_call("logical_not", np_call("logical_and", inside, whole));
            why = "not an integer within " + range;
        } else {
            bad = np_call("logical_or", np_call("less", column, low),
                          np_call("greater", column, high));
        }
    } else if (kind == 'f') {
        const py::object state = np_call("errstate", py::arg("over") = "ignore");
        state.attr("__enter__")();
        const py::object narrowed = column.attr("astype")(to);
        state.attr("__exit__")(py::none(), py::none(), py::none());
        bad = np_call("logical_and", np_call("isfinite", column), np_call("isinf", narrowed));
        why = "too large for " + to_name;
    } else {
        return;  // integers to floating point: rounded as any assignment of an int to a float
    }
    if (np_call("any", bad).cast<bool>()) {
        const auto row = np_call("argmax", bad).cast<py::ssize_t>();
        const py::object value = column.attr("__getitem__")(row).attr("item")();
        throw py::value_error(std::string(name) + " field " + field + " holds " +
                              py::str(value).cast<std::string>() + " in row " +
                              std::to_string(row) + ", " + why);
    }
}

/// Refuses, before NumPy converts `source` (a structured array with the field names of
/// `target`) to `target`, any value the conversion would change beyond rounding.
void check_fields_fit(const char* name, const py::array& source, const py::dtype& target) {
    const py::dict fields = target.attr("fields");
    for (const auto& field : target.attr("names")) {
        const auto to = py::reinterpret_borrow<py::dtype>(fields[field].cast<py::tuple>()[0]);
        const py::array column = source.attr("__getitem__")(field);
        check_column_fits(name, field.cast<std::string>(), column, to);
    }
}

/// Refuses, after NumPy converted a sequence of tuples to `rows`, an integer field whose value
/// differs from what was given (NumPy truncates 2.5 to 2 silently; it refuses out-of-range
/// integers itself).
void check_tuples_kept(const char* name, const py::handle& given, const py::array& rows) {
    const py::dtype target = rows.dtype();
    const py::dict fields = target.attr("fields");
    py::list as_objects;
    for (const auto& field : target.attr("names")) {
        as_objects.append(py::make_tuple(field, "O"));
    }
    const py::array objects = as_array(given, np_call("dtype", as_objects), name);
    for (const auto& field : target.attr("names")) {
        const auto kind =
            py::reinterpret_borrow<py::dtype>(fields[field].cast<py::tuple>()[0]).kind();
        if (kind != 'i' && kind != 'u') {
            continue;
        }
        const py::object column = objects.attr("__getitem__")(field);
        const py::object bad =
            np_call("not_equal", column, rows.attr("__getitem__")(field)).attr("astype")("bool");
        if (np_call("any", bad).cast<bool>()) {
            const auto row = np_call("argmax", bad).cast<py::ssize_t>();
            throw py::value_error(std::string(name) + " field " + field.cast<std::string>() +
                                  " holds " +
                                  py::str(column.attr("__getitem__")(row)).cast<std::string>() +
                                  " in row " + std::to_string(row) + ", not an integer of " +
                                  py::str(fields[field].cast<py::tuple>()[0]).cast<std::string>());
        }
    }
}

/// A one-dimensional array of `Row`.  An array of the row type (any strides) is used in place;
/// another structured array with the same field names in the same order (other field types,
/// byte order or padding) and a sequence of tuples are converted by NumPy, after checking that
/// every value fits its field.  Anything else, in particular a plain numeric array that NumPy
/// would broadcast into every field, is refused.
template <class Row>
py::array rows_argument(const py::handle& obj, const char* name, const char* dtype_name,
                        const char* fields) {
    const auto target = py::dtype::of<Row>();
    const bool is_array = py::isinstance<py::array>(obj);
    if (is_array) {
        const auto given = py::reinterpret_borrow<py::array>(obj);
        if (!given.dtype().has_fields() ||
            !given.dtype().attr("names").equal(target.attr("names"))) {
            throw py::type_error(std::string(name) + " must be an array of " + dtype_name +
                                 " rows (fields " + fields + "), got dtype " +
                                 py::str(given.dtype()).cast<std::string>());
        }
        if (!given.dtype().equal(target)) {
            check_fields_fit(name, given, target);
        }
    }
    py::array rows = as_array(obj, target, name);
    if (rows.ndim() != 1) {
        throw py::value_error(std::string(name) +
                              " must be a one-dimensional array of rows, got shape " +
                              shape_text(rows));
    }
    if (!is_array) {
        check_tuples_kept(name, obj, rows);
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

/// Refuses a baseline that is not a finite number, naming the first such row: it would give no
/// pulse, or features of NaN, without a word.  Made after the rows' count is checked.
void check_baselines(const tessel::StridedRows<TarvoTriggerNumpyRow>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const float baseline = rows[i].baseline;
        if (!std::isfinite(baseline)) {
            const char* value = std::isnan(baseline) ? "nan" : baseline > 0 ? "inf" : "-inf";
            throw std::invalid_argument("triggers field baseline holds " + std::string(value) +
                                        " in row " + std::to_string(i) + ", not a finite number");
        }
    }
}

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

/// The output of a call: a NumPy array made at the first rows' arrival, grown in place as the
/// rows come (NumPy's resize reallocates, which moves no page of a large array), and cut to
/// the rows written at the end, so that no second copy of the output ever exists.  Grown from
/// any thread, taking the interpreter lock; nothing reaches the caller if the call fails.
template <class Row>
class NumpyRows final : public tessel::RowStore {
public:
    std::byte* reserve(std::size_t needed, std::size_t suggested) override {
        if (needed <= capacity_) {
            return data_;
        }
        const py::gil_scoped_acquire lock;
        const auto size = static_cast<py::ssize_t>(suggested);
        if (capacity_ == 0) {
            rows_ = py::array_t<Row>(size);  // new memory, not zero-filled as a resize fills it
        } else {
            rows_.resize({size}, false);
        }
        capacity_ = suggested;
        data_ = reinterpret_cast<std::byte*>(rows_.mutable_data());
        return data_;
    }

    /// The array of the first `written` rows; with the interpreter lock held.
    py::array_t<Row> finish(std::size_t written) {
        if (written != capacity_) {
            rows_.resize({static_cast<py::ssize_t>(written)}, false);
        }
        return std::move(rows_);
    }

private:
    py::array_t<Row> rows_{0};
    std::size_t capacity_ = 0;
    std::byte* data_ = nullptr;
};

/// Checks for Ctrl-C and other signals during a call made from the main thread (the only one
/// whose signal handlers Python runs): takes the interpreter lock for a moment and raises what a
/// handler raises (KeyboardInterrupt).  Nothing is checked in calls from other threads.
std::function<void()> signal_poll() {
    const py::object main = py::module_::import("threading").attr("main_thread")();
    if (main.attr("ident").cast<unsigned long>() != PyThread_get_thread_ident()) {
        return {};
    }
    return [] {
        const py::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    };
}

/// Most threads a call may ask for.
constexpr std::int64_t MAX_THREADS = 1024;

/// The threads a call uses: `threads` (0: one per core this process may run on), 1 when a
/// Python-callable reconstructor takes part.
std::size_t thread_count(std::int64_t threads, bool calls_python) {
    if (threads < 0 || threads > MAX_THREADS) {
        throw py::value_error("threads must be 1 to " + std::to_string(MAX_THREADS) +
                              ", or 0 for one per available core, got " + std::to_string(threads));
    }
    if (calls_python) {
        return 1;
    }
    if (threads == 0) {
        const py::object os = py::module_::import("os");
        if (py::hasattr(os, "sched_getaffinity")) {
            return py::len(os.attr("sched_getaffinity")(0));
        }
        const unsigned cores = std::thread::hardware_concurrency();
        return cores == 0 ? 1 : cores;
    }
    return static_cast<std::size_t>(threads);
}

/// One columnar call: `work(check)` is run (without the interpreter lock unless `keep_lock`)
/// after `check()` has checked the whole call (limits first, so that an impossible call fails
/// before any output is made); `check` returns the samples per row for sizing the chunks.
template <class Row, class Check, class Work>
py::array_t<Row> columnar_call(std::size_t rows, std::size_t max_per_row, std::size_t threads,
                               bool keep_lock, Check&& check, Work&& work,
                               tessel::RowsDone* summary = nullptr) {
    NumpyRows<Row> out;
    const std::function<void()> poll = signal_poll();
    const std::size_t written = run(keep_lock, [&] {
        const std::size_t samples_per_row = check();
        tessel::ChunkPlan plan;
        plan.rows = rows;
        plan.max_per_row = max_per_row;
        plan.row_bytes = sizeof(Row);
        plan.threads = threads;
        plan.samples_per_row = samples_per_row;
        const tessel::ChunkWork chunk_work = [&](tessel::RowRange range, std::byte* into) {
            return work(range, reinterpret_cast<Row*>(into));
        };
        tessel::RowsDone done = tessel::run_chunks(plan, chunk_work, out, poll);
        const std::size_t written = done.written;
        if (summary != nullptr) {
            *summary = std::move(done);
        }
        return written;
    });
    return out.finish(written);
}

}  // namespace

py::dtype drop_dtype() {
    py::list fields;
    fields.append(py::make_tuple("channel", "<i4"));
    for (const char* cause : {"unknown_channel", "bad_edge", "bad_integral", "truncated"}) {
        fields.append(py::make_tuple(cause, "<u8"));
    }
    return py::dtype::from_args(fields);
}

namespace {

/// The drop counts as drop_dtype rows, by channel.
py::array drop_rows(const tessel::ChannelDrops& drops) {
    py::list rows;
    for (const auto& [channel, counts] : drops) {
        rows.append(py::make_tuple(channel, counts.unknown_channel, counts.bad_edge,
                                   counts.bad_integral, counts.truncated));
    }
    return py::module_::import("numpy").attr("array")(rows, drop_dtype());
}

/// `rows`, or a tuple of rows and what was asked for, in this order: the count of truncated
/// triggers, the drop counts, the pulse rows.
template <class Row>
py::object with_extras(py::array_t<Row> rows, const tessel::RowsDone& done, bool return_truncated,
                       bool return_drops,
                       std::optional<py::array_t<tessel::PulseShape>> pulses = std::nullopt) {
    if (!return_truncated && !return_drops && !pulses) {
        return std::move(rows);
    }
    py::list parts;
    parts.append(std::move(rows));
    if (return_truncated) {
        parts.append(done.truncated);
    }
    if (return_drops) {
        parts.append(drop_rows(done.drops));
    }
    if (pulses) {
        parts.append(std::move(*pulses));
    }
    return py::tuple(parts);
}

/// The pulse rows of the call's waveform triggers (a second pass of the pulse finder, so that
/// the call's own rows are made exactly as without it), or nothing when not asked for.
std::optional<py::array_t<tessel::PulseShape>> pulses_of(const tessel::FeatureExtractor& extractor,
                                                         const tessel::RunInfo& run_info,
                                                         const TarvoInput& in,
                                                         std::uint64_t first_trigger,
                                                         std::size_t threads, bool asked,
                                                         const std::optional<double>& adc_max) {
    if (!asked) {
        if (adc_max) {
            throw py::value_error(
                "adc_max is the saturation level of the pulse rows: give it "
                "with return_pulses=True");
        }
        return std::nullopt;
    }
    const tessel::PulseFinder* settings_finder = extractor.pulse_finder();
    if (settings_finder == nullptr) {
        throw py::value_error(
            "return_pulses needs the pulse finder (extractors.waveform: PulseFinder in the "
            "settings); the single-pulse extractor measures no pulse shapes");
    }
    // The caller's saturation level stands in where the settings give none.
    std::optional<tessel::PulseFinder> finder;
    if (adc_max && std::isnan(settings_finder->options().adc_max)) {
        tessel::PulseFinder::Options options = settings_finder->options();
        options.adc_max = *adc_max;
        try {
            finder.emplace(options);
        } catch (const std::invalid_argument& error) {
            throw py::value_error(std::string("adc_max: ") + error.what());
        }
    }
    const tessel::TriggerStep step(extractor.tarvo_extractor(), run_info, extractor.channel_types(),
                                   finder ? &*finder : settings_finder);
    std::optional<tessel::TarvoRowInput> input;
    return columnar_call<tessel::PulseShape>(
        in.rows.size(), step.max_records(), threads, false,
        [&] {
            input = tessel::TarvoRowInput::check(in.rows, in.waveforms, first_trigger);
            return input->longest();
        },
        [&](tessel::RowRange range, tessel::PulseShape* out) {
            return tessel::pulse_rows(step, *input, range, out);
        });
}

constexpr const char* TARVO_ARGUMENTS = R"doc(triggers : numpy.ndarray
    One-dimensional array of tarvo_trigger_dtype rows (channel, trigger_time_s,
    trigger_time_ticks, baseline, intsum), one per trigger.  Any strides are read in place;
    another structured array with the same field names, or a sequence of tuples, is
    converted if every value fits its field.
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
threads : int, optional, keyword only
    Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
    turn and the results are put together in row order, the same rows, ids and errors as with
    one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
    are refused.
    A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
return_truncated : bool, optional, keyword only
    Also return how many waveforms held more pulses than the 16 records a trigger can
    have (default False).
return_drops : bool, optional, keyword only
    Also return the records left out, per channel and cause, as an array of drop_dtype rows
    (default False; see Returns).
return_pulses : bool, optional, keyword only
    Also return the shape of every pulse the pulse finder found, an array of pulse_dtype
    rows (id, channel, first_sample, last_sample, baseline, amplitude, peak_time, width,
    rise_time, baseline_rms, index, saturated, no_return), joined to the rows by id
    (default False; needs extractors.waveform: PulseFinder).
adc_max : float, optional, keyword only
    With return_pulses: the saturation level of the pulse rows' saturated flag where the
    settings give no extractors.PulseFinder.adc_max (a trigger file's 2**adc_bits - 1);
    default 65535.)doc";

constexpr const char* TARVO_RAISES = R"doc(Raises
------
TypeError
    An argument that is not an array of the required kind (wrong fields, non-integer
    samples or offsets, something NumPy cannot convert).
ValueError
    Wrong dimensions; waveforms rows or offsets not matching the triggers; offsets that
    decrease or point outside the samples; sample values outside 0..65535; a trigger field
    holding a value its type cannot, or a baseline that is not a finite number (the message
    names the field and the first such row); trigger positions that do not fit the hit id; a
    waveform of fewer than 3 samples that is not dropped first (the message names its row);
    threads below 0 or above 1024.
KeyboardInterrupt
    Ctrl-C during a call from the main thread, within a fraction of a second.

Nothing is returned when an error is raised.)doc";

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
    "run_info: orvane.RunInfo = RunInfo.simulation_run(), *, "
    "threads: typing.SupportsInt | typing.SupportsIndex = 1, return_truncated: bool = False, "
    "return_drops: bool = False, return_pulses: bool = False, "
    "adc_max: typing.SupportsFloat | None = None";
constexpr const char* TARVO_RETURNS = "numpy.typing.NDArray[numpy.void] | tuple[typing.Any, ...]";
constexpr const char* MULTIPMT_SIGNATURE =
    "triggers: numpy.typing.ArrayLike, "
    "first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, "
    "run_info: orvane.RunInfo = RunInfo.simulation_run(), *, "
    "threads: typing.SupportsInt | typing.SupportsIndex = 1, return_drops: bool = False";
constexpr const char* MULTIPMT_RETURNS =
    "numpy.typing.NDArray[numpy.void] | "
    "tuple[numpy.typing.NDArray[numpy.void], numpy.typing.NDArray[numpy.void]]";

/// What the drop counts are, for the Returns sections.
constexpr const char* DROPS_RETURNED =
    "With return_drops, the records left out follow as an array of drop_dtype\n"
    "    rows (channel, unknown_channel, bad_edge, bad_integral, truncated), one per channel\n"
    "    with any, by channel: unknown_channel counts the records of triggers on a channel\n"
    "    without a row in the channel table (unknown_channels: drop), bad_edge and\n"
    "    bad_integral the records left out by drop_bad_edge and drop_bad_integral (each\n"
    "    record by the first test it fails; a trigger for the single-record extractors, a\n"
    "    pulse for the pulse finder), truncated the triggers that held more pulses than 16\n"
    "    records (their first 16 kept).  The same counts whatever threads is.";

std::string tarvo_doc(const char* cls, const char* name, const char* summary, const char* returns) {
    return with_signature(cls, name, TARVO_SIGNATURE,
                          std::string(summary) + "\n\nParameters\n----------\n" + TARVO_ARGUMENTS +
                              "\n\nReturns\n-------\nnumpy.ndarray or tuple\n    " + returns +
                              "\n    With return_truncated, a tuple (rows, truncated): truncated "
                              "counts the\n    waveforms that held more pulses than a trigger's "
                              "16 records (the first 16\n    were kept; only the pulse finder "
                              "finds several).  With return_pulses, the pulse\n    rows come "
                              "last.  " +
                              DROPS_RETURNED +
                              "\n    The tuple holds rows, then truncated, drops and pulses as "
                              "asked, in that order.\n\n" +
                              TARVO_RAISES,
                          TARVO_RETURNS);
}

}  // namespace

py::object extract_tarvo_numpy(const tessel::FeatureExtractor& self, const py::handle& triggers,
                               const py::handle& waveforms, const py::handle& offsets,
                               std::uint64_t first_trigger, tessel::RunInfo run_info,
                               std::int64_t threads, bool return_truncated, bool return_drops,
                               bool return_pulses, std::optional<double> adc_max) {
    const TarvoInput in = tarvo_input(triggers, waveforms, offsets);
    const tessel::TriggerStep step = self.step(run_info);
    std::optional<tessel::TarvoRowInput> input;
    tessel::RowsDone done;
    const std::size_t workers = thread_count(threads, false);
    auto rows = columnar_call<HitFeaturesNumpyRow>(
        in.rows.size(), step.max_records(), workers, false,
        [&] {
            input = tessel::TarvoRowInput::check(in.rows, in.waveforms, first_trigger);
            check_baselines(in.rows);
            return input->longest();
        },
        [&](tessel::RowRange range, HitFeaturesNumpyRow* out) {
            return tessel::extract_rows(step, *input, range, out);
        },
        &done);
    auto pulses = pulses_of(self, run_info, in, first_trigger, workers, return_pulses, adc_max);
    return with_extras(std::move(rows), done, return_truncated, return_drops, std::move(pulses));
}

py::object extract_multipmt_numpy(const tessel::FeatureExtractor& self, const py::handle& triggers,
                                  std::uint64_t first_trigger, tessel::RunInfo run_info,
                                  std::int64_t threads, bool return_drops) {
    const py::array rows = rows_argument<MultiPMTTriggerNumpyRow>(
        triggers, "triggers", "multipmt_trigger_dtype", MULTIPMT_FIELDS);
    const auto view = strided<MultiPMTTriggerNumpyRow>(rows);
    const tessel::TriggerStep step = self.step(run_info);
    tessel::RowsDone done;
    auto out = columnar_call<HitFeaturesNumpyRow>(
        view.size(), step.max_records(), thread_count(threads, false), false,
        [&] {
            tessel::check_trigger_positions(first_trigger, view.size());
            return std::size_t{0};
        },
        [&](tessel::RowRange range, HitFeaturesNumpyRow* out) {
            return tessel::extract_rows(step, view, first_trigger, range, out);
        },
        &done);
    return with_extras(std::move(out), done, false, return_drops);
}

py::array_t<HitNumpyRow> make_hits_numpy(const tessel::HitMaker& self, const py::handle& features,
                                         bool no_discard, std::int64_t threads) {
    const py::array rows = rows_argument<HitFeaturesNumpyRow>(features, "features",
                                                              "hit_features_dtype", FEATURE_FIELDS);
    const auto view = strided<HitFeaturesNumpyRow>(rows);
    // Taken while the lock is held: another Python thread may add reconstructors to `self`
    // meanwhile (which may move its list), but never removes one, so the calls stay valid.
    const std::vector<tessel::RecoCall> calls = self.calls();
    const bool keep_lock = calls_python(self);
    return columnar_call<HitNumpyRow>(
        view.size(), 1, thread_count(threads, keep_lock), keep_lock, [] { return std::size_t{0}; },
        [&](tessel::RowRange range, HitNumpyRow* out) {
            return tessel::make_hit_rows(calls, view, no_discard, range, out);
        });
}

py::object reconstruct_tarvo_numpy(const tessel::ChargeReconstruction& self,
                                   const py::handle& triggers, const py::handle& waveforms,
                                   const py::handle& offsets, std::uint64_t first_trigger,
                                   tessel::RunInfo run_info, std::int64_t threads,
                                   bool return_truncated, bool return_drops, bool return_pulses,
                                   std::optional<double> adc_max) {
    const TarvoInput in = tarvo_input(triggers, waveforms, offsets);
    const tessel::TriggerStep step = self.feature_extractor().step(run_info);
    const std::vector<tessel::RecoCall> calls = self.hit_maker().calls();
    const bool keep_lock = calls_python(self.hit_maker());
    std::optional<tessel::TarvoRowInput> input;
    tessel::RowsDone done;
    auto rows = columnar_call<HitNumpyRow>(
        in.rows.size(), step.max_records(), thread_count(threads, keep_lock), keep_lock,
        [&] {
            input = tessel::TarvoRowInput::check(in.rows, in.waveforms, first_trigger);
            check_baselines(in.rows);
            return input->longest();
        },
        [&](tessel::RowRange range, HitNumpyRow* out) {
            return tessel::reconstruct_rows(step, calls, *input, range, out);
        },
        &done);
    auto pulses = pulses_of(self.feature_extractor(), run_info, in, first_trigger,
                            thread_count(threads, false), return_pulses, adc_max);
    return with_extras(std::move(rows), done, return_truncated, return_drops, std::move(pulses));
}

py::object reconstruct_multipmt_numpy(const tessel::ChargeReconstruction& self,
                                      const py::handle& triggers, std::uint64_t first_trigger,
                                      tessel::RunInfo run_info, std::int64_t threads,
                                      bool return_drops) {
    const py::array rows = rows_argument<MultiPMTTriggerNumpyRow>(
        triggers, "triggers", "multipmt_trigger_dtype", MULTIPMT_FIELDS);
    const auto view = strided<MultiPMTTriggerNumpyRow>(rows);
    const tessel::TriggerStep step = self.feature_extractor().step(run_info);
    const std::vector<tessel::RecoCall> calls = self.hit_maker().calls();
    const bool keep_lock = calls_python(self.hit_maker());
    tessel::RowsDone done;
    auto out = columnar_call<HitNumpyRow>(
        view.size(), step.max_records(), thread_count(threads, keep_lock), keep_lock,
        [&] {
            tessel::check_trigger_positions(first_trigger, view.size());
            return std::size_t{0};
        },
        [&](tessel::RowRange range, HitNumpyRow* out) {
            return tessel::reconstruct_rows(step, calls, view, first_trigger, range, out);
        },
        &done);
    return with_extras(std::move(out), done, false, return_drops);
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
    array with the same field names, or a sequence of tuples, is converted if every value
    fits its field.
first_trigger : int, optional
    Position in the run of the first row (default 0), for the hit ids.
run_info : RunInfo, optional
    Run information (default is a simulation run).
threads : int, optional, keyword only
    Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
    turn and the results are put together in row order, the same rows, ids and errors as with
    one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
    are refused.
    A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
return_drops : bool, optional, keyword only
    Also return the triggers dropped for a channel without a row in the channel table
    (unknown_channels: drop), per channel (default False).

Returns
-------
numpy.ndarray or tuple
    One-dimensional array of hit_features_dtype rows, one per trigger kept, in trigger order.
    With return_drops, a tuple (rows, drops): drops is an array of drop_dtype rows (channel,
    unknown_channel, bad_edge, bad_integral, truncated), one per channel with a drop, by
    channel; only unknown_channel can be nonzero here.

Raises
------
TypeError
    triggers is not an array of the required fields.
ValueError
    triggers is not one-dimensional, a field holds a value its type cannot (the message names
    the field and the first such row), the trigger positions do not fit the hit id, or
    threads is below 0 or above 1024.
KeyboardInterrupt
    Ctrl-C during a call from the main thread, within a fraction of a second.)doc",
                       MULTIPMT_RETURNS);
    return doc.c_str();
}

const char* make_hits_doc() {
    static const std::string doc =
        with_signature("HitMaker", "make_hits_numpy",
                       "features: numpy.typing.ArrayLike, no_discard: bool = False, *, "
                       "threads: typing.SupportsInt | typing.SupportsIndex = 1",
                       R"doc(Create hits from an array of hit feature rows.

The columnar form of make_hits: the same hits in the same order, without a Python object
per record.  The interpreter lock is released while the hits are made, unless a
reconstructor added with add_reconstructor_from_callable takes part; then the callable
is called, with the lock held, as make_hits calls it.

Parameters
----------
features : numpy.ndarray
    One-dimensional array of hit_features_dtype rows; -1 and NaN mark unset features.
    Another structured array with the same field names is converted if every value fits its
    field (an id field of uint64 keeps its 64 bits).
no_discard : bool, optional
    If True, invalid hits will not be discarded.
threads : int, optional, keyword only
    Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
    turn and the results are put together in row order, the same rows, ids and errors as with
    one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
    are refused.
    A reconstructor added with add_reconstructor_from_callable makes the call use one thread.

Returns
-------
numpy.ndarray
    One-dimensional array of hit_dtype rows.

Raises
------
TypeError
    features is not an array of the required fields.
ValueError
    features is not one-dimensional, a field holds a value its type cannot (the message
    names the field and the first such row), or threads is below 0 or above 1024.
KeyboardInterrupt
    Ctrl-C during a call from the main thread, within a fraction of a second.)doc");
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
    array with the same field names, or a sequence of tuples, is converted if every value
    fits its field.
first_trigger : int, optional
    Position in the run of the first row (default 0), for the hit ids.
run_info : RunInfo, optional
    Run information (default is a simulation run).
threads : int, optional, keyword only
    Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
    turn and the results are put together in row order, the same rows, ids and errors as with
    one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
    are refused.
    A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
return_drops : bool, optional, keyword only
    Also return the triggers dropped for a channel without a row in the channel table
    (unknown_channels: drop), per channel (default False).

Returns
-------
numpy.ndarray or tuple
    One-dimensional array of hit_dtype rows of the valid hits, in trigger order.  With
    return_drops, a tuple (rows, drops) as extract_multipmt_numpy returns.

Raises
------
TypeError
    triggers is not an array of the required fields.
ValueError
    triggers is not one-dimensional, a field holds a value its type cannot (the message names
    the field and the first such row), the trigger positions do not fit the hit id, or
    threads is below 0 or above 1024.
KeyboardInterrupt
    Ctrl-C during a call from the main thread, within a fraction of a second.)doc",
                       MULTIPMT_RETURNS);
    return doc.c_str();
}
