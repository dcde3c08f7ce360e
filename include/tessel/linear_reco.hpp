#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "tessel/feature_record.hpp"
#include "tessel/reconstructor.hpp"

namespace tessel {

struct ReconstructorClass;

/// A straight line value = slope*x + intercept with the uncertainties of its parameters.
struct LinearCalibration {
    double slope;
    double intercept;
    double slope_uncertainty;
    double intercept_uncertainty;
    double covariance;

    /// The value at x.
    [[nodiscard]] double value(double x) const noexcept { return slope * x + intercept; }
    /// The uncertainty of the value at x, evaluated in exactly this association; a negative
    /// variance (negative covariance) gives a NaN uncertainty, which is passed on.
    [[nodiscard]] double uncertainty(double x) const noexcept {
        const double variance = (((x * x) * slope_uncertainty) * slope_uncertainty +
                                 intercept_uncertainty * intercept_uncertainty) +
                                (x + x) * covariance;
        return std::sqrt(variance);
    }
};

/// Which records a reconstructor acts on: those that have its feature, within
/// [min_value, max_value) (NaN passes), of its PMT type (-1: every type; a record without a PMT
/// type is acted on whatever type the reconstructor serves).
struct RecordSelection {
    Feature feature;
    std::uint8_t feature_flag;
    double min_value;
    double max_value;
    std::int32_t pmt_type;

    /// Whether the record is acted on; then `x` holds its feature.
    [[nodiscard]] bool select(const FeatureRecord& record, double& x) const noexcept {
        if (!record.has(feature_flag)) {
            return false;
        }
        if (pmt_type != -1 && record.has(HitFeatures::PMT_TYPE) && record.pmt_type != pmt_type) {
            return false;
        }
        x = record.value(feature);
        // Both tests are false for NaN, so NaN passes and yields a NaN estimate.
        return !(min_value > x) && !(x >= max_value);
    }
};

/// Maps one feature x through value = slope*x + intercept onto the hit's charge or time, for x
/// in [min_value, max_value) (NaN passes) and records of `pmt_type` (-1: every type), with the
/// uncertainty propagated from the line's parameter uncertainties and covariance.
class LinearReco final : public Reconstructor {
public:
    LinearReco(const std::string& feature, const std::string& hit_property, double slope,
               double intercept, double slope_uncertainty, double intercept_uncertainty,
               double covariance, double min_value, double max_value, std::int32_t pmt_type);

    /// "LinearReco" in settings files: its keys and builder.
    static ReconstructorClass settings_class();

    void reconstruct(const HitFeatures& features, Hit& hit) const override;
    [[nodiscard]] RecoCall call() const noexcept override {
        return RecoCall(std::in_place_type<const LinearReco*>, this);
    }

    /// The reconstruction of one record, as the hit maker calls it.
    void apply(const FeatureRecord& record, Hit& hit) const noexcept {
        double x = 0.0;
        if (!selection_.select(record, x)) {
            return;
        }
        update_hit(hit, property_, line_.value(x), line_.uncertainty(x));
    }

    [[nodiscard]] const RecordSelection& selection() const noexcept { return selection_; }
    [[nodiscard]] HitProperty property() const noexcept { return property_; }
    [[nodiscard]] const LinearCalibration& line() const noexcept { return line_; }

private:
    RecordSelection selection_;
    HitProperty property_;
    LinearCalibration line_;
};

}  // namespace tessel
