#include <gtest/gtest.h>

#include <locale>
#include <string>
#include <vector>

#include "support.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/yaml_accessor.hpp"

namespace {

std::vector<std::string> messages(const std::vector<tessel::SettingsProblem>& problems) {
    std::vector<std::string> out;
    for (const auto& problem : problems) {
        out.push_back(problem.message());
    }
    return out;
}

/// A decimal comma and a grouping point, as several countries write numbers.
struct DecimalComma : std::numpunct<char> {
    [[nodiscard]] char do_decimal_point() const override { return ','; }
    [[nodiscard]] char do_thousands_sep() const override { return '.'; }
    [[nodiscard]] std::string do_grouping() const override { return "\3"; }
};

// Also under a program's global locale that writes numbers otherwise: settings numbers are not
// read in it.
TEST(CheckSettings, ExampleSettingsAreSound) {
    for (const bool comma : {false, true}) {
        const std::locale previous =
            comma ? std::locale::global(std::locale(std::locale::classic(), new DecimalComma))
                  : std::locale();
        EXPECT_EQ(messages(tessel::check_settings(TESSEL_EXAMPLES_DIR "/settings.yaml")),
                  std::vector<std::string>{});
        tessel::YAMLAccessor yaml(TESSEL_EXAMPLES_DIR "/settings.yaml");
        EXPECT_EQ(yaml.get_double({"reco", "time_from_rising_edge", "intercept"}), -0.83e-9);
        if (comma) {
            std::locale::global(previous);
        }
    }
}

// Several mistakes in one file, each reported once, in the order of the file; a table's rows
// where the setting naming the table stands.  The whole message is compared: it is what users
// read.
TEST(CheckSettings, ReportsEveryProblemInFileOrder) {
    const tessel::testing::TempDir dir;
    dir.write("lut.txt", "# x y u\n0 0 0.1\r\n100 2.5 0,6\n");
    const auto settings = dir.write("s.yaml",
                                    "extractors:\n"
                                    "  Tarvo: {drop_bad_edge: yes}\n"
                                    "reco:\n"
                                    "  a:\n"
                                    "    class: LUTReco\n"
                                    "    feature: adc_sample\n"
                                    "    hit_property: charge\n"
                                    "    pmt_type: -1\n"
                                    "    extrapolate: false\n"
                                    "    lut_file: lut.txt\n"
                                    "    lut_file: other.txt\n"
                                    "  b: {class: LinearRec}\n");
    const std::string s = settings.generic_string();
    const std::string lut = (dir.root() / "lut.txt").generic_string();
    EXPECT_EQ(messages(tessel::check_settings(settings)),
              (std::vector<std::string>{
                  s + ":2: extractors.Tarvo.drop_bad_integral: expected true or false "
                      "(required), found no \"drop_bad_integral\" key",
                  lut + ":3: reco.a.lut_file: expected three numbers (x, value, uncertainty) "
                        "separated by blanks, then only white space, found \"100 2.5 0,6\" "
                        "(\",6\" after the third number); a decimal comma? \"0,6\" reads as "
                        "\"0\"; write decimal points",
                  s + ":11: reco.a.lut_file: expected each key once, found \"lut_file\" again "
                      "(first given on line 10); the first is used and this one is ignored",
                  s + ":12: reco.b.class: expected \"LinearReco\", \"LUTReco\" or "
                      "\"ChannelLinearReco\", found \"LinearRec\"; did you mean \"LinearReco\"?",
              }));
}

TEST(CheckSettings, UnreadableOrUnparsableFile) {
    const tessel::testing::TempDir dir;
    const auto missing = dir.root() / "none.yaml";
    EXPECT_EQ(messages(tessel::check_settings(missing)),
              std::vector<std::string>{missing.generic_string() +
                                       ": expected a readable settings file, found it cannot be "
                                       "read: No such file or directory"});
    // An alias to its own ancestor: reported as the instance it is, not walked forever.
    const auto cyclic = dir.write("c.yaml", "reco: &x {a: *x}\n");
    EXPECT_EQ(messages(tessel::check_settings(cyclic)),
              std::vector<std::string>{cyclic.generic_string() +
                                       ":1: reco.a.class: expected a \"class\" key naming one of "
                                       "\"LinearReco\", \"LUTReco\" or \"ChannelLinearReco\", "
                                       "found none"});
    const auto broken = dir.write("b.yaml", "reco:\n  a: [1\n");
    const auto problems = tessel::check_settings(broken);
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_EQ(problems[0].expected, "a YAML document");
    EXPECT_GT(problems[0].line, 1);
}

}  // namespace
