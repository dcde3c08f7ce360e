#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "tessel/hit_maker.hpp"

namespace {

using tessel::Hit;
using tessel::HitFeatures;
using tessel::HitMaker;

/// Offers fixed estimates and counts its calls.
class Fixed final : public tessel::Reconstructor {
public:
    Fixed(double time, double time_unc, double charge, double charge_unc, int* calls = nullptr)
        : time_(time),
          time_unc_(time_unc),
          charge_(charge),
          charge_unc_(charge_unc),
          calls_(calls) {}
    void reconstruct(const HitFeatures&, Hit& hit) const override {
        if (calls_ != nullptr) {
            ++*calls_;
        }
        hit.update_time(time_, time_unc_);
        hit.update_charge(charge_, charge_unc_);
    }

private:
    double time_, time_unc_, charge_, charge_unc_;
    int* calls_;
};

class Throwing final : public tessel::Reconstructor {
public:
    void reconstruct(const HitFeatures&, Hit&) const override { throw std::runtime_error("boom"); }
};

HitFeatures record(int channel, std::uint64_t id, bool with_channel = true, bool with_id = true) {
    HitFeatures f;
    if (with_channel) {
        f.set_channel(channel);
    }
    if (with_id) {
        f.set_id(id);
    }
    return f;
}

TEST(HitMaker, KeepsValidHitsInInputOrderWithChannelAndId) {
    HitMaker maker;
    maker.add_reconstructor(std::make_unique<Fixed>(1.0, 0.1, 2.0, 0.2));
    const auto hits = maker.make_hits({record(3, 30), record(4, 40)});
    ASSERT_EQ(hits.size(), 2U);
    EXPECT_EQ(hits[0].get_channel(), 3);
    EXPECT_EQ(hits[0].get_id(), 30U);
    EXPECT_EQ(hits[1].get_id(), 40U);
    EXPECT_EQ(hits[1].get_charge(), 2.0);
    EXPECT_TRUE(maker.make_hits({}).empty());
    EXPECT_TRUE(maker.make_hits({}, true).empty());
}

TEST(HitMaker, RecordsLackingChannelOrIdNeverReachAReconstructor) {
    int calls = 0;
    HitMaker maker;
    maker.add_reconstructor(std::make_unique<Fixed>(1.0, 0.1, 2.0, 0.2, &calls));
    const std::vector<HitFeatures> input = {record(3, 0, true, false), record(0, 9, false, true),
                                            record(0, 0, false, false)};
    EXPECT_TRUE(maker.make_hits(input).empty());
    const auto kept = maker.make_hits(input, true);
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(kept.size(), 3U);
    EXPECT_EQ(kept[0].get_channel(), 3);
    EXPECT_EQ(kept[0].get_id(), 0U);
    EXPECT_EQ(kept[1].get_channel(), -1);
    EXPECT_EQ(kept[1].get_id(), 9U);
    for (const auto& hit : kept) {
        EXPECT_FALSE(hit.is_valid());
        EXPECT_EQ(hit.get_time(), 0.0);
    }
}

TEST(HitMaker, ValidityDecidesUnlessNoDiscard) {
    HitMaker charge_only;
    charge_only.add_reconstructor(
        std::make_unique<Fixed>(0.0, std::numeric_limits<double>::infinity(), 2.0, 0.2));
    EXPECT_TRUE(charge_only.make_hits({record(1, 1)}).empty());
    EXPECT_EQ(charge_only.make_hits({record(1, 1)}, true).size(), 1U);

    HitMaker both;
    both.add_reconstructor(std::make_unique<Fixed>(1.0, 0.1, 2.0, 0.2));
    EXPECT_TRUE(both.make_hits({record(-1, 1)}).empty());  // channel -1 fails validity
    EXPECT_EQ(both.make_hits({record(-1, 1)}, true).size(), 1U);

    const HitMaker empty;
    EXPECT_TRUE(empty.make_hits({record(1, 1)}).empty());
    EXPECT_EQ(empty.make_hits({record(1, 1)}, true).at(0).get_channel(), 1);
}

TEST(HitMaker, EarlierReconstructorWinsTiesLaterWinsSmallerUncertainties) {
    HitMaker tie;
    tie.add_reconstructor(std::make_unique<Fixed>(1.0, 0.5, 10.0, 0.5));
    tie.add_reconstructor(std::make_unique<Fixed>(2.0, 0.5, 20.0, 0.4));
    const auto hits = tie.make_hits({record(0, 0)});
    ASSERT_EQ(hits.size(), 1U);
    EXPECT_EQ(hits[0].get_time(), 1.0);
    EXPECT_EQ(hits[0].get_charge(), 20.0);
}

TEST(HitMaker, AReconstructorErrorDiscardsTheWholeCall) {
    HitMaker maker;
    maker.add_reconstructor(std::make_unique<Fixed>(1.0, 0.1, 2.0, 0.2));
    maker.add_reconstructor(std::make_unique<Throwing>());
    EXPECT_THROW((void)maker.make_hits({record(1, 1)}), std::runtime_error);
    // A record that reaches no reconstructor cannot fail.
    EXPECT_TRUE(maker.make_hits({record(1, 1, true, false)}).empty());
}

TEST(HitMaker, ConstructsFromAListKeepingItsOrder) {
    HitMaker::ReconstructorList list;
    list.push_back(std::make_unique<Fixed>(1.0, 0.5, 1.0, 0.5));
    list.push_back(std::make_unique<Fixed>(2.0, 0.5, 2.0, 0.5));
    const HitMaker maker(std::move(list));
    EXPECT_EQ(maker.reconstructors().size(), 2U);
    EXPECT_EQ(maker.make_hits({record(0, 0)}).at(0).get_time(), 1.0);
}

}  // namespace
