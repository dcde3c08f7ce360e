#include "bindings.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "columnar.hpp"
#include "py_callable_reconstructor.hpp"

namespace {

using tessel::ChargeReconstruction;
using tessel::FeatureExtractor;
using tessel::HitMaker;

/// The default `run_info`: converted to a Python object once, here, and shared by every call
/// that omits it.  The description keeps the generated signature free of object addresses.
py::arg_v simulation_run_default() {
    return py::arg_v("run_info", tessel::RunInfo::simulation_run(), "RunInfo.simulation_run()");
}

/// The waveform extractor's name and sample period, as properties of `cls` (which reaches its
/// FeatureExtractor through `get`).
template <class Class, class Get>
void add_waveform_properties(py::class_<Class>& cls, Get get) {
    cls.def_property_readonly(
        "waveform_extractor",
        [get](const Class& self) {
            return get(self).pulse_finder() != nullptr ? "PulseFinder" : "Tarvo";
        },
        "The extractor of waveform triggers the settings select: \"Tarvo\" (one record per "
        "waveform) or \"PulseFinder\" (one per pulse).");
    cls.def_property_readonly(
        "sample_period",
        [get](const Class& self) {
            const tessel::PulseFinder* finder = get(self).pulse_finder();
            return finder != nullptr ? finder->options().sample_period
                                     : tessel::TarvoTrigger::SECONDS_PER_TICK;
        },
        "Seconds between two samples the waveform extractor forms its times with: the pulse "
        "finder's sample_period, or the single-pulse extractor's fixed 4e-9.");
}

void register_feature_extractor(py::module_& m) {
    py::class_<FeatureExtractor> cls(m, "FeatureExtractor",
                                     R"doc(Extractor for hit features from different trigger types.

There is an extractor available for each supported trigger type.
The extractors are automatically selected based on the type of the trigger data.
)doc");
    cls.def(py::init([](const SettingsPath& settings) {
                return std::make_unique<FeatureExtractor>(settings.path);
            }),
            py::arg("settings"),
            R"doc(Constructs a FeatureExtractor.

Parameters
----------
settings : str, bytes or os.PathLike
    Path to the settings file.)doc")
        .def("extract_features", &FeatureExtractor::extract_features, py::arg("trigger_data"),
             simulation_run_default(), R"doc(Extract hit features from a list of trigger data.

Parameters
----------
trigger_data : list
    The list of trigger data (TarvoTrigger or MultiPMTTrigger).
run_info : RunInfo, optional
    Run information (default is a simulation run).

Returns
-------
VectorHitFeatures
    A list of extracted HitFeatures. Note that a single trigger may produce multiple hit features or none.)doc");

    add_waveform_properties(
        cls, [](const FeatureExtractor& self) -> const FeatureExtractor& { return self; });

    // The columnar methods' docstrings start with their own signature line (pybind11's would
    // name C++ types): bound as written, up to the end of this function.
    py::options columnar;
    columnar.disable_function_signatures();
    cls.def("extract_tarvo_numpy", &extract_tarvo_numpy, py::arg("triggers"), py::arg("waveforms"),
            py::arg("offsets") = py::none(), py::arg("first_trigger") = 0, simulation_run_default(),
            py::kw_only(), py::arg("threads") = 1, py::arg("return_truncated") = false,
            py::arg("return_drops") = false, py::arg("return_pulses") = false,
            py::arg("adc_max") = py::none(), extract_tarvo_doc());
    cls.def("extract_multipmt_numpy", &extract_multipmt_numpy, py::arg("triggers"),
            py::arg("first_trigger") = 0, simulation_run_default(), py::kw_only(),
            py::arg("threads") = 1, py::arg("return_drops") = false, extract_multipmt_doc());
}

void register_hit_maker(py::module_& m) {
    py::class_<HitMaker> cls(m, "HitMaker",
                             "Class to create Hit objects from HitFeatures. HitMaker serves as a "
                             "container for Reconstructors which represent different\n"
                             "charge and time reconstruction algorithms.");
    cls.def(py::init<>(), "Constructs an empty HitMaker.")
        .def(py::init([](const SettingsPath& settings) {
                 return std::make_unique<HitMaker>(settings.path);
             }),
             py::arg("settings"),
             R"doc(Constructs a HitMaker and adds the Reconstructors from the given settings file.

Parameters

----------
settings : str, bytes or os.PathLike
    Path to the settings file.)doc")
        .def(
            "make_hits", &HitMaker::make_hits, py::arg("features"), py::arg("no_discard") = false,
            R"doc(Creates Hit objects from the given HitFeatures. All created hits are valid (finite uncertainties).

Parameters

----------
features : VectorHitFeatures
    The hit features.
no_discard : bool, optional
    If True, invalid hits will not be discarded.

Returns

-------
VectorHit
    A list of created Hit objects.)doc")
        .def(
            "add_reconstructor_from_callable",
            // py::function accepts only objects that Python reports callable (TypeError else).
            [](HitMaker& self, py::function callable) {
                self.add_reconstructor(
                    std::make_unique<PyCallableReconstructor>(std::move(callable)));
            },
            py::arg("callable"),
            "Add a reconstructor backed by a Python callable with signature (features, hit).\n"
            "The callable should accept (HitFeatures, Hit) and return an updated Hit.");

    // The columnar methods' docstrings start with their own signature line (pybind11's would
    // name C++ types): bound as written, up to the end of this function.
    py::options columnar;
    columnar.disable_function_signatures();
    cls.def("make_hits_numpy", &make_hits_numpy, py::arg("features"), py::arg("no_discard") = false,
            py::kw_only(), py::arg("threads") = 1, make_hits_doc());
}

void register_charge_reconstruction(py::module_& m) {
    // The settings path is taken as a string (str or bytes); a pathlib.Path is not accepted.
    py::class_<ChargeReconstruction> cls(
        m, "ChargeReconstruction",
        R"doc(Main interface of the library: reconstructs hits from trigger data in one call.

The reconstruct method converts trigger data (detector output) into hits (reconstruction output).
The charge and time reconstruction can be configured via a settings file passed to the constructor.)doc");
    cls.def(py::init([](const SettingsName& settings) {
                return std::make_unique<ChargeReconstruction>(settings.name);
            }),
            py::arg("settings"),
            R"doc(Create a ChargeReconstruction instance from the given settings file path.

Parameters
----------
settings : str
    Path to the settings file used to configure feature extractor and reconstructor.

Raises
------
Exception
    Propagates exceptions from feature extractor and reconstructor creation if settings are invalid.)doc")
        .def("reconstruct", &ChargeReconstruction::reconstruct, py::arg("trigger_data"),
             simulation_run_default(), R"doc(Reconstruct hits from the given trigger data.

Parameters
----------
trigger_data : list
    A list of trigger objects (TarvoTrigger or MultiPMTTrigger).
run_info : RunInfo, optional
    Run information (default is a simulation run).

Returns
-------
VectorHit
    A list of Hit objects resulting from the reconstruction.

Notes
-----
A single trigger may produce multiple hits or no hits at all.)doc");

    add_waveform_properties(cls, [](const ChargeReconstruction& self) -> const FeatureExtractor& {
        return self.feature_extractor();
    });

    // The columnar methods' docstrings start with their own signature line (pybind11's would
    // name C++ types): bound as written, up to the end of this function.
    py::options columnar;
    columnar.disable_function_signatures();
    cls.def("reconstruct_tarvo_numpy", &reconstruct_tarvo_numpy, py::arg("triggers"),
            py::arg("waveforms"), py::arg("offsets") = py::none(), py::arg("first_trigger") = 0,
            simulation_run_default(), py::kw_only(), py::arg("threads") = 1,
            py::arg("return_truncated") = false, py::arg("return_drops") = false,
            py::arg("return_pulses") = false, py::arg("adc_max") = py::none(),
            reconstruct_tarvo_doc());
    cls.def("reconstruct_multipmt_numpy", &reconstruct_multipmt_numpy, py::arg("triggers"),
            py::arg("first_trigger") = 0, simulation_run_default(), py::kw_only(),
            py::arg("threads") = 1, py::arg("return_drops") = false, reconstruct_multipmt_doc());
}

}  // namespace

void register_pipeline(py::module_& m) {
    register_feature_extractor(m);
    register_hit_maker(m);
    register_charge_reconstruction(m);
}
