#pragma once

// The keys a component reads from a settings file are declared once, beside the code that
// builds the component, and read through one `SettingsReader` that works in two modes: loading
// (the first problem ends the build with the library's own error) and checking (every problem is
// collected with its file, line and key path, and the build goes on with defaults).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/loaded_settings.hpp"
#include "tessel/settings.hpp"
#include "tessel/table_problem.hpp"

namespace tessel {

/// One mistake found in a settings file or in a table file it names.
struct SettingsProblem {
    /// The file the problem is in: the settings file, or a lookup table or channel table.
    std::string file;
    /// Keys from the settings file's root to the setting concerned, joined by dots
    /// (`reco.charge_from_integral.slope`); empty for the document as a whole.  For a problem
    /// inside a table file, the setting that names the table.
    std::string key_path;
    /// 1-based line in `file`; 0 when no line applies (a file that cannot be read).
    int line = 0;
    /// What was expected there, and what was found instead.
    std::string expected;
    std::string found;
    /// A suggestion ("did you mean ...?"), or empty.
    std::string hint;
    /// Whether the library refuses the file for this problem; it loads the file anyway for
    /// the others (unknown keys and sections, a key given twice, ...).
    bool refused_by_library = false;

    /// `file:line: key.path: expected ..., found ...; hint`, on one line.
    [[nodiscard]] std::string message() const;
};

/// The kind of value a key holds.
enum class ValueType {
    boolean,        ///< a YAML 1.1 boolean word
    integer,        ///< a 32-bit integer
    number,         ///< a double, not NaN (infinities allowed unless bounded)
    text,           ///< any scalar
    choice,         ///< one of `choices`
    feature,        ///< a feature name of HitFeatures (`choices` lists them)
    lut_file,       ///< a lookup-table file, relative to the settings file
    channel_table,  ///< a channel table, relative to the settings file
    section,        ///< a mapping whose keys `section` declares (an empty value is an empty one)
};

struct KeySpec;
/// The keys of one mapping, in the order they are documented and checked.
using KeyTable = std::vector<KeySpec>;

/// One key of a mapping: everything the loader, the check and the reference tables know of it.
struct KeySpec {
    std::string_view name;
    ValueType type;
    bool required = false;
    /// Allowed values of a choice or feature.
    std::vector<std::string_view> choices = {};
    /// Bounds of a number or integer, inclusive (the minimum exclusive if so marked).
    std::optional<double> minimum = std::nullopt;
    std::optional<double> maximum = std::nullopt;
    bool exclusive_minimum = false;
    /// Infinities refused too.
    bool finite = false;
    /// The default, as written in a settings file ("" for a required key or none).
    std::string_view default_value = {};
    /// One line saying what the key does.
    std::string_view meaning = {};
    /// The keys of a section.
    const KeyTable* section = nullptr;
    /// A section whose undeclared keys the library refuses (it ignores them elsewhere).
    bool closed = false;
};

/// What a value of `key` must look like, as the check words it ("a number above 0").
std::string expected_value(const KeySpec& key);

class SettingsCheck;

/// Reads the keys of one mapping of a settings file, as `keys` declares them.
///
/// Loading (built on a `Settings` view): each read is the view's own (`Key <k> not found!`, the
/// conversion errors), so builders keep their error order; reading an undeclared key is a
/// programming error (std::logic_error).  Checking (built by `SettingsCheck`): on construction
/// every key of the mapping is checked against `keys` (unknown keys with the closest known one,
/// required keys missing, values of the wrong type or out of range) and reported; a read then
/// gives the value, or the key's default (zero, false, empty) when it is absent or unusable,
/// and never throws.
class SettingsReader {
public:
    /// Loading mode over `node`; `file` is the settings file (for relative file names).  Table
    /// files come from `loaded` when given (read once per load), else from the file system.
    SettingsReader(Settings node, const KeyTable& keys, std::filesystem::path file,
                   const LoadedSettings* loaded = nullptr);
    ~SettingsReader();
    SettingsReader(SettingsReader&&) noexcept;
    SettingsReader& operator=(SettingsReader&&) noexcept;
    SettingsReader(const SettingsReader&) = delete;
    SettingsReader& operator=(const SettingsReader&) = delete;

    /// Whether this reader collects problems instead of throwing.
    [[nodiscard]] bool checking() const noexcept;
    /// The settings file.
    [[nodiscard]] const std::filesystem::path& file() const noexcept;
    /// The dotted key path of the mapping (`extractors.PulseFinder`).
    [[nodiscard]] std::string path() const;
    /// The dotted key path of `key` in the mapping (`extractors.PulseFinder.threshold`).
    [[nodiscard]] std::string path(std::string_view key) const;
    /// Keys of the mapping in file order.
    [[nodiscard]] std::vector<std::string> keys() const;
    /// The declared keys.
    [[nodiscard]] const KeyTable& declared() const noexcept;

    /// Whether `key` is given (checking: given with a usable value).
    [[nodiscard]] bool contains(std::string_view key) const;

    double number(std::string_view key) const;
    int integer(std::string_view key) const;
    bool boolean(std::string_view key) const;
    /// Any scalar as text: text, choice, feature and file keys.
    std::string text(std::string_view key) const;
    /// A file key, resolved against the settings file's directory.
    std::filesystem::path file(std::string_view key) const;
    /// Loading: the content of the table file named by `key` (`file(key)`).
    std::shared_ptr<const FileText> table_file(std::string_view key) const;
    /// Loading, inside the handler of the error of opening the file named by `key`: when the
    /// key names no file (an empty value, or a tilde that reads as "null"), throws that
    /// std::runtime_error again with the key as its nested cause; else rethrows it unchanged.
    [[noreturn]] void explain_unnamed_file(std::string_view key) const;
    /// The reader of the section `key` (declared with its `section` table).
    SettingsReader section(std::string_view key) const;

    /// Checking: reports that `low` is not below `high` when both are usable numbers.
    void below(std::string_view low, std::string_view high, std::string hint) const;
    /// Checking: the text of the table file named by the usable key `key` (`what` it is, for
    /// the report when it cannot be read); nothing when loading or when there is none.
    std::optional<std::string> table_text(std::string_view key, const std::string& what) const;
    /// Checking: reports the problems of the table file named by `key`.
    void report_table(std::string_view key, const std::vector<TableProblem>& problems) const;
    /// Checking: reads the channel table named by `key` and reports its problems, with the
    /// columns `wanted` required besides "channel" and "pmt_type".
    void check_channel_table(std::string_view key, std::vector<std::string> wanted) const;

    struct Impl;

private:
    friend class SettingsCheck;
    explicit SettingsReader(std::unique_ptr<Impl> impl);
    [[nodiscard]] const KeySpec& spec(std::string_view key) const;
    std::unique_ptr<Impl> impl_;
};

/// A reconstructor class the checker knows: what a "reco" instance of it may hold, and how to
/// run its builder in checking mode.
struct CheckedClass {
    std::string name;
    const KeyTable* keys;
    std::function<void(SettingsReader& instance)> check;
};

/// Every problem of the settings `settings`, found by running the builders in checking mode:
/// `extractors` (declared by `extractor_keys`, checked by `check_extractors`) and each
/// instance of `reco` by the builder of its class.
std::vector<SettingsProblem> check_settings_with(
    const LoadedSettings& settings, const KeyTable& extractor_keys,
    const std::function<void(SettingsReader&)>& check_extractors,
    const std::vector<CheckedClass>& classes);

}  // namespace tessel
