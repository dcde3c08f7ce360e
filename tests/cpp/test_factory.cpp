#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ios>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "support.hpp"
#include "tessel/factory.hpp"

namespace factory_test {

/// Base of the objects the test factory builds.
struct Widget {
    virtual ~Widget() = default;
};

/// Built from a key of its instance.
struct Sized final : Widget {
    explicit Sized(int size) : size(size) {}
    int size;
};

/// Built from a file name resolved by the factory.
struct FileBacked final : Widget {
    explicit FileBacked(std::filesystem::path file) : file(std::move(file)) {}
    std::filesystem::path file;
};

}  // namespace factory_test

namespace tessel {

// "LinearReco" reads its instance's own key; "FileBacked" needs the owning factory's `path`.
template <>
void Factory<factory_test::Widget>::build_class_resolve_table() {
    class_table_["LinearReco"] = [](Settings instance) {
        return std::make_unique<factory_test::Sized>(static_cast<int>(instance["size"]));
    };
    class_table_["FileBacked"] = [this](Settings instance) {
        return std::make_unique<factory_test::FileBacked>(
            path(static_cast<std::string>(instance["file"])));
    };
}

}  // namespace tessel

namespace {

using factory_test::FileBacked;
using factory_test::Sized;
using factory_test::Widget;
using tessel::testing::expect_message;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;
using WidgetFactory = tessel::Factory<Widget>;

constexpr const char* kSettings = R"(extractors: {}
reco:
  small: {class: LinearReco, size: 3}
  large: {class: LinearReco, size: 40}
  table: {class: FileBacked, file: lut/a.txt}
  up: {class: FileBacked, file: ../lut/a.txt}
  absolute: {class: FileBacked, file: /x/../y.txt}
  lower: {class: linearreco, size: 1}
  classless: {size: 1}
  nested_class: {class: {name: LinearReco}}
  bad_size: {class: LinearReco, size: big}
  no_size: {class: LinearReco}
)";

int size_of(const std::unique_ptr<Widget>& widget) {
    const auto* sized = dynamic_cast<const Sized*>(widget.get());
    return sized == nullptr ? -1 : sized->size;
}

std::string file_of(const std::unique_ptr<Widget>& widget) {
    const auto* backed = dynamic_cast<const FileBacked*>(widget.get());
    return backed == nullptr ? std::string("<not FileBacked>") : backed->file.native();
}

/// Runs in a fresh directory holding conf/settings.yaml, so relative settings paths are short.
class FactoryTest : public ::testing::Test {
protected:
    FactoryTest() : previous_(std::filesystem::current_path()) {
        dir_.write("conf/settings.yaml", kSettings);
        std::filesystem::current_path(dir_.root());
    }
    ~FactoryTest() override { std::filesystem::current_path(previous_); }

    [[nodiscard]] std::filesystem::path absolute_settings() const {
        return dir_.root() / "conf/settings.yaml";
    }
    [[nodiscard]] std::string in_dir(const std::string& name) const {
        return (dir_.root() / name).native();
    }

    TempDir dir_;

private:
    std::filesystem::path previous_;
};

TEST_F(FactoryTest, BuildsEachInstanceFromItsOwnSettings) {
    const WidgetFactory factory(absolute_settings());
    EXPECT_EQ(size_of(factory.create_by_name("small")), 3);
    EXPECT_EQ(size_of(factory.create_by_name("large")), 40);
    const auto a = factory.create_by_name("small");
    const auto b = factory.create_by_name("small");
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(file_of(factory.create_by_name("table")), in_dir("conf/lut/a.txt"));
}

TEST_F(FactoryTest, RequestErrorsNameWhatWasAskedFor) {
    const WidgetFactory factory(std::filesystem::path("conf/settings.yaml"));
    expect_message<std::out_of_range>(thrown_by([&] { factory.create_by_name("nope"); }),
                                      "Instance nope is not defined in conf/settings.yaml!");
    // Only names directly under "reco" are instances.
    expect_message<std::out_of_range>(thrown_by([&] { factory.create_by_name("extractors"); }),
                                      "Instance extractors is not defined in conf/settings.yaml!");
    expect_message<std::out_of_range>(thrown_by([&] { factory.create_by_name("classless"); }),
                                      "Key class not found!");
    expect_message<std::invalid_argument>(
        thrown_by([&] { factory.create_by_name("nested_class"); }), "access failed");
    expect_message<std::out_of_range>(thrown_by([&] { factory.create_by_name("lower"); }),
                                      "Class linearreco cannot be instantiated by this factory!");

    // The settings path appears as given, not normalised.
    const WidgetFactory dotted(std::filesystem::path("./conf/../conf/settings.yaml"));
    expect_message<std::out_of_range>(
        thrown_by([&] { dotted.create_by_name("nope"); }),
        "Instance nope is not defined in ./conf/../conf/settings.yaml!");
}

TEST_F(FactoryTest, BuilderErrorsPassThroughUnchanged) {
    const WidgetFactory factory(absolute_settings());
    expect_message<std::out_of_range>(thrown_by([&] { factory.create_by_name("no_size"); }),
                                      "Key size not found!");
    expect_message<std::invalid_argument>(thrown_by([&] { factory.create_by_name("bad_size"); }),
                                          "access failed");
}

TEST_F(FactoryTest, ConstructionFailsForMissingFileOrSection) {
    expect_thrown<std::ios_base::failure>(
        thrown_by([&] { WidgetFactory factory(std::filesystem::path("conf/absent.yaml")); }),
        [](const std::ios_base::failure& e) {
            EXPECT_TRUE(
                std::string(e.what()).starts_with("Failed to load yaml file conf/absent.yaml"))
                << e.what();
        });
    dir_.write("conf/no_reco.yaml", "extractors: {}\n");
    expect_message<std::out_of_range>(
        thrown_by([&] { WidgetFactory factory(std::filesystem::path("conf/no_reco.yaml")); }),
        "Key reco not found!");
}

TEST_F(FactoryTest, PathResolvesAgainstTheSettingsDirectory) {
    struct Case {
        std::filesystem::path settings;
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        // Absolute names come back exactly as written.
        {absolute_settings(), "/x/../y.txt", "/x/../y.txt"},
        {"conf/settings.yaml", "/data//lut/./a.txt", "/data//lut/./a.txt"},
        // Relative names join the settings directory and are normalised lexically.
        {absolute_settings(), "lut/a.txt", in_dir("conf/lut/a.txt")},
        {absolute_settings(), "../lut/a.txt", in_dir("lut/a.txt")},
        {absolute_settings(), "x/../y.txt", in_dir("conf/y.txt")},
        {absolute_settings(), "./lut//a.txt", in_dir("conf/lut/a.txt")},
        // A relative settings path gives relative results; nothing is looked up on disk.
        {"conf/settings.yaml", "lut/a.txt", "conf/lut/a.txt"},
        {"conf/settings.yaml", "../lut/a.txt", "lut/a.txt"},
        {"conf/settings.yaml", "../../a.txt", "../a.txt"},
        {"./conf/settings.yaml", "lut/a.txt", "conf/lut/a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings.native() + " + " + c.name);
        const WidgetFactory factory(c.settings);
        EXPECT_EQ(factory.path(c.name).native(), c.expected);
    }
    // Through a builder: the instances "up" and "absolute".
    const WidgetFactory factory(absolute_settings());
    EXPECT_EQ(file_of(factory.create_by_name("up")), in_dir("lut/a.txt"));
    EXPECT_EQ(file_of(factory.create_by_name("absolute")), "/x/../y.txt");
}

TEST_F(FactoryTest, SettingsFileWithoutDirectoryOnlyNormalises) {
    std::filesystem::current_path(dir_.root() / "conf");
    const WidgetFactory factory(std::filesystem::path("settings.yaml"));
    EXPECT_EQ(factory.path("lut/a.txt").native(), "lut/a.txt");
    EXPECT_EQ(factory.path("x/../y.txt").native(), "y.txt");
    EXPECT_EQ(factory.path("../a.txt").native(), "../a.txt");
    EXPECT_EQ(file_of(factory.create_by_name("table")), "lut/a.txt");
}

// A factory without settings refuses every name, known ones included, before any lookup.
TEST_F(FactoryTest, EmptyFactoriesRefuseEveryName) {
    const std::string refused = "Default constructed or moved from object, no settings available!";
    const WidgetFactory fresh;
    auto source = std::make_optional<WidgetFactory>(absolute_settings());
    const WidgetFactory target(std::move(*source));
    for (const WidgetFactory* empty : {&fresh, static_cast<const WidgetFactory*>(&*source)}) {
        for (const char* name : {"small", "table", "nope", ""}) {
            SCOPED_TRACE(name);
            expect_message<std::out_of_range>(thrown_by([&] { empty->create_by_name(name); }),
                                              refused);
        }
    }
    EXPECT_EQ(size_of(target.create_by_name("small")), 3);
}

// The builders that use `path` must belong to the factory that now holds the settings: the
// moved-from one has no settings directory left (and may already be gone).
TEST_F(FactoryTest, MovedBuildersWorkForTheNewOwner) {
    auto source = std::make_optional<WidgetFactory>(absolute_settings());
    WidgetFactory moved(std::move(*source));
    EXPECT_EQ(file_of(moved.create_by_name("table")), in_dir("conf/lut/a.txt"));
    source.reset();
    EXPECT_EQ(file_of(moved.create_by_name("table")), in_dir("conf/lut/a.txt"));

    dir_.write("other/settings.yaml", "reco: {}\n");
    WidgetFactory assigned(dir_.root() / "other/settings.yaml");
    {
        WidgetFactory temporary(std::move(moved));
        assigned = std::move(temporary);
        expect_message<std::out_of_range>(
            thrown_by([&] { temporary.create_by_name("table"); }),
            "Default constructed or moved from object, no settings available!");
    }
    EXPECT_EQ(file_of(assigned.create_by_name("table")), in_dir("conf/lut/a.txt"));
    EXPECT_EQ(size_of(assigned.create_by_name("large")), 40);
    EXPECT_THROW(moved.create_by_name("table"), std::out_of_range);

    // Assigning a moved-from factory empties the target.
    assigned = std::move(moved);
    EXPECT_THROW(assigned.create_by_name("small"), std::out_of_range);
}

}  // namespace
