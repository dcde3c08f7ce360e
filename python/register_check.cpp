#include "bindings.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tessel/charge_reconstruction.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/loaded_settings.hpp"

namespace {

/// A settings summary as the dict summarize_settings documents.
py::dict summary_dict(const tessel::SettingsSummary& summary) {
    py::dict extractors;
    for (const auto& [key, value] : summary.extractor_options) {
        extractors[shown(key)] = shown(value);
    }
    py::list reco;
    for (const auto& r : summary.reconstructors) {
        py::dict entry;
        entry["name"] = shown(r.name);
        entry["class"] = shown(r.class_name);
        entry["feature"] = shown(r.feature);
        entry["hit_property"] = shown(r.hit_property);
        entry["pmt_type"] = shown(r.pmt_type);
        entry["table"] = file_name(r.table);
        reco.append(entry);
    }
    py::list tables;
    for (const auto& table : summary.tables) {
        tables.append(file_name(table));
    }
    py::list table_keys;
    for (const auto& [key, table] : summary.table_keys) {
        table_keys.append(py::make_tuple(shown(key), file_name(table)));
    }
    py::dict out;
    out["extractors"] = extractors;
    out["reco"] = reco;
    out["tables"] = tables;
    out["table_keys"] = table_keys;
    return out;
}

}  // namespace

void register_loaded_settings(py::module_& m);

void register_check(py::module_& m) {
    using tessel::SettingsProblem;
    py::class_<SettingsProblem>(m, "SettingsProblem",
                                R"doc(One mistake found by check_settings in a settings file or in
a table file it names.)doc")
        .def_property_readonly(
            "file", [](const SettingsProblem& p) { return shown(p.file); },
            "The file the problem is in: the settings file or a table file.")
        .def_property_readonly(
            "key_path", [](const SettingsProblem& p) { return shown(p.key_path); },
            "Keys from the settings file's root to the setting, joined by dots; for a problem in "
            "a table file, the setting naming the table.")
        .def_readonly("line", &SettingsProblem::line,
                      "1-based line in `file`; 0 when no line applies.")
        .def_property_readonly(
            "expected", [](const SettingsProblem& p) { return shown(p.expected); },
            "What was expected.")
        .def_property_readonly(
            "found", [](const SettingsProblem& p) { return shown(p.found); },
            "What was found instead.")
        .def_property_readonly(
            "hint", [](const SettingsProblem& p) { return shown(p.hint); },
            "A suggestion (\"did you mean ...?\"), or an empty string.")
        .def_readonly("refused_by_library", &SettingsProblem::refused_by_library,
                      "Whether the library itself refuses the file for this problem (an error "
                      "on construction); False where it loads the file anyway: it ignores "
                      "unknown keys and sections, takes the first of a key given twice, reads "
                      "a lookup-table row's first three numbers, ...")
        .def_property_readonly(
            "message", [](const SettingsProblem& p) { return shown(p.message()); },
            "`file:line: key.path: expected ..., found ...; hint`.")
        .def("__str__", [](const SettingsProblem& p) { return shown(p.message()); })
        .def("__repr__", [](const SettingsProblem& problem) {
            return shown("<SettingsProblem " + problem.message() + ">");
        });

    m.def(
        "check_settings",
        [](const SettingsPath& settings) { return tessel::check_settings(settings.path); },
        py::arg("settings"),
        R"doc(Check a settings file and the lookup tables and channel tables it names.

Reports every problem found rather than the first: unknown sections and keys (with the closest
known key), keys given twice, values of the wrong type, NaN where a number is needed, min_value
not below max_value, a missing or empty reco section, unreadable or malformed table files.
Reading the file with the other classes is unaffected by this check.

Parameters
----------
settings : str, bytes or os.PathLike
    Path to the settings file.

Returns
-------
list[SettingsProblem]
    The problems in the order of the file; empty when the file is sound.)doc");

    m.def(
        "summarize_settings",
        [](const SettingsPath& settings) {
            return summary_dict(tessel::summarize_settings(settings.path));
        },
        py::arg("settings"),
        R"doc(What a settings file configures, for display (meaningful for a file that passes
check_settings).

Parameters
----------
settings : str, bytes or os.PathLike
    Path to the settings file.

Returns
-------
dict
    "extractors": extractor options in file order ({"waveform": "Tarvo",
    "Tarvo.drop_bad_edge": "true", ...}); "reco": one dict per reconstructor in the order they
    are applied (name, class, feature, hit_property, pmt_type, table: its class's first table
    file); "tables": every table file named, resolved against the settings file's directory;
    "table_keys": (key path, file) for every key that names a table file, as the extractors
    and the classes declare them ([("extractors.channels.table", ...), ...]).

Raises
------
RuntimeError
    The file cannot be read as YAML.)doc");

    register_loaded_settings(m);
}

namespace {

/// `bytes`, or None for a file that could not be read.
py::object content(const tessel::FileText& text) {
    if (!text.text) {
        return py::none();
    }
    return py::bytes(*text.text);
}

/// `Class.from_loaded(settings)`: the class built from settings loaded already.
template <class Class>
void add_from_loaded(py::module_& m, const char* name, const char* doc) {
    py::reinterpret_borrow<py::class_<Class>>(m.attr(name))
        .def_static(
            "from_loaded",
            [](const tessel::LoadedSettings& settings) {
                return std::make_unique<Class>(settings);
            },
            py::arg("settings"), doc);
}

}  // namespace

void register_loaded_settings(py::module_& m) {
    using tessel::LoadedSettings;
    py::class_<LoadedSettings> cls(
        m, "LoadedSettings",
        R"doc(A settings file read once, with each table file it names read the first time it is used.

What a program builds from one settings file (the check, a summary, a FeatureExtractor, a
HitMaker, a ChargeReconstruction) is built from one LoadedSettings through the from_loaded
methods, and no file is opened twice.  Building reads the settings exactly as the constructors
from a path do, and raises the same errors.)doc");
    cls.def(py::init([](const SettingsPath& settings, std::optional<py::bytes> text) {
                if (text) {
                    return std::make_unique<LoadedSettings>(settings.path, std::string(*text));
                }
                return std::make_unique<LoadedSettings>(settings.path);
            }),
            py::arg("settings"), py::arg("text") = py::none(), R"doc(Read a settings file.

A file that cannot be read or parsed is no error here: check() reports it, and building from it
raises what the constructors from its path raise.

Parameters
----------
settings : str, bytes or os.PathLike
    Path to the settings file.
text : bytes, optional
    The settings' content (a copy kept with a run's results), taken as the content of
    ``settings``, which is then not read: table names still resolve against its folder.)doc")
        .def_property_readonly(
            "file", [](const LoadedSettings& self) { return file_name(self.file().native()); },
            "The settings file, as given.")
        .def_property_readonly(
            "text", [](const LoadedSettings& self) { return content(self.text()); },
            "The settings file's bytes, or None when it could not be read.")
        .def_property_readonly(
            "tables",
            [](const LoadedSettings& self) {
                py::dict out;
                for (const auto& [name, text] : self.tables()) {
                    out[file_name(name.native())] = content(*text);
                }
                return out;
            },
            "The table files read so far, by name resolved against the settings file's folder, in "
            "the order first read: their bytes, or None for one that could not be read.")
        .def(
            "check", [](const LoadedSettings& self) { return tessel::check_settings(self); },
            "check_settings of these settings, reading every table file it names.")
        .def(
            "summary",
            [](const LoadedSettings& self) {
                return summary_dict(tessel::summarize_settings(self));
            },
            "summarize_settings of these settings.")
        .def("__repr__", [](const LoadedSettings& self) {
            return shown("<LoadedSettings " + self.file().string() + ">");
        });

    add_from_loaded<tessel::FeatureExtractor>(
        m, "FeatureExtractor",
        "A FeatureExtractor built from settings loaded already (LoadedSettings).");
    add_from_loaded<tessel::HitMaker>(
        m, "HitMaker",
        "A HitMaker with the reconstructors of settings loaded already (LoadedSettings).");
    add_from_loaded<tessel::ChargeReconstruction>(
        m, "ChargeReconstruction",
        "A ChargeReconstruction built from settings loaded already (LoadedSettings): its "
        "FeatureExtractor, then its HitMaker, each table file read once for both.");
}
