#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tessel/extractors.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/settings.hpp"
#include "tessel/settings_reader.hpp"
#include "tessel/trigger.hpp"

namespace tessel {

/// Waveform extractor for records that hold several pulses: finds up to `kMaxPulses` pulses by
/// a threshold with hysteresis above the baseline and makes one record per pulse, with the
/// features the single-pulse `TarvoExtractor` gives a whole waveform (integral above the
/// baseline, rising-edge time, trigger time), each taken over the pulse's own window.
///
/// A pulse starts at a sample above baseline + threshold and ends at the first later sample at
/// or below baseline + threshold - hysteresis (its return); the next pulse is searched from
/// there.  Its window runs from `samples_before` samples ahead of the start to `samples_after`
/// samples past the return, within the waveform, never reaching back before the previous
/// pulse's return, and cut where the next pulse's window begins, so that no sample is counted
/// twice.
class PulseFinder {
public:
    /// Records one waveform yields at most: the hit id numbers them in 4 bits.
    static constexpr std::size_t kMaxPulses = MAX_RECORDS_PER_TRIGGER;
    /// Longest window side, in samples: keeps index arithmetic far from overflow.
    static constexpr std::size_t kMaxWindowSide = std::size_t{1} << 30U;

    /// How the rising-edge time of a pulse is measured.
    enum class Timing : std::uint8_t {
        /// Steepest rise within the window, refined by the parabola through the
        /// sample-to-sample differences around it (the method of `TarvoExtractor`).
        edge,
        /// Constant fraction: where the pulse first reaches `cfd_fraction` of its amplitude
        /// (largest sample minus baseline), interpolated linearly between two samples.
        cfd,
    };

    struct Options {
        /// LSB above the baseline a sample must exceed to start a pulse.
        double threshold = 12.0;
        /// The pulse ends at a sample at or below baseline + threshold - hysteresis (LSB).
        double hysteresis = 8.0;
        /// Samples of the window ahead of the first sample above threshold.
        std::size_t samples_before = 3;
        /// Samples of the window after the return below threshold - hysteresis.
        std::size_t samples_after = 16;
        Timing timing = Timing::edge;
        /// Fraction of the amplitude for `Timing::cfd`, in (0, 1].
        double cfd_fraction = 0.2;
        /// Drop a pulse whose edge is unusable: at either end of its window, on a sample below
        /// the baseline (edge timing), or at the window's first sample (cfd timing).
        bool drop_bad_edge = false;
        /// Drop a pulse whose integral over its window is negative.
        bool drop_bad_integral = false;

        /// Options from the mapping `node` (the "PulseFinder" section of "extractors"); absent
        /// keys keep their defaults.  Throws std::invalid_argument naming the key for a value
        /// of the wrong type or out of range, or for an unknown key.
        static Options from_settings(const Settings& node);
        /// The same through a reader over the section (loading or checking).
        static Options from_settings(const SettingsReader& node);
        /// The keys of the "PulseFinder" section.
        static const KeyTable& settings_keys();
        /// Throws std::invalid_argument naming the first option out of range.
        void check() const;
    };

    /// Throws std::invalid_argument for options out of range (see `Options::check`).
    explicit PulseFinder(const Options& options);

    /// Appends one record per pulse found, at most `kMaxPulses`, the first pulses of the
    /// waveform in time order.  Returns true when the waveform held more pulses than that.
    bool extract_features(const TarvoTrigger& trigger, std::vector<HitFeatures>& out,
                          const RunInfo& run_info) const;
    /// The same for a borrowed waveform.
    bool extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                 std::vector<HitFeatures>& out) const;
    /// The same into `out[0]` to `out[kMaxPulses - 1]` (every field written, the ids left to the
    /// caller): returns the number of records written and sets `truncated` when the waveform
    /// held more than `kMaxPulses` pulses.
    std::size_t extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                        FeatureRecord* out, bool& truncated) const;

    [[nodiscard]] const Options& options() const noexcept { return options_; }

private:
    Options options_;
};

}  // namespace tessel
