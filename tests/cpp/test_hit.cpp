#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tessel/hit.hpp"

namespace {

using tessel::Hit;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Hit, DefaultIsInvalidUntilBothUncertaintiesAreFinite) {
    Hit hit;
    EXPECT_EQ(hit.get_channel(), -1);
    EXPECT_EQ(hit.get_id(), 0U);
    EXPECT_EQ(hit.get_time(), 0.0);
    EXPECT_EQ(hit.get_charge(), 0.0);
    EXPECT_EQ(hit.get_time_uncertainty(), inf);
    EXPECT_EQ(hit.get_charge_uncertainty(), inf);
    EXPECT_FALSE(hit.is_valid());
    hit.set_channel(0);
    EXPECT_FALSE(hit.is_valid());
    EXPECT_TRUE(hit.update_time(1.0, 1.0));
    EXPECT_FALSE(hit.is_valid());
    EXPECT_TRUE(hit.update_charge(1.0, 1.0));
    EXPECT_TRUE(hit.is_valid());
}

struct ValidityCase {
    const char* name;
    int channel;
    double time_uncertainty;
    double charge_uncertainty;
    bool valid;
};

class HitValidity : public testing::TestWithParam<ValidityCase> {};

TEST_P(HitValidity, FollowsTheOrderedComparisonRule) {
    const auto& c = GetParam();
    // Time and charge themselves play no part, even when NaN.
    const Hit hit(c.channel, 7, nan, nan, c.time_uncertainty, c.charge_uncertainty);
    EXPECT_EQ(hit.is_valid(), c.valid);
}

INSTANTIATE_TEST_SUITE_P(Table, HitValidity,
                         testing::Values(ValidityCase{"finite", 0, 1.0, 1.0, true},
                                         ValidityCase{"minus_infinity_passes", 0, -inf, 1.0, true},
                                         ValidityCase{"largest_finite_passes", 0,
                                                      std::numeric_limits<double>::max(), 1.0,
                                                      true},
                                         ValidityCase{"infinite_charge", 0, 1.0, inf, false},
                                         ValidityCase{"nan_time", 0, nan, 1.0, false},
                                         ValidityCase{"nan_charge", 3, 1.0, nan, false},
                                         ValidityCase{"negative_channel", -5, 1.0, 1.0, false},
                                         ValidityCase{"no_channel", -1, 1.0, 1.0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Hit, UpdateKeepsTheOldValueOnTiesAndTakesSmallerUncertainties) {
    Hit hit;
    EXPECT_TRUE(hit.update_time(1.0, 5.0));
    EXPECT_FALSE(hit.update_time(2.0, 5.0));
    EXPECT_EQ(hit.get_time(), 1.0);
    EXPECT_FALSE(hit.update_time(2.0, 6.0));
    EXPECT_TRUE(hit.update_time(3.0, 4.0));
    EXPECT_EQ(hit.get_time(), 3.0);
    EXPECT_EQ(hit.get_time_uncertainty(), 4.0);
    // The charge pair is independent of the time pair.
    EXPECT_EQ(hit.get_charge_uncertainty(), inf);
}

TEST(Hit, NanUncertaintyAlwaysReplacesAndIsAlwaysReplaced) {
    Hit hit;
    hit.set_channel(1);
    EXPECT_TRUE(hit.update_time(1.0, 1.0));
    EXPECT_TRUE(hit.update_time(2.0, nan));
    EXPECT_TRUE(std::isnan(hit.get_time_uncertainty()));
    EXPECT_EQ(hit.get_time(), 2.0);
    EXPECT_TRUE(hit.update_time(3.0, 100.0));
    EXPECT_EQ(hit.get_time(), 3.0);
}

TEST(Hit, InfiniteUncertaintyNeverReplacesADefaultHit) {
    Hit hit;
    EXPECT_FALSE(hit.update_charge(5.0, inf));
    EXPECT_EQ(hit.get_charge(), 0.0);
    EXPECT_TRUE(hit.update_charge(inf, 1.0));  // the value itself is never examined
    EXPECT_EQ(hit.get_charge(), inf);
}

TEST(Hit, LayoutMatchesTheNumpyRow) {
    // Batch conversions rely on a hit being six packed values behind a padded channel.
    static_assert(sizeof(Hit) == 48);
    static_assert(std::is_trivially_copyable_v<Hit>);
}

}  // namespace
