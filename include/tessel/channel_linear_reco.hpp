#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tessel/channel_table.hpp"
#include "tessel/factory.hpp"
#include "tessel/reconstructor.hpp"
#include "tessel/settings.hpp"

namespace tessel {

/// `LinearReco` with the line taken from the record's channel: the five numbers come from the
/// columns `<columns>_slope`, `<columns>_intercept`, `<columns>_slope_uncertainty`,
/// `<columns>_intercept_uncertainty` and `<columns>_covariance` of a channel table, and the
/// computation is `LinearReco`'s, operation for operation, so a channel whose row holds a
/// `LinearReco`'s numbers gets a bit-identical estimate.  A record whose channel has no row in
/// the table (or that has no channel) is left untouched, like a record outside the window:
/// unknown channels are caught at extraction when the table is configured there.
class ChannelLinearReco final : public Reconstructor {
public:
    /// The feature is bound first, then the hit property, then the table is read; throws the
    /// table's errors, and std::runtime_error naming the file for a missing column.
    ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                      const std::filesystem::path& table, const std::string& columns,
                      double min_value, double max_value, std::int32_t pmt_type);
    /// The same from a table already read.
    ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                      const ChannelTable& table, const std::string& columns, double min_value,
                      double max_value, std::int32_t pmt_type);

    void reconstruct(const HitFeatures& features, Hit& hit) const override;

    /// The line of `channel`, or null when the table has no row for it.
    [[nodiscard]] const LineCalibration* line(std::int32_t channel) const noexcept {
        const std::uint32_t row = index_.find(channel);
        return row == ChannelIndex::npos ? nullptr : &lines_[row];
    }

private:
    HitFeatures::FeatureAccessor feature_;
    Hit::Updater update_;
    ChannelIndex index_;
    std::vector<LineCalibration> lines_;
    double min_value_;
    double max_value_;
    std::int32_t pmt_type_;
};

/// The "ChannelLinearReco" builder: reads "pmt_type", "max_value", "min_value", "columns",
/// "table" (resolved with `factory` against the settings file's directory), "hit_property" and
/// "feature", in this order.
std::unique_ptr<Reconstructor> build_channel_linear_reco(const Settings& instance,
                                                         const Factory<Reconstructor>& factory);

}  // namespace tessel
