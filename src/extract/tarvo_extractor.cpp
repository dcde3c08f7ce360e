#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "tessel/extractors.hpp"
#include "waveform_kernels.hpp"

namespace tessel {

namespace {

constexpr double kSecondsPerNanosecond = 1e-9;

/// x of the vertex of the parabola through the differences at k - 1, k, k + 1, by the general
/// three-point fit: for positions too large for the one-division form (never in practice).
[[gnu::noinline, gnu::cold]] double general_vertex(std::size_t k, double y1, double y2,
                                                   double y3) noexcept;

/// Rising-edge position in samples of a waveform of at least 3 samples whose steepest rise is
/// the difference at `k` (below n - 1): 0 and n mark an edge at the start and at the end.
inline double edge_at(std::span<const std::uint16_t> waveform, std::size_t k) noexcept {
    const std::size_t n = waveform.size();
    if (k == 0) {
        return 0.0;
    }
    if (k == n - 2) {
        return static_cast<double>(n);
    }
    const auto d = [&waveform](std::size_t i) {
        return static_cast<double>(static_cast<std::int32_t>(waveform[i + 1]) -
                                   static_cast<std::int32_t>(waveform[i]));
    };
    if (k <= waveform::kUnitSpacedVertexMax) {
        return waveform::unit_spaced_vertex(k, d(k - 1), d(k), d(k + 1)) + 1.0;
    }
    return general_vertex(k, d(k - 1), d(k), d(k + 1)) + 1.0;
}

}  // namespace

bool TarvoExtractor::is_bad_edge(double edge, std::span<const std::uint16_t> samples,
                                 float baseline) noexcept {
    const auto n = static_cast<double>(samples.size());
    if (edge == 0.0 || edge == n) {
        return true;
    }
    // An interior edge lies strictly between 0 and n (the parabola's vertex is within half a
    // step of the steepest difference); the range test only keeps a rounding oddity of a
    // waveform of tens of millions of samples from reading outside it.
    if (!(edge > 0.0 && edge < n)) {
        return true;
    }
    return baseline > static_cast<float>(samples[static_cast<std::size_t>(edge)]);
}

TarvoExtractor::Parabola::Parabola(double x1, double y1, double x2, double y2, double x3,
                                   double y3) noexcept {
    const double r = (x3 - x1) / (x2 - x1);
    a = ((y3 - y1) - (y2 - y1) * r) / ((x3 * x3 - x1 * x1) - r * (x2 * x2 - x1 * x1));
    b = ((y2 - y1) - a * (x2 * x2 - x1 * x1)) / (x2 - x1);
    c = (y1 - (a * x1) * x1) - b * x1;
}

double TarvoExtractor::Parabola::operator()(double x) const noexcept {
    return (b * x + (a * x) * x) + c;
}

double TarvoExtractor::Parabola::extremum() const noexcept { return -b / (a + a); }

namespace {

double general_vertex(std::size_t k, double y1, double y2, double y3) noexcept {
    const TarvoExtractor::Parabola fit(static_cast<double>(k - 1), y1, static_cast<double>(k), y2,
                                       static_cast<double>(k + 1), y3);
    return fit.extremum();
}

}  // namespace

double TarvoExtractor::diff_max(const std::vector<std::uint16_t>& waveform) const {
    return diff_max(std::span<const std::uint16_t>(waveform));
}

double TarvoExtractor::diff_max(std::span<const std::uint16_t> waveform) {
    if (waveform.size() < 3) {
        throw std::invalid_argument(
            "Waveform must have at least 3 samples to calculate the differential maximum.");
    }
    return edge_at(waveform, waveform::steepest_rise(waveform));
}

double TarvoExtractor::waveform_integral(std::span<const std::uint16_t> waveform,
                                         float baseline) noexcept {
    return waveform::integral(waveform, baseline);
}

double TarvoExtractor::trigger_time(std::uint32_t trigger_time_s, std::uint32_t trigger_time_ticks,
                                    const RunInfo& run_info) noexcept {
    // A trigger stamped before the run's time offset happened before the run's time origin and
    // gets a negative time.  The whole-second difference is therefore taken with its sign: in
    // unsigned arithmetic it would wrap to about 1.8e19 s.  Its magnitude is converted as the
    // unsigned difference is, so every other trigger gets the same bits as before.
    const std::uint64_t seconds_since_start = trigger_time_s;
    const double seconds = seconds_since_start >= run_info.time_offset_s
                               ? static_cast<double>(seconds_since_start - run_info.time_offset_s)
                               : -static_cast<double>(run_info.time_offset_s - seconds_since_start);
    return (seconds + static_cast<double>(trigger_time_ticks) * TarvoTrigger::SECONDS_PER_TICK) -
           static_cast<double>(run_info.time_offset_ns) * kSecondsPerNanosecond;
}

TarvoExtractor::Shape TarvoExtractor::shape(std::span<const std::uint16_t> samples,
                                            float baseline) noexcept {
    // One pass finds the sum for the integral and the largest rise for the edge search.
    const waveform::SumAndRise pass = waveform::sum_and_largest_rise(samples);
    return {waveform::integral_from_sum(pass.sum, samples, baseline),
            edge_at(samples, waveform::steepest_rise(samples, pass.largest_rise))};
}

bool TarvoExtractor::keeps(const Shape& shape, const TarvoTriggerView& trigger,
                           DropCounts* drops) const noexcept {
    // The integral is tested first, as for a short waveform.
    if (drop_bad_integral_ && shape.integral < 0.0) {
        count_drop(drops, &DropCounts::bad_integral);
        return false;
    }
    if (drop_bad_edge_ && is_bad_edge(shape.edge, trigger.waveform, trigger.baseline)) {
        count_drop(drops, &DropCounts::bad_edge);
        return false;
    }
    return true;
}

std::size_t TarvoExtractor::extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                                    FeatureRecord* out, DropCounts* drops) const {
    const std::span<const std::uint16_t> samples = trigger.waveform;
    double integral = 0.0;
    double edge = 0.0;
    if (samples.size() < 3) {
        integral = waveform_integral(samples, trigger.baseline);
        // The integral is tested before the edge search, so a trigger dropped for its integral
        // is dropped even when its waveform is too short for an edge.
        if (drop_bad_integral_ && integral < 0.0) {
            count_drop(drops, &DropCounts::bad_integral);
            return 0;
        }
        edge = diff_max(samples);  // throws
        if (drop_bad_edge_ && is_bad_edge(edge, samples, trigger.baseline)) {
            count_drop(drops, &DropCounts::bad_edge);
            return 0;
        }
    } else {
        const Shape found = shape(samples, trigger.baseline);
        if (!keeps(found, trigger, drops)) {
            return 0;
        }
        integral = found.integral;
        edge = found.edge;
    }
    write_record(trigger.channel, {integral, edge},
                 trigger_time(trigger.trigger_time_s, trigger.trigger_time_ticks, run_info),
                 out[0]);
    return 1;
}

bool TarvoExtractor::extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                             HitFeatures& out) const {
    FeatureRecord record;
    if (extract(trigger, run_info, &record) == 0) {
        return false;
    }
    out.set_channel(record.channel);
    out.set_waveform_integral(record.value(Feature::waveform_integral));
    out.set_trigger_time(record.value(Feature::trigger_time));
    out.set_rising_edge_time(record.value(Feature::rising_edge_time));
    return true;
}

void TarvoExtractor::extract_features(const TarvoTrigger& trigger, std::vector<HitFeatures>& out,
                                      const RunInfo& run_info) const {
    HitFeatures features;
    if (extract(TarvoTriggerView::of(trigger), run_info, features)) {
        out.push_back(features);
    }
}

}  // namespace tessel
