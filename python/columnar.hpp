#pragma once

// The columnar methods of FeatureExtractor, HitMaker and ChargeReconstruction (columnar.cpp),
// bound with the rest of each class in register_pipeline.cpp.  Each docstring starts with the
// method's signature line, so they are bound with pybind11's own signatures disabled.

#include <cstdint>
#include <optional>

#include "bindings.hpp"

py::object extract_tarvo_numpy(const tessel::FeatureExtractor& self, const py::handle& triggers,
                               const py::handle& waveforms, const py::handle& offsets,
                               std::uint64_t first_trigger, tessel::RunInfo run_info,
                               std::int64_t threads, bool return_truncated, bool return_drops,
                               bool return_pulses, std::optional<double> adc_max);
py::object extract_multipmt_numpy(const tessel::FeatureExtractor& self, const py::handle& triggers,
                                  std::uint64_t first_trigger, tessel::RunInfo run_info,
                                  std::int64_t threads, bool return_drops);
py::array_t<HitNumpyRow> make_hits_numpy(const tessel::HitMaker& self, const py::handle& features,
                                         bool no_discard, std::int64_t threads);
py::object reconstruct_tarvo_numpy(const tessel::ChargeReconstruction& self,
                                   const py::handle& triggers, const py::handle& waveforms,
                                   const py::handle& offsets, std::uint64_t first_trigger,
                                   tessel::RunInfo run_info, std::int64_t threads,
                                   bool return_truncated, bool return_drops, bool return_pulses,
                                   std::optional<double> adc_max);
py::object reconstruct_multipmt_numpy(const tessel::ChargeReconstruction& self,
                                      const py::handle& triggers, std::uint64_t first_trigger,
                                      tessel::RunInfo run_info, std::int64_t threads,
                                      bool return_drops);
/// The dtype of the drop counts the columnar calls return (module attribute drop_dtype).
py::dtype drop_dtype();

const char* extract_tarvo_doc();
const char* extract_multipmt_doc();
const char* make_hits_doc();
const char* reconstruct_tarvo_doc();
const char* reconstruct_multipmt_doc();
