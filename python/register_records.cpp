#include "bindings.hpp"

#include <chrono>
#include <cstdint>

namespace {

using tessel::Hit;
using tessel::HitFeatures;
using tessel::MultiPMTTrigger;
using tessel::RunInfo;
using tessel::TarvoTrigger;

void register_hit(py::module_& m) {
    py::class_<Hit>(
        m, "Hit", R"doc(Class representing a hit with time and charge including their uncertainties.

The update methods only modify the values if the new uncertainty is smaller than the current one.)doc")
        .def(py::init<>(), R"doc(Default constructor initializing an invalid hit.

The hit has channel -1, id 0, time 0, charge 0 and infinite time and charge uncertainties.)doc")
        .def(py::init<std::int32_t, std::uint64_t, double, double, double, double>(),
             py::arg("channel"), py::arg("id"), py::arg("time"), py::arg("charge"),
             py::arg("time_uncertainty"), py::arg("charge_uncertainty"),
             R"doc(Constructor initializing all member variables.

Parameters
----------
channel : int
    The channel number.
id : int
    The unique identifier for the hit.
time : float
    The time in seconds.
charge : float
    The charge in PE.
time_uncertainty : float
    The time uncertainty in seconds.
charge_uncertainty : float
    The charge uncertainty in PE.)doc")
        .def("is_valid", &Hit::is_valid, R"doc(Check whether the hit is valid.

Returns
-------
bool
    True if channel >= 0 and uncertainties are finite, False otherwise.)doc")
        .def_property_readonly("channel", &Hit::get_channel, "Channel number of the hit.")
        .def_property_readonly("id", &Hit::get_id, "Unique identifier of the hit.")
        .def_property_readonly("time", &Hit::get_time, "Time of the hit in seconds.")
        .def_property_readonly("charge", &Hit::get_charge, "Charge of the hit in PE.")
        .def_property_readonly("time_uncertainty", &Hit::get_time_uncertainty,
                               "Time uncertainty in seconds.")
        .def_property_readonly("charge_uncertainty", &Hit::get_charge_uncertainty,
                               "Charge uncertainty in PE.")
        .def("update_time", &Hit::update_time, py::arg("new_time"), py::arg("new_time_uncertainty"),
             R"doc(Update the time and its uncertainty if the new uncertainty is smaller.

Parameters
----------
new_time : float
    The new time in seconds.
new_time_uncertainty : float
    The uncertainty of the new time in seconds.

Returns
-------
bool
    True if the update was performed (new uncertainty smaller), False otherwise.)doc")
        .def("update_charge", &Hit::update_charge, py::arg("new_charge"),
             py::arg("new_charge_uncertainty"),
             R"doc(Update the charge and its uncertainty if the new uncertainty is smaller.

Parameters
----------
new_charge : float
    The new charge in PE.
new_charge_uncertainty : float
    The uncertainty of the new charge in PE.

Returns
-------
bool
    True if the update was performed (new uncertainty smaller), False otherwise.)doc")
        .def("set_channel", &Hit::set_channel, py::arg("channel"),
             R"doc(Set the channel number of the hit.

Parameters
----------
channel : int
    The new channel number.)doc")
        .def("set_id", &Hit::set_id, py::arg("id"), R"doc(Set the unique identifier of the hit.

Parameters
----------
id : int
    The new hit id.)doc");
}

void register_tarvo_trigger(py::module_& m) {
    py::class_<TarvoTrigger>(
        m, "TarvoTrigger",
        "Tarvo trigger data structure. Contains the trigger time, channel number and waveform "
        "samples.")
        .def(py::init<>(), R"doc(Default constructor for TarvoTrigger.

Every field starts at zero and the waveform empty.

Attributes
----------
trigger_time_s : int
    Seconds since run start
trigger_time_ticks : int
    Ticks since last full second (tick = 4ns)
baseline : float
    Baseline in LSB
intsum : float
    Waveform sum in LSB
channel : int
    The channel number
waveform : VectorUInt16
    The waveform samples in LSB as a list of uint16)doc")
        .def_readwrite("trigger_time_s", &TarvoTrigger::trigger_time_s, "Seconds since run start")
        .def_readwrite("trigger_time_ticks", &TarvoTrigger::trigger_time_ticks,
                       "Ticks since last full second (tick = 4ns)")
        .def_readwrite("baseline", &TarvoTrigger::baseline, "Baseline in LSB")
        .def_readwrite("intsum", &TarvoTrigger::intsum, "Waveform sum in LSB")
        .def_readwrite("channel", &TarvoTrigger::channel, "The channel number")
        // Reading gives a live view of the trigger's own samples (kept alive by the view);
        // assigning copies a VectorUInt16 or any iterable of integers in 0..65535.
        .def_readwrite("waveform", &TarvoTrigger::waveform,
                       "The waveform samples in LSB as a list of uint16")
        .def_readonly_static("SECONDS_PER_TICK", &TarvoTrigger::SECONDS_PER_TICK,
                             "Number of seconds per tick (4ns)");
}

void register_multipmt_trigger(py::module_& m) {
    py::class_<MultiPMTTrigger>(m, "MultiPMTTrigger", "MultiPMT trigger data structure.")
        .def(py::init<>(), R"doc(Default constructor for MultiPMTTrigger.

Every field starts at zero.

Attributes
----------
time : float
    Trigger time in seconds.
channel : int
    Channel number.
time_over_threshold : float
    Time over threshold in seconds.
adc_sample : int
    ADC sample in LSB as an unsigned 16-bit integer.)doc")
        .def_readwrite("time", &MultiPMTTrigger::time, "Trigger time in seconds.")
        .def_readwrite("channel", &MultiPMTTrigger::channel, "Channel number.")
        .def_readwrite("time_over_threshold", &MultiPMTTrigger::time_over_threshold,
                       "Time over threshold in seconds.")
        .def_readwrite("adc_sample", &MultiPMTTrigger::adc_sample,
                       "ADC sample in LSB as an unsigned 16-bit integer.");
}

void register_hit_features(py::module_& m) {
    py::class_<HitFeatures>(
        m, "HitFeatures",
        R"doc(Class to hold features of a hit used for charge and time reconstruction.

Every feature is gated by its own has-flag: assigning a feature stores it and sets the flag, the
has_* methods read the flag, and the getters raise RuntimeError when the feature is not set.)doc")
        .def(py::init<>(), "Default constructor for HitFeatures.\n\nEvery feature is unset.")
        .def_property("channel", &HitFeatures::get_channel, &HitFeatures::set_channel,
                      R"doc(Channel number of the hit.

Raises
------
RuntimeError
    If the channel number has not been set.)doc")
        .def_property("waveform_integral", &HitFeatures::get_waveform_integral,
                      &HitFeatures::set_waveform_integral, R"doc(Integral of the waveform in LSB.

Raises
------
RuntimeError
    If the waveform integral has not been set.)doc")
        .def_property("time_over_threshold", &HitFeatures::get_time_over_threshold,
                      &HitFeatures::set_time_over_threshold, R"doc(Time-over-threshold in seconds.

Raises
------
RuntimeError
    If the time-over-threshold has not been set.)doc")
        .def_property("trigger_time", &HitFeatures::get_trigger_time,
                      &HitFeatures::set_trigger_time, R"doc(Trigger time in seconds.

Raises
------
RuntimeError
    If the trigger time has not been set.)doc")
        .def_property("pmt_type", &HitFeatures::get_pmt_type, &HitFeatures::set_pmt_type,
                      R"doc(PMT type of the hit.

Raises
------
RuntimeError
    If the PMT type has not been set.)doc")
        .def_property("adc_sample", &HitFeatures::get_adc_sample, &HitFeatures::set_adc_sample,
                      R"doc(ADC sample in LSB.

Raises
------
RuntimeError
    If the ADC sample has not been set.)doc")
        .def_property("rising_edge_time", &HitFeatures::get_rising_edge_time,
                      &HitFeatures::set_rising_edge_time, R"doc(Rising edge time in seconds.

Raises
------
RuntimeError
    If the rising edge time has not been set.)doc")
        .def_property("id", &HitFeatures::get_id, &HitFeatures::set_id,
                      "Unique identifier of the hit.")
        .def("has_channel", &HitFeatures::has_channel,
             "Return True if the channel number has been set.")
        .def("has_waveform_integral", &HitFeatures::has_waveform_integral,
             "Return True if the waveform integral has been set.")
        .def("has_time_over_threshold", &HitFeatures::has_time_over_threshold,
             "Return True if the time-over-threshold has been set.")
        .def("has_trigger_time", &HitFeatures::has_trigger_time,
             "Return True if the trigger time has been set.")
        .def("has_pmt_type", &HitFeatures::has_pmt_type,
             "Return True if the PMT type has been set.")
        .def("has_adc_sample", &HitFeatures::has_adc_sample,
             "Return True if the ADC sample has been set.")
        .def("has_rising_edge_time", &HitFeatures::has_rising_edge_time,
             "Return True if the rising edge time has been set.")
        .def("has_id", &HitFeatures::has_id, "Return True if the hit id has been set.");
}

void register_run_info(py::module_& m) {
    py::class_<RunInfo> cls(
        m, "RunInfo",
        "Run information data structure containing run number, time offsets and run start time.");
    cls.def(py::init<>())
        .def_readwrite("run_number", &RunInfo::run_number,
                       "The run number as an unsigned 64-bit integer.")
        .def_readwrite("time_offset_s", &RunInfo::time_offset_s,
                       "The time offset in seconds since run start as an unsigned 64-bit integer.")
        .def_readwrite("time_offset_ns", &RunInfo::time_offset_ns,
                       "The time offset in nanoseconds within the last full second as an "
                       "unsigned 64-bit integer.")
        .def_property(
            "run_start_time_ns",
            [](const RunInfo& info) -> std::int64_t {
                return info.run_start_time.time_since_epoch().count();
            },
            [](RunInfo& info, std::int64_t ns) {
                info.run_start_time = RunInfo::TimePoint(std::chrono::nanoseconds(ns));
            },
            "Run start time as nanoseconds since epoch (read/write).")
        .def_static("simulation_run", &RunInfo::simulation_run,
                    "Create a RunInfo object populated with default values for simulation runs.")
        .def_static("run_number_from_id", &RunInfo::run_number_from_id, py::arg("id"),
                    "Extract the run number from a hit id.")
        .def_static("trigger_index_from_id", &RunInfo::trigger_index_from_id, py::arg("id"),
                    "Extract the trigger index from a hit id.");
    // Plain, writable class attributes rather than static properties.
    cls.attr("RUN_ID_SHIFT") = RunInfo::RUN_ID_SHIFT;
    cls.attr("TRIGGER_INDEX_SHIFT") = RunInfo::TRIGGER_INDEX_SHIFT;
}

}  // namespace

void register_records(py::module_& m) {
    register_hit(m);
    register_tarvo_trigger(m);
    register_multipmt_trigger(m);
    register_hit_features(m);
    register_run_info(m);
}
