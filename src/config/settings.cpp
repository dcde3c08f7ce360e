#include "tessel/settings.hpp"

#include <exception>
#include <stdexcept>
#include <utility>

#include "tessel/yaml_accessor.hpp"

namespace tessel {

namespace {

// Calls one read of the backend.  The backend reports a value it cannot produce as
// std::invalid_argument, which goes on exactly as thrown (its nested cause included); any other
// error is nested in an std::invalid_argument carrying `message`.
template <class Read>
auto convert(Read&& read, const char* message) -> decltype(read()) {
    try {
        return read();
    } catch (const std::invalid_argument&) {
        throw;
    } catch (...) {
        std::throw_with_nested(std::invalid_argument(message));
    }
}

// A view without a backend (the placeholder a default-constructed owner holds) stands for an
// empty document: it contains nothing, lists no keys, and every conversion fails with
// std::logic_error "Settings view has no backend" nested in the conversion's own error.
Settings::Accessor& backend(const std::shared_ptr<Settings::Accessor>& accessor) {
    if (!accessor) {
        throw std::logic_error("Settings view has no backend");
    }
    return *accessor;
}

}  // namespace

Settings::Settings(std::shared_ptr<Accessor> accessor) : Settings(std::move(accessor), {}) {}

Settings::Settings(std::shared_ptr<Accessor> accessor, KeyPath path)
    : accessor_(std::move(accessor)), path_(std::move(path)) {}

std::filesystem::path resolve_settings_path(const std::filesystem::path& file,
                                            const std::string& name) {
    const std::filesystem::path path(name);
    if (path.has_root_directory()) {
        return path;
    }
    return (file.parent_path() / path).lexically_normal();
}

Settings Settings::from_file(std::filesystem::path file) {
    return Settings(std::make_shared<YAMLAccessor>(std::move(file)));
}

bool Settings::contains(const std::string& key) const noexcept {
    if (!accessor_) {
        return false;
    }
    KeyPath child = path_;
    child.push_back(key);
    return accessor_->contains(child);
}

std::vector<std::string> Settings::keys() const noexcept {
    if (!accessor_) {
        return {};
    }
    return accessor_->keys(path_);
}

Settings Settings::operator[](const std::string& key) const {
    KeyPath child = path_;
    child.push_back(key);
    if (!accessor_ || !accessor_->contains(child)) {
        throw std::out_of_range("Key " + key + " not found!");
    }
    return Settings(accessor_, std::move(child));
}

Settings::operator std::string() const {
    return convert([this] { return backend(accessor_).get_string(path_); },
                   "Cast to string failed! Caused by");
}

Settings::operator int() const {
    return convert([this] { return backend(accessor_).get_int(path_); },
                   "Cast to int failed! Caused by");
}

Settings::operator double() const {
    return convert([this] { return backend(accessor_).get_double(path_); },
                   "Cast to double failed! Caused by");
}

Settings::operator bool() const {
    return convert([this] { return backend(accessor_).get_bool(path_); },
                   "Cast to bool failed! Caused by");
}

}  // namespace tessel
