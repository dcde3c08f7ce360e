#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessel {

/// Immutable view of one node of a hierarchical settings document: a shared backend plus the
/// path of keys from the root to the node.  Keys are taken as they are (a key "a.b" is one key).
/// Indexing gives the view of a child; the explicit conversions read the node's value.
class Settings {
public:
    using KeyPath = std::vector<std::string>;

    /// Backend interface.  Every operation takes the complete key path from the root.  Lookups
    /// may change the backend's in-memory document, hence nothing here is const.
    class Accessor {
    public:
        Accessor() = default;
        Accessor(const Accessor&) = delete;
        Accessor& operator=(const Accessor&) = delete;
        Accessor(Accessor&&) = delete;
        Accessor& operator=(Accessor&&) = delete;

        /// Whether the node at `path` exists.
        virtual bool contains(const KeyPath& path) noexcept = 0;
        /// Keys of the map at `path` in document order; empty if the node is not a map.
        virtual std::vector<std::string> keys(const KeyPath& path) noexcept = 0;
        /// Value reads; a value that cannot be produced is reported as std::invalid_argument.
        virtual std::string get_string(const KeyPath& path) = 0;
        virtual int get_int(const KeyPath& path) = 0;
        virtual double get_double(const KeyPath& path) = 0;
        virtual bool get_bool(const KeyPath& path) = 0;
        virtual ~Accessor() = default;
    };

    /// Root view of `accessor`.
    explicit Settings(std::shared_ptr<Accessor> accessor);
    /// View at `path` (not checked to exist).
    Settings(std::shared_ptr<Accessor> accessor, KeyPath path);

    /// Root view of a new YAML backend over `file`.
    static Settings from_file(std::filesystem::path file);

    [[nodiscard]] bool contains(const std::string& key) const noexcept;
    [[nodiscard]] std::vector<std::string> keys() const noexcept;
    /// View of the child `key`; `std::out_of_range` "Key {key} not found!" if it is missing.
    [[nodiscard]] Settings operator[](const std::string& key) const;

    /// Value conversions.  The backend's std::invalid_argument passes unchanged; any other error
    /// is nested in std::invalid_argument "Cast to <type> failed! Caused by".
    explicit operator std::string() const;
    explicit operator int() const;
    explicit operator double() const;
    explicit operator bool() const;

    [[nodiscard]] const KeyPath& path() const noexcept { return path_; }

private:
    std::shared_ptr<Accessor> accessor_;
    KeyPath path_;
};

/// A file name from the settings, resolved against the directory of the settings file `file`:
/// absolute names unchanged, relative ones lexically normalised.
std::filesystem::path resolve_settings_path(const std::filesystem::path& file,
                                            const std::string& name);

}  // namespace tessel
