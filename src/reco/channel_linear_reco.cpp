#include "tessel/channel_linear_reco.hpp"

#include <array>
#include <vector>

namespace tessel {

namespace {

std::vector<LinearCalibration> lines_of(const ChannelTable& table, const std::string& prefix) {
    // Looked up in LinearReco's order of the five numbers; the first missing column is reported.
    const std::array<const std::vector<double>*, 5> c = {
        &table.column(prefix + "_slope"), &table.column(prefix + "_intercept"),
        &table.column(prefix + "_slope_uncertainty"),
        &table.column(prefix + "_intercept_uncertainty"), &table.column(prefix + "_covariance")};
    std::vector<LinearCalibration> lines(table.size());
    for (std::size_t row = 0; row < lines.size(); ++row) {
        lines[row] = {(*c[0])[row], (*c[1])[row], (*c[2])[row], (*c[3])[row], (*c[4])[row]};
    }
    return lines;
}

}  // namespace

// The feature is bound before the hit property is looked at, and both before the table is read,
// so a reconstructor wrong in several ways reports what LinearReco would report first.
ChannelLinearReco::ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                                     const std::filesystem::path& table, const std::string& columns,
                                     double min_value, double max_value, std::int32_t pmt_type)
    : selection_{feature_from_name(feature), 0, min_value, max_value, pmt_type},
      property_(hit_property_from_name(hit_property)) {
    selection_.feature_flag = feature_flag(selection_.feature);
    const ChannelTable read(table);
    const std::vector<LinearCalibration> lines = lines_of(read, columns);
    lines_ = ChannelMap<LinearCalibration>(read.channels(), lines);
}

void ChannelLinearReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    apply(FeatureRecord::of(features), hit);
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
