#pragma once

// Files the library reads whole (settings, channel tables, lookup tables) must be regular
// files: a FIFO would block the open until a writer comes, a device such as /dev/zero never
// ends, and a directory opens but fails deep inside the first read.  Each is refused from its
// status, before anything opens it.

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace tessel::detail {

/// What kind of file `file` is when it exists and is not a regular file ("a FIFO", ...);
/// nothing for a regular file, or for a name whose status cannot be read (the open that
/// follows reports that).
inline std::optional<std::string> irregular_kind(const std::filesystem::path& file) {
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

/// "<file> is <kind>, not a regular file".
inline std::string not_regular(const std::filesystem::path& file, const std::string& kind) {
    return file.string() + " is " + kind + ", not a regular file";
}

}  // namespace tessel::detail
