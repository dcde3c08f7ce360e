#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/hit_features.hpp"

namespace tessel {

/// The five floating-point features, in the order of `FeatureRecord::values`.
enum class Feature : std::uint8_t {
    waveform_integral,
    time_over_threshold,
    trigger_time,
    adc_sample,
    rising_edge_time,
};

inline constexpr std::size_t FEATURE_COUNT = 5;

/// The feature called `name` ("waveform_integral", "time_over_threshold", "trigger_time",
/// "adc_sample", "rising_edge_time"); std::invalid_argument "Unknown feature name: <name>" for
/// any other.
Feature feature_from_name(const std::string& name);

/// The feature names, in the order of `Feature`.
std::vector<std::string_view> feature_names();

/// The presence bit of `feature` (a `HitFeatures::Flag`).
constexpr std::uint8_t feature_flag(Feature feature) noexcept {
    constexpr std::array<std::uint8_t, FEATURE_COUNT> flags = {
        HitFeatures::WAVEFORM_INTEGRAL, HitFeatures::TIME_OVER_THRESHOLD, HitFeatures::TRIGGER_TIME,
        HitFeatures::ADC_SAMPLE, HitFeatures::RISING_EDGE_TIME};
    return flags[static_cast<std::size_t>(feature)];
}

/// Most records one trigger can yield: the hit id's record index has 4 bits.
inline constexpr std::size_t MAX_RECORDS_PER_TRIGGER = 16;

/// One feature record as the pipeline works on it: plain values, with the features that are set
/// given by `present` (`HitFeatures::Flag` bits), written once by whoever makes the record.
/// Extraction writes these, hit making reads them; `HitFeatures` is the face of a record towards
/// users (the object API, Python, user reconstructors).
struct FeatureRecord {
    std::int32_t channel;
    std::int32_t pmt_type;
    std::uint64_t id;
    std::array<double, FEATURE_COUNT> values;
    std::uint8_t present;

    [[nodiscard]] bool has(std::uint8_t flag) const noexcept { return (present & flag) != 0; }
    [[nodiscard]] double value(Feature feature) const noexcept {
        return values[static_cast<std::size_t>(feature)];
    }
    void set(Feature feature, double v) noexcept { values[static_cast<std::size_t>(feature)] = v; }

    /// The same record as `HitFeatures`: the same features set, with the same values.
    [[nodiscard]] HitFeatures features() const noexcept {
        HitFeatures f;
        if (has(HitFeatures::CHANNEL)) {
            f.set_channel(channel);
        }
        if (has(HitFeatures::PMT_TYPE)) {
            f.set_pmt_type(pmt_type);
        }
        if (has(HitFeatures::ID)) {
            f.set_id(id);
        }
        if (has(HitFeatures::TRIGGER_TIME)) {
            f.set_trigger_time(value(Feature::trigger_time));
        }
        if (has(HitFeatures::WAVEFORM_INTEGRAL)) {
            f.set_waveform_integral(value(Feature::waveform_integral));
        }
        if (has(HitFeatures::TIME_OVER_THRESHOLD)) {
            f.set_time_over_threshold(value(Feature::time_over_threshold));
        }
        if (has(HitFeatures::ADC_SAMPLE)) {
            f.set_adc_sample(value(Feature::adc_sample));
        }
        if (has(HitFeatures::RISING_EDGE_TIME)) {
            f.set_rising_edge_time(value(Feature::rising_edge_time));
        }
        return f;
    }

    /// The record of `f`; unset features read as 0.
    [[nodiscard]] static FeatureRecord of(const HitFeatures& f) noexcept {
        // The flag tests guard every getter, so none of them can throw here.
        const auto get = [&f](bool set, double (HitFeatures::*getter)() const) {
            return set ? (f.*getter)() : 0.0;
        };
        return {f.has_channel() ? f.get_channel() : 0,
                f.has_pmt_type() ? f.get_pmt_type() : 0,
                f.has_id() ? f.get_id() : 0,
                {get(f.has_waveform_integral(), &HitFeatures::get_waveform_integral),
                 get(f.has_time_over_threshold(), &HitFeatures::get_time_over_threshold),
                 get(f.has_trigger_time(), &HitFeatures::get_trigger_time),
                 get(f.has_adc_sample(), &HitFeatures::get_adc_sample),
                 get(f.has_rising_edge_time(), &HitFeatures::get_rising_edge_time)},
                f.flags()};
    }
};

}  // namespace tessel
