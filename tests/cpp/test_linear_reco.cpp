#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "support.hpp"
#include "tessel/linear_reco.hpp"

namespace {

using tessel::Hit;
using tessel::HitFeatures;
using tessel::LinearReco;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class E, class F>
void expect_error(F&& make, const std::string& message) {
    tessel::testing::expect_message<E>(tessel::testing::thrown_by(std::forward<F>(make)), message);
}

HitFeatures integral_record(double x, std::optional<int> pmt_type = std::nullopt) {
    HitFeatures f;
    f.set_waveform_integral(x);
    if (pmt_type) {
        f.set_pmt_type(*pmt_type);
    }
    return f;
}

/// slope 2, intercept 1, slope uncertainty 0.5, intercept uncertainty 1 on the integral.
LinearReco example(const std::string& property = "charge", double covariance = 0.0,
                   double min_value = -kInf, double max_value = kInf, int pmt_type = -1) {
    return LinearReco("waveform_integral", property, 2.0, 1.0, 0.5, 1.0, covariance, min_value,
                      max_value, pmt_type);
}

TEST(LinearReco, LineAndPropagatedUncertainty) {
    Hit hit;
    example().reconstruct(integral_record(2.0), hit);
    EXPECT_EQ(hit.get_charge(), 5.0);
    EXPECT_EQ(hit.get_charge_uncertainty(), std::sqrt(2.0));
    // The time pair is untouched by a charge reconstructor.
    EXPECT_EQ(hit.get_time_uncertainty(), kInf);
}

TEST(LinearReco, TimePropertyUpdatesTimeOnly) {
    Hit hit;
    example("time").reconstruct(integral_record(2.0), hit);
    EXPECT_EQ(hit.get_time(), 5.0);
    EXPECT_EQ(hit.get_time_uncertainty(), std::sqrt(2.0));
    EXPECT_EQ(hit.get_charge_uncertainty(), kInf);
}

TEST(LinearReco, CovarianceTermEntersTwiceX) {
    // x 3: 9*0.25 + 1 + 6*cov.
    for (const double cov : {0.5, -0.25}) {
        Hit hit;
        example("charge", cov).reconstruct(integral_record(3.0), hit);
        EXPECT_DOUBLE_EQ(hit.get_charge_uncertainty(), std::sqrt(3.25 + 6.0 * cov)) << cov;
    }
}

TEST(LinearReco, NegativeVarianceGivesNaNUncertaintyPassedOn) {
    Hit hit;
    // 9*0.25 + 1 - 6*1 < 0.
    example("charge", -1.0).reconstruct(integral_record(3.0), hit);
    EXPECT_EQ(hit.get_charge(), 7.0);
    EXPECT_TRUE(std::isnan(hit.get_charge_uncertainty()));
}

TEST(LinearReco, UnsetFeatureLeavesHitUnchanged) {
    HitFeatures f;
    f.set_trigger_time(2.0);
    f.set_pmt_type(1);
    Hit hit;
    example().reconstruct(f, hit);
    EXPECT_EQ(hit.get_charge(), 0.0);
    EXPECT_EQ(hit.get_charge_uncertainty(), kInf);
}

struct WindowCase {
    const char* name;
    double min_value;
    double max_value;
    double x;
    bool acted;

    friend void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }
};

class LinearRecoWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(LinearRecoWindow, HalfOpenWindow) {
    const auto& c = GetParam();
    Hit hit;
    example("charge", 0.0, c.min_value, c.max_value).reconstruct(integral_record(c.x), hit);
    EXPECT_EQ(hit.get_charge_uncertainty() != kInf, c.acted);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, LinearRecoWindow,
    ::testing::Values(WindowCase{"at_min_taken", 0.0, 10.0, 0.0, true},
                      WindowCase{"below_min", 0.0, 10.0, -1e-300, false},
                      WindowCase{"inside", 0.0, 10.0, 9.999, true},
                      WindowCase{"at_max_refused", 0.0, 10.0, 10.0, false},
                      WindowCase{"above_max", 0.0, 10.0, 11.0, false},
                      WindowCase{"infinite_window_takes_large", -kInf, kInf, 1e100, true},
                      WindowCase{"plus_inf_refused_by_infinite_max", -kInf, kInf, kInf, false},
                      WindowCase{"minus_inf_taken", -kInf, kInf, -kInf, true},
                      WindowCase{"empty_window", 5.0, 5.0, 5.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinearReco, NaNPassesTheWindowAndYieldsNaN) {
    Hit hit(0, 1, 0.0, 0.0, 1.0, 1.0);
    example("charge", 0.0, 0.0, 10.0).reconstruct(integral_record(kNaN), hit);
    EXPECT_TRUE(std::isnan(hit.get_charge()));
    EXPECT_TRUE(std::isnan(hit.get_charge_uncertainty()));
    EXPECT_FALSE(hit.is_valid());
}

struct PmtCase {
    const char* name;
    int reco_type;
    std::optional<int> record_type;
    bool acted;

    friend void PrintTo(const PmtCase& c, std::ostream* os) { *os << c.name; }
};

class LinearRecoPmtType : public ::testing::TestWithParam<PmtCase> {};

TEST_P(LinearRecoPmtType, Filter) {
    const auto& c = GetParam();
    Hit hit;
    example("charge", 0.0, -kInf, kInf, c.reco_type)
        .reconstruct(integral_record(2.0, c.record_type), hit);
    EXPECT_EQ(hit.get_charge_uncertainty() != kInf, c.acted);
}

INSTANTIATE_TEST_SUITE_P(
    Types, LinearRecoPmtType,
    ::testing::Values(PmtCase{"same_type", 2, 2, true}, PmtCase{"other_type", 2, 1, false},
                      PmtCase{"record_without_type", 2, std::nullopt, true},
                      PmtCase{"all_types_with_1", -1, 1, true},
                      PmtCase{"all_types_with_minus_5", -1, -5, true},
                      PmtCase{"all_types_without_type", -1, std::nullopt, true},
                      PmtCase{"record_type_minus_1_for_type_2", 2, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinearReco, RejectsHitPropertiesOtherThanExactNames) {
    for (const std::string property : {"Charge", " charge", "charge ", "TIME", ""}) {
        expect_error<std::invalid_argument>([&] { (void)example(property); },
                                            "Unsupported hit property: " + property);
    }
}

TEST(LinearReco, FeatureIsCheckedBeforeHitProperty) {
    expect_error<std::invalid_argument>(
        [] { LinearReco("channel", "Charge", 1, 0, 0, 0, 0, -kInf, kInf, -1); },
        "Unknown feature name: channel");
    expect_error<std::invalid_argument>(
        [] { LinearReco("Trigger_time", "time", 1, 0, 0, 0, 0, -kInf, kInf, -1); },
        "Unknown feature name: Trigger_time");
}

}  // namespace
