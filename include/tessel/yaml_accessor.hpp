#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tessel/loaded_settings.hpp"
#include "tessel/settings.hpp"

namespace tessel {

/// Settings backend over a YAML file loaded once, at construction, with yaml-cpp.
class YAMLAccessor final : public Settings::Accessor {
public:
    /// Loads `file`; any failure becomes std::ios_base::failure
    /// "Failed to load yaml file <generic path>" with the cause nested.
    explicit YAMLAccessor(std::filesystem::path file);
    /// The same over `content`, the file's text as read already (`read_whole_file`).
    YAMLAccessor(std::filesystem::path file, const FileText& content);
    ~YAMLAccessor() override;

    YAMLAccessor(const YAMLAccessor&) = delete;
    YAMLAccessor& operator=(const YAMLAccessor&) = delete;
    YAMLAccessor(YAMLAccessor&&) = delete;
    YAMLAccessor& operator=(YAMLAccessor&&) = delete;

    bool contains(const Settings::KeyPath& path) noexcept override;
    std::vector<std::string> keys(const Settings::KeyPath& path) noexcept override;
    std::string get_string(const Settings::KeyPath& path) override;
    int get_int(const Settings::KeyPath& path) override;
    double get_double(const Settings::KeyPath& path) override;
    bool get_bool(const Settings::KeyPath& path) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel
