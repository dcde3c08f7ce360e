#include "tessel/settings_reader.hpp"

#include "tessel/channel_table.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/text.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <locale>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "yaml_number.hpp"

namespace tessel {

std::string SettingsProblem::message() const {
    std::string text = file;
    if (line > 0) {
        text += ":" + std::to_string(line);
    }
    text += ": ";
    if (!key_path.empty()) {
        text += key_path + ": ";
    }
    text += "expected " + expected + ", found " + found;
    if (!hint.empty()) {
        text += "; " + hint;
    }
    return text;
}

namespace fs = std::filesystem;

// Helpers of the check, named so that the reader's state may hold their types.
namespace check_detail {

using namespace tessel::text;

std::string describe(const YAML::Node& node) {
    if (!node.IsDefined()) {
        return "nothing";
    }
    switch (node.Type()) {
        case YAML::NodeType::Null:
            return "an empty value";
        case YAML::NodeType::Scalar:
            return in_quotes(node.Scalar());
        case YAML::NodeType::Sequence:
            return "a list";
        case YAML::NodeType::Map:
            return node.size() == 0 ? "an empty mapping" : "a mapping";
        default:
            return "nothing";
    }
}

std::string join(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

/// 1-based line of a node; 0 for a node without a position.
int line_of(const YAML::Node& node) { return node.Mark().line + 1; }

/// One entry of a YAML mapping; `name` is the key's text ("" for a key that is not a scalar).
struct Entry {
    YAML::Node key;
    YAML::Node value;
    std::string name;
};

std::vector<Entry> entries(const YAML::Node& map) {
    std::vector<Entry> out;
    if (!map.IsMap()) {
        return out;
    }
    for (auto it = map.begin(); it != map.end(); ++it) {
        std::string name;
        if (it->first.IsScalar()) {
            name = it->first.Scalar();
        } else if (it->first.IsNull()) {
            name = "null";
        }
        out.push_back({it->first, it->second, std::move(name)});
    }
    return out;
}

/// The first entry named `name` (the one the library reads), if any.
std::optional<Entry> find(const std::vector<Entry>& all, std::string_view name) {
    for (const auto& entry : all) {
        if (entry.name == name) {
            return entry;
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> names_of(const KeyTable& keys) {
    std::vector<std::string_view> names;
    names.reserve(keys.size());
    for (const auto& key : keys) {
        names.push_back(key.name);
    }
    return names;
}

std::string format_bound(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

/// Text of a scalar, or "" for anything else.
std::string scalar_or_empty(const YAML::Node& node) {
    return node.IsDefined() && node.IsScalar() ? node.Scalar() : std::string();
}

}  // namespace check_detail

using namespace check_detail;

struct SettingsReader::Impl {
    const KeyTable* keys = nullptr;
    fs::path file;
    /// Loading: where table files come from, when not from the file system.
    const LoadedSettings* loaded = nullptr;
    /// Loading: the view read from.
    Settings node{nullptr};
    /// Checking: the check reported to, the mapping's path and its usable entries.
    SettingsCheck* check = nullptr;
    std::string path;
    std::map<std::string, Entry, std::less<>> valid;

    [[nodiscard]] const Entry* entry(std::string_view key) const {
        const auto it = valid.find(key);
        return it == valid.end() ? nullptr : &it->second;
    }
};

/// The checking side: one settings file's problems, collected in file order.
class SettingsCheck {
public:
    SettingsCheck(const LoadedSettings& settings, const KeyTable& extractor_keys,
                  const std::vector<CheckedClass>& classes)
        : settings_(settings),
          file_(settings.file()),
          name_(file_.generic_string()),
          extractor_keys_(extractor_keys),
          classes_(classes) {}

    std::vector<SettingsProblem> run(const std::function<void(SettingsReader&)>& extractors) {
        const FileText& content = settings_.text();
        if (!content.text) {
            add(true, name_, "", 0, "a readable settings file",
                "it cannot be read: " + content.describe());
            return finish();
        }
        YAML::Node root;
        try {
            root = YAML::Load(*content.text);
        } catch (const YAML::Exception& e) {
            add(true, name_, "", e.mark.line + 1, "a YAML document", "a syntax error: " + e.msg);
            return finish();
        }
        duplicates(root, "");
        top_level(root, extractors);
        return finish();
    }

    /// A reader over the mapping `node` at `path`, its keys checked against `keys`.
    SettingsReader reader(const YAML::Node& node, const KeyTable& keys, const std::string& path,
                          int line, const std::string& what,
                          const std::vector<std::string_view>& also, bool closed = false) {
        auto impl = std::make_unique<SettingsReader::Impl>();
        impl->keys = &keys;
        impl->file = file_;
        impl->check = this;
        impl->path = path;
        impl->valid = check_keys(keys, node, path, line, what, also, closed);
        return SettingsReader(std::move(impl));
    }

    void add(bool refused, std::string file, std::string key_path, int line, std::string expected,
             std::string found, std::string hint = {}) {
        const bool here = file == name_;
        problems_.emplace_back(
            here ? line : origin_,
            SettingsProblem{std::move(file), std::move(key_path), line, std::move(expected),
                            std::move(found), std::move(hint), refused});
    }

    void add_here(bool refused, std::string key_path, int line, std::string expected,
                  std::string found, std::string hint = {}) {
        add(refused, name_, std::move(key_path), line, std::move(expected), std::move(found),
            std::move(hint));
    }

    /// Reads a table file named by `entry`; reports it when it cannot be read.
    std::optional<std::string> table_text(const Entry& entry, const std::string& path,
                                          const fs::path& file, const std::string& what) {
        origin_ = std::max(origin_, line_of(entry.value));
        // Each table file is read once, however many settings name it.
        const auto content = settings_.table(file);
        if (!content->text) {
            add_here(true, path, line_of(entry.value), "a readable " + what,
                     file.generic_string() + ": " + content->describe());
        }
        return content->text;
    }

private:
    const LoadedSettings& settings_;
    fs::path file_;
    std::string name_;
    const KeyTable& extractor_keys_;
    const std::vector<CheckedClass>& classes_;
    std::vector<std::pair<int, SettingsProblem>> problems_;
    /// Settings-file line of the setting being checked, the sort key of its problems.
    int origin_ = 0;
    /// Mappings and lists already searched for duplicate keys.
    std::vector<YAML::Node> walked_;

    /// The problems in file order.  A table named by several settings is reported once: a
    /// problem of a table file repeated for a later setting is left out.
    std::vector<SettingsProblem> finish() {
        std::stable_sort(problems_.begin(), problems_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<SettingsProblem> out;
        out.reserve(problems_.size());
        std::set<std::string> tables;
        for (auto& [order, problem] : problems_) {
            if (problem.file != name_ &&
                !tables
                     .insert(problem.file + "\n" + std::to_string(problem.line) + "\n" +
                             problem.expected + "\n" + problem.found)
                     .second) {
                continue;
            }
            out.push_back(std::move(problem));
        }
        return out;
    }

    /// Keys given twice in any mapping of the document.  A mapping or list reached again
    /// through an alias is not walked again (an alias may even refer to its own ancestor).
    void duplicates(const YAML::Node& node, const std::string& path) {
        if (node.IsMap() || node.IsSequence()) {
            for (const auto& seen : walked_) {
                if (seen.is(node)) {
                    return;
                }
            }
            walked_.push_back(node);
        }
        if (node.IsMap()) {
            std::map<std::string, int> seen;
            for (const auto& entry : entries(node)) {
                if (entry.name.empty()) {
                    add_here(
                        false, path, line_of(entry.key), "a plain key",
                        "a key that is a " + std::string(entry.key.IsMap() ? "mapping" : "list"));
                    continue;
                }
                const auto [first, inserted] = seen.emplace(entry.name, line_of(entry.key));
                if (!inserted) {
                    add_here(false, join(path, entry.name), line_of(entry.key), "each key once",
                             in_quotes(entry.name) + " again (first given on line " +
                                 std::to_string(first->second) + ")",
                             "the first is used and this one is ignored");
                }
                duplicates(entry.value, join(path, entry.name));
            }
        } else if (node.IsSequence()) {
            for (std::size_t i = 0; i < node.size(); ++i) {
                duplicates(node[i], join(path, std::to_string(i)));
            }
        }
    }

    void top_level(const YAML::Node& root, const std::function<void(SettingsReader&)>& extractors) {
        static const std::vector<std::string_view> sections{"extractors", "reco"};
        const std::string expected =
            "a mapping with the sections " + in_quotes_list(sections, " and ");
        if (!root.IsMap()) {
            add_here(true, "", line_of(root), expected,
                     root.IsNull() || !root.IsDefined() ? "an empty document" : describe(root));
            return;
        }
        const auto all = entries(root);
        for (const auto& entry : all) {
            if (!entry.name.empty() &&
                std::find(sections.begin(), sections.end(), entry.name) == sections.end()) {
                add_here(false, entry.name, line_of(entry.key),
                         "a section " + in_quotes_list(sections), in_quotes(entry.name),
                         did_you_mean(entry.name, sections));
            }
        }
        if (const auto section = find(all, "extractors")) {
            if (!section->value.IsMap() && !section->value.IsNull()) {
                add_here(false, "extractors", line_of(section->value), "a mapping of options",
                         describe(section->value));
            } else {
                SettingsReader reader =
                    this->reader(section->value, extractor_keys_, "extractors",
                                 line_of(section->key), "an option of extractors", {});
                extractors(reader);
            }
        }
        reco(find(all, "reco"));
    }

    /// Checks the keys of `map` against `keys` (plus the names in `also`, checked by the
    /// caller): unknown keys, missing required keys, values of the wrong type.  Returns the
    /// entries whose values are sound, by key name.
    std::map<std::string, Entry, std::less<>> check_keys(
        const KeyTable& keys, const YAML::Node& map, const std::string& path, int line,
        const std::string& what, const std::vector<std::string_view>& also, bool closed) {
        std::vector<std::string_view> known = names_of(keys);
        known.insert(known.end(), also.begin(), also.end());
        const auto all = entries(map);
        std::set<std::string_view> suggested;
        for (const auto& entry : all) {
            if (entry.name.empty() ||
                std::find(known.begin(), known.end(), entry.name) != known.end()) {
                continue;
            }
            std::string hint;
            // Refused where the library refuses unknown keys, or for the required key that this
            // one misspells.
            bool refused = closed;
            if (const auto best = closest(entry.name, known)) {
                hint = "did you mean " + in_quotes(*best) + "?";
                if (!find(all, *best)) {
                    suggested.insert(*best);
                    refused = refused || std::any_of(keys.begin(), keys.end(), [&](const auto& k) {
                                  return k.name == *best && k.required;
                              });
                }
            } else {
                hint = elsewhere(entry.name, path);
                if (hint.empty()) {
                    hint = "known: " + in_quotes_list(known, " and ");
                }
            }
            add_here(refused, join(path, entry.name), line_of(entry.key), what,
                     in_quotes(entry.name), std::move(hint));
        }
        std::map<std::string, Entry, std::less<>> valid;
        for (const auto& key : keys) {
            const auto entry = find(all, key.name);
            if (!entry) {
                // A misspelling of it was reported above, with the suggestion.
                if (key.required && suggested.count(key.name) == 0) {
                    add_here(true, join(path, key.name), line, expected_value(key) + " (required)",
                             "no " + in_quotes(key.name) + " key");
                }
                continue;
            }
            if (check_value(key, entry->value, join(path, key.name))) {
                valid.emplace(std::string(key.name), *entry);
            }
        }
        return valid;
    }

    /// Where else a key of this name belongs, as a hint; empty if nowhere.
    std::string elsewhere(std::string_view name, const std::string& path) const {
        std::string found;
        const std::function<void(const KeyTable&, const std::string&)> walk =
            [&](const KeyTable& keys, const std::string& here) {
                const auto names = names_of(keys);
                if (found.empty() && here != path &&
                    std::find(names.begin(), names.end(), name) != names.end()) {
                    found = in_quotes(name) + " is an option of " + here;
                }
                for (const auto& key : keys) {
                    if (key.section != nullptr) {
                        walk(*key.section, join(here, key.name));
                    }
                }
            };
        walk(extractor_keys_, "extractors");
        for (const auto& cls : classes_) {
            const auto names = names_of(*cls.keys);
            if (found.empty() && std::find(names.begin(), names.end(), name) != names.end()) {
                found = in_quotes(name) + " is a key of the class " + std::string(cls.name);
            }
        }
        return found;
    }

    bool check_value(const KeySpec& key, const YAML::Node& value, const std::string& path) {
        const int line = line_of(value);
        // The library refuses a value it cannot convert or that is out of its range; a section
        // that is not a mapping reads as an empty one, refused only for its required keys.
        bool refused =
            key.section == nullptr || std::any_of(key.section->begin(), key.section->end(),
                                                  [](const KeySpec& k) { return k.required; });
        const auto wrong = [&](std::string hint = {}) {
            add_here(refused, path, line, expected_value(key), describe(value), std::move(hint));
            return false;
        };
        const auto in_bounds = [&](double x) {
            if (key.finite && !std::isfinite(x)) {
                return false;
            }
            if (key.minimum && (x < *key.minimum || (key.exclusive_minimum && x == *key.minimum))) {
                return false;
            }
            return !(key.maximum && x > *key.maximum);
        };
        try {
            switch (key.type) {
                case ValueType::boolean:
                    if (!value.IsScalar()) {
                        return wrong();
                    }
                    (void)value.as<bool>();
                    return true;
                case ValueType::integer:
                    if (!value.IsScalar()) {
                        return wrong();
                    }
                    if (!in_bounds(yaml::number<int>(value))) {
                        return wrong();
                    }
                    return true;
                case ValueType::number: {
                    if (!value.IsScalar()) {
                        return wrong();
                    }
                    const double x = yaml::number<double>(value);
                    if (std::isnan(x)) {
                        refused = key.minimum || key.maximum || key.finite;
                        return wrong("NaN is not a usable value here");
                    }
                    if (!in_bounds(x)) {
                        return wrong();
                    }
                    return true;
                }
                case ValueType::text:
                    return value.IsScalar() ? true : wrong();
                case ValueType::lut_file:
                case ValueType::channel_table:
                    // An empty name would resolve to the settings file's folder.
                    return value.IsScalar() && !value.Scalar().empty() ? true : wrong();
                case ValueType::choice:
                case ValueType::feature: {
                    if (!value.IsScalar()) {
                        return wrong();
                    }
                    if (std::find(key.choices.begin(), key.choices.end(), value.Scalar()) ==
                        key.choices.end()) {
                        return wrong(did_you_mean(value.Scalar(), key.choices));
                    }
                    return true;
                }
                case ValueType::section:
                    return value.IsMap() || value.IsNull() ? true : wrong();
            }
        } catch (const YAML::Exception&) {
            if (key.type == ValueType::integer && value.IsScalar()) {
                try {
                    // A whole number beyond the 32 bits, or one written with a fraction.
                    const double x = yaml::number<double>(value);
                    return wrong(x == std::floor(x) && std::isfinite(x)
                                     ? "integers range from -2147483648 to 2147483647"
                                     : "an integer is written without a decimal point");
                } catch (const YAML::Exception&) {
                }
            }
            return wrong();
        }
        return true;
    }

    void reco(const std::optional<Entry>& section) {
        const std::string expected = "a mapping of reconstructor instances";
        if (!section) {
            add_here(true, "reco", 0, expected, "no \"reco\" section",
                     "without reconstructors no hit is made");
            return;
        }
        const int line = line_of(section->key);
        const YAML::Node& node = section->value;
        if (!node.IsMap()) {
            add_here(false, "reco", line, expected, describe(node),
                     node.IsSequence()
                         ? "write each instance as \"name:\" followed by its indented keys, not "
                           "as a list item"
                         : "without reconstructors no hit is made");
            return;
        }
        if (node.size() == 0) {
            add_here(false, "reco", line, expected, describe(node),
                     "without reconstructors no hit is made");
            return;
        }
        std::set<std::string> seen;
        for (const auto& entry : entries(node)) {
            if (!entry.name.empty() && seen.insert(entry.name).second) {
                instance(entry, join("reco", entry.name));
            }
        }
    }

    void instance(const Entry& entry, const std::string& path) {
        origin_ = line_of(entry.key);
        std::vector<std::string_view> class_names;
        for (const auto& cls : classes_) {
            class_names.push_back(cls.name);
        }
        if (!entry.value.IsMap()) {
            add_here(true, path, line_of(entry.key),
                     "a mapping with a \"class\" key and its settings", describe(entry.value));
            return;
        }
        const auto all = entries(entry.value);
        const auto cls = find(all, "class");
        if (!cls) {
            add_here(true, join(path, "class"), line_of(entry.key),
                     "a \"class\" key naming one of " + in_quotes_list(class_names), "none");
            return;
        }
        const CheckedClass* spec = nullptr;
        for (const auto& known : classes_) {
            if (cls->value.IsScalar() && known.name == cls->value.Scalar()) {
                spec = &known;
            }
        }
        if (spec == nullptr) {
            add_here(true, join(path, "class"), line_of(cls->value), in_quotes_list(class_names),
                     describe(cls->value),
                     cls->value.IsScalar() ? did_you_mean(cls->value.Scalar(), class_names) : "");
            return;
        }
        SettingsReader reader = this->reader(entry.value, *spec->keys, path, line_of(entry.key),
                                             "a key of " + std::string(spec->name), {"class"});
        spec->check(reader);
    }
};

std::string expected_value(const KeySpec& key) {
    switch (key.type) {
        case ValueType::boolean:
            return "true or false";
        case ValueType::integer:
            if (key.minimum && key.maximum) {
                return "an integer from " + format_bound(*key.minimum) + " to " +
                       format_bound(*key.maximum);
            }
            return key.minimum ? "an integer of at least " + format_bound(*key.minimum)
                               : "an integer";
        case ValueType::number: {
            const std::string kind = key.finite ? "a finite number" : "a number";
            const std::string above = key.exclusive_minimum ? " above " : " of at least ";
            if (key.minimum && key.maximum) {
                return kind + (key.exclusive_minimum ? " above " : " from ") +
                       format_bound(*key.minimum) + (key.exclusive_minimum ? " up to " : " to ") +
                       format_bound(*key.maximum);
            }
            if (key.minimum) {
                return kind + above + format_bound(*key.minimum);
            }
            return kind;
        }
        case ValueType::text:
            return "a text";
        case ValueType::choice:
            return in_quotes_list(key.choices);
        case ValueType::feature:
            return "a feature name (" + in_quotes_list(key.choices) + ")";
        case ValueType::lut_file:
            return "the name of a lookup-table file";
        case ValueType::channel_table:
            return "the name of a channel-table file";
        case ValueType::section:
            return "a mapping";
    }
    return "a value";
}

SettingsReader::SettingsReader(Settings node, const KeyTable& keys, fs::path file,
                               const LoadedSettings* loaded)
    : impl_(std::make_unique<Impl>()) {
    impl_->keys = &keys;
    impl_->file = std::move(file);
    impl_->loaded = loaded;
    impl_->node = std::move(node);
}

SettingsReader::SettingsReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SettingsReader::~SettingsReader() = default;
SettingsReader::SettingsReader(SettingsReader&&) noexcept = default;
SettingsReader& SettingsReader::operator=(SettingsReader&&) noexcept = default;

bool SettingsReader::checking() const noexcept { return impl_->check != nullptr; }
const fs::path& SettingsReader::file() const noexcept { return impl_->file; }
const KeyTable& SettingsReader::declared() const noexcept { return *impl_->keys; }

std::string SettingsReader::path() const {
    if (checking()) {
        return impl_->path;
    }
    std::string out;
    for (const auto& part : impl_->node.path()) {
        out = join(out, part);
    }
    return out;
}

std::string SettingsReader::path(std::string_view key) const { return join(path(), key); }

std::vector<std::string> SettingsReader::keys() const {
    if (!checking()) {
        return impl_->node.keys();
    }
    std::vector<std::string> out;
    for (const auto& [name, entry] : impl_->valid) {
        out.push_back(name);
    }
    return out;
}

const KeySpec& SettingsReader::spec(std::string_view key) const {
    for (const auto& declared : *impl_->keys) {
        if (declared.name == key) {
            return declared;
        }
    }
    throw std::logic_error("settings key " + std::string(key) + " is read but not declared");
}

bool SettingsReader::contains(std::string_view key) const {
    return checking() ? impl_->entry(key) != nullptr : impl_->node.contains(std::string(key));
}

double SettingsReader::number(std::string_view key) const {
    (void)spec(key);
    if (checking()) {
        const Entry* entry = impl_->entry(key);
        return entry != nullptr ? yaml::number<double>(entry->value) : 0.0;
    }
    return static_cast<double>(impl_->node[std::string(key)]);
}

int SettingsReader::integer(std::string_view key) const {
    (void)spec(key);
    if (checking()) {
        const Entry* entry = impl_->entry(key);
        return entry != nullptr ? yaml::number<int>(entry->value) : 0;
    }
    return static_cast<int>(impl_->node[std::string(key)]);
}

bool SettingsReader::boolean(std::string_view key) const {
    (void)spec(key);
    if (checking()) {
        const Entry* entry = impl_->entry(key);
        return entry != nullptr && entry->value.as<bool>();
    }
    return static_cast<bool>(impl_->node[std::string(key)]);
}

std::string SettingsReader::text(std::string_view key) const {
    (void)spec(key);
    if (checking()) {
        const Entry* entry = impl_->entry(key);
        return entry != nullptr ? entry->value.Scalar() : std::string();
    }
    return static_cast<std::string>(impl_->node[std::string(key)]);
}

fs::path SettingsReader::file(std::string_view key) const {
    return resolve_settings_path(impl_->file, text(key));
}

std::shared_ptr<const FileText> SettingsReader::table_file(std::string_view key) const {
    const fs::path name = file(key);
    if (impl_->loaded != nullptr) {
        return impl_->loaded->table(name);
    }
    return std::make_shared<const FileText>(read_whole_file(name));
}

void SettingsReader::explain_unnamed_file(std::string_view key) const {
    const std::string name = text(key);
    // An empty value or a tilde reads as "null".
    if (checking() || !(name.empty() || name == "null")) {
        throw;
    }
    try {
        throw;
    } catch (const std::runtime_error& opened) {
        const std::string what = opened.what();
        if (what.rfind("Could not open ", 0) != 0 ||
            dynamic_cast<const std::nested_exception*>(&opened) != nullptr) {
            throw;
        }
        try {
            throw std::invalid_argument(path(key) + ": expected " + expected_value(spec(key)) +
                                        ", found " +
                                        (name.empty() ? "an empty value" : "\"null\"") +
                                        " (an empty value or ~ reads as \"null\")");
        } catch (...) {
            std::throw_with_nested(std::runtime_error(what));
        }
    }
}

SettingsReader SettingsReader::section(std::string_view key) const {
    const KeySpec& declared = spec(key);
    if (declared.section == nullptr) {
        throw std::logic_error("settings key " + std::string(key) + " is not a section");
    }
    if (!checking()) {
        return {impl_->node[std::string(key)], *declared.section, impl_->file, impl_->loaded};
    }
    const Entry* entry = impl_->entry(key);
    const std::string inner = path(key);
    return impl_->check->reader(entry != nullptr ? entry->value : YAML::Node(), *declared.section,
                                inner, entry != nullptr ? line_of(entry->key) : 0,
                                "an option of " + inner, {}, declared.closed);
}

void SettingsReader::below(std::string_view low, std::string_view high, std::string hint) const {
    const Entry* min = checking() ? impl_->entry(low) : nullptr;
    const Entry* max = checking() ? impl_->entry(high) : nullptr;
    if (min == nullptr || max == nullptr ||
        yaml::number<double>(min->value) < yaml::number<double>(max->value)) {
        return;
    }
    impl_->check->add_here(false, join(impl_->path, low), line_of(min->value),
                           std::string(low) + " below " + std::string(high),
                           std::string(low) + " " + min->value.Scalar() + " and " +
                               std::string(high) + " " + max->value.Scalar(),
                           std::move(hint));
}

std::optional<std::string> SettingsReader::table_text(std::string_view key,
                                                      const std::string& what) const {
    const Entry* entry = checking() ? impl_->entry(key) : nullptr;
    if (entry == nullptr) {
        return std::nullopt;
    }
    return impl_->check->table_text(*entry, path(key), file(key), what);
}

void SettingsReader::report_table(std::string_view key,
                                  const std::vector<TableProblem>& problems) const {
    const std::string name = file(key).generic_string();
    for (const auto& problem : problems) {
        impl_->check->add(!problem.refusal.empty(), name, path(key), problem.line, problem.expected,
                          problem.found, problem.hint);
    }
}

void SettingsReader::check_channel_table(std::string_view key,
                                         std::vector<std::string> wanted) const {
    if (const auto text = table_text(key, "channel table")) {
        std::vector<TableProblem> problems;
        (void)ChannelTable::parse(*text, file(key), std::move(wanted), problems, kMaxRowProblems);
        report_table(key, problems);
    }
}

std::vector<SettingsProblem> check_settings_with(
    const LoadedSettings& settings, const KeyTable& extractor_keys,
    const std::function<void(SettingsReader&)>& check_extractors,
    const std::vector<CheckedClass>& classes) {
    return SettingsCheck(settings, extractor_keys, classes).run(check_extractors);
}

SettingsSummary summarize_settings_with(const LoadedSettings& settings,
                                        const KeyTable& extractor_keys,
                                        const std::vector<CheckedClass>& classes) {
    const fs::path& file = settings.file();
    const FileText& content = settings.text();
    if (!content.text) {
        throw std::runtime_error("cannot read the settings file " + file.generic_string() + ": " +
                                 content.describe());
    }
    YAML::Node root;
    try {
        root = YAML::Load(*content.text);
    } catch (const YAML::Exception& e) {
        throw std::runtime_error("cannot read the settings file " + file.generic_string() + ": " +
                                 e.what());
    }
    SettingsSummary summary;
    const auto declared = [](const KeyTable* keys, std::string_view name) -> const KeySpec* {
        if (keys == nullptr) {
            return nullptr;
        }
        const auto key = std::find_if(keys->begin(), keys->end(),
                                      [&](const KeySpec& k) { return k.name == name; });
        return key == keys->end() ? nullptr : &*key;
    };
    const auto names_table = [](const KeySpec* key) {
        return key != nullptr &&
               (key->type == ValueType::lut_file || key->type == ValueType::channel_table);
    };
    // The value of the key at `path`; a table file, resolved and recorded, if `key` names one.
    const auto value = [&](const KeySpec* key, const std::string& path, const std::string& text) {
        if (!names_table(key) || text.empty()) {
            return text;
        }
        std::string table = resolve_settings_path(file, text).generic_string();
        summary.table_keys.emplace_back(path, table);
        if (std::find(summary.tables.begin(), summary.tables.end(), table) ==
            summary.tables.end()) {
            summary.tables.push_back(table);
        }
        return table;
    };
    // A value as the library reads it: a boolean as true or false ("Y" reads as true).
    const auto as_read = [](const KeySpec* key, const YAML::Node& node) {
        std::string text = scalar_or_empty(node);
        if (key != nullptr && key->type == ValueType::boolean && !text.empty()) {
            try {
                text = node.as<bool>() ? "true" : "false";
            } catch (const YAML::Exception&) {
                // Shown as written; the check reports it.
            }
        }
        return text;
    };
    if (!root.IsMap()) {
        return summary;
    }
    const auto top = entries(root);
    const auto extractors = find(top, "extractors");
    const auto options = extractors ? entries(extractors->value) : std::vector<Entry>{};
    // An extractor choice not made is listed with its default (the waveform extractor).
    for (const auto& key : extractor_keys) {
        const auto given = find(options, key.name);
        if (key.type == ValueType::choice && !(given && given->value.IsScalar())) {
            summary.extractor_options.emplace_back(key.name, key.default_value);
        }
    }
    for (const auto& option : options) {
        const KeySpec* key = declared(&extractor_keys, option.name);
        if (option.value.IsScalar()) {
            summary.extractor_options.emplace_back(
                option.name,
                value(key, join("extractors", option.name), as_read(key, option.value)));
        }
        for (const auto& inner : entries(option.value)) {
            const std::string name = join(option.name, inner.name);
            const KeySpec* spec = declared(key != nullptr ? key->section : nullptr, inner.name);
            summary.extractor_options.emplace_back(
                name, value(spec, join("extractors", name), as_read(spec, inner.value)));
        }
    }
    if (const auto reco = find(top, "reco")) {
        std::set<std::string> seen;
        for (const auto& instance : entries(reco->value)) {
            if (!seen.insert(instance.name).second) {
                continue;
            }
            const auto keys = entries(instance.value);
            const auto get = [&](std::string_view key) {
                const auto entry = find(keys, key);
                return entry ? scalar_or_empty(entry->value) : std::string();
            };
            SettingsSummary::Reconstructor r{instance.name,       get("class"),    get("feature"),
                                             get("hit_property"), get("pmt_type"), {}};
            const auto cls = std::find_if(classes.begin(), classes.end(),
                                          [&](const auto& c) { return c.name == r.class_name; });
            static const KeyTable undeclared;
            for (const KeySpec& key : cls != classes.end() ? *cls->keys : undeclared) {
                const std::string text = get(key.name);
                if (names_table(&key) && !text.empty()) {
                    std::string table =
                        value(&key, join(join("reco", instance.name), key.name), text);
                    if (r.table.empty()) {
                        r.table = std::move(table);
                    }
                }
            }
            summary.reconstructors.push_back(std::move(r));
        }
    }
    return summary;
}

}  // namespace tessel
