#include "bindings.hpp"
#include "columnar.hpp"

// Multi-phase initialisation; the module cannot be loaded into sub-interpreters, and it does not
// declare that it runs without the global interpreter lock, so a free-threaded interpreter keeps
// the lock enabled while it is loaded.
PYBIND11_MODULE(orvane, m, py::multiple_interpreters::not_supported()) {
    m.attr("__version__") = ORVANE_VERSION;
    m.doc() = R"doc(Python bindings of the orvane library for PMT hit reconstruction.

Exposes Hit, HitFeatures, TarvoTrigger, MultiPMTTrigger, HitMaker, FeatureExtractor and ChargeReconstruction.)doc";

    // The order matters: the row types before the functions that use them, the vector types
    // before the records (their elements), the records before the operations taking them.
    register_numpy(m);
    register_vectors(m);
    register_records(m);
    register_pipeline(m);
    register_errors(m);
    // Later additions come after the classes above: the trigger row types of the columnar
    // methods (registered with the other row types by register_numpy).
    m.attr("tarvo_trigger_dtype") = py::dtype::of<tessel::TarvoTriggerNumpyRow>();
    m.attr("multipmt_trigger_dtype") = py::dtype::of<tessel::MultiPMTTriggerNumpyRow>();
    m.attr("pulse_dtype") = py::dtype::of<tessel::PulseShape>();
    m.attr("drop_dtype") = drop_dtype();
    // The settings check, independent of the classes above.
    register_check(m);
    // The channel table, and its properties of FeatureExtractor.
    register_channels(m);
}
