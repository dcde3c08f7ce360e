#include "tessel/channel_linear_reco.hpp"

#include <cmath>

namespace tessel {

// The feature is bound before the hit property is looked at, and both before the table is read,
// so a reconstructor wrong in several ways reports what `LinearReco` would report first.
ChannelLinearReco::ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                                     const std::filesystem::path& table, const std::string& columns,
                                     double min_value, double max_value, std::int32_t pmt_type)
    : feature_(feature),
      update_(hit_property_updater(hit_property)),
      min_value_(min_value),
      max_value_(max_value),
      pmt_type_(pmt_type) {
    const ChannelTable read(table);
    lines_ = read.lines(columns);
    index_ = read.index();
}

ChannelLinearReco::ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                                     const ChannelTable& table, const std::string& columns,
                                     double min_value, double max_value, std::int32_t pmt_type)
    : feature_(feature),
      update_(hit_property_updater(hit_property)),
      index_(table.index()),
      lines_(table.lines(columns)),
      min_value_(min_value),
      max_value_(max_value),
      pmt_type_(pmt_type) {}

void ChannelLinearReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    if (!feature_.has(features)) {
        return;
    }
    if (pmt_type_ != -1 && features.has_pmt_type() && features.get_pmt_type() != pmt_type_) {
        return;
    }
    if (!features.has_channel()) {
        return;
    }
    const LineCalibration* cal = line(features.get_channel());
    if (cal == nullptr) {
        return;
    }
    const double x = feature_.get(features);
    // From here on exactly LinearReco::reconstruct: the same window tests and the same
    // operations in the same association, so equal numbers give equal bits.
    if (min_value_ > x) {
        return;
    }
    if (x >= max_value_) {
        return;
    }
    const double value = cal->slope * x + cal->intercept;
    const double variance = (((x * x) * cal->slope_uncertainty) * cal->slope_uncertainty +
                             cal->intercept_uncertainty * cal->intercept_uncertainty) +
                            (x + x) * cal->covariance;
    const double uncertainty = std::sqrt(variance);
    (hit.*update_)(value, uncertainty);
}

// Keys are read one after the other in this fixed order; the first missing or mistyped key ends
// the build with the settings error.
std::unique_ptr<Reconstructor> build_channel_linear_reco(const Settings& instance,
                                                         const Factory<Reconstructor>& factory) {
    const auto pmt_type = static_cast<int>(instance["pmt_type"]);
    const auto max_value = static_cast<double>(instance["max_value"]);
    const auto min_value = static_cast<double>(instance["min_value"]);
    const auto columns = static_cast<std::string>(instance["columns"]);
    const auto table = static_cast<std::string>(instance["table"]);
    const auto hit_property = static_cast<std::string>(instance["hit_property"]);
    const auto feature = static_cast<std::string>(instance["feature"]);
    return std::make_unique<ChannelLinearReco>(feature, hit_property, factory.path(table), columns,
                                               min_value, max_value,
                                               static_cast<std::int32_t>(pmt_type));
}

}  // namespace tessel
