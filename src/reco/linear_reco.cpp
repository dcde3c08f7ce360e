#include "tessel/linear_reco.hpp"

#include "tessel/reconstructor_class.hpp"

namespace tessel {

// The feature name is bound before the hit property is looked at, so a reconstructor wrong in
// both reports the unknown feature.
LinearReco::LinearReco(const std::string& feature, const std::string& hit_property, double slope,
                       double intercept, double slope_uncertainty, double intercept_uncertainty,
                       double covariance, double min_value, double max_value, std::int32_t pmt_type)
    : selection_{feature_from_name(feature), 0, min_value, max_value, pmt_type},
      property_(hit_property_from_name(hit_property)),
      line_{slope, intercept, slope_uncertainty, intercept_uncertainty, covariance} {
    selection_.feature_flag = feature_flag(selection_.feature);
}

void LinearReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    apply(FeatureRecord::of(features), hit);
}

namespace {

KeySpec line_key(std::string_view name, std::string_view meaning) {
    return {.name = name, .type = ValueType::number, .required = true, .meaning = meaning};
}

const KeyTable& linear_reco_keys() {
    static const KeyTable keys{
        reco_keys::feature(),
        reco_keys::hit_property(),
        line_key("slope", "the line's slope"),
        line_key("intercept", "the line's intercept"),
        line_key("slope_uncertainty", "standard uncertainty of the slope"),
        line_key("intercept_uncertainty", "standard uncertainty of the intercept"),
        line_key("covariance", "covariance of slope and intercept"),
        reco_keys::min_value(),
        reco_keys::max_value(),
        reco_keys::pmt_type(),
    };
    return keys;
}

// Keys are read one after the other in this fixed order; the first missing or mistyped key
// ends the build with the settings error.
std::unique_ptr<Reconstructor> build(SettingsReader& instance) {
    const auto pmt_type = instance.integer("pmt_type");
    const auto max_value = instance.number("max_value");
    const auto min_value = instance.number("min_value");
    const auto covariance = instance.number("covariance");
    const auto intercept_uncertainty = instance.number("intercept_uncertainty");
    const auto slope_uncertainty = instance.number("slope_uncertainty");
    const auto intercept = instance.number("intercept");
    const auto slope = instance.number("slope");
    const auto hit_property = instance.text("hit_property");
    const auto feature = instance.text("feature");
    if (instance.checking()) {
        reco_keys::check_window(instance);
        return nullptr;
    }
    return std::make_unique<LinearReco>(feature, hit_property, slope, intercept, slope_uncertainty,
                                        intercept_uncertainty, covariance, min_value, max_value,
                                        static_cast<std::int32_t>(pmt_type));
}

}  // namespace

ReconstructorClass LinearReco::settings_class() {
    return {"LinearReco", &linear_reco_keys(), build,
            "value = slope * x + intercept, with the line's uncertainties propagated"};
}

}  // namespace tessel
