#include "tessel/linear_reco.hpp"

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

}  // namespace tessel
