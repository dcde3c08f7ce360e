#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tessel/extractors.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/trigger.hpp"

namespace tessel {

/// Fixed-layout rows in which records cross to and from NumPy structured arrays.  Field order,
/// offsets and sizes are part of the Python interface; the static_asserts below pin them.

/// One Hit.  The id's 64 bits are stored unchanged in a signed field.
struct HitNumpyRow {
    std::int32_t channel;
    std::uint32_t padding;  ///< not a field of the NumPy type; written as 0
    std::int64_t id;
    double time;
    double charge;
    double time_uncertainty;
    double charge_uncertainty;
};

/// One HitFeatures record.  Presence is carried by the value: -1 marks an unset integer feature
/// and the quiet NaN 0x7FF8000000000000 an unset floating-point one.
struct HitFeaturesNumpyRow {
    std::int32_t channel;
    std::int32_t pmt_type;
    std::int64_t id;
    double trigger_time;
    double waveform_integral;
    double time_over_threshold;
    double adc_sample;
    double rising_edge_time;
};

/// The scalar fields of a TarvoTrigger; the samples travel in a separate array.
struct TarvoTriggerNumpyRow {
    std::int32_t channel;
    std::uint32_t trigger_time_s;
    std::uint32_t trigger_time_ticks;
    float baseline;
    float intsum;
};

/// The four fields of a MultiPMTTrigger.
struct MultiPMTTriggerNumpyRow {
    double time;
    std::int32_t channel;
    double time_over_threshold;
    std::uint16_t adc_sample;
};

static_assert(sizeof(HitNumpyRow) == 48);
static_assert(offsetof(HitNumpyRow, channel) == 0 && offsetof(HitNumpyRow, id) == 8 &&
              offsetof(HitNumpyRow, time) == 16 && offsetof(HitNumpyRow, charge) == 24 &&
              offsetof(HitNumpyRow, time_uncertainty) == 32 &&
              offsetof(HitNumpyRow, charge_uncertainty) == 40);
static_assert(sizeof(HitFeaturesNumpyRow) == 56);
static_assert(offsetof(HitFeaturesNumpyRow, channel) == 0 &&
              offsetof(HitFeaturesNumpyRow, pmt_type) == 4 &&
              offsetof(HitFeaturesNumpyRow, id) == 8 &&
              offsetof(HitFeaturesNumpyRow, trigger_time) == 16 &&
              offsetof(HitFeaturesNumpyRow, waveform_integral) == 24 &&
              offsetof(HitFeaturesNumpyRow, time_over_threshold) == 32 &&
              offsetof(HitFeaturesNumpyRow, adc_sample) == 40 &&
              offsetof(HitFeaturesNumpyRow, rising_edge_time) == 48);
static_assert(sizeof(TarvoTriggerNumpyRow) == 20);
static_assert(offsetof(TarvoTriggerNumpyRow, channel) == 0 &&
              offsetof(TarvoTriggerNumpyRow, trigger_time_s) == 4 &&
              offsetof(TarvoTriggerNumpyRow, trigger_time_ticks) == 8 &&
              offsetof(TarvoTriggerNumpyRow, baseline) == 12 &&
              offsetof(TarvoTriggerNumpyRow, intsum) == 16);
static_assert(sizeof(MultiPMTTriggerNumpyRow) == 32);
static_assert(offsetof(MultiPMTTriggerNumpyRow, time) == 0 &&
              offsetof(MultiPMTTriggerNumpyRow, channel) == 8 &&
              offsetof(MultiPMTTriggerNumpyRow, time_over_threshold) == 16 &&
              offsetof(MultiPMTTriggerNumpyRow, adc_sample) == 24);

/// The marker written for an unset floating-point feature.
inline constexpr std::uint64_t UNSET_FEATURE_BITS = 0x7FF8000000000000ULL;
inline constexpr std::int64_t UNSET_FEATURE_INT = -1;

inline HitNumpyRow hit_to_row(const Hit& hit) noexcept {
    return {hit.get_channel(),
            0,
            std::bit_cast<std::int64_t>(hit.get_id()),
            hit.get_time(),
            hit.get_charge(),
            hit.get_time_uncertainty(),
            hit.get_charge_uncertainty()};
}

inline Hit row_to_hit(const HitNumpyRow& row) noexcept {
    return {row.channel,
            std::bit_cast<std::uint64_t>(row.id),
            row.time,
            row.charge,
            row.time_uncertainty,
            row.charge_uncertainty};
}

/// Unset features become -1 / NaN; presence is read from the flags, never through a getter.
inline HitFeaturesNumpyRow features_to_row(const HitFeatures& f) noexcept {
    constexpr double unset = std::bit_cast<double>(UNSET_FEATURE_BITS);
    // The flag tests guard every getter, so none of them can throw here.
    return {f.has_channel() ? f.get_channel() : static_cast<std::int32_t>(UNSET_FEATURE_INT),
            f.has_pmt_type() ? f.get_pmt_type() : static_cast<std::int32_t>(UNSET_FEATURE_INT),
            f.has_id() ? std::bit_cast<std::int64_t>(f.get_id()) : UNSET_FEATURE_INT,
            f.has_trigger_time() ? f.get_trigger_time() : unset,
            f.has_waveform_integral() ? f.get_waveform_integral() : unset,
            f.has_time_over_threshold() ? f.get_time_over_threshold() : unset,
            f.has_adc_sample() ? f.get_adc_sample() : unset,
            f.has_rising_edge_time() ? f.get_rising_edge_time() : unset};
}

/// A feature is set exactly when its value is not the marker: integers other than -1 (other
/// negative values count as set), doubles that compare equal to themselves (infinities count).
/// Fills `out`, a fresh record, in place: building a record elsewhere and copying it costs far
/// more in a loop (the flag byte's updates stall the wide loads of the copy).
inline void row_to_features(const HitFeaturesNumpyRow& row, HitFeatures& out) noexcept {
    if (row.channel != UNSET_FEATURE_INT) {
        out.set_channel(row.channel);
    }
    if (row.pmt_type != UNSET_FEATURE_INT) {
        out.set_pmt_type(row.pmt_type);
    }
    if (row.id != UNSET_FEATURE_INT) {
        out.set_id(std::bit_cast<std::uint64_t>(row.id));
    }
    // x == x is false only for NaN.
    if (row.trigger_time == row.trigger_time) {
        out.set_trigger_time(row.trigger_time);
    }
    if (row.waveform_integral == row.waveform_integral) {
        out.set_waveform_integral(row.waveform_integral);
    }
    if (row.time_over_threshold == row.time_over_threshold) {
        out.set_time_over_threshold(row.time_over_threshold);
    }
    if (row.adc_sample == row.adc_sample) {
        out.set_adc_sample(row.adc_sample);
    }
    if (row.rising_edge_time == row.rising_edge_time) {
        out.set_rising_edge_time(row.rising_edge_time);
    }
}

/// The row of a record, as `features_to_row(record.features())`.
inline HitFeaturesNumpyRow record_to_row(const FeatureRecord& r) noexcept {
    constexpr double unset = std::bit_cast<double>(UNSET_FEATURE_BITS);
    const auto value = [&r](std::uint8_t flag, Feature feature) {
        return r.has(flag) ? r.value(feature) : unset;
    };
    return {
        r.has(HitFeatures::CHANNEL) ? r.channel : static_cast<std::int32_t>(UNSET_FEATURE_INT),
        r.has(HitFeatures::PMT_TYPE) ? r.pmt_type : static_cast<std::int32_t>(UNSET_FEATURE_INT),
        r.has(HitFeatures::ID) ? std::bit_cast<std::int64_t>(r.id) : UNSET_FEATURE_INT,
        value(HitFeatures::TRIGGER_TIME, Feature::trigger_time),
        value(HitFeatures::WAVEFORM_INTEGRAL, Feature::waveform_integral),
        value(HitFeatures::TIME_OVER_THRESHOLD, Feature::time_over_threshold),
        value(HitFeatures::ADC_SAMPLE, Feature::adc_sample),
        value(HitFeatures::RISING_EDGE_TIME, Feature::rising_edge_time)};
}

/// The record of a row, with the features set that `row_to_features` sets (unset ones read 0).
inline FeatureRecord row_to_record(const HitFeaturesNumpyRow& row) noexcept {
    // x == x is false only for NaN.
    const auto flag = [](bool set, std::uint8_t bit) {
        return set ? bit : static_cast<std::uint8_t>(0);
    };
    const auto value = [](double x) { return x == x ? x : 0.0; };
    FeatureRecord r{};
    r.channel = row.channel != UNSET_FEATURE_INT ? row.channel : 0;
    r.pmt_type = row.pmt_type != UNSET_FEATURE_INT ? row.pmt_type : 0;
    r.id = row.id != UNSET_FEATURE_INT ? std::bit_cast<std::uint64_t>(row.id) : 0;
    r.values = {value(row.waveform_integral), value(row.time_over_threshold),
                value(row.trigger_time), value(row.adc_sample), value(row.rising_edge_time)};
    r.present = static_cast<std::uint8_t>(
        flag(row.channel != UNSET_FEATURE_INT, HitFeatures::CHANNEL) |
        flag(row.pmt_type != UNSET_FEATURE_INT, HitFeatures::PMT_TYPE) |
        flag(row.id != UNSET_FEATURE_INT, HitFeatures::ID) |
        flag(row.trigger_time == row.trigger_time, HitFeatures::TRIGGER_TIME) |
        flag(row.waveform_integral == row.waveform_integral, HitFeatures::WAVEFORM_INTEGRAL) |
        flag(row.time_over_threshold == row.time_over_threshold, HitFeatures::TIME_OVER_THRESHOLD) |
        flag(row.adc_sample == row.adc_sample, HitFeatures::ADC_SAMPLE) |
        flag(row.rising_edge_time == row.rising_edge_time, HitFeatures::RISING_EDGE_TIME));
    return r;
}

inline HitFeatures row_to_features(const HitFeaturesNumpyRow& row) noexcept {
    HitFeatures f;
    row_to_features(row, f);
    return f;
}

inline TarvoTriggerView row_to_view(const TarvoTriggerNumpyRow& row,
                                    std::span<const std::uint16_t> waveform) noexcept {
    return {row.channel, row.trigger_time_s, row.trigger_time_ticks, row.baseline, waveform};
}

inline MultiPMTTrigger row_to_trigger(const MultiPMTTriggerNumpyRow& row) noexcept {
    return {row.time, row.channel, row.time_over_threshold, row.adc_sample};
}

inline TarvoTriggerNumpyRow trigger_to_row(const TarvoTrigger& t) noexcept {
    return {t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, t.intsum};
}

inline MultiPMTTriggerNumpyRow trigger_to_row(const MultiPMTTrigger& t) noexcept {
    MultiPMTTriggerNumpyRow row{};
    row.time = t.time;
    row.channel = t.channel;
    row.time_over_threshold = t.time_over_threshold;
    row.adc_sample = t.adc_sample;
    return row;
}

}  // namespace tessel
