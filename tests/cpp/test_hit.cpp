#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tessel/hit.hpp"

namespace {

using tessel::Hit;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Hit, DefaultIsInvalid) {
    Hit hit;
    EXPECT_FALSE(hit.is_valid());
    EXPECT_EQ(hit.get_channel(), -1);
    EXPECT_EQ(hit.get_id(), 0U);
    EXPECT_EQ(hit.get_time_uncertainty(), inf);
    hit.set_channel(0);
    EXPECT_FALSE(hit.is_valid());
}

}  // namespace
