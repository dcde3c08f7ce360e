#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <ios>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "support.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/factory.hpp"
#include "tessel/hit_maker.hpp"

namespace {

using tessel::ChargeReconstruction;
using tessel::Factory;
using tessel::Hit;
using tessel::HitFeatures;
using tessel::HitMaker;
using tessel::Reconstructor;
using tessel::RunInfo;
using tessel::testing::expect_message;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;

namespace fs = std::filesystem;

/// Expects `error` to hold some standard exception whose what() is exactly `message`.
void expect_what(const std::exception_ptr& error, const std::string& message) {
    ASSERT_TRUE(error) << "nothing was thrown, expected: " << message;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

/// Changes the working directory for its lifetime.
class WorkingDir {
public:
    explicit WorkingDir(const fs::path& dir) : previous_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingDir() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    WorkingDir(const WorkingDir&) = delete;
    WorkingDir& operator=(const WorkingDir&) = delete;

private:
    fs::path previous_;
};

using Keys = std::vector<std::pair<std::string, std::string>>;

// In the order the builders read them.
const Keys kLinearKeys{{"pmt_type", "-1"},
                       {"max_value", ".inf"},
                       {"min_value", "-.inf"},
                       {"covariance", "0.0"},
                       {"intercept_uncertainty", "1.0"},
                       {"slope_uncertainty", "0.0"},
                       {"intercept", "0.5"},
                       {"slope", "2.0"},
                       {"hit_property", "charge"},
                       {"feature", "adc_sample"}};
const Keys kLutKeys{{"pmt_type", "-1"},
                    {"extrapolate", "false"},
                    {"hit_property", "charge"},
                    {"feature", "adc_sample"},
                    {"lut_file", "lut.txt"}};
const std::string kLut = "# x y sigma\n10 1.0 0.2\n30 2.0 0.3\n20 1.5 0.25\n";

/// One instance entry under "reco".
std::string instance(const std::string& name, const std::string& class_name, const Keys& keys) {
    std::string text = "  " + name + ":\n    class: " + class_name + "\n";
    for (const auto& [key, value] : keys) {
        text += "    " + key + ": " + value + "\n";
    }
    return text;
}

Keys without(const Keys& keys, const std::string& dropped) {
    Keys kept;
    for (const auto& entry : keys) {
        if (entry.first != dropped) {
            kept.push_back(entry);
        }
    }
    return kept;
}

Keys with(Keys keys, const std::string& key, const std::string& value) {
    for (auto& entry : keys) {
        if (entry.first == key) {
            entry.second = value;
        }
    }
    return keys;
}

HitFeatures adc_record(double adc) {
    HitFeatures f;
    f.set_channel(1);
    f.set_id(7);
    f.set_adc_sample(adc);
    return f;
}

/// A HitMaker from a settings file holding `reco` (and a LUT beside it); the error if any.
std::exception_ptr build_error(const std::string& reco) {
    const TempDir dir;
    dir.write("lut.txt", kLut);
    const auto settings = dir.write("settings.yaml", "reco:\n" + reco);
    return thrown_by([&] { HitMaker maker(settings); });
}

TEST(HitMakerSettings, BuildsBothClasses) {
    const TempDir dir;
    dir.write("lut.txt", kLut);
    const auto settings =
        dir.write("settings.yaml", "reco:\n" + instance("line", "LinearReco", kLinearKeys) +
                                       instance("table", "LUTReco", kLutKeys));
    const HitMaker maker(settings);
    ASSERT_EQ(maker.reconstructors().size(), 2U);
    Hit hit;
    maker.reconstructors()[0]->reconstruct(adc_record(20), hit);
    EXPECT_EQ(hit.get_charge(), 40.5);
    EXPECT_EQ(hit.get_charge_uncertainty(), 1.0);
    maker.reconstructors()[1]->reconstruct(adc_record(20), hit);
    EXPECT_EQ(hit.get_charge(), 1.5);
    EXPECT_EQ(hit.get_charge_uncertainty(), 0.25);
}

struct BuilderClass {
    const char* name;
    const char* class_name;
    const Keys* keys;

    friend void PrintTo(const BuilderClass& c, std::ostream* os) { *os << c.name; }
};

class BuilderKeys : public ::testing::TestWithParam<BuilderClass> {};

TEST_P(BuilderKeys, EveryKeyIsRequired) {
    const auto& c = GetParam();
    for (const auto& [key, value] : *c.keys) {
        expect_message<std::out_of_range>(
            build_error(instance("x", c.class_name, without(*c.keys, key))),
            "Key " + key + " not found!");
    }
}

TEST_P(BuilderKeys, KeysAreReadInTheirFixedOrder) {
    // With only the first i keys present, the error names key i.
    Keys present;
    for (const auto& entry : *GetParam().keys) {
        expect_message<std::out_of_range>(
            build_error(instance("x", GetParam().class_name, present)),
            "Key " + entry.first + " not found!");
        present.push_back(entry);
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, BuilderKeys,
                         ::testing::Values(BuilderClass{"LinearReco", "LinearReco", &kLinearKeys},
                                           BuilderClass{"LUTReco", "LUTReco", &kLutKeys}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadInstance {
    const char* name;
    std::string reco;
    std::string message;

    friend void PrintTo(const BadInstance& c, std::ostream* os) { *os << c.name; }
};

class HitMakerSettingsErrors : public ::testing::TestWithParam<BadInstance> {};

TEST_P(HitMakerSettingsErrors, Rejected) {
    const auto& c = GetParam();
    expect_what(build_error(c.reco), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Instances, HitMakerSettingsErrors,
    ::testing::Values(
        BadInstance{"mistyped_int",
                    instance("x", "LinearReco", with(kLinearKeys, "pmt_type", "two")),
                    "access failed"},
        BadInstance{"mistyped_bool", instance("x", "LUTReco", with(kLutKeys, "extrapolate", "2")),
                    "access failed"},
        BadInstance{"bad_property",
                    instance("x", "LinearReco", with(kLinearKeys, "hit_property", "Charge")),
                    "Unsupported hit property: Charge"},
        BadInstance{"bad_feature", instance("x", "LUTReco", with(kLutKeys, "feature", "channel")),
                    "Unknown feature name: channel"},
        // The first bad instance ends the build.
        BadInstance{"second_of_two_bad",
                    instance("good", "LinearReco", kLinearKeys) +
                        instance("bad", "LinearReco", without(kLinearKeys, "slope")),
                    "Key slope not found!"}),
    [](const auto& info) { return std::string(info.param.name); });

/// Two LinearReco instances on one feature with equal uncertainties: the first applied keeps
/// its value.
std::string two_equal(const std::string& first, const std::string& second) {
    const auto entry = [](const std::string& name) {
        return instance(name, "LinearReco",
                        with(kLinearKeys, "intercept", name == "a" ? "100" : "200"));
    };
    return "reco:\n" + entry(first) + entry(second);
}

TEST(HitMakerSettings, InstancesAppliedInFileOrder) {
    const TempDir dir;
    const HitMaker ba(dir.write("ba.yaml", two_equal("b", "a")));
    const HitMaker ab(dir.write("ab.yaml", two_equal("a", "b")));
    // x 20: 2*20 + intercept.
    auto hits = ba.make_hits({adc_record(20)}, true);
    ASSERT_EQ(hits.size(), 1U);
    EXPECT_EQ(hits[0].get_charge(), 240.0);
    hits = ab.make_hits({adc_record(20)}, true);
    EXPECT_EQ(hits[0].get_charge(), 140.0);
}

TEST(HitMakerSettings, EmptyOrNonMapRecoGivesNoReconstructors) {
    const TempDir dir;
    for (const std::string reco : {"reco: {}\n", "reco:\n", "reco: [1, 2]\n"}) {
        const HitMaker maker(dir.write("settings.yaml", reco));
        EXPECT_TRUE(maker.reconstructors().empty()) << reco;
        EXPECT_TRUE(maker.make_hits({adc_record(20)}, false).empty()) << reco;
    }
}

TEST(HitMakerSettings, MissingRecoOrFile) {
    const TempDir dir;
    expect_message<std::out_of_range>(
        thrown_by([&] { HitMaker(dir.write("settings.yaml", "extractors: {}\n")); }),
        "Key reco not found!");
    const auto missing = dir.root() / "missing.yaml";
    expect_thrown<std::ios_base::failure>(
        thrown_by([&] { HitMaker{missing}; }), [&](const std::ios_base::failure& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "Failed to load yaml file " + missing.generic_string(), 0),
                      0U);
        });
}

TEST(HitMakerSettings, LutFileFoundBesideRelativeSettingsPath) {
    const TempDir dir;
    dir.write("conf/lut/a.txt", kLut);
    dir.write("tables/b.txt", "0 0 1\n100 10 1\n");
    dir.write(
        "conf/settings.yaml",
        "reco:\n" + instance("a", "LUTReco", with(kLutKeys, "lut_file", "lut/a.txt")) +
            instance("b", "LUTReco",
                     with(with(kLutKeys, "lut_file", "../tables/b.txt"), "hit_property", "time")));
    dir.write("conf/missing.yaml",
              "reco:\n" + instance("a", "LUTReco", with(kLutKeys, "lut_file", "lut/none.txt")));
    const WorkingDir cwd(dir.root());
    const HitMaker maker(fs::path("conf/settings.yaml"));
    const auto hits = maker.make_hits({adc_record(20)});
    ASSERT_EQ(hits.size(), 1U);
    EXPECT_EQ(hits[0].get_charge(), 1.5);
    EXPECT_EQ(hits[0].get_time(), 2.0);
    // The path in the message is the resolved one, relative like the settings path.
    expect_message<std::runtime_error>(thrown_by([] { HitMaker(fs::path("conf/missing.yaml")); }),
                                       "Could not open LUT file: conf/lut/none.txt");
}

TEST(HitMakerSettings, MovedFactoryResolvesForItsNewOwner) {
    const TempDir dir;
    dir.write("lut.txt", kLut);
    const auto settings =
        dir.write("settings.yaml", "reco:\n" + instance("t", "LUTReco", kLutKeys));
    std::unique_ptr<Reconstructor> reco;
    std::unique_ptr<Factory<Reconstructor>> target;
    {
        Factory<Reconstructor> source(settings);
        target = std::make_unique<Factory<Reconstructor>>(std::move(source));
        expect_message<std::out_of_range>(
            thrown_by([&] { (void)source.create_by_name("t"); }),
            "Default constructed or moved from object, no settings available!");
    }
    // The source is gone; the target's LUTReco builder must not refer to it.
    reco = target->create_by_name("t");
    Hit hit;
    reco->reconstruct(adc_record(20), hit);
    EXPECT_EQ(hit.get_charge(), 1.5);
}

// ---------------------------------------------------------------------------------------------
// The pipeline over the example settings.

const std::string kExampleSettings = std::string(TESSEL_EXAMPLES_DIR) + "/settings.yaml";

tessel::TarvoTrigger example_waveform() {
    tessel::TarvoTrigger t;
    t.channel = 4;
    t.trigger_time_s = 12;
    t.trigger_time_ticks = 2500;  // 10 us
    t.baseline = 100.0F;
    t.waveform = {100, 101, 99, 100, 160, 520, 900, 760, 480, 300, 190, 140, 115, 104, 100, 99};
    return t;
}

tessel::MultiPMTTrigger example_multipmt() {
    tessel::MultiPMTTrigger t;
    t.time = 3.25;
    t.channel = 9;
    t.time_over_threshold = 2.0e-8;
    t.adc_sample = 400;
    return t;
}

TEST(ChargeReconstructionExample, TarvoAndMultiPmtTriggersBecomeHits) {
    ChargeReconstruction pipeline(kExampleSettings);
    const tessel::TriggerList triggers{example_waveform(), example_multipmt()};
    const auto hits = pipeline.reconstruct(triggers);
    ASSERT_EQ(hits.size(), 2U);

    constexpr std::uint64_t run = 15731968;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const auto& hit = hits[i];
        EXPECT_TRUE(hit.is_valid());
        EXPECT_EQ(hit.get_id() >> 32U, run);
        EXPECT_EQ(hit.get_id(), tessel::make_hit_id(run, i, 0));
        EXPECT_GT(hit.get_charge(), 0.0);
        EXPECT_GT(hit.get_charge_uncertainty(), 0.0);
        EXPECT_GT(hit.get_time_uncertainty(), 0.0);
    }
    EXPECT_EQ(hits[0].get_channel(), 4);
    EXPECT_EQ(hits[1].get_channel(), 9);
    // Calibration offsets are a few ns; the waveform's edge lies within its 64 ns window.
    EXPECT_NEAR(hits[0].get_time(), 12.00001, 100e-9);
    EXPECT_NEAR(hits[1].get_time(), 3.25, 100e-9);

    // The default run is the simulation run.
    const auto explicit_run = pipeline.reconstruct(triggers, RunInfo::simulation_run());
    ASSERT_EQ(explicit_run.size(), hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) {
        EXPECT_EQ(explicit_run[i].get_id(), hits[i].get_id());
        EXPECT_EQ(explicit_run[i].get_charge(), hits[i].get_charge());
        EXPECT_EQ(explicit_run[i].get_time(), hits[i].get_time());
    }
    EXPECT_TRUE(pipeline.reconstruct({}).empty());
}

TEST(ChargeReconstructionExample, MultiPmtChargeGrowsWithAdcSample) {
    ChargeReconstruction pipeline(kExampleSettings);
    tessel::TriggerList triggers;
    for (const std::uint16_t adc : {40, 400, 2000, 3500}) {
        auto t = example_multipmt();
        t.adc_sample = adc;
        triggers.emplace_back(t);
    }
    const auto hits = pipeline.reconstruct(triggers);
    ASSERT_EQ(hits.size(), triggers.size());
    for (std::size_t i = 1; i < hits.size(); ++i) {
        EXPECT_GT(hits[i].get_charge(), hits[i - 1].get_charge());
    }
}

TEST(ChargeReconstructionSettings, RecoErrorsComeAfterTheExtractor) {
    const TempDir dir;
    const std::string extractors =
        "extractors:\n  Tarvo:\n    drop_bad_edge: true\n    drop_bad_integral: false\n";
    expect_message<std::out_of_range>(
        thrown_by([&] { ChargeReconstruction(dir.write("a.yaml", extractors).string()); }),
        "Key reco not found!");
    expect_message<std::runtime_error>(
        thrown_by([&] {
            ChargeReconstruction(
                dir.write("b.yaml",
                          extractors + "reco:\n" +
                              instance("t", "LUTReco", with(kLutKeys, "lut_file", "none.txt")))
                    .string());
        }),
        "Could not open LUT file: " + (dir.root() / "none.txt").string());
    // A file wrong for both reports the extractor's error.
    expect_message<std::out_of_range>(
        thrown_by([&] {
            ChargeReconstruction(
                dir.write("c.yaml", "extractors:\n  Tarvo:\n    drop_bad_edge: true\n").string());
        }),
        "Key drop_bad_integral not found!");
    const auto missing = (dir.root() / "missing.yaml").string();
    expect_thrown<std::ios_base::failure>(
        thrown_by([&] { ChargeReconstruction{missing}; }), [&](const std::ios_base::failure& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Failed to load yaml file " + missing, 0), 0U);
        });
}

TEST(ChargeReconstructionSettings, EmptyRecoReturnsNoHits) {
    const TempDir dir;
    ChargeReconstruction pipeline(dir.write("s.yaml", "reco: {}\n").string());
    EXPECT_TRUE(pipeline.reconstruct({example_waveform(), example_multipmt()}).empty());
}

}  // namespace
