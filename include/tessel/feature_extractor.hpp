#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "tessel/channel_table.hpp"
#include "tessel/extractors.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/pulse_finder.hpp"
#include "tessel/settings_reader.hpp"
#include "tessel/trigger.hpp"
#include "tessel/trigger_step.hpp"

namespace tessel {

/// Turns a mixed list of trigger records into feature records, choosing the extractor by the
/// kind of each trigger and stamping every record with its hit id.
class FeatureExtractor {
public:
    /// Reads the options of section "extractors" of the settings file.
    explicit FeatureExtractor(const std::filesystem::path& settings_file);
    /// The same from settings loaded already: no file is read again.
    explicit FeatureExtractor(const LoadedSettings& settings);

    /// The keys of the "extractors" section, its sections' keys nested.
    static const KeyTable& settings_keys();
    /// Runs the reading of the "extractors" section on a reader in checking mode.
    static void check_settings(const SettingsReader& extractors);
    ~FeatureExtractor();
    FeatureExtractor(FeatureExtractor&&) noexcept;
    FeatureExtractor& operator=(FeatureExtractor&&) noexcept;
    FeatureExtractor(const FeatureExtractor&) = delete;
    FeatureExtractor& operator=(const FeatureExtractor&) = delete;

    /// Records in trigger order; ids hold the run number, the trigger's position in `triggers`
    /// and the record's index within its trigger.  Throws std::length_error, before extracting
    /// anything, for more triggers than the id's trigger field holds.
    [[nodiscard]] std::vector<HitFeatures> extract_features(
        const TriggerList& triggers, const RunInfo& run_info = RunInfo::simulation_run()) const;

    /// The step that extracts one trigger of a call with `run_info` (tessel/trigger_step.hpp):
    /// what every path applies to each trigger.  Valid while this extractor lives.
    [[nodiscard]] TriggerStep step(const RunInfo& run_info) const noexcept;

    /// The channel table of the extraction (`extractors: {channels: {table: FILE}}`) and how it
    /// is applied, or null when none is configured.
    [[nodiscard]] const ChannelTable* channel_table() const noexcept;
    [[nodiscard]] const ChannelTypes* channel_types() const noexcept;

    /// The extractors, for batch paths.  Like every operation but destruction and assignment,
    /// they need an extractor that has not been moved from.
    [[nodiscard]] const TarvoExtractor& tarvo_extractor() const noexcept;
    [[nodiscard]] const MultiPMTExtractor& multipmt_extractor() const noexcept;
    /// The pulse finder when the settings select it for waveform triggers
    /// ("extractors.waveform: PulseFinder"), else null.
    [[nodiscard]] const PulseFinder* pulse_finder() const noexcept;

    /// The extractor's state, opaque outside its source file.
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel
