#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tessel/feature_record.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/trigger.hpp"

namespace tessel {

/// The fields of a TarvoTrigger that extraction reads, with the samples as a borrowed span, so
/// that batch paths can extract from arrays without building TarvoTrigger objects.
struct TarvoTriggerView {
    std::int32_t channel = 0;
    std::uint32_t trigger_time_s = 0;
    std::uint32_t trigger_time_ticks = 0;
    float baseline = 0.0F;
    std::span<const std::uint16_t> waveform;

    static TarvoTriggerView of(const TarvoTrigger& t) noexcept {
        return {t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, t.waveform};
    }
};

/// Waveform extractor: integral above the baseline, trigger time and the rising edge located to
/// a fraction of a sample by a parabola through the sample-to-sample differences.
/// Records an extraction left out, by cause: a trigger on a channel without a row in the channel
/// table (with `unknown_channels: drop`), a rising edge found unusable (`drop_bad_edge`), a
/// negative integral (`drop_bad_integral`); and the triggers whose pulses did not all fit in
/// the records of one trigger (the first ones kept).  Counts records, so for the single-record
/// extractors triggers; the pulse finder drops single pulses.
struct DropCounts {
    std::uint64_t unknown_channel = 0;
    std::uint64_t bad_edge = 0;
    std::uint64_t bad_integral = 0;
    std::uint64_t truncated = 0;

    [[nodiscard]] bool any() const noexcept {
        return (unknown_channel | bad_edge | bad_integral | truncated) != 0;
    }
    DropCounts& operator+=(const DropCounts& other) noexcept {
        unknown_channel += other.unknown_channel;
        bad_edge += other.bad_edge;
        bad_integral += other.bad_integral;
        truncated += other.truncated;
        return *this;
    }
    friend bool operator==(const DropCounts&, const DropCounts&) = default;
};

/// Adds one to the count `cause` of `drops`, when given.
inline void count_drop(DropCounts* drops, std::uint64_t DropCounts::*cause) noexcept {
    if (drops != nullptr) {
        ++(drops->*cause);
    }
}

class TarvoExtractor {
public:
    /// y = a*x^2 + b*x + c.
    struct Parabola {
        double a;
        double b;
        double c;

        Parabola(double a_, double b_, double c_) noexcept : a(a_), b(b_), c(c_) {}
        /// The parabola through three points.
        Parabola(double x1, double y1, double x2, double y2, double x3, double y3) noexcept;
        double operator()(double x) const noexcept;
        /// x of the vertex.
        [[nodiscard]] double extremum() const noexcept;
    };

    TarvoExtractor(bool drop_bad_edge, bool drop_bad_integral) noexcept
        : drop_bad_edge_(drop_bad_edge), drop_bad_integral_(drop_bad_integral) {}

    /// Appends zero or one record to `out`.
    void extract_features(const TarvoTrigger& trigger, std::vector<HitFeatures>& out,
                          const RunInfo& run_info) const;
    /// Fills `out` (a fresh record) and returns true, or returns false when the trigger is
    /// dropped.  Throws std::invalid_argument for fewer than 3 samples unless dropped first.
    bool extract(const TarvoTriggerView& trigger, const RunInfo& run_info, HitFeatures& out) const;
    /// The same into `out[0]` (every field written, the id left to the caller): returns the
    /// number of records written, 0 or 1.  A dropped trigger is counted by its cause into
    /// `drops` when given.
    std::size_t extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                        FeatureRecord* out, DropCounts* drops = nullptr) const;
    /// Most records one trigger yields.
    static constexpr std::size_t MAX_RECORDS = 1;

    /// The waveform integral and the rising-edge position (in samples) of a waveform of at least
    /// 3 samples, as `extract` finds them.
    struct Shape {
        double integral;
        double edge;
    };
    [[nodiscard]] static Shape shape(std::span<const std::uint16_t> samples,
                                     float baseline) noexcept;
    /// Whether `extract` keeps a trigger of at least 3 samples whose waveform has `shape`; a
    /// dropped one is counted by its cause into `drops` when given.
    [[nodiscard]] bool keeps(const Shape& shape, const TarvoTriggerView& trigger,
                             DropCounts* drops = nullptr) const noexcept;
    /// The record `extract` writes for a kept trigger on `channel` at `time` whose waveform has
    /// `shape`: every field but the id, which the step gives.
    static void write_record(std::int32_t channel, const Shape& shape, double time,
                             FeatureRecord& out) noexcept {
        out.channel = channel;
        out.pmt_type = 0;
        out.id = 0;
        out.values = {shape.integral, 0.0, time, 0.0,
                      shape.edge * TarvoTrigger::SECONDS_PER_TICK + time};
        out.present = HitFeatures::CHANNEL | HitFeatures::WAVEFORM_INTEGRAL |
                      HitFeatures::TRIGGER_TIME | HitFeatures::RISING_EDGE_TIME;
    }
    /// Whether a rising edge at `edge` (in samples) of `samples` is unusable: at either end or
    /// outside them (NaN included), or on a sample below `baseline`.  Never reads outside
    /// `samples`.
    [[nodiscard]] static bool is_bad_edge(double edge, std::span<const std::uint16_t> samples,
                                          float baseline) noexcept;

    /// Rising-edge position in samples: 0 and n mark an edge at the start and at the end.
    [[nodiscard]] double diff_max(const std::vector<std::uint16_t>& waveform) const;
    [[nodiscard]] static double diff_max(std::span<const std::uint16_t> waveform);

    /// Sum of (sample - baseline) in double precision, in sample order.
    [[nodiscard]] static double waveform_integral(std::span<const std::uint16_t> waveform,
                                                  float baseline) noexcept;
    /// Trigger time in seconds relative to the run's time offsets.
    [[nodiscard]] static double trigger_time(std::uint32_t trigger_time_s,
                                             std::uint32_t trigger_time_ticks,
                                             const RunInfo& run_info) noexcept;

    [[nodiscard]] bool drop_bad_edge() const noexcept { return drop_bad_edge_; }
    [[nodiscard]] bool drop_bad_integral() const noexcept { return drop_bad_integral_; }

private:
    bool drop_bad_edge_;
    bool drop_bad_integral_;
};

/// Copies the values of a multi-PMT record; always yields one record.
class MultiPMTExtractor {
public:
    void extract_features(const MultiPMTTrigger& trigger, std::vector<HitFeatures>& out,
                          const RunInfo& run_info) const;
    /// Fills `out` (a fresh record) from `trigger`.
    static void extract(const MultiPMTTrigger& trigger, HitFeatures& out) noexcept;
    /// The same into `out[0]` (every field written, the id left to the caller); returns 1.
    static std::size_t extract(const MultiPMTTrigger& trigger, FeatureRecord* out) noexcept {
        // The module's time is taken as it comes: no run time offset applies to it.
        FeatureRecord& r = out[0];
        r.channel = trigger.channel;
        r.pmt_type = 0;
        r.id = 0;
        r.values = {0.0, trigger.time_over_threshold, trigger.time,
                    static_cast<double>(trigger.adc_sample), 0.0};
        r.present = HitFeatures::CHANNEL | HitFeatures::TIME_OVER_THRESHOLD |
                    HitFeatures::TRIGGER_TIME | HitFeatures::ADC_SAMPLE;
        return 1;
    }
    /// Most records one trigger yields.
    static constexpr std::size_t MAX_RECORDS = 1;
};

}  // namespace tessel
