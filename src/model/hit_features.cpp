#include "tessel/hit_features.hpp"

#include "tessel/feature_record.hpp"

#include <stdexcept>

namespace tessel {

void HitFeatures::throw_unset(Flag flag) {
    switch (flag) {
        case CHANNEL:
            throw std::runtime_error("Channel not set!");
        case PMT_TYPE:
            throw std::runtime_error("PMT type not set!");
        case ID:
            throw std::runtime_error("ID not set!");
        case TRIGGER_TIME:
            throw std::runtime_error("Trigger time not set!");
        case WAVEFORM_INTEGRAL:
            throw std::runtime_error("Waveform integral not set!");
        case TIME_OVER_THRESHOLD:
            throw std::runtime_error("Time over threshold not set!");
        case ADC_SAMPLE:
            throw std::runtime_error("ADC sample not set!");
        case RISING_EDGE_TIME:
            throw std::runtime_error("Rising edge time not set!");
    }
    throw std::logic_error("unknown feature flag");
}

namespace {

struct NamedFeature {
    const char* name;
    HitFeatures::FeatureAccessor::Getter get;
    HitFeatures::FeatureAccessor::Tester has;
};

constexpr NamedFeature named_features[] = {
    {"waveform_integral", &HitFeatures::get_waveform_integral, &HitFeatures::has_waveform_integral},
    {"time_over_threshold", &HitFeatures::get_time_over_threshold,
     &HitFeatures::has_time_over_threshold},
    {"trigger_time", &HitFeatures::get_trigger_time, &HitFeatures::has_trigger_time},
    {"adc_sample", &HitFeatures::get_adc_sample, &HitFeatures::has_adc_sample},
    {"rising_edge_time", &HitFeatures::get_rising_edge_time, &HitFeatures::has_rising_edge_time},
};

const NamedFeature& find_feature(const std::string& name) {
    for (const auto& feature : named_features) {
        if (name == feature.name) {
            return feature;
        }
    }
    throw std::invalid_argument("Unknown feature name: " + name);
}

}  // namespace

HitFeatures::FeatureAccessor::FeatureAccessor(const std::string& name)
    : get{find_feature(name).get}, has{find_feature(name).has} {}

std::vector<std::string_view> feature_names() {
    std::vector<std::string_view> names;
    for (const auto& feature : named_features) {
        names.emplace_back(feature.name);
    }
    return names;
}

Feature feature_from_name(const std::string& name) {
    // The table lists the features in the order of the enumeration.
    return static_cast<Feature>(&find_feature(name) - named_features);
}

}  // namespace tessel
