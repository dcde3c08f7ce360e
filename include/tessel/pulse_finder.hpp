#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
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
/// The shape of one pulse found by the pulse finder, beside its feature record.  Times are in
/// seconds from the waveform's first sample; levels in LSB above the pulse's baseline.
struct PulseShape {
    /// The record's hit id, its 64 bits read as signed as in hit rows (set with the record's,
    /// by `TriggerStep`).
    std::int64_t id = 0;
    std::int32_t channel = 0;
    /// The pulse's window: its first and last sample (both included).
    std::uint32_t first_sample = 0;
    std::uint32_t last_sample = 0;
    /// The baseline the pulse's integral and levels are taken above (LSB): the trigger's, or
    /// the local one.
    double baseline = 0.0;
    /// Largest sample of the window minus the baseline.
    double amplitude = 0.0;
    /// Time of the largest sample (the first of equal ones).
    double peak_time = 0.0;
    /// Time above half the amplitude: between the crossings of that level on either side of
    /// the peak, each interpolated linearly between two samples; NaN where the window holds
    /// no crossing on one side.
    double width = 0.0;
    /// From 10 % to 90 % of the amplitude on the rise before the peak (interpolated); NaN where
    /// the window starts above the 10 % level.
    double rise_time = 0.0;
    /// Noise of the trigger's baseline (LSB), NaN here: the pulse finder does not know it.
    float baseline_rms = 0.0F;
    /// Number of the record within its trigger (the hit id's low 4 bits).
    std::uint8_t index = 0;
    /// A sample of the window at the saturation level (`adc_max`) or at 0.
    bool saturated = false;
    /// The waveform ends before the pulse returns below threshold - hysteresis.
    bool no_return = false;
};

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
        /// Time between two samples, in seconds: the times of the records are formed with it.
        double sample_period = 4e-9;
        /// The saturation level (the ADC's largest sample); a pulse with a sample there (or at
        /// 0) is flagged saturated.  NaN: not given, 65535 unless the caller knows the ADC's
        /// range (the columnar calls' `adc_max`, from a trigger file's `adc_bits`).
        double adc_max = std::numeric_limits<double>::quiet_NaN();
        /// Which baseline the integral and the edge are taken above.
        enum class Baseline : std::uint8_t {
            /// The trigger's `baseline` (one value per waveform).
            trigger,
            /// The mean of the `baseline_samples` samples just ahead of each pulse's window,
            /// after the previous pulse's return (the trigger's where there is none): follows a
            /// baseline that drifts within the waveform.
            local,
        };
        Baseline baseline = Baseline::trigger;
        /// Samples ahead of each window for the local baseline.
        std::size_t baseline_samples = 16;

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
                        FeatureRecord* out, bool& truncated) const {
        return extract(trigger, run_info, out, truncated, nullptr);
    }
    /// The same, and each record's pulse shape into `shapes[k]` when `shapes` is not null (ids
    /// left to the caller, `baseline_rms` NaN); each pulse dropped is counted by its cause into
    /// `drops` when given.
    std::size_t extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                        FeatureRecord* out, bool& truncated, PulseShape* shapes,
                        DropCounts* drops = nullptr) const;

    [[nodiscard]] const Options& options() const noexcept { return options_; }

private:
    Options options_;
};

}  // namespace tessel
