#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"
#include "tessel/lut_reco.hpp"

namespace {

using tessel::Hit;
using tessel::HitFeatures;
using tessel::LookupPoint;
using tessel::LookupTable;
using tessel::LUTReco;
using tessel::testing::cause_of;
using tessel::testing::expect_message;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class E, class F>
void expect_error(F&& make, const std::string& message) {
    tessel::testing::expect_message<E>(tessel::testing::thrown_by(std::forward<F>(make)), message);
}

const std::vector<LookupPoint> kPoints{{10, 1.0, 0.2}, {20, 1.5, 0.25}, {30, 2.0, 0.3}};
const std::string kExampleFile = "# x y sigma\n10 1.0 0.2\n30 2.0 0.3\n20 1.5 0.25\n";

struct LookupCase {
    const char* name;
    double x;
    double value;
    double uncertainty;
    bool in_range;

    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

class LookupTableExamples : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LookupTableExamples, InterpolatesAndExtrapolates) {
    const auto& c = GetParam();
    const LookupTable table(kPoints);
    const auto [value, uncertainty] = table.lookup_linear(c.x);
    EXPECT_DOUBLE_EQ(value, c.value);
    EXPECT_DOUBLE_EQ(uncertainty, c.uncertainty);
    EXPECT_EQ(table.in_range(c.x), c.in_range);
}

INSTANTIATE_TEST_SUITE_P(
    Points, LookupTableExamples,
    ::testing::Values(
        LookupCase{"mid_segment", 15, 1.25, std::sqrt(0.25 * 0.04 + 0.25 * 0.0625), true},
        LookupCase{"first_x", 10, 1.0, 0.2, true}, LookupCase{"inner_x", 20, 1.5, 0.25, true},
        LookupCase{"last_x", 30, 2.0, 0.3, false},
        LookupCase{"beyond_last", 35, 2.25, std::sqrt(0.25 * 0.0625 + 2.25 * 0.09), false},
        LookupCase{"below_first", 0, 0.5, std::sqrt(4 * 0.04 + 0.0625), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LookupTable, TabulatedPointsAnswerExactly) {
    const LookupTable table(kPoints);
    for (const auto& p : kPoints) {
        const auto [value, uncertainty] = table.lookup_linear(p[0]);
        EXPECT_EQ(value, p[1]);
        EXPECT_EQ(uncertainty, p[2]);
    }
}

TEST(LookupTable, NaNIsOutOfRangeAndYieldsNaN) {
    const LookupTable table(kPoints);
    EXPECT_FALSE(table.in_range(kNaN));
    const auto [value, uncertainty] = table.lookup_linear(kNaN);
    EXPECT_TRUE(std::isnan(value));
    EXPECT_TRUE(std::isnan(uncertainty));
}

TEST(LookupTable, SortsByX) {
    const LookupTable table({{30, 2.0, 0.3}, {10, 1.0, 0.2}, {20, 1.5, 0.25}});
    EXPECT_EQ(table.data_points(), kPoints);
}

TEST(LookupTable, RejectsTooFewPointsAndNaNX) {
    expect_error<std::invalid_argument>([] { LookupTable({}); },
                                        "data_points must have at least two elements.");
    expect_error<std::invalid_argument>(
        [] {
            LookupTable({{1, 2, 3}});
        },
        "data_points must have at least two elements.");
    expect_error<std::invalid_argument>(
        [] {
            LookupTable({{1, 2, 3}, {kNaN, 1, 1}});
        },
        "data_points must not contain a NaN x.");
}

// Repeated x at both ends and in the middle.  Points sharing an x keep no particular order, so
// the expectations are taken from the sorted table.
TEST(LookupTable, RepeatedXNeverDividesByZeroWidth) {
    const LookupTable table(
        {{20, 4, 0.4}, {10, 1, 0.1}, {30, 5, 0.5}, {10, 2, 0.2}, {20, 3, 0.3}, {30, 6, 0.6}});
    const auto& p = table.data_points();
    ASSERT_TRUE(std::is_sorted(p.begin(), p.end(),
                               [](const auto& a, const auto& b) { return a[0] < b[0]; }));
    const auto expect_point = [&](double x, const LookupPoint& point) {
        const auto [value, uncertainty] = table.lookup_linear(x);
        EXPECT_EQ(value, point[1]) << "x " << x;
        EXPECT_EQ(uncertainty, point[2]) << "x " << x;
    };
    expect_point(10, p[0]);  // at a repeated first x: the outer first point
    expect_point(5, p[0]);   // below it: flat
    expect_point(20, p[2]);  // at a repeated inner x: the first of them (t = 1)
    expect_point(30, p[4]);
    expect_point(35, p[5]);  // beyond a repeated last x: the outer last point
    expect_point(1e300, p[5]);
    const auto [mid, mid_unc] = table.lookup_linear(15);
    EXPECT_EQ(mid, (p[2][1] - p[1][1]) * 0.5 + p[1][1]);
    EXPECT_TRUE(std::isfinite(mid_unc));
    const auto [nan_value, nan_unc] = table.lookup_linear(kNaN);
    EXPECT_TRUE(std::isnan(nan_value));
    EXPECT_TRUE(std::isnan(nan_unc));
}

TEST(LookupTable, AllPointsAtOneX) {
    const LookupTable table({{5, 1, 0.1}, {5, 2, 0.2}, {5, 3, 0.3}});
    const auto& p = table.data_points();
    EXPECT_EQ(table.lookup_linear(4).first, p.front()[1]);
    EXPECT_EQ(table.lookup_linear(5).first, p.front()[1]);
    EXPECT_EQ(table.lookup_linear(6).first, p.back()[1]);
    EXPECT_TRUE(table.in_range(5) == false);  // first x <= 5 < last x fails
}

TEST(LookupTable, RandomTablesWithRepeatsGiveFiniteAnswers) {
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<int> grid(-5, 5);  // few distinct x: many repeats
    std::uniform_real_distribution<double> y(-10.0, 10.0);
    std::uniform_real_distribution<double> sigma(0.0, 2.0);
    std::uniform_real_distribution<double> query(-8.0, 8.0);
    for (int round = 0; round < 500; ++round) {
        std::vector<LookupPoint> points(2 + round % 12);
        for (auto& point : points) {
            point = {static_cast<double>(grid(rng)), y(rng), sigma(rng)};
        }
        const LookupTable table(points);
        for (int i = 0; i < 20; ++i) {
            // Grid points themselves are the interesting queries.
            const double x = i % 2 == 0 ? static_cast<double>(grid(rng)) : query(rng);
            const auto [value, uncertainty] = table.lookup_linear(x);
            ASSERT_TRUE(std::isfinite(value)) << "round " << round << " x " << x;
            ASSERT_TRUE(std::isfinite(uncertainty)) << "round " << round << " x " << x;
        }
    }
}

HitFeatures adc_record(double x, std::optional<int> pmt_type = std::nullopt) {
    HitFeatures f;
    f.set_adc_sample(x);
    if (pmt_type) {
        f.set_pmt_type(*pmt_type);
    }
    return f;
}

/// Charge reconstructed from `x` by `reco`, or nothing when the hit was left unchanged.
std::optional<std::pair<double, double>> charge_of(const LUTReco& reco, const HitFeatures& f) {
    Hit hit;
    reco.reconstruct(f, hit);
    if (hit.get_charge_uncertainty() == kInf) {
        return std::nullopt;
    }
    return std::pair{hit.get_charge(), hit.get_charge_uncertainty()};
}

struct FormatCase {
    const char* name;
    std::string content;
    std::string error;  // empty: the file is accepted and holds the three example points

    friend void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
};

class LutFileFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LutFileFormat, ReadsOrRejects) {
    const auto& c = GetParam();
    const TempDir dir;
    const auto file = dir.write("lut.txt", c.content);
    const auto make = [&] { return LUTReco(file, "adc_sample", "charge", false, -1); };
    if (!c.error.empty()) {
        expect_error<std::runtime_error>(make, c.error);
        return;
    }
    const auto reco = make();
    EXPECT_EQ(charge_of(reco, adc_record(10)), std::pair(1.0, 0.2));
    EXPECT_EQ(charge_of(reco, adc_record(20)), std::pair(1.5, 0.25));
    const auto mid = charge_of(reco, adc_record(15));
    ASSERT_TRUE(mid);
    EXPECT_DOUBLE_EQ(mid->first, 1.25);
    EXPECT_DOUBLE_EQ(mid->second, std::sqrt(0.25 * 0.04 + 0.25 * 0.0625));
    EXPECT_EQ(charge_of(reco, adc_record(30)), std::nullopt);
}

const std::string kPointsText = "10 1.0 0.2\n20 1.5 0.25\n30 2.0 0.3\n";

INSTANTIATE_TEST_SUITE_P(
    Files, LutFileFormat,
    ::testing::Values(
        FormatCase{"comment_and_out_of_order", kExampleFile, ""},
        FormatCase{"trailing_words", "10 1.0 0.2 first\n20 1.5 0.25 # mid\n30 2.0 0.3\tend\n", ""},
        FormatCase{"empty_lines_skipped", "\n10 1.0 0.2\n\n\n20 1.5 0.25\n30 2.0 0.3\n\n", ""},
        FormatCase{"crlf_line_ends", "# header\r\n10 1.0 0.2\r\n20 1.5 0.25\r\n30 2.0 0.3\r\n", ""},
        FormatCase{"no_final_line_feed", "10 1.0 0.2\n20 1.5 0.25\n30 2.0 0.3", ""},
        FormatCase{"tabs_signs_exponents", "  1e1\t+1.0\t2e-1\n\t20 1.5 .25\n3.0E1 2 0.3\n", ""},
        FormatCase{"one_point", "# a\n# b\n10 1.0 0.2\n# c\n",
                   "LUT file must contain at least two data points."},
        FormatCase{"empty_file", "", "LUT file must contain at least two data points."},
        FormatCase{"only_comments", "#\n#\n", "LUT file must contain at least two data points."},
        FormatCase{"two_numbers", kPointsText + "40 2.5\n", "Invalid line in LUT file: 40 2.5"},
        FormatCase{"commas", "10,1.0,0.2\n" + kPointsText, "Invalid line in LUT file: 10,1.0,0.2"},
        FormatCase{"blank_then_hash", kPointsText + " # note\n",
                   "Invalid line in LUT file:  # note"},
        FormatCase{"whitespace_only_line", "10 1.0 0.2\n \t \n" + kPointsText,
                   "Invalid line in LUT file:  \t "},
        FormatCase{"carriage_return_only_line", "10 1.0 0.2\n\r\n" + kPointsText,
                   "Invalid line in LUT file: \r"},
        FormatCase{"nan_text", kPointsText + "nan 1 1\n", "Invalid line in LUT file: nan 1 1"},
        FormatCase{"first_bad_line_reported", "10 1 x\n20 y 1\n" + kPointsText,
                   "Invalid line in LUT file: 10 1 x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LUTReco, UnreadableFiles) {
    const TempDir dir;
    const auto missing = dir.root() / "missing.txt";
    expect_error<std::runtime_error>([&] { LUTReco(missing, "adc_sample", "charge", false, -1); },
                                     "Could not open LUT file: " + missing.string());
    // A directory opens but cannot be read.
    expect_error<std::runtime_error>(
        [&] { LUTReco(dir.root(), "adc_sample", "charge", false, -1); },
        "Could not open LUT file: " + dir.root().string());
    // A NUL would open the file named by the part before it; the message shows it as \0.
    const auto lut = dir.write("lut.txt", "0 0 1\n10 5 1\n");
    expect_thrown<std::runtime_error>(
        thrown_by([&] {
            LUTReco(lut.native() + std::string("\0junk", 5), "adc_sample", "charge", false, -1);
        }),
        [&](const std::runtime_error& e) {
            EXPECT_EQ(e.what(), "Could not open LUT file: " + lut.string() + "\\0junk");
            expect_message<std::invalid_argument>(cause_of(e),
                                                  "The file name contains a NUL character");
        });
}

TEST(LUTReco, HitPropertyThenFeatureThenFile) {
    const TempDir dir;
    const auto missing = dir.root() / "missing.txt";
    expect_error<std::invalid_argument>([&] { LUTReco(missing, "channel", "Charge", false, -1); },
                                        "Unsupported hit property: Charge");
    expect_error<std::invalid_argument>([&] { LUTReco(missing, "channel", "time", false, -1); },
                                        "Unknown feature name: channel");
    expect_error<std::invalid_argument>(
        [&] { LUTReco(missing, "adc_sample", " charge", false, -1); },
        "Unsupported hit property:  charge");
}

TEST(LUTReco, RangeAndExtrapolation) {
    const TempDir dir;
    const auto file = dir.write("lut.txt", kExampleFile);
    const LUTReco bounded(file, "adc_sample", "charge", false, -1);
    const LUTReco open(file, "adc_sample", "charge", true, -1);

    EXPECT_TRUE(charge_of(bounded, adc_record(10)));
    EXPECT_FALSE(charge_of(bounded, adc_record(30)));
    EXPECT_FALSE(charge_of(bounded, adc_record(35)));
    EXPECT_FALSE(charge_of(bounded, adc_record(kNaN)));

    const auto beyond = charge_of(open, adc_record(35));
    ASSERT_TRUE(beyond);
    EXPECT_DOUBLE_EQ(beyond->first, 2.25);
    EXPECT_DOUBLE_EQ(beyond->second, std::sqrt(0.25 * 0.0625 + 2.25 * 0.09));
    const auto below = charge_of(open, adc_record(0));
    ASSERT_TRUE(below);
    EXPECT_DOUBLE_EQ(below->first, 0.5);
    EXPECT_DOUBLE_EQ(below->second, std::sqrt(4 * 0.04 + 0.0625));
    EXPECT_EQ(charge_of(open, adc_record(30)), std::pair(2.0, 0.3));

    Hit hit;
    open.reconstruct(adc_record(kNaN), hit);
    EXPECT_TRUE(std::isnan(hit.get_charge()));
    EXPECT_TRUE(std::isnan(hit.get_charge_uncertainty()));
}

TEST(LUTReco, TimePropertyAndUnsetFeature) {
    const TempDir dir;
    const LUTReco reco(dir.write("lut.txt", kExampleFile), "trigger_time", "time", false, -1);
    HitFeatures f = adc_record(20);  // the configured feature is not set
    Hit hit;
    reco.reconstruct(f, hit);
    EXPECT_EQ(hit.get_time_uncertainty(), kInf);
    f.set_trigger_time(20);
    reco.reconstruct(f, hit);
    EXPECT_EQ(hit.get_time(), 1.5);
    EXPECT_EQ(hit.get_time_uncertainty(), 0.25);
    EXPECT_EQ(hit.get_charge_uncertainty(), kInf);
}

TEST(LUTReco, PmtTypeFilter) {
    const TempDir dir;
    const auto file = dir.write("lut.txt", kExampleFile);
    const LUTReco typed(file, "adc_sample", "charge", false, 2);
    const LUTReco all(file, "adc_sample", "charge", false, -1);
    EXPECT_TRUE(charge_of(typed, adc_record(15, 2)));
    EXPECT_FALSE(charge_of(typed, adc_record(15, 1)));
    EXPECT_TRUE(charge_of(typed, adc_record(15)));
    for (const int type : {-7, 0, 1, 2}) {
        EXPECT_TRUE(charge_of(all, adc_record(15, type))) << type;
    }
}

}  // namespace
