#include "tessel/channel_linear_reco.hpp"

#include <array>
#include <vector>

#include "tessel/reconstructor_class.hpp"

namespace tessel {

namespace {

std::vector<LinearCalibration> lines_of(const ChannelTable& table, const std::string& prefix) {
    // Looked up in LinearReco's order of the five numbers; the first missing column is reported.
    const auto names = ChannelLinearReco::calibration_columns(prefix);
    const std::array<const std::vector<double>*, 5> c = {
        &table.column(names[0]), &table.column(names[1]), &table.column(names[2]),
        &table.column(names[3]), &table.column(names[4])};
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
                                     double min_value, double max_value, std::int32_t pmt_type,
                                     const std::shared_ptr<const FileText>& content)
    : selection_{feature_from_name(feature), 0, min_value, max_value, pmt_type},
      property_(hit_property_from_name(hit_property)) {
    selection_.feature_flag = feature_flag(selection_.feature);
    const ChannelTable read = content ? ChannelTable(table, *content) : ChannelTable(table);
    const std::vector<LinearCalibration> lines = lines_of(read, columns);
    lines_ = ChannelMap<LinearCalibration>(read.channels(), lines);
}

void ChannelLinearReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    apply(FeatureRecord::of(features), hit);
}

namespace {

const KeyTable& channel_linear_reco_keys() {
    static const KeyTable keys{
        reco_keys::feature(),
        reco_keys::hit_property(),
        reco_keys::min_value(),
        reco_keys::max_value(),
        reco_keys::pmt_type(),
        {.name = "table",
         .type = ValueType::channel_table,
         .required = true,
         .meaning = "the channel table, relative to the settings file"},
        {.name = "columns",
         .type = ValueType::text,
         .required = true,
         .meaning = "the prefix of the table's calibration columns"},
    };
    return keys;
}

// Keys are read one after the other in this fixed order; the first missing or mistyped key ends
// the build with the settings error.
std::unique_ptr<Reconstructor> build(SettingsReader& instance) {
    const auto pmt_type = instance.integer("pmt_type");
    const auto max_value = instance.number("max_value");
    const auto min_value = instance.number("min_value");
    const auto columns = instance.text("columns");
    const auto table = instance.file("table");
    const auto hit_property = instance.text("hit_property");
    const auto feature = instance.text("feature");
    if (instance.checking()) {
        reco_keys::check_window(instance);
        // Without a sound prefix the table is still checked for the columns all need.
        std::vector<std::string> wanted;
        if (instance.contains("columns")) {
            const auto names = ChannelLinearReco::calibration_columns(columns);
            wanted.assign(names.begin(), names.end());
        }
        instance.check_channel_table("table", std::move(wanted));
        return nullptr;
    }
    try {
        return std::make_unique<ChannelLinearReco>(feature, hit_property, table, columns, min_value,
                                                   max_value, static_cast<std::int32_t>(pmt_type),
                                                   instance.table_file("table"));
    } catch (const std::runtime_error&) {
        instance.explain_unnamed_file("table");
    }
}

}  // namespace

ReconstructorClass ChannelLinearReco::settings_class() {
    return {"ChannelLinearReco", &channel_linear_reco_keys(), build,
            "LinearReco with each channel's line read from a channel table"};
}

std::array<std::string, 5> ChannelLinearReco::calibration_columns(const std::string& columns) {
    return {columns + "_slope", columns + "_intercept", columns + "_slope_uncertainty",
            columns + "_intercept_uncertainty", columns + "_covariance"};
}

}  // namespace tessel
