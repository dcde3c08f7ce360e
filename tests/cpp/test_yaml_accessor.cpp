#include <gtest/gtest.h>
#include <yaml-cpp/exceptions.h>

#include <cmath>
#include <exception>
#include <filesystem>
#include <ios>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "support.hpp"
#include "tessel/yaml_accessor.hpp"

namespace {

using tessel::YAMLAccessor;
using tessel::testing::cause_of;
using tessel::testing::expect_message;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;
using Keys = std::vector<std::string>;

constexpr const char* kValues = R"(octal: 010
hex: 0x1F
max: 2147483647
min: -2147483648
big: 2147483648
frac: 7.5
exp: 1e3
word: abc
lead_space: " 5"
trail_space: "5 "
quoted: "010"
inf: .inf
ninf: -.INF
pinf: +.Inf
nan: .NaN
bare_inf: Inf
true_cap: True
true_up: TRUE
yes: yes
on_cap: On
y: y
mixed: tRUE
off: off
n_up: N
one: 1
empty:
tilde: ~
null_low: null
null_cap: Null
null_up: NULL
seq: [1, 2]
map: {x: 1}
)";

/// The accessor over kValues, loaded once for the whole table.
class YamlValues : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        accessor_ = new YAMLAccessor(dir_->write("values.yaml", kValues));
    }
    static void TearDownTestSuite() {
        delete accessor_;
        delete dir_;
    }
    static TempDir* dir_;
    static YAMLAccessor* accessor_;
};
TempDir* YamlValues::dir_ = nullptr;
YAMLAccessor* YamlValues::accessor_ = nullptr;

// The alternative held by `expected` selects the read; `fails` says that read must fail.
using Value = std::variant<std::string, int, double, bool>;
struct ReadCase {
    const char* name;
    const char* key;
    Value expected;
    bool fails = false;
};

class YamlReads : public YamlValues, public ::testing::WithParamInterface<ReadCase> {};

Value read(YAMLAccessor& accessor, const Keys& path, const Value& as) {
    return std::visit(
        [&](const auto& kind) -> Value {
            using T = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return accessor.get_string(path);
            } else if constexpr (std::is_same_v<T, int>) {
                return accessor.get_int(path);
            } else if constexpr (std::is_same_v<T, double>) {
                return accessor.get_double(path);
            } else {
                return accessor.get_bool(path);
            }
        },
        as);
}

TEST_P(YamlReads, ConvertsAsYamlCppDoes) {
    const auto& c = GetParam();
    const Keys path{c.key};
    if (c.fails) {
        expect_thrown<std::invalid_argument>(thrown_by([&] { read(*accessor_, path, c.expected); }),
                                             [](const std::invalid_argument& e) {
                                                 EXPECT_STREQ(e.what(), "access failed");
                                                 expect_thrown<YAML::BadConversion>(
                                                     cause_of(e), [](const auto&) {});
                                             });
        return;
    }
    const Value got = read(*accessor_, path, c.expected);
    ASSERT_EQ(got.index(), c.expected.index());
    if (const auto* d = std::get_if<double>(&c.expected); d != nullptr && std::isnan(*d)) {
        EXPECT_TRUE(std::isnan(std::get<double>(got)));
    } else {
        EXPECT_EQ(got, c.expected);
    }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, YamlReads,
    ::testing::Values(
        // Strings: the text as parsed, every spelling of null as "null", no collections.
        ReadCase{"string_octal_text", "octal", std::string("010")},
        ReadCase{"string_hex_text", "hex", std::string("0x1F")},
        ReadCase{"string_quoted", "quoted", std::string("010")},
        ReadCase{"string_lead_space", "lead_space", std::string(" 5")},
        ReadCase{"string_empty_is_null", "empty", std::string("null")},
        ReadCase{"string_tilde_is_null", "tilde", std::string("null")},
        ReadCase{"string_null_lower", "null_low", std::string("null")},
        ReadCase{"string_null_capitalised", "null_cap", std::string("null")},
        ReadCase{"string_null_upper", "null_up", std::string("null")},
        ReadCase{"string_of_sequence_fails", "seq", std::string(), true},
        ReadCase{"string_of_map_fails", "map", std::string(), true},
        // Integers: base from the prefix, whole text, 32-bit range, no leading blanks.
        ReadCase{"int_octal", "octal", 8}, ReadCase{"int_hex", "hex", 31},
        ReadCase{"int_max", "max", 2147483647},
        ReadCase{"int_min", "min", std::numeric_limits<int>::min()},
        ReadCase{"int_quoted_is_still_octal", "quoted", 8},
        ReadCase{"int_trailing_blank_ok", "trail_space", 5},
        ReadCase{"int_overflow_fails", "big", 0, true},
        ReadCase{"int_fraction_fails", "frac", 0, true},
        ReadCase{"int_word_fails", "word", 0, true},
        ReadCase{"int_leading_blank_fails", "lead_space", 0, true},
        ReadCase{"int_null_fails", "empty", 0, true}, ReadCase{"int_tilde_fails", "tilde", 0, true},
        ReadCase{"int_of_sequence_fails", "seq", 0, true},
        // Doubles: decimal always, plus the exact special texts.
        ReadCase{"double_fraction", "frac", 7.5}, ReadCase{"double_exponent", "exp", 1000.0},
        ReadCase{"double_leading_zero_is_decimal", "octal", 10.0},
        ReadCase{"double_big", "big", 2147483648.0}, ReadCase{"double_inf", "inf", kInf},
        ReadCase{"double_minus_inf_upper", "ninf", -kInf},
        ReadCase{"double_plus_inf", "pinf", kInf},
        ReadCase{"double_nan", "nan", std::numeric_limits<double>::quiet_NaN()},
        ReadCase{"double_inf_without_dot_fails", "bare_inf", 0.0, true},
        ReadCase{"double_word_fails", "word", 0.0, true},
        ReadCase{"double_null_fails", "null_low", 0.0, true},
        // Booleans: the YAML 1.1 words in lower, upper or capitalised case only.
        ReadCase{"bool_True", "true_cap", true}, ReadCase{"bool_TRUE", "true_up", true},
        ReadCase{"bool_yes", "yes", true}, ReadCase{"bool_On", "on_cap", true},
        ReadCase{"bool_y", "y", true}, ReadCase{"bool_off", "off", false},
        ReadCase{"bool_N", "n_up", false}, ReadCase{"bool_mixed_case_fails", "mixed", false, true},
        ReadCase{"bool_one_fails", "one", false, true},
        ReadCase{"bool_null_fails", "tilde", false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(YamlValues, NullValuesAreContainedAndMissingKeysAreNot) {
    for (const char* key : {"empty", "tilde", "null_low", "null_cap", "null_up", "seq", "map"}) {
        EXPECT_TRUE(accessor_->contains({key})) << key;
    }
    EXPECT_TRUE(accessor_->contains({}));
    EXPECT_TRUE(accessor_->contains({"map", "x"}));
    EXPECT_FALSE(accessor_->contains({"missing"}));
    EXPECT_FALSE(accessor_->contains({"map", "y"}));
    EXPECT_FALSE(accessor_->contains({"HEX"}));
    // Sequences are not indexed by key text.
    EXPECT_FALSE(accessor_->contains({"seq", "0"}));
}

// A path through a missing node, through a null value or below a scalar denotes no node: never
// contained, and reading it is an ordinary "access failed" carrying yaml-cpp's own error.
TEST_F(YamlValues, PathsThatCannotBeWalkedAreMissingNotFatal) {
    struct Case {
        Keys path;
        const char* cause;
    };
    const std::vector<Case> cases{
        {{"missing"}, "invalid node"},
        {{"missing", "deeper"}, "invalid node"},
        {{"tilde", "x"}, "invalid node"},
        {{"word", "x"}, "operator[] call on a scalar"},
        {{"map", "x", "y"}, "operator[] call on a scalar"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.back());
        EXPECT_FALSE(accessor_->contains(c.path));
        EXPECT_TRUE(accessor_->keys(c.path).empty());
        const auto check = [&](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "access failed");
            expect_thrown<YAML::Exception>(cause_of(e), [&](const YAML::Exception& cause) {
                EXPECT_NE(std::string(cause.what()).find(c.cause), std::string::npos)
                    << cause.what();
            });
        };
        expect_thrown<std::invalid_argument>(thrown_by([&] { accessor_->get_string(c.path); }),
                                             check);
        expect_thrown<std::invalid_argument>(thrown_by([&] { accessor_->get_int(c.path); }), check);
        expect_thrown<std::invalid_argument>(thrown_by([&] { accessor_->get_double(c.path); }),
                                             check);
        expect_thrown<std::invalid_argument>(thrown_by([&] { accessor_->get_bool(c.path); }),
                                             check);
    }
}

// Lookups must leave the loaded document as it was: yaml-cpp's non-const subscript would add
// entries under missing keys and turn null values and sequences into maps.
TEST_F(YamlValues, LookupsLeaveTheDocumentUnchanged) {
    const Keys before = accessor_->keys({});
    EXPECT_FALSE(accessor_->contains({"missing"}));
    EXPECT_FALSE(accessor_->contains({"missing", "x"}));
    EXPECT_FALSE(accessor_->contains({"tilde", "x"}));
    EXPECT_FALSE(accessor_->contains({"seq", "x"}));
    EXPECT_THROW(accessor_->get_int({"also_missing"}), std::invalid_argument);
    EXPECT_THROW(accessor_->get_int({"empty", "x"}), std::invalid_argument);

    EXPECT_EQ(accessor_->keys({}), before);
    EXPECT_FALSE(accessor_->contains({"missing"}));
    EXPECT_EQ(accessor_->get_string({"tilde"}), "null");
    EXPECT_EQ(accessor_->get_string({"empty"}), "null");
    EXPECT_TRUE(accessor_->keys({"seq"}).empty());
    EXPECT_TRUE(accessor_->keys({"tilde"}).empty());
    EXPECT_EQ(accessor_->keys({"map"}), Keys{"x"});
}

TEST(YamlKeys, ListsMapKeysInDocumentOrderAndNothingForOtherNodes) {
    const TempDir dir;
    YAMLAccessor accessor(dir.write("keys.yaml", R"(zeta: 1
alpha:
  second: 2
  first: 1
  a.b: 3
mid: [x, y]
scalar: text
nothing:
empty_map: {}
~: null key
)"));
    EXPECT_EQ(accessor.keys({}),
              (Keys{"zeta", "alpha", "mid", "scalar", "nothing", "empty_map", "null"}));
    EXPECT_EQ(accessor.keys({"alpha"}), (Keys{"second", "first", "a.b"}));
    for (const Keys& path : {Keys{"zeta"}, Keys{"mid"}, Keys{"scalar"}, Keys{"nothing"},
                             Keys{"empty_map"}, Keys{"missing"}, Keys{"alpha", "a"}}) {
        EXPECT_TRUE(accessor.keys(path).empty()) << path.back();
    }
    EXPECT_EQ(accessor.get_int({"alpha", "a.b"}), 3);
}

// Keys that are maps or sequences have no text and no key path reaches them: they are left out.
TEST(YamlKeys, CollectionKeysAreLeftOut) {
    const TempDir dir;
    YAMLAccessor accessor(dir.write("odd.yaml", R"(first: 1
? [1, 2]
: sequence key
? {k: v}
: map key
last: 2
)"));
    EXPECT_EQ(accessor.keys({}), (Keys{"first", "last"}));
    EXPECT_EQ(accessor.get_int({"last"}), 2);
    EXPECT_FALSE(accessor.contains({"[1, 2]"}));
}

TEST(YamlKeys, EmptyFileIsAnEmptyDocument) {
    const TempDir dir;
    YAMLAccessor accessor(dir.write("empty.yaml", ""));
    EXPECT_TRUE(accessor.keys({}).empty());
    EXPECT_FALSE(accessor.contains({"x"}));
    EXPECT_THROW(accessor.get_int({"x"}), std::invalid_argument);
}

TEST(YamlLoad, TheFileIsReadOnceAtConstruction) {
    const TempDir dir;
    const auto file = dir.write("once.yaml", "value: 1\n");
    YAMLAccessor accessor(file);
    dir.write("once.yaml", "value: 2\nextra: 3\n");
    EXPECT_EQ(accessor.get_int({"value"}), 1);
    EXPECT_FALSE(accessor.contains({"extra"}));
}

// The message names the file in generic form; libstdc++'s ios_base::failure appends its error
// category's text after a colon.
void expect_load_failure(const std::filesystem::path& file, const std::string& shown,
                         const std::string& cause_fragment) {
    expect_thrown<std::ios_base::failure>(
        thrown_by([&] { YAMLAccessor accessor(file); }), [&](const std::ios_base::failure& e) {
            const std::string what = e.what();
            const std::string message = "Failed to load yaml file " + shown;
            EXPECT_TRUE(what == message || what.starts_with(message + ":")) << what;
            expect_thrown<YAML::Exception>(cause_of(e), [&](const YAML::Exception& cause) {
                EXPECT_NE(std::string(cause.what()).find(cause_fragment), std::string::npos)
                    << cause.what();
            });
        });
}

TEST(YamlLoad, MissingFileFailsWithThePathInGenericForm) {
    const TempDir dir;
    const std::string root = dir.root().generic_string();
    expect_load_failure(dir.root() / "absent.yaml", root + "/absent.yaml", "bad file");
    expect_load_failure(root + "//sub///absent.yaml", root + "/sub/absent.yaml", "bad file");
}

TEST(YamlLoad, InvalidYamlFailsWithTheParserErrorAndItsPosition) {
    const TempDir dir;
    const auto file = dir.write("broken.yaml", "good: 1\nlist: [1, 2\nnext: 3\n");
    expect_load_failure(file, file.generic_string(), "line ");
    expect_load_failure(file, file.generic_string(), "column ");
    expect_load_failure(dir.write("tab.yaml", "a:\n\tb: 1\n"), (dir.root() / "tab.yaml").string(),
                        "yaml-cpp: error at line");
}

// Refused before the parser runs: yaml-cpp loses memory when the first read of an opened file
// fails (a directory opens), and a NUL would make the system open the name's beginning.
TEST(YamlLoad, DirectoriesAndNamesHoldingANulAreRefusedBeforeLoading) {
    const TempDir dir;
    const auto expect_refused = [](const std::filesystem::path& file, const auto& check_cause) {
        expect_thrown<std::ios_base::failure>(
            thrown_by([&] { YAMLAccessor accessor(file); }), [&](const std::ios_base::failure& e) {
                EXPECT_TRUE(std::string(e.what()).starts_with("Failed to load yaml file "));
                check_cause(cause_of(e));
            });
    };
    expect_refused(dir.root(), [](const std::exception_ptr& cause) {
        expect_thrown<std::filesystem::filesystem_error>(
            cause, [](const std::filesystem::filesystem_error& e) {
                EXPECT_EQ(e.code(), std::make_error_code(std::errc::is_a_directory));
            });
    });
    const auto file = dir.write("settings.yaml", "value: 1\n");
    expect_refused(file.native() + std::string("\0junk", 5), [](const std::exception_ptr& cause) {
        expect_message<std::invalid_argument>(cause, "The file name contains a NUL character");
    });
}

}  // namespace
