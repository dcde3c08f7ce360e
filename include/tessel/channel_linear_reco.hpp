#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tessel/channel_table.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/reconstructor.hpp"

namespace tessel {

struct ReconstructorClass;

/// `LinearReco` with the line taken from the record's channel: the five numbers come from the
/// columns `<columns>_slope`, `<columns>_intercept`, `<columns>_slope_uncertainty`,
/// `<columns>_intercept_uncertainty` and `<columns>_covariance` of a channel table, and the
/// selection and the computation are `LinearReco`'s (the same `RecordSelection` and
/// `LinearCalibration`), so a channel whose row holds a `LinearReco`'s numbers gets a
/// bit-identical estimate.  A record whose channel has no row in the table (or that has no
/// channel) is left untouched, like a record outside the window: a table configured for
/// extraction is where unknown channels are reported or dropped.
class ChannelLinearReco final : public Reconstructor {
public:
    /// The feature is bound first, then the hit property, then the table is read (from
    /// `content` when given: its text as read already); throws the table's errors, and
    /// std::runtime_error naming the file for a missing column.
    ChannelLinearReco(const std::string& feature, const std::string& hit_property,
                      const std::filesystem::path& table, const std::string& columns,
                      double min_value, double max_value, std::int32_t pmt_type,
                      const std::shared_ptr<const FileText>& content = nullptr);

    /// "ChannelLinearReco" in settings files: its keys and builder.
    static ReconstructorClass settings_class();
    /// The five calibration columns of the prefix `columns`, in the order of
    /// `LinearCalibration`'s numbers.
    static std::array<std::string, 5> calibration_columns(const std::string& columns);

    void reconstruct(const HitFeatures& features, Hit& hit) const override;
    [[nodiscard]] RecoCall call() const noexcept override {
        return RecoCall(std::in_place_type<const ChannelLinearReco*>, this);
    }

    /// The reconstruction of one record, as the hit maker calls it.
    void apply(const FeatureRecord& record, Hit& hit) const noexcept {
        double x = 0.0;
        if (!record.has(HitFeatures::CHANNEL) || !selection_.select(record, x)) {
            return;
        }
        const LinearCalibration* line = lines_.find(record.channel);
        if (line == nullptr) {
            return;
        }
        update_hit(hit, property_, line->value(x), line->uncertainty(x));
    }

    /// Asks the processor to fetch the line of `channel` ahead of `apply`.
    void prefetch(std::int32_t channel) const noexcept { lines_.prefetch(channel); }

    /// The line of `channel`, or null when the table has no row for it.
    [[nodiscard]] const LinearCalibration* line(std::int32_t channel) const noexcept {
        return lines_.find(channel);
    }

private:
    RecordSelection selection_;
    HitProperty property_;
    ChannelMap<LinearCalibration> lines_;
};

}  // namespace tessel
