#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "tessel/hit_features.hpp"

namespace {

using tessel::HitFeatures;

template <class F>
std::string runtime_message(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no error>";
}

struct FeatureCase {
    const char* name;
    std::function<void(HitFeatures&)> set;
    std::function<bool(const HitFeatures&)> has;
    std::function<double(const HitFeatures&)> get;
    const char* unset_message;
    std::uint8_t flag;
};

const FeatureCase feature_cases[] = {
    {"channel", [](HitFeatures& f) { f.set_channel(-3); },
     [](const HitFeatures& f) { return f.has_channel(); },
     [](const HitFeatures& f) { return f.get_channel(); }, "Channel not set!",
     HitFeatures::CHANNEL},
    {"pmt_type", [](HitFeatures& f) { f.set_pmt_type(-3); },
     [](const HitFeatures& f) { return f.has_pmt_type(); },
     [](const HitFeatures& f) { return f.get_pmt_type(); }, "PMT type not set!",
     HitFeatures::PMT_TYPE},
    {"id", [](HitFeatures& f) { f.set_id(3); }, [](const HitFeatures& f) { return f.has_id(); },
     [](const HitFeatures& f) { return static_cast<double>(f.get_id()); }, "ID not set!",
     HitFeatures::ID},
    {"trigger_time", [](HitFeatures& f) { f.set_trigger_time(-3); },
     [](const HitFeatures& f) { return f.has_trigger_time(); },
     [](const HitFeatures& f) { return f.get_trigger_time(); }, "Trigger time not set!",
     HitFeatures::TRIGGER_TIME},
    {"waveform_integral", [](HitFeatures& f) { f.set_waveform_integral(-3); },
     [](const HitFeatures& f) { return f.has_waveform_integral(); },
     [](const HitFeatures& f) { return f.get_waveform_integral(); }, "Waveform integral not set!",
     HitFeatures::WAVEFORM_INTEGRAL},
    {"time_over_threshold", [](HitFeatures& f) { f.set_time_over_threshold(-3); },
     [](const HitFeatures& f) { return f.has_time_over_threshold(); },
     [](const HitFeatures& f) { return f.get_time_over_threshold(); },
     "Time over threshold not set!", HitFeatures::TIME_OVER_THRESHOLD},
    {"adc_sample", [](HitFeatures& f) { f.set_adc_sample(-3); },
     [](const HitFeatures& f) { return f.has_adc_sample(); },
     [](const HitFeatures& f) { return f.get_adc_sample(); }, "ADC sample not set!",
     HitFeatures::ADC_SAMPLE},
    {"rising_edge_time", [](HitFeatures& f) { f.set_rising_edge_time(-3); },
     [](const HitFeatures& f) { return f.has_rising_edge_time(); },
     [](const HitFeatures& f) { return f.get_rising_edge_time(); }, "Rising edge time not set!",
     HitFeatures::RISING_EDGE_TIME},
};

TEST(HitFeatures, EachFeatureIsGatedByItsOwnFlag) {
    for (const auto& c : feature_cases) {
        SCOPED_TRACE(c.name);
        HitFeatures f;
        EXPECT_FALSE(c.has(f));
        EXPECT_EQ(runtime_message([&] { (void)c.get(f); }), c.unset_message);
        c.set(f);
        EXPECT_TRUE(c.has(f));
        EXPECT_EQ(f.flags(), c.flag);  // setting one feature raises no other flag
        if (std::string(c.name) != "id") {
            EXPECT_EQ(c.get(f), -3.0);
        }
        for (const auto& other : feature_cases) {
            if (&other != &c) {
                EXPECT_FALSE(other.has(f)) << other.name;
            }
        }
    }
}

TEST(HitFeatures, NanIsStoredAsASetValue) {
    HitFeatures f;
    f.set_waveform_integral(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(f.has_waveform_integral());
    EXPECT_TRUE(std::isnan(f.get_waveform_integral()));
}

TEST(FeatureAccessor, BindsTheFiveFloatingPointFeatures) {
    HitFeatures f;
    f.set_waveform_integral(1.5);
    f.set_time_over_threshold(2.5);
    f.set_trigger_time(3.5);
    f.set_adc_sample(4.5);
    f.set_rising_edge_time(5.5);
    const std::pair<const char*, double> expected[] = {{"waveform_integral", 1.5},
                                                       {"time_over_threshold", 2.5},
                                                       {"trigger_time", 3.5},
                                                       {"adc_sample", 4.5},
                                                       {"rising_edge_time", 5.5}};
    for (const auto& [name, value] : expected) {
        const HitFeatures::FeatureAccessor accessor(name);
        EXPECT_TRUE(accessor.has(f)) << name;
        EXPECT_EQ(accessor.get(f), value) << name;
        EXPECT_FALSE(accessor.has(HitFeatures{})) << name;
    }
    const HitFeatures::FeatureAccessor adc("adc_sample");
    EXPECT_EQ(runtime_message([&] { (void)adc.get(HitFeatures{}); }), "ADC sample not set!");
}

TEST(FeatureAccessor, RejectsEveryOtherNameWithTheNameAsPassed) {
    for (const std::string name : {"channel", "pmt_type", "id", "", "ADC_SAMPLE", " adc_sample",
                                   "adc_sample ", "rising_edge"}) {
        try {
            HitFeatures::FeatureAccessor accessor(name);
            ADD_FAILURE() << "accepted '" << name << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), "Unknown feature name: " + name);
        }
    }
}

}  // namespace
