#include "tessel/loaded_settings.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "tessel/yaml_accessor.hpp"

namespace tessel {

namespace {

/// What kind of file `file` is when it exists and is not a regular file ("a FIFO", ...);
/// nothing for a regular file, or for a name whose status cannot be read (the open that
/// follows reports that).  Files read whole must be regular: a FIFO would block the open until
/// a writer comes, a device such as /dev/zero never ends, and a directory opens but fails deep
/// inside the first read.  Each is refused from its status, before anything opens it.
std::optional<std::string> irregular_kind(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error) {
        return std::nullopt;
    }
    switch (status.type()) {
        case fs::file_type::regular:
        case fs::file_type::not_found:
        case fs::file_type::none:
            return std::nullopt;
        case fs::file_type::directory:
            return "a directory";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        default:
            return "not a plain file";
    }
}

}  // namespace

std::string FileText::describe() const {
    switch (failure) {
        case Failure::none:
            return {};
        case Failure::nul_name:
            return "the file name contains a NUL character";
        case Failure::irregular:
            return reason + ", not a regular file";
        case Failure::open:
        case Failure::read:
            return reason;
    }
    return reason;
}

void FileText::throw_unread(const std::filesystem::path& file, const std::string& what,
                            bool say_read) const {
    std::string name;
    for (const char c : file.native()) {
        name += c == '\0' ? std::string("\\0") : std::string(1, c);
    }
    const std::string opened = "Could not open " + what + ": " + name;
    try {
        switch (failure) {
            case Failure::nul_name:
                throw std::invalid_argument("The file name contains a NUL character");
            case Failure::irregular:
                throw std::invalid_argument(file.string() + " is " + describe());
            case Failure::read:
                if (say_read) {
                    throw std::runtime_error("Could not read " + what + ": " + name);
                }
                [[fallthrough]];
            default:
                throw std::runtime_error(opened);
        }
    } catch (const std::invalid_argument&) {
        std::throw_with_nested(std::runtime_error(opened));
    }
}

FileText read_whole_file(const std::filesystem::path& file) {
    if (file.native().find('\0') != std::string::npos) {
        return {std::nullopt, FileText::Failure::nul_name, {}};
    }
    if (const auto kind = irregular_kind(file)) {
        return {std::nullopt, FileText::Failure::irregular, *kind};
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int error = errno;
        return {std::nullopt, FileText::Failure::open,
                error != 0 ? std::string(std::strerror(error)) : "cannot open it"};
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return {std::nullopt, FileText::Failure::read, "read error"};
    }
    return {std::move(buffer).str(), FileText::Failure::none, {}};
}

struct LoadedSettings::Impl {
    std::filesystem::path file;
    FileText text;
    std::once_flag parsed;
    std::shared_ptr<Settings::Accessor> document;
    std::exception_ptr error;
    mutable std::mutex mutex;
    std::vector<std::pair<std::filesystem::path, std::shared_ptr<const FileText>>> tables;
};

LoadedSettings::LoadedSettings(std::filesystem::path file) : impl_(std::make_shared<Impl>()) {
    impl_->text = read_whole_file(file);
    impl_->file = std::move(file);
}

LoadedSettings::LoadedSettings(std::filesystem::path file, std::string text)
    : impl_(std::make_shared<Impl>()) {
    impl_->text = {std::move(text), FileText::Failure::none, {}};
    impl_->file = std::move(file);
}

const std::filesystem::path& LoadedSettings::file() const noexcept { return impl_->file; }

const FileText& LoadedSettings::text() const noexcept { return impl_->text; }

Settings LoadedSettings::root() const {
    std::call_once(impl_->parsed, [this] {
        try {
            impl_->document = std::make_shared<YAMLAccessor>(impl_->file, impl_->text);
        } catch (...) {
            impl_->error = std::current_exception();
        }
    });
    if (impl_->error) {
        std::rethrow_exception(impl_->error);
    }
    return Settings(impl_->document);
}

std::shared_ptr<const FileText> LoadedSettings::table(const std::filesystem::path& resolved) const {
    const std::lock_guard lock(impl_->mutex);
    for (const auto& [name, content] : impl_->tables) {
        if (name == resolved) {
            return content;
        }
    }
    auto content = std::make_shared<const FileText>(read_whole_file(resolved));
    impl_->tables.emplace_back(resolved, content);
    return content;
}

std::vector<std::pair<std::filesystem::path, std::shared_ptr<const FileText>>>
LoadedSettings::tables() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->tables;
}

}  // namespace tessel
