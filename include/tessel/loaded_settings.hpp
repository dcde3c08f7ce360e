#pragma once

// A settings file and the table files it names, each read once, for a program that builds
// several things from one settings file (the check, the extraction, the hit maker, a summary of
// it, the record of which files a run used): everything built from one `LoadedSettings` sees the
// same bytes, and no file is opened twice.
//
// The constructors from a settings path (`FeatureExtractor(path)`, `HitMaker(path)`,
// `ChargeReconstruction(path)`, `Factory(path)`) keep loading the file themselves.  Both entries
// run the same builders over the same `SettingsReader`; they differ only in where the reader gets
// the settings document and the table files from.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tessel/settings.hpp"

namespace tessel {

/// The whole content of a file the library reads, or why it could not be read.
struct FileText {
    enum class Failure : std::uint8_t {
        none,       ///< read; `text` holds the content
        nul_name,   ///< the name holds a NUL character (the system would open another file)
        irregular,  ///< not a regular file: `reason` says what it is ("a FIFO", "a directory")
        open,       ///< it cannot be opened: `reason` is the system's
        read,       ///< it opened but could not be read to its end
    };
    std::optional<std::string> text;
    Failure failure = Failure::none;
    std::string reason;

    /// Why the file could not be read, in words ("a FIFO, not a regular file"); empty if it was.
    [[nodiscard]] std::string describe() const;
    /// Throws why the table file `file` (a `what`: "LUT file") could not be read: the
    /// std::runtime_error "Could not open <what>: <file>" ("Could not read ..." for a read error
    /// when `say_read`), with the cause nested where there is one to tell (a NUL character in
    /// the name, shown as \0; a file that is not a regular one).
    [[noreturn]] void throw_unread(const std::filesystem::path& file, const std::string& what,
                                   bool say_read) const;
};

/// Reads `file` whole.  Files that are not regular ones are refused from their status before
/// anything opens them: a FIFO would block the open, a device may never end.
FileText read_whole_file(const std::filesystem::path& file);

/// A settings file read once, with each table file it names read on first use and kept.
/// Copies share the files read.  Safe to use from several threads.
class LoadedSettings {
public:
    /// Reads `file` now.  A file that cannot be read or parsed is not an error here: the check
    /// reports it, and building anything from it throws what the constructors from the path
    /// throw ("Failed to load yaml file ...").
    explicit LoadedSettings(std::filesystem::path file);
    /// Settings whose content is `text` (a copy kept with a run's results), taken as the content
    /// of `file`: table names resolve against `file`'s folder, and the file itself is not read.
    LoadedSettings(std::filesystem::path file, std::string text);

    [[nodiscard]] const std::filesystem::path& file() const noexcept;
    /// The settings file's content as read.
    [[nodiscard]] const FileText& text() const noexcept;
    /// The root view of the document, parsed once; throws std::ios_base::failure "Failed to load
    /// yaml file <file>" with the cause nested when it could not be read or parsed.
    [[nodiscard]] Settings root() const;

    /// The table file `resolved` (a name already resolved against the settings file's folder),
    /// read the first time it is asked for.
    [[nodiscard]] std::shared_ptr<const FileText> table(
        const std::filesystem::path& resolved) const;
    /// The table files read so far, in the order first read.
    [[nodiscard]] std::vector<std::pair<std::filesystem::path, std::shared_ptr<const FileText>>>
    tables() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace tessel
