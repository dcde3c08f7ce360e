// Builders of the built-in reconstructors from one instance of the "reco" section.  Kept apart
// from the reconstructors themselves, which do not depend on the settings backend.
#include <cstdint>
#include <string>

#include "tessel/linear_reco.hpp"
#include "tessel/lut_reco.hpp"

namespace tessel {

// Keys are read one after the other in this fixed order; the first missing or mistyped key
// ends the build with the settings error.
std::unique_ptr<Reconstructor> build_linear_reco(const Settings& instance) {
    const auto pmt_type = static_cast<int>(instance["pmt_type"]);
    const auto max_value = static_cast<double>(instance["max_value"]);
    const auto min_value = static_cast<double>(instance["min_value"]);
    const auto covariance = static_cast<double>(instance["covariance"]);
    const auto intercept_uncertainty = static_cast<double>(instance["intercept_uncertainty"]);
    const auto slope_uncertainty = static_cast<double>(instance["slope_uncertainty"]);
    const auto intercept = static_cast<double>(instance["intercept"]);
    const auto slope = static_cast<double>(instance["slope"]);
    const auto hit_property = static_cast<std::string>(instance["hit_property"]);
    const auto feature = static_cast<std::string>(instance["feature"]);
    return std::make_unique<LinearReco>(feature, hit_property, slope, intercept, slope_uncertainty,
                                        intercept_uncertainty, covariance, min_value, max_value,
                                        static_cast<std::int32_t>(pmt_type));
}

// "lut_file" is resolved against the settings file's directory by the factory.
std::unique_ptr<Reconstructor> build_lut_reco(const Settings& instance,
                                              const Factory<Reconstructor>& factory) {
    const auto pmt_type = static_cast<int>(instance["pmt_type"]);
    const auto extrapolate = static_cast<bool>(instance["extrapolate"]);
    const auto hit_property = static_cast<std::string>(instance["hit_property"]);
    const auto feature = static_cast<std::string>(instance["feature"]);
    const auto lut_file = static_cast<std::string>(instance["lut_file"]);
    return std::make_unique<LUTReco>(factory.path(lut_file), feature, hit_property, extrapolate,
                                     static_cast<std::int32_t>(pmt_type));
}

}  // namespace tessel
