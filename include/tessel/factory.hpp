#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "tessel/loaded_settings.hpp"
#include "tessel/settings.hpp"

namespace tessel {

class Reconstructor;

/// Builds objects derived from `T` from the named instances of the "reco" section of a settings
/// file: each instance names its "class", whose builder reads the instance's own settings.
template <class T>
class Factory {
public:
    using Builder = std::function<std::unique_ptr<T>(Settings)>;

    Factory() = default;

    /// Loads `file` and keeps the view of its "reco" section.
    explicit Factory(std::filesystem::path file)
        : file_(std::move(file)), instances_(Settings::from_file(file_)["reco"]) {
        build_class_resolve_table();
    }
    /// The same over settings loaded already: the builders read their tables from `settings`.
    explicit Factory(const LoadedSettings& settings)
        : file_(settings.file()), instances_(settings.root()["reco"]), loaded_(settings) {
        build_class_resolve_table();
    }

    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    // Builders may refer to the factory that holds them, so a move rebuilds the table for the
    // new owner instead of carrying over builders bound to the moved-from object.
    Factory(Factory&& other)
        : file_(std::exchange(other.file_, {})),
          instances_(std::move(other.instances_)),
          loaded_(std::exchange(other.loaded_, std::nullopt)) {
        build_class_resolve_table();
    }
    Factory& operator=(Factory&& other) {
        if (this != &other) {
            file_ = std::exchange(other.file_, {});
            instances_ = std::move(other.instances_);
            loaded_ = std::exchange(other.loaded_, std::nullopt);
            class_table_.clear();
            build_class_resolve_table();
        }
        return *this;
    }
    ~Factory() = default;

    /// Enters the builders of every class this factory can instantiate (defined per `T`).
    void build_class_resolve_table();

    /// New object for the instance `name` under "reco".
    std::unique_ptr<T> create_by_name(std::string name) const {
        if (file_.empty()) {
            throw std::out_of_range(
                "Default constructed or moved from object, no settings available!");
        }
        if (!instances_.contains(name)) {
            throw std::out_of_range("Instance " + name + " is not defined in " + file_.native() +
                                    "!");
        }
        const auto class_name = static_cast<std::string>(instances_[name]["class"]);
        const auto builder = class_table_.find(class_name);
        if (builder == class_table_.end()) {
            throw std::out_of_range("Class " + class_name +
                                    " cannot be instantiated by this factory!");
        }
        return builder->second(instances_[name]);
    }

    /// A file name from the settings, resolved against the settings file's directory
    /// (absolute names are returned unchanged, relative ones lexically normalised).
    std::filesystem::path path(const std::string& name) const {
        return resolve_settings_path(file_, name);
    }

private:
    std::filesystem::path file_;
    Settings instances_{nullptr};
    std::optional<LoadedSettings> loaded_;
    std::map<std::string, Builder> class_table_;
};

template <>
void Factory<Reconstructor>::build_class_resolve_table();

}  // namespace tessel
