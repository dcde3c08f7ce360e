#include "tessel/linear_reco.hpp"

#include <cmath>

namespace tessel {

// The feature name is bound before the hit property is looked at, so a reconstructor wrong in
// both reports the unknown feature.
LinearReco::LinearReco(const std::string& feature, const std::string& hit_property, double slope,
                       double intercept, double slope_uncertainty, double intercept_uncertainty,
                       double covariance, double min_value, double max_value, std::int32_t pmt_type)
    : feature_(feature),
      update_(hit_property_updater(hit_property)),
      slope_(slope),
      intercept_(intercept),
      slope_uncertainty_(slope_uncertainty),
      intercept_uncertainty_(intercept_uncertainty),
      covariance_(covariance),
      min_value_(min_value),
      max_value_(max_value),
      pmt_type_(pmt_type) {}

void LinearReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    if (!feature_.has(features)) {
        return;
    }
    // A record without a PMT type is acted on whatever type this reconstructor serves.
    if (pmt_type_ != -1 && features.has_pmt_type() && features.get_pmt_type() != pmt_type_) {
        return;
    }
    const double x = feature_.get(features);
    // Window [min_value, max_value); both tests are false for NaN, so NaN passes and yields a
    // NaN estimate.
    if (min_value_ > x) {
        return;
    }
    if (x >= max_value_) {
        return;
    }
    const double value = slope_ * x + intercept_;
    // Evaluated in exactly this association; a negative variance (negative covariance) gives a
    // NaN uncertainty, which is passed on.
    const double variance = (((x * x) * slope_uncertainty_) * slope_uncertainty_ +
                             intercept_uncertainty_ * intercept_uncertainty_) +
                            (x + x) * covariance_;
    const double uncertainty = std::sqrt(variance);
    (hit.*update_)(value, uncertainty);
}

}  // namespace tessel
