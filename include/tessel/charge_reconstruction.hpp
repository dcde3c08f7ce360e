#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tessel/feature_extractor.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/trigger.hpp"

namespace tessel {

/// Trigger records to valid hits in one call: a FeatureExtractor and a HitMaker built from one
/// settings file.
class ChargeReconstruction {
public:
    /// Builds the feature extractor first, then the hit maker.
    explicit ChargeReconstruction(const std::string& settings);
    /// The same from settings loaded already, in the same order: the settings file and each
    /// table it names are read once, however many parts use them.
    explicit ChargeReconstruction(const LoadedSettings& settings);
    ~ChargeReconstruction();
    ChargeReconstruction(ChargeReconstruction&&) noexcept;
    ChargeReconstruction& operator=(ChargeReconstruction&&) noexcept;
    ChargeReconstruction(const ChargeReconstruction&) = delete;
    ChargeReconstruction& operator=(const ChargeReconstruction&) = delete;

    std::vector<Hit> reconstruct(const TriggerList& trigger_data,
                                 const RunInfo& run_info = RunInfo::simulation_run());

    [[nodiscard]] const FeatureExtractor& feature_extractor() const noexcept;
    [[nodiscard]] const HitMaker& hit_maker() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel
