#include <gtest/gtest.h>

#include <fstream>
#include <locale>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/feature_extractor.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/reconstructor_class.hpp"
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

// A class added outside the library (its keys and builder only) is built by the factory and
// accepted by the check, which checks its keys like a built-in class's; the summary (and with it
// a run's record of its files) finds the table file it declares.  The summary shows values as the
// library reads them.
class FixedCharge final : public tessel::Reconstructor {
public:
    explicit FixedCharge(double charge) : charge_(charge) {}
    void reconstruct(const tessel::HitFeatures& /*features*/, tessel::Hit& hit) const override {
        hit.update_charge(charge_, 1.0);
    }

private:
    double charge_;
};

TEST(CheckSettings, AddedClassIsBuiltAndChecked) {
    static const tessel::KeyTable keys{
        {.name = "charge", .type = tessel::ValueType::number, .required = true, .minimum = 0.0},
        {.name = "source", .type = tessel::ValueType::channel_table}};
    tessel::add_reconstructor_class(
        {"FixedCharge", &keys,
         [](tessel::SettingsReader& instance) -> std::unique_ptr<tessel::Reconstructor> {
             const double charge = instance.number("charge");
             if (instance.checking()) {
                 return nullptr;
             }
             return std::make_unique<FixedCharge>(charge);
         },
         "every hit the same charge"});
    const tessel::testing::TempDir dir;
    const auto sound = dir.write("s.yaml",
                                 "extractors: {Tarvo: {drop_bad_edge: Y, drop_bad_integral: off}}\n"
                                 "reco:\n  q: {class: FixedCharge, charge: 2.5, source: t.csv}\n");
    EXPECT_EQ(messages(tessel::check_settings(sound)), std::vector<std::string>{});
    const auto summary = tessel::summarize_settings(sound);
    const std::string table = (sound.parent_path() / "t.csv").generic_string();
    EXPECT_EQ(summary.table_keys,
              (std::vector<std::pair<std::string, std::string>>{{"reco.q.source", table}}));
    EXPECT_EQ(summary.reconstructors.at(0).table, table);
    // Booleans as the library reads them.
    EXPECT_EQ(summary.extractor_options, (std::vector<std::pair<std::string, std::string>>{
                                             {"waveform", "Tarvo"},
                                             {"Tarvo.drop_bad_edge", "true"},
                                             {"Tarvo.drop_bad_integral", "false"}}));
    const tessel::HitMaker maker(sound);
    ASSERT_EQ(maker.reconstructors().size(), 1U);
    tessel::Hit hit;
    maker.reconstructors()[0]->reconstruct(tessel::HitFeatures{}, hit);
    EXPECT_EQ(hit.get_charge(), 2.5);
    const auto wrong = dir.write("w.yaml", "reco:\n  q: {class: FixedCharge, charg: -1}\n");
    EXPECT_EQ(messages(tessel::check_settings(wrong)),
              std::vector<std::string>{wrong.generic_string() +
                                       ":2: reco.q.charg: expected a key of FixedCharge, found "
                                       "\"charg\"; did you mean \"charge\"?"});
}

// The reference tables of docs/settings.md hold the declared keys: each table under the heading
// of its section or class lists exactly the declared keys, with their required flag and default
// where the table has those columns.
TEST(CheckSettings, ReferenceTablesMatchTheDeclarations) {
    std::ifstream in(TESSEL_EXAMPLES_DIR "/../docs/settings.md");
    ASSERT_TRUE(in);
    // heading -> rows of its first table, each as its cells
    std::map<std::string, std::vector<std::vector<std::string>>> tables;
    std::string heading;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("#", 0) == 0) {
            const auto open = line.find('`');
            heading = open == std::string::npos
                          ? ""
                          : line.substr(open + 1, line.find('`', open + 1) - open - 1);
        } else if (line.rfind("|", 0) == 0 && !heading.empty()) {
            std::vector<std::string> cells;
            std::stringstream row(line.substr(1));
            for (std::string cell; std::getline(row, cell, '|');) {
                cell.erase(0, cell.find_first_not_of(' '));
                cell.erase(cell.find_last_not_of(' ') + 1);
                cells.push_back(cell);
            }
            tables[heading].push_back(cells);
        }
    }
    const auto unquote = [](std::string text) {
        std::erase(text, '`');
        return text;
    };
    const auto compare = [&](const std::string& section, const tessel::KeyTable& keys,
                             const std::vector<std::string>& also) {
        SCOPED_TRACE(section);
        const auto& rows = tables[section];
        ASSERT_GT(rows.size(), 2U);
        const auto& columns = rows[0];
        std::vector<std::string> documented;
        std::map<std::string, std::vector<std::string>> by_key;
        for (std::size_t r = 2; r < rows.size(); ++r) {
            std::stringstream names(rows[r][0]);
            for (std::string name; std::getline(names, name, ',');) {
                documented.push_back(unquote(name.substr(name.find('`'))));
                by_key[documented.back()] = rows[r];
            }
        }
        std::vector<std::string> declared = also;
        for (const auto& key : keys) {
            declared.emplace_back(key.name);
            const auto& cells = by_key[std::string(key.name)];
            for (std::size_t c = 0; c < columns.size() && c < cells.size(); ++c) {
                if (columns[c] == "Required") {
                    EXPECT_EQ(cells[c].rfind(key.required ? "yes" : "no", 0), 0U) << key.name;
                } else if (columns[c] == "Default") {
                    EXPECT_EQ(unquote(cells[c]), key.required ? "—" : key.default_value)
                        << key.name;
                }
            }
        }
        std::sort(documented.begin(), documented.end());
        std::sort(declared.begin(), declared.end());
        EXPECT_EQ(documented, declared);
    };
    const auto& extractors = tessel::FeatureExtractor::settings_keys();
    compare("extractors", extractors, {});
    for (const auto& key : extractors) {
        if (key.section != nullptr) {
            compare("extractors." + std::string(key.name), *key.section, {});
        }
    }
    std::vector<std::string> names;
    for (const auto& cls : tessel::reconstructor_classes()) {
        if (cls.name != "FixedCharge") {
            compare(cls.name, *cls.keys, {});
            names.push_back("`" + cls.name + "`");
        }
    }
    // The classes a "class" key may name.
    std::string listed = names.front();
    for (std::size_t i = 1; i < names.size(); ++i) {
        listed += (i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    EXPECT_EQ(tables["reco"][2][1], listed);
}

}  // namespace
