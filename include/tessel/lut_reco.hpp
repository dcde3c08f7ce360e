#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel/feature_record.hpp"
#include "tessel/loaded_settings.hpp"
#include "tessel/reconstructor.hpp"
#include "tessel/table_problem.hpp"

namespace tessel {

struct ReconstructorClass;

/// One tabulated point: x, y and the uncertainty of y.
using LookupPoint = std::array<double, 3>;

/// Sort key of a tabulated point: its x.
inline double lut_get_x(const LookupPoint& point) noexcept { return point[0]; }

/// A curve of at least two points sorted by x, read by linear interpolation.
class LookupTable {
public:
    /// Throws std::invalid_argument "data_points must have at least two elements." for fewer,
    /// and "data_points must not contain a NaN x." for a point whose x is NaN.
    explicit LookupTable(std::vector<LookupPoint> data_points);

    /// Reads the text of a lookup-table file, appending every problem to `problems` (at most
    /// `max_row_problems` of its rows, then their count); the table when the library accepts it.
    static std::optional<LookupTable> parse(std::string_view text,
                                            std::vector<TableProblem>& problems,
                                            std::size_t max_row_problems);

    /// first x <= x < last x (NaN is out of range).
    [[nodiscard]] bool in_range(double x) const noexcept;
    /// (value, uncertainty) on the segment around x, extrapolating the end segments.  An end
    /// segment of zero width (repeated x) is taken flat: its outer point answers.
    [[nodiscard]] std::pair<double, double> lookup_linear(double x) const noexcept;

    [[nodiscard]] const std::vector<LookupPoint>& data_points() const noexcept { return points_; }

private:
    std::vector<LookupPoint> points_;
};

/// Maps one feature onto the hit's charge or time through a lookup table read from a LUT file.
class LUTReco final : public Reconstructor {
public:
    LUTReco(std::filesystem::path lut_file, std::string feature, std::string hit_property,
            bool extrapolate, std::int32_t pmt_type);
    /// The same over `content`, the LUT file's text as read already (`read_whole_file`).
    LUTReco(const std::filesystem::path& lut_file, const FileText& content, std::string feature,
            std::string hit_property, bool extrapolate, std::int32_t pmt_type);
    ~LUTReco() override;

    /// "LUTReco" in settings files: its keys and builder.
    static ReconstructorClass settings_class();

    LUTReco(const LUTReco&) = delete;
    LUTReco& operator=(const LUTReco&) = delete;
    LUTReco(LUTReco&&) = delete;
    LUTReco& operator=(LUTReco&&) = delete;

    void reconstruct(const HitFeatures& features, Hit& hit) const override;
    [[nodiscard]] RecoCall call() const noexcept override {
        return RecoCall(std::in_place_type<const LUTReco*>, this);
    }

    /// The reconstruction of one record, as the hit maker calls it.
    void apply(const FeatureRecord& record, Hit& hit) const noexcept;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel
