#include "bindings.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tessel/channel_linear_reco.hpp"

namespace {

py::array_t<std::int32_t> int32_array(const std::vector<std::int32_t>& values) {
    return py::array_t<std::int32_t>(static_cast<py::ssize_t>(values.size()), values.data());
}

}  // namespace

void register_channels(py::module_& m) {
    using tessel::ChannelTable;
    using tessel::FeatureExtractor;
    py::class_<ChannelTable>(m, "ChannelTable",
                             R"doc(A channel table: the PMT type and the calibration columns of
every channel, read from a CSV file with a header line (lines starting with '#' and blank lines
are skipped; columns "channel" and "pmt_type" are required, every other column holds numbers).)doc")
        .def(py::init<const std::filesystem::path&>(), py::arg("path"),
             R"doc(Reads a channel table.

Parameters
----------
path : str, bytes or os.PathLike
    The table file.

Raises
------
RuntimeError
    The file cannot be read, or a line is malformed (the message names file, line and column).)doc")
        .def_property_readonly(
            "file", [](const ChannelTable& t) { return t.file(); }, "The table file.")
        .def_property_readonly(
            "channels", [](const ChannelTable& t) { return int32_array(t.channels()); },
            "The channel of each row, in file order (a new int32 array).")
        .def_property_readonly(
            "pmt_types", [](const ChannelTable& t) { return int32_array(t.pmt_types()); },
            "The PMT type of each row (a new int32 array).")
        .def("__len__", &ChannelTable::size)
        .def_static(
            "calibration_columns",
            [](const std::string& prefix) {
                const auto names = tessel::ChannelLinearReco::calibration_columns(prefix);
                return std::vector<std::string>(names.begin(), names.end());
            },
            py::arg("prefix"),
            "The five columns of a line calibration that a ChannelLinearReco with columns: PREFIX "
            "reads, in the order slope, intercept, slope_uncertainty, intercept_uncertainty, "
            "covariance.");

    // Added to the class bound with the pipeline.
    auto extractor =
        py::reinterpret_borrow<py::class_<FeatureExtractor>>(m.attr("FeatureExtractor"));
    extractor.def_property_readonly(
        "channel_table",
        [](const FeatureExtractor& e) -> std::optional<ChannelTable> {
            const ChannelTable* table = e.channel_table();
            return table == nullptr ? std::nullopt : std::optional<ChannelTable>(*table);
        },
        "The channel table of the extraction (settings extractors.channels.table), or None.");
    extractor.def_property_readonly(
        "unknown_channels",
        [](const FeatureExtractor& e) -> std::optional<std::string> {
            const tessel::ChannelTypes* types = e.channel_types();
            if (types == nullptr) {
                return std::nullopt;
            }
            return types->unknown_channels() == tessel::UnknownChannels::drop ? "drop" : "error";
        },
        R"doc(What extraction does with a trigger on a channel missing from the channel table:
"error" (the call fails naming the channel) or "drop" (the trigger gives no record); None without
a channel table.)doc");
}
