#include "tessel/yaml_accessor.hpp"

#include <yaml-cpp/yaml.h>

#include <exception>
#include <filesystem>
#include <ios>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "yaml_number.hpp"

namespace tessel {

struct YAMLAccessor::Impl {
    std::string file;
    YAML::Node root;

    /// Handle of the node at `path`; the root for an empty path.
    ///
    /// The walk uses the const subscript.  The non-const one inserts an undefined entry under a
    /// missing key and, worse, turns a null or sequence node it is applied to into a map, so a
    /// mere existence check of "a/b" would make a null "a" unreadable and a sequence "a" list
    /// its indices as keys.  The const subscript leaves the document as loaded.  Each step's
    /// handle is kept in the list: assigning one node handle to another would write through
    /// into the document.
    ///
    /// A missing key gives an invalid handle, which IsDefined() denies and as<T>() rejects with
    /// yaml-cpp's invalid-node error.  A path that continues below a missing node or below a
    /// scalar throws here (invalid node, bad subscript); callers decide what that means.
    [[nodiscard]] YAML::Node get(const Settings::KeyPath& path) const {
        std::vector<YAML::Node> handles;
        handles.reserve(path.size() + 1);
        handles.push_back(root);
        for (const auto& key : path) {
            const YAML::Node& parent = handles.back();
            YAML::Node child = parent[key];
            handles.push_back(std::move(child));
        }
        return handles.back();
    }

    template <class T>
    T read(const Settings::KeyPath& path) const {
        try {
            if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
                return yaml::number<T>(get(path));
            } else {
                return get(path).as<T>();
            }
        } catch (const YAML::BadConversion& error) {
            // A mapping or a list where a value is read: yaml-cpp's error stays the cause, and
            // names the key and the line in its own cause.
            if (const auto where = not_a_value(path)) {
                try {
                    try {
                        throw std::invalid_argument(*where);
                    } catch (...) {
                        std::throw_with_nested(YAML::BadConversion(error.mark));
                    }
                } catch (...) {
                    std::throw_with_nested(std::invalid_argument("access failed"));
                }
            }
            std::throw_with_nested(std::invalid_argument("access failed"));
        } catch (...) {
            std::throw_with_nested(std::invalid_argument("access failed"));
        }
    }

    /// "file:line: key.path: expected a single value, found a list" for a mapping or a list at
    /// `path`; nothing for anything else.
    [[nodiscard]] std::optional<std::string> not_a_value(const Settings::KeyPath& path) const {
        try {
            const YAML::Node node = get(path);
            if (!node.IsDefined() || !(node.IsMap() || node.IsSequence())) {
                return std::nullopt;
            }
            std::string key;
            for (const auto& part : path) {
                key += (key.empty() ? "" : ".") + part;
            }
            return file + ":" + std::to_string(node.Mark().line + 1) + ": " + key +
                   ": expected a single value, found " + (node.IsMap() ? "a mapping" : "a list");
        } catch (...) {
            return std::nullopt;
        }
    }
};

namespace {

/// Throws why `content` holds no text, as yaml-cpp's own load would have failed, or refused it
/// before yaml-cpp saw it: a name holding a NUL character (the system would read only the part
/// before it, a different file), a directory (which opens but fails on the first read, deep
/// inside the parser, where yaml-cpp loses memory on the way out), a FIFO (which would block the
/// load until a writer comes) or a device (which may never end).
void refuse_unread(const std::filesystem::path& file, const FileText& content) {
    switch (content.failure) {
        case FileText::Failure::none:
            return;
        case FileText::Failure::nul_name:
            throw std::invalid_argument("The file name contains a NUL character");
        case FileText::Failure::irregular:
            if (content.reason == "a directory") {
                throw std::filesystem::filesystem_error(
                    "Cannot load a directory", file,
                    std::make_error_code(std::errc::is_a_directory));
            }
            throw std::invalid_argument(file.string() + " is " + content.describe());
        case FileText::Failure::open:
        case FileText::Failure::read:
            throw YAML::BadFile(file.native());
    }
}

}  // namespace

YAMLAccessor::YAMLAccessor(std::filesystem::path file)
    : YAMLAccessor(file, read_whole_file(file)) {}

YAMLAccessor::YAMLAccessor(std::filesystem::path file, const FileText& content) {
    try {
        refuse_unread(file, content);
        impl_ = std::make_unique<Impl>(Impl{file.native(), YAML::Load(*content.text)});
    } catch (...) {
        std::throw_with_nested(
            std::ios_base::failure("Failed to load yaml file " + file.generic_string()));
    }
}

YAMLAccessor::~YAMLAccessor() = default;

// A path that cannot be walked (it continues below a scalar) denotes no node: not contained.
bool YAMLAccessor::contains(const Settings::KeyPath& path) noexcept {
    try {
        return impl_->get(path).IsDefined();
    } catch (...) {
        return false;
    }
}

// Keys that are themselves maps or sequences have no string form and cannot be addressed by a
// key path, so they are left out of the list; a null key is listed as "null".  A path that
// cannot be walked lists nothing.
std::vector<std::string> YAMLAccessor::keys(const Settings::KeyPath& path) noexcept {
    try {
        const YAML::Node node = impl_->get(path);
        std::vector<std::string> names;
        if (!node.IsMap()) {
            return names;
        }
        for (const auto& entry : node) {
            if (entry.first.IsScalar() || entry.first.IsNull()) {
                names.push_back(entry.first.as<std::string>());
            }
        }
        return names;
    } catch (...) {
        return {};
    }
}

std::string YAMLAccessor::get_string(const Settings::KeyPath& path) {
    return impl_->read<std::string>(path);
}

int YAMLAccessor::get_int(const Settings::KeyPath& path) { return impl_->read<int>(path); }

double YAMLAccessor::get_double(const Settings::KeyPath& path) { return impl_->read<double>(path); }

bool YAMLAccessor::get_bool(const Settings::KeyPath& path) { return impl_->read<bool>(path); }

}  // namespace tessel
