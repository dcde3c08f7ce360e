#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <ios>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.hpp"
#include "tessel/settings.hpp"

namespace {

using tessel::Settings;
using tessel::testing::cause_of;
using tessel::testing::expect_message;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;
using Keys = std::vector<std::string>;

/// In-memory backend: a flat table from whole key paths to values.  Every read runs `fault`
/// first (when set), so a test can make the backend fail in any way it likes; every path the
/// backend is asked about is recorded.
class TableAccessor final : public Settings::Accessor {
public:
    std::map<Keys, std::string> values;
    std::function<void()> fault;
    std::vector<Keys> asked;

    bool contains(const Keys& path) noexcept override {
        asked.push_back(path);
        return path.empty() || values.contains(path);
    }
    std::vector<std::string> keys(const Keys& path) noexcept override {
        asked.push_back(path);
        std::vector<std::string> names;
        for (const auto& [key, value] : values) {
            if (key.size() == path.size() + 1 &&
                std::equal(path.begin(), path.end(), key.begin())) {
                names.push_back(key.back());
            }
        }
        return names;
    }
    std::string get_string(const Keys& path) override { return read(path); }
    int get_int(const Keys& path) override { return std::stoi(read(path)); }
    double get_double(const Keys& path) override { return std::stod(read(path)); }
    bool get_bool(const Keys& path) override { return read(path) == "true"; }

private:
    std::string read(const Keys& path) {
        asked.push_back(path);
        if (fault) {
            fault();
        }
        return values.at(path);
    }
};

struct Conversion {
    const char* name;
    std::function<void(const Settings&)> convert;
    const char* message;
};

const std::vector<Conversion> kConversions{
    {"string", [](const Settings& s) { (void)static_cast<std::string>(s); },
     "Cast to string failed! Caused by"},
    {"int", [](const Settings& s) { (void)static_cast<int>(s); }, "Cast to int failed! Caused by"},
    {"double", [](const Settings& s) { (void)static_cast<double>(s); },
     "Cast to double failed! Caused by"},
    {"bool", [](const Settings& s) { (void)static_cast<bool>(s); },
     "Cast to bool failed! Caused by"},
};

class SettingsConversions : public ::testing::TestWithParam<Conversion> {
protected:
    std::shared_ptr<TableAccessor> backend = std::make_shared<TableAccessor>();
    Settings view{backend, {"value"}};
};

// Anything but std::invalid_argument is wrapped, with the original as the nested cause.
TEST_P(SettingsConversions, ForeignBackendErrorsAreWrappedWithTheCauseNested) {
    backend->fault = [] { throw std::runtime_error("backend down"); };
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { GetParam().convert(view); }), [](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), GetParam().message);
            expect_message<std::runtime_error>(cause_of(e), "backend down");
        });
    // Also errors that are not std::exception at all, and the backend's own out_of_range.
    backend->fault = [] { throw 42; };
    expect_thrown<std::invalid_argument>(thrown_by([&] { GetParam().convert(view); }),
                                         [](const std::invalid_argument& e) {
                                             EXPECT_STREQ(e.what(), GetParam().message);
                                             EXPECT_TRUE(cause_of(e));
                                         });
    backend->fault = nullptr;  // the table has no "value": std::map::at throws out_of_range
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { GetParam().convert(view); }), [](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), GetParam().message);
            expect_thrown<std::out_of_range>(cause_of(e), [](const auto&) {});
        });
}

// The backend's std::invalid_argument is its report of an unreadable value: it goes on as thrown,
// its own nested cause included, without a second layer.
TEST_P(SettingsConversions, BackendInvalidArgumentPassesUnchanged) {
    backend->fault = [] {
        try {
            throw std::domain_error("root cause");
        } catch (...) {
            std::throw_with_nested(std::invalid_argument("access failed"));
        }
    };
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { GetParam().convert(view); }), [](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "access failed");
            expect_message<std::domain_error>(cause_of(e), "root cause");
        });
    // One without a cause goes on as it is, too.
    backend->fault = [] { throw std::invalid_argument("plain"); };
    expect_thrown<std::invalid_argument>(thrown_by([&] { GetParam().convert(view); }),
                                         [](const std::invalid_argument& e) {
                                             EXPECT_STREQ(e.what(), "plain");
                                             EXPECT_FALSE(cause_of(e));
                                         });
}

// A view without a backend is an empty document, never a crash.
TEST_P(SettingsConversions, ViewWithoutBackendFailsToConvert) {
    const Settings empty{nullptr};
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { GetParam().convert(empty); }), [](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), GetParam().message);
            expect_message<std::logic_error>(cause_of(e), "Settings view has no backend");
        });
}

INSTANTIATE_TEST_SUITE_P(AllTypes, SettingsConversions, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsView, ReadsGoToTheBackendWithTheWholePath) {
    auto backend = std::make_shared<TableAccessor>();
    backend->values = {{{"a"}, ""},
                       {{"a", "b.c"}, ""},
                       {{"a", "b.c", "n"}, "42"},
                       {{"a", "b.c", "x"}, "2.5"},
                       {{"a", "b.c", "t"}, "true"},
                       {{"a", "s"}, "text"}};
    const Settings root(backend);
    EXPECT_TRUE(root.path().empty());
    const Settings node = root["a"]["b.c"];
    EXPECT_EQ(node.path(), (Keys{"a", "b.c"}));
    EXPECT_EQ(static_cast<int>(node["n"]), 42);
    EXPECT_EQ(static_cast<double>(node["x"]), 2.5);
    EXPECT_TRUE(static_cast<bool>(node["t"]));
    EXPECT_EQ(static_cast<std::string>(root["a"]["s"]), "text");
    EXPECT_EQ(node.keys(), (Keys{"n", "t", "x"}));
    EXPECT_EQ(backend->asked.back(), (Keys{"a", "b.c"}));

    // Views cache nothing: a changed backend answers the next question.
    backend->values[{"a", "b.c", "n"}] = "7";
    EXPECT_EQ(static_cast<int>(node["n"]), 7);
}

TEST(SettingsView, MissingKeyIsReportedByItsOwnNameOnly) {
    auto backend = std::make_shared<TableAccessor>();
    backend->values = {{{"reco"}, ""}, {{"reco", "lin"}, ""}};
    const Settings reco = Settings(backend)["reco"];
    EXPECT_FALSE(reco.contains("foo"));
    EXPECT_TRUE(reco.contains("lin"));
    expect_message<std::out_of_range>(thrown_by([&] { (void)reco["foo"]; }), "Key foo not found!");
    expect_message<std::out_of_range>(thrown_by([&] { (void)reco["lin"]["class"]; }),
                                      "Key class not found!");
    EXPECT_EQ(backend->asked.back(), (Keys{"reco", "lin", "class"}));
}

TEST(SettingsView, ViewWithoutBackendIsEmpty) {
    const Settings empty{nullptr};
    EXPECT_FALSE(empty.contains("x"));
    EXPECT_TRUE(empty.keys().empty());
    expect_message<std::out_of_range>(thrown_by([&] { (void)empty["x"]; }), "Key x not found!");
}

TEST(SettingsView, BackendLivesAsLongAsTheLastView) {
    auto backend = std::make_shared<TableAccessor>();
    backend->values = {{{"a"}, "5"}};
    const std::weak_ptr<TableAccessor> watch = backend;
    auto child = std::make_unique<Settings>(Settings(std::move(backend))["a"]);
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(static_cast<int>(*child), 5);
    const Settings copy = *child;
    child.reset();
    EXPECT_EQ(static_cast<int>(copy), 5);
}

// The same rules over the YAML backend.
class SettingsFromFile : public ::testing::Test {
protected:
    TempDir dir;
    Settings root = Settings::from_file(dir.write("settings.yaml", R"(a.b: dotted
a:
  b: nested
  word: abc
reco:
  second: {class: LinearReco}
  first: {class: LUTReco}
empty:
)"));
};

TEST_F(SettingsFromFile, DottedKeyIsOneKey) {
    EXPECT_EQ(static_cast<std::string>(root["a.b"]), "dotted");
    EXPECT_EQ(static_cast<std::string>(root["a"]["b"]), "nested");
    EXPECT_FALSE(root["a"].contains("a.b"));
}

TEST_F(SettingsFromFile, RootListsTopLevelKeysInFileOrder) {
    EXPECT_EQ(root.keys(), (Keys{"a.b", "a", "reco", "empty"}));
    EXPECT_EQ(root["reco"].keys(), (Keys{"second", "first"}));
    EXPECT_TRUE(root["a"]["b"].keys().empty());
    EXPECT_TRUE(root["empty"].keys().empty());
}

TEST_F(SettingsFromFile, MissingKeyLeavesTheDocumentAsItWas) {
    const auto reco = root["reco"];
    const Keys before = reco.keys();
    EXPECT_FALSE(reco.contains("third"));
    EXPECT_THROW((void)reco["third"], std::out_of_range);
    EXPECT_THROW((void)root["empty"]["x"], std::out_of_range);
    EXPECT_EQ(reco.keys(), before);
    EXPECT_EQ(static_cast<std::string>(root["empty"]), "null");
}

TEST_F(SettingsFromFile, UnreadableValueIsAccessFailedNotWrapped) {
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { (void)static_cast<int>(root["a"]["word"]); }),
        [](const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "access failed");
            EXPECT_TRUE(cause_of(e));
        });
    expect_message<std::invalid_argument>(
        thrown_by([&] { (void)static_cast<std::string>(root["reco"]); }), "access failed");
}

TEST(SettingsLoad, LoadFailurePassesThroughFromFile) {
    const TempDir dir;
    expect_thrown<std::ios_base::failure>(
        thrown_by([&] { (void)Settings::from_file(dir.root() / "absent.yaml"); }),
        [&](const std::ios_base::failure& e) {
            const std::string message =
                "Failed to load yaml file " + (dir.root() / "absent.yaml").generic_string();
            EXPECT_TRUE(std::string(e.what()).starts_with(message)) << e.what();
            EXPECT_TRUE(cause_of(e));
        });
}

}  // namespace
