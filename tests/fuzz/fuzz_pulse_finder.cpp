// The pulse finder on any waveform, baseline and options.  The input is 4 bytes of baseline (a
// float's bits: NaN, infinities and subnormals included), 8 bytes of options, then the samples
// (little-endian uint16).  Properties: extraction stays defined (the sanitizers check every
// cast); it keeps at most 16 records and says when it found more; a baseline that is not a
// number finds no pulse; with a finite baseline every record lies on the waveform, its channel
// the trigger's and its integral that of its window's samples above the baseline.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel/extractors.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/pulse_finder.hpp"
#include "tessel/trigger.hpp"

namespace {

using tessel::PulseFinder;
using tessel::fuzz::require;

constexpr std::size_t kHead = 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHead) {
        return 0;
    }
    std::uint32_t bits = 0;
    std::memcpy(&bits, data, sizeof bits);
    const auto baseline = std::bit_cast<float>(bits);
    const std::uint8_t* o = data + 4;
    PulseFinder::Options options;
    options.threshold = 0.25 + o[0];
    options.hysteresis = o[1] / 4.0;
    options.samples_before = o[2] % 64U;
    options.samples_after = o[3] % 64U;
    options.timing = (o[4] & 1U) != 0 ? PulseFinder::Timing::cfd : PulseFinder::Timing::edge;
    options.cfd_fraction = (1 + o[5]) / 256.0;
    options.drop_bad_edge = (o[4] & 2U) != 0;
    options.drop_bad_integral = (o[4] & 4U) != 0;
    std::vector<std::uint16_t> samples((size - kHead) / 2);
    if (!samples.empty()) {
        std::memcpy(samples.data(), data + kHead, samples.size() * 2);
    }

    const PulseFinder finder(options);
    tessel::TarvoTriggerView trigger;
    trigger.channel = static_cast<std::int32_t>(o[6]) - 128;
    trigger.trigger_time_s = o[7];
    trigger.baseline = baseline;
    trigger.waveform = samples;
    std::array<tessel::FeatureRecord, PulseFinder::kMaxPulses> records;
    bool truncated = false;
    const std::size_t count = finder.extract(trigger, tessel::RunInfo{}, records.data(), truncated);
    require(count <= PulseFinder::kMaxPulses, "at most 16 records");
    require(!truncated || count > 0 || options.drop_bad_edge || options.drop_bad_integral,
            "a truncated waveform keeps records unless they are dropped");
    if (std::isnan(baseline)) {
        require(count == 0 && !truncated, "a NaN baseline finds no pulse");
        return 0;
    }
    if (!std::isfinite(baseline)) {
        return 0;
    }
    const double start = static_cast<double>(trigger.trigger_time_s);
    const double end =
        start + static_cast<double>(samples.size()) * tessel::TarvoTrigger::SECONDS_PER_TICK;
    for (std::size_t k = 0; k < count; ++k) {
        const auto features = records[k].features();
        require(features.get_channel() == trigger.channel, "the trigger's channel");
        const double integral = features.get_waveform_integral();
        require(std::isfinite(integral), "a finite integral");
        require(std::abs(integral) <= static_cast<double>(samples.size()) *
                                          (65535.0 + std::abs(static_cast<double>(baseline))),
                "an integral of the window's samples");
        const double edge = features.get_rising_edge_time();
        require(edge >= start - 1e-12 && edge <= end + 1e-12,
                "the rising edge lies on the waveform");
    }
    return 0;
}
