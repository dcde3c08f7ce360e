#include "tessel/check_settings.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <locale>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "settings_schema.hpp"
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

namespace {

namespace fs = std::filesystem;
using schema::ValueType;

/// Row problems reported per table file before the rest are only counted.
constexpr int kMaxRowProblems = 20;

std::string join(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

/// 1-based line of a node; 0 for a node without a position.
int line_of(const YAML::Node& node) { return node.Mark().line + 1; }

/// `text` in double quotes, control characters escaped.
std::string in_quotes(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

std::string in_quotes_list(const std::vector<std::string_view>& words,
                           std::string_view last = " or ") {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            out += i + 1 == words.size() ? std::string(last) : std::string(", ");
        }
        out += in_quotes(words[i]);
    }
    return out;
}

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

/// Edit distance (insertions, deletions, substitutions, swaps of neighbours), ignoring case.
std::size_t distance(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= m; ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
                lower(a[i - 2]) == lower(b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[n][m];
}

/// The candidate closest to `word`, if it is close enough to be a likely misspelling.
std::optional<std::string_view> closest(std::string_view word,
                                        const std::vector<std::string_view>& candidates) {
    const std::size_t limit = std::clamp<std::size_t>(word.size() / 3, 1, 3);
    std::optional<std::string_view> best;
    std::size_t best_distance = limit + 1;
    for (const auto candidate : candidates) {
        const std::size_t d = distance(word, candidate);
        if (d < best_distance) {
            best = candidate;
            best_distance = d;
        }
    }
    return best;
}

std::string did_you_mean(std::string_view word, const std::vector<std::string_view>& candidates) {
    const auto best = closest(word, candidates);
    return best ? "did you mean " + in_quotes(*best) + "?" : std::string();
}

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

std::vector<std::string_view> names_of(const std::vector<schema::Key>& keys) {
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

/// What a value of `key` must look like, for messages.
std::string expected_value(const schema::Key& key) {
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
            return "a feature name (" + in_quotes_list(schema::feature_names()) + ")";
        case ValueType::lut_file:
            return "the name of a lookup-table file";
        case ValueType::channel_table:
            return "the name of a channel-table file";
        case ValueType::section:
            return "a mapping";
    }
    return "a value";
}

/// Splits `text` at line feeds; a final line without one counts.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

/// `text` without a leading '+' that is followed by a digit or a point (as tables are read).
std::string_view without_plus(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

std::optional<long long> parse_integer(std::string_view text) {
    text = without_plus(text);
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parse_double(std::string_view text) {
    text = without_plus(text);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

/// Whole text of a file, or the reason it cannot be read.
struct FileText {
    std::optional<std::string> text;
    std::string error;
};

FileText read_file(const fs::path& file) {
    std::error_code code;
    if (fs::is_directory(file, code)) {
        return {std::nullopt, "a directory"};
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int error = errno;
        return {std::nullopt, error != 0 ? std::string(std::strerror(error)) : "cannot open it"};
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return {std::nullopt, "read error"};
    }
    return {buffer.str(), {}};
}

class Checker {
public:
    explicit Checker(fs::path file) : file_(std::move(file)), name_(file_.generic_string()) {}

    std::vector<SettingsProblem> run() {
        const FileText content = read_file(file_);
        if (!content.text) {
            add(name_, "", 0, "a readable settings file", "it cannot be read: " + content.error);
            return finish();
        }
        YAML::Node root;
        try {
            root = YAML::Load(*content.text);
        } catch (const YAML::Exception& e) {
            add(name_, "", e.mark.line + 1, "a YAML document", "a syntax error: " + e.msg);
            return finish();
        }
        duplicates(root, "");
        top_level(root);
        return finish();
    }

private:
    fs::path file_;
    std::string name_;
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

    void add(std::string file, std::string key_path, int line, std::string expected,
             std::string found, std::string hint = {}) {
        const bool here = file == name_;
        problems_.emplace_back(
            here ? line : origin_,
            SettingsProblem{std::move(file), std::move(key_path), line, std::move(expected),
                            std::move(found), std::move(hint)});
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
                    add(name_, path, line_of(entry.key), "a plain key",
                        "a key that is a " + std::string(entry.key.IsMap() ? "mapping" : "list"));
                    continue;
                }
                const auto [first, inserted] = seen.emplace(entry.name, line_of(entry.key));
                if (!inserted) {
                    add(name_, join(path, entry.name), line_of(entry.key), "each key once",
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

    void top_level(const YAML::Node& root) {
        const auto& sections = schema::top_level_sections();
        const std::string expected =
            "a mapping with the sections " + in_quotes_list(sections, " and ");
        if (!root.IsMap()) {
            add(name_, "", line_of(root), expected,
                root.IsNull() || !root.IsDefined() ? "an empty document" : describe(root));
            return;
        }
        const auto all = entries(root);
        for (const auto& entry : all) {
            if (!entry.name.empty() &&
                std::find(sections.begin(), sections.end(), entry.name) == sections.end()) {
                add(name_, entry.name, line_of(entry.key), "a section " + in_quotes_list(sections),
                    in_quotes(entry.name), did_you_mean(entry.name, sections));
            }
        }
        if (const auto extractors = find(all, "extractors")) {
            extractor_section("extractors", extractors->value, line_of(extractors->key));
        }
        reco(find(all, "reco"));
    }

    static const schema::Section* section_spec(std::string_view path) {
        for (const auto& section : schema::extractor_sections()) {
            if (section.path == path) {
                return &section;
            }
        }
        return nullptr;
    }

    /// A mapping under `extractors`, and the sections nested in it.  An empty value stands for
    /// an empty section (every option at its default).
    void extractor_section(const std::string& path, const YAML::Node& node, int line) {
        const schema::Section* spec = section_spec(path);
        if (spec == nullptr) {
            return;
        }
        if (!node.IsMap() && !node.IsNull()) {
            add(name_, path, line_of(node), "a mapping of options", describe(node));
            return;
        }
        const auto valid = check_keys(spec->keys, node, path, line, "an option of " + path, {});
        for (const auto& key : spec->keys) {
            const auto it = valid.find(std::string(key.name));
            if (it == valid.end()) {
                continue;
            }
            if (key.type == ValueType::section) {
                extractor_section(join(path, key.name), it->second.value, line_of(it->second.key));
            } else if (key.type == ValueType::channel_table) {
                channel_table(it->second, join(path, key.name), {});
            }
        }
    }

    /// Checks the keys of `map` against `keys` (plus the names in `also`, checked by the
    /// caller): unknown keys, missing required keys, values of the wrong type.  Returns the
    /// entries whose values are sound, by key name.
    std::map<std::string, Entry> check_keys(const std::vector<schema::Key>& keys,
                                            const YAML::Node& map, const std::string& path,
                                            int line, const std::string& what,
                                            const std::vector<std::string_view>& also) {
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
            if (const auto best = closest(entry.name, known)) {
                hint = "did you mean " + in_quotes(*best) + "?";
                if (!find(all, *best)) {
                    suggested.insert(*best);
                }
            } else {
                hint = elsewhere(entry.name, path);
                if (hint.empty()) {
                    hint = "known: " + in_quotes_list(known, " and ");
                }
            }
            add(name_, join(path, entry.name), line_of(entry.key), what, in_quotes(entry.name),
                std::move(hint));
        }
        std::map<std::string, Entry> valid;
        for (const auto& key : keys) {
            const auto entry = find(all, key.name);
            if (!entry) {
                // A misspelling of it was reported above, with the suggestion.
                if (key.required && suggested.count(key.name) == 0) {
                    add(name_, join(path, key.name), line, expected_value(key) + " (required)",
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
    static std::string elsewhere(std::string_view name, const std::string& path) {
        for (const auto& section : schema::extractor_sections()) {
            const auto names = names_of(section.keys);
            if (section.path != path &&
                std::find(names.begin(), names.end(), name) != names.end()) {
                return in_quotes(name) + " is an option of " + std::string(section.path);
            }
        }
        for (const auto& cls : schema::reconstructor_classes()) {
            const auto names = names_of(cls.keys);
            if (std::find(names.begin(), names.end(), name) != names.end()) {
                return in_quotes(name) + " is a key of the class " + std::string(cls.name);
            }
        }
        return {};
    }

    bool check_value(const schema::Key& key, const YAML::Node& value, const std::string& path) {
        const int line = line_of(value);
        const auto wrong = [&](std::string hint = {}) {
            add(name_, path, line, expected_value(key), describe(value), std::move(hint));
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
                        return wrong("NaN is not a usable value here");
                    }
                    if (!in_bounds(x)) {
                        return wrong();
                    }
                    return true;
                }
                case ValueType::text:
                case ValueType::lut_file:
                case ValueType::channel_table:
                    return value.IsScalar() ? true : wrong();
                case ValueType::choice:
                case ValueType::feature: {
                    const auto& choices =
                        key.type == ValueType::feature ? schema::feature_names() : key.choices;
                    if (!value.IsScalar()) {
                        return wrong();
                    }
                    if (std::find(choices.begin(), choices.end(), value.Scalar()) ==
                        choices.end()) {
                        return wrong(did_you_mean(value.Scalar(), choices));
                    }
                    return true;
                }
                case ValueType::section:
                    return value.IsMap() || value.IsNull() ? true : wrong();
            }
        } catch (const YAML::Exception&) {
            if (key.type == ValueType::integer && value.IsScalar()) {
                try {
                    (void)yaml::number<double>(value);
                    return wrong("an integer is written without a decimal point");
                } catch (const YAML::Exception&) {
                }
            }
            return wrong();
        }
        return true;
    }

    static const schema::ReconstructorClass* class_spec(std::string_view name) {
        for (const auto& cls : schema::reconstructor_classes()) {
            if (cls.name == name) {
                return &cls;
            }
        }
        return nullptr;
    }

    void reco(const std::optional<Entry>& section) {
        const std::string expected = "a mapping of reconstructor instances";
        if (!section) {
            add(name_, "reco", 0, expected, "no \"reco\" section",
                "without reconstructors no hit is made");
            return;
        }
        const int line = line_of(section->key);
        const YAML::Node& node = section->value;
        if (!node.IsMap()) {
            add(name_, "reco", line, expected, describe(node),
                node.IsSequence()
                    ? "write each instance as \"name:\" followed by its indented keys, not as "
                      "a list item"
                    : "without reconstructors no hit is made");
            return;
        }
        if (node.size() == 0) {
            add(name_, "reco", line, expected, describe(node),
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
        for (const auto& cls : schema::reconstructor_classes()) {
            class_names.push_back(cls.name);
        }
        if (!entry.value.IsMap()) {
            add(name_, path, line_of(entry.key), "a mapping with a \"class\" key and its settings",
                describe(entry.value));
            return;
        }
        const auto all = entries(entry.value);
        const auto cls = find(all, "class");
        if (!cls) {
            add(name_, join(path, "class"), line_of(entry.key),
                "a \"class\" key naming one of " + in_quotes_list(class_names), "none");
            return;
        }
        const schema::ReconstructorClass* spec =
            cls->value.IsScalar() ? class_spec(cls->value.Scalar()) : nullptr;
        if (spec == nullptr) {
            add(name_, join(path, "class"), line_of(cls->value), in_quotes_list(class_names),
                describe(cls->value),
                cls->value.IsScalar() ? did_you_mean(cls->value.Scalar(), class_names) : "");
            return;
        }
        const auto valid = check_keys(spec->keys, entry.value, path, line_of(entry.key),
                                      "a key of " + std::string(spec->name), {"class"});
        const auto min = valid.find("min_value");
        const auto max = valid.find("max_value");
        if (min != valid.end() && max != valid.end() &&
            !(yaml::number<double>(min->second.value) < yaml::number<double>(max->second.value))) {
            add(name_, join(path, "min_value"), line_of(min->second.value),
                "min_value below max_value",
                "min_value " + min->second.value.Scalar() + " and max_value " +
                    max->second.value.Scalar(),
                "it acts on values x with min_value <= x < max_value, so on none");
        }
        if (const auto lut = valid.find("lut_file"); lut != valid.end()) {
            lookup_table(lut->second, join(path, "lut_file"));
        }
        const auto table = valid.find("table");
        const auto columns = valid.find("columns");
        if (table != valid.end()) {
            // Without a sound prefix the table is still checked for the columns all need.
            std::vector<std::string> wanted;
            for (const auto suffix : schema::calibration_column_suffixes()) {
                if (columns != valid.end()) {
                    wanted.push_back(columns->second.value.Scalar() + std::string(suffix));
                }
            }
            channel_table(table->second, join(path, "table"), wanted);
        }
    }

    /// A file name of the settings, resolved as the library does: relative to the settings
    /// file's directory, lexically normalised; an absolute name unchanged.
    [[nodiscard]] fs::path resolve(const std::string& name) const {
        const fs::path path(name);
        if (path.has_root_directory()) {
            return path;
        }
        return (file_.parent_path() / path).lexically_normal();
    }

    /// Reads a table file named by `entry`; reports it when it cannot be read.
    std::optional<std::string> table_text(const Entry& entry, const std::string& path,
                                          const fs::path& file, const std::string& what) {
        origin_ = std::max(origin_, line_of(entry.value));
        const FileText content = read_file(file);
        if (!content.text) {
            add(name_, path, line_of(entry.value), "a readable " + what,
                file.generic_string() + ": " + content.error);
        }
        return content.text;
    }

    /// Rows of a lookup table: three numbers read as the library reads them, then nothing but
    /// white space.
    void lookup_table(const Entry& entry, const std::string& path) {
        const fs::path file = resolve(entry.value.Scalar());
        const auto text = table_text(entry, path, file, "lookup-table file");
        if (!text) {
            return;
        }
        const std::string name = file.generic_string();
        const std::string expected = "three numbers (x, value, uncertainty) separated by blanks";
        int points = 0;
        int bad = 0;
        const auto lines = split_lines(*text);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const int number = static_cast<int>(i) + 1;
            if (line.empty() || line.front() == '#') {
                continue;
            }
            const auto report = [&](std::string want, std::string found, std::string hint) {
                if (++bad <= kMaxRowProblems) {
                    add(name, path, number, std::move(want), std::move(found), std::move(hint));
                }
            };
            std::istringstream fields(line);
            fields.imbue(std::locale::classic());
            double x = 0;
            double y = 0;
            double u = 0;
            fields >> x >> y;
            const auto third = fields.tellg();
            if (!(fields >> u)) {
                std::string hint;
                if (trim(line).empty()) {
                    hint = "a line of blanks is not skipped; leave it empty";
                } else if (trim(line).front() == '#') {
                    hint = "a comment's \"#\" must be the first character of its line";
                } else if (line.find(',') != std::string::npos) {
                    hint = "separate the numbers by blanks and write decimal points";
                }
                report(expected, in_quotes(line), std::move(hint));
                continue;
            }
            ++points;
            const auto end = fields.tellg();
            fields >> std::ws;
            if (!fields.eof()) {
                const std::string rest(trim(line.substr(static_cast<std::size_t>(end))));
                const std::string number_text = std::string(trim(line.substr(
                    static_cast<std::size_t>(third), static_cast<std::size_t>(end - third))));
                std::string hint;
                if (rest.front() == ',' || rest.front() == '.') {
                    hint = "a decimal comma? " + in_quotes(number_text + rest) + " reads as " +
                           in_quotes(number_text) + "; write decimal points";
                }
                report(expected + ", then only white space",
                       in_quotes(line) + " (" + in_quotes(rest) + " after the third number)",
                       std::move(hint));
            }
        }
        if (bad > kMaxRowProblems) {
            add(name, path, 0, "well-formed rows",
                std::to_string(bad - kMaxRowProblems) + " more malformed rows");
        }
        if (points < 2) {
            add(name, path, 0, "at least two data points", std::to_string(points));
        }
    }

    /// A channel table: a header line naming the columns (`channel`, `pmt_type` and the
    /// calibration columns `wanted` among them), then one row per channel with as many
    /// comma-separated fields; `#` lines and blank lines are skipped.  `channel` and
    /// `pmt_type` hold integers, every other column numbers (the calibration columns finite
    /// ones), and no channel appears twice.
    void channel_table(const Entry& entry, const std::string& path,
                       std::vector<std::string> wanted) {
        wanted.insert(wanted.begin(), {"channel", "pmt_type"});
        const fs::path file = resolve(entry.value.Scalar());
        const auto text = table_text(entry, path, file, "channel table");
        if (!text) {
            return;
        }
        const std::string name = file.generic_string();
        std::vector<std::string> header;
        int header_line = 0;
        std::map<long long, int> channels;
        int bad = 0;
        const auto report = [&](int line, std::string want, std::string found,
                                std::string hint = {}) {
            if (++bad <= kMaxRowProblems) {
                add(name, path, line, std::move(want), std::move(found), std::move(hint));
            }
        };
        const auto lines = split_lines(*text);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string_view line = trim(lines[i]);
            const int number = static_cast<int>(i) + 1;
            if (line.empty() || line.front() == '#') {
                continue;
            }
            std::vector<std::string> fields;
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = line.find(',', start);
                fields.emplace_back(trim(line.substr(start, comma - start)));
                if (comma == std::string_view::npos) {
                    break;
                }
                start = comma + 1;
            }
            if (header_line == 0) {
                header_line = number;
                header = fields;
                if (!header_columns(name, path, number, header, wanted)) {
                    return;
                }
                continue;
            }
            if (fields.size() != header.size()) {
                report(
                    number,
                    std::to_string(header.size()) + " comma-separated fields, as the header",
                    std::to_string(fields.size()) + " in " + in_quotes(line),
                    fields.size() > header.size() ? "a decimal comma? write decimal points" : "");
                continue;
            }
            for (std::size_t c = 0; c < header.size(); ++c) {
                const std::string& column = header[c];
                const std::string& field = fields[c];
                if (column == "channel" || column == "pmt_type") {
                    const auto value = parse_integer(field);
                    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
                        *value > std::numeric_limits<std::int32_t>::max()) {
                        report(number, "an integer in column " + in_quotes(column),
                               in_quotes(field));
                    } else if (column == "channel") {
                        const auto [first, inserted] = channels.emplace(*value, number);
                        if (!inserted) {
                            report(number, "each channel once",
                                   "channel " + field + " again (first on line " +
                                       std::to_string(first->second) + ")");
                        }
                    }
                } else {
                    const bool calibration =
                        std::find(wanted.begin(), wanted.end(), column) != wanted.end();
                    const auto value = parse_double(field);
                    if (!value || (calibration && !std::isfinite(*value))) {
                        report(number,
                               std::string(calibration ? "a finite number" : "a number") +
                                   " in column " + in_quotes(column),
                               in_quotes(field));
                    }
                }
            }
        }
        if (bad > kMaxRowProblems) {
            add(name, path, 0, "well-formed rows",
                std::to_string(bad - kMaxRowProblems) + " more malformed rows");
        }
        if (header_line == 0) {
            add(name, path, 0, "a header line naming the columns", "an empty table");
        } else if (channels.empty() && bad == 0) {
            add(name, path, header_line, "at least one channel row after the header", "none");
        }
    }

    /// Checks the header of a channel table; false when rows cannot be read against it.
    bool header_columns(const std::string& name, const std::string& path, int line,
                        const std::vector<std::string>& header,
                        const std::vector<std::string>& wanted) {
        bool usable = true;
        std::set<std::string> seen;
        for (const auto& column : header) {
            if (column.empty() || !seen.insert(column).second) {
                add(name, path, line, "distinct, non-empty column names",
                    column.empty() ? "an empty column name" : in_quotes(column) + " twice");
                usable = false;
            }
        }
        std::vector<std::string_view> present(header.begin(), header.end());
        for (const auto& column : wanted) {
            if (seen.count(column) == 0) {
                add(name, path, line, "a column " + in_quotes(column),
                    "the columns " + in_quotes_list(present, " and "),
                    did_you_mean(column, present));
                usable = false;
            }
        }
        return usable;
    }
};

/// Text of a scalar, or "" for anything else.
std::string scalar_or_empty(const YAML::Node& node) {
    return node.IsDefined() && node.IsScalar() ? node.Scalar() : std::string();
}

}  // namespace

std::vector<SettingsProblem> check_settings(const std::filesystem::path& file) {
    return Checker(file).run();
}

SettingsSummary summarize_settings(const std::filesystem::path& file) {
    YAML::Node root;
    try {
        root = YAML::LoadFile(file.native());
    } catch (const YAML::Exception& e) {
        throw std::runtime_error("cannot read the settings file " + file.generic_string() + ": " +
                                 e.what());
    }
    SettingsSummary summary;
    const auto resolve = [&](const std::string& name) {
        const fs::path path(name);
        return (path.has_root_directory() ? path : (file.parent_path() / path).lexically_normal())
            .generic_string();
    };
    const auto add_table = [&](const std::string& table) {
        if (std::find(summary.tables.begin(), summary.tables.end(), table) ==
            summary.tables.end()) {
            summary.tables.push_back(table);
        }
    };
    if (!root.IsMap()) {
        return summary;
    }
    const auto top = entries(root);
    bool waveform = false;
    if (const auto extractors = find(top, "extractors")) {
        for (const auto& option : entries(extractors->value)) {
            if (option.value.IsScalar()) {
                waveform = waveform || option.name == "waveform";
                summary.extractor_options.emplace_back(option.name, option.value.Scalar());
            }
            for (const auto& inner : entries(option.value)) {
                const std::string text = scalar_or_empty(inner.value);
                summary.extractor_options.emplace_back(
                    option.name + "." + inner.name,
                    option.name == "channels" && inner.name == "table" ? resolve(text) : text);
                if (option.name == "channels" && inner.name == "table") {
                    add_table(resolve(text));
                }
            }
        }
    }
    if (!waveform) {
        summary.extractor_options.insert(summary.extractor_options.begin(), {"waveform", "Tarvo"});
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
            const std::string table = !get("lut_file").empty() ? get("lut_file") : get("table");
            if (!table.empty()) {
                r.table = resolve(table);
                add_table(r.table);
            }
            summary.reconstructors.push_back(std::move(r));
        }
    }
    return summary;
}

}  // namespace tessel
