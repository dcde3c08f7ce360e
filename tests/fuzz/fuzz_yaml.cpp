// The YAML settings view over arbitrary files.  Properties: loading either succeeds or fails
// with the loading error; every listed key is contained and can be indexed (but a null key,
// listed as "null"); reading a value
// twice gives the same outcome; and reads never change the document (the keys listed before
// and after a full walk are the same).

#include <cstddef>
#include <cstdint>
#include <exception>
#include <ios>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel/settings.hpp"
#include "tessel/yaml_accessor.hpp"

namespace {

using tessel::Settings;
using tessel::fuzz::require;

/// The outcome of one typed read: the value's text, or the error's message.
template <class T>
std::string read(const Settings& node) {
    try {
        if constexpr (std::is_same_v<T, std::string>) {
            return "value " + static_cast<std::string>(node);
        } else {
            return "value " + std::to_string(static_cast<T>(node));
        }
    } catch (const std::invalid_argument& e) {
        return std::string("error ") + e.what();
    }
}

std::string read_all(const Settings& node) {
    return read<std::string>(node) + "|" + read<int>(node) + "|" + read<double>(node) + "|" +
           read<bool>(node);
}

/// Walks the document below `node` (a bounded number of nodes), checking each step; appends
/// what it saw to `trace`.
void walk(const Settings& node, int depth, std::size_t& budget, std::string& trace) {
    if (budget == 0 || depth > 8) {
        return;
    }
    --budget;
    trace += read_all(node);
    for (const std::string& key : node.keys()) {
        // A null key is listed as "null" but has no text to be found by.
        const bool contained = node.contains(key);
        require(contained || key == "null", "a listed key is contained");
        trace += "/" + key;
        if (contained) {
            walk(node[key], depth + 1, budget, trace);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = tessel::fuzz::write_file(
        "view.yaml", std::string_view(reinterpret_cast<const char*>(data), size));
    std::optional<Settings> root;
    try {
        root.emplace(Settings::from_file(file));
    } catch (const std::ios_base::failure& e) {
        require(std::string_view(e.what()).starts_with("Failed to load yaml file "),
                "a load failure names the file");
        return 0;
    }
    const std::vector<std::string> keys = root->keys();
    std::string first;
    std::string second;
    std::size_t budget = 64;
    walk(*root, 0, budget, first);
    budget = 64;
    walk(*root, 0, budget, second);
    require(first == second, "a second walk reads what the first read");
    require(keys == root->keys(), "reads leave the document unchanged");
    require(!root->contains("\x01missing key\x02"), "a key not in the document is not contained");
    return 0;
}
