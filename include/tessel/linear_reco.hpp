#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tessel/reconstructor.hpp"
#include "tessel/settings.hpp"

namespace tessel {

/// Maps one feature x through value = slope*x + intercept onto the hit's charge or time, for x
/// in [min_value, max_value) (NaN passes) and records of `pmt_type` (-1: every type), with the
/// uncertainty propagated from the line's parameter uncertainties and covariance.
class LinearReco final : public Reconstructor {
public:
    LinearReco(const std::string& feature, const std::string& hit_property, double slope,
               double intercept, double slope_uncertainty, double intercept_uncertainty,
               double covariance, double min_value, double max_value, std::int32_t pmt_type);

    void reconstruct(const HitFeatures& features, Hit& hit) const override;

private:
    HitFeatures::FeatureAccessor feature_;
    Hit::Updater update_;
    double slope_;
    double intercept_;
    double slope_uncertainty_;
    double intercept_uncertainty_;
    double covariance_;
    double min_value_;
    double max_value_;
    std::int32_t pmt_type_;
};

/// The "LinearReco" builder: reads the instance's ten keys in their fixed order.
std::unique_ptr<Reconstructor> build_linear_reco(const Settings& instance);

}  // namespace tessel
