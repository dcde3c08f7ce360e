#pragma once

// Numbers of a YAML scalar read the same whatever the program's global C++ locale: yaml-cpp's
// own conversion reads them through a stream of the global locale, so that a program that set
// one with a decimal comma could not read "1.5".

#include <yaml-cpp/yaml.h>

#include <ios>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <type_traits>

namespace tessel::yaml {

/// The value of `node` as the number type T, as `node.as<T>()` reads it in the classic locale:
/// the whole text (trailing blanks allowed), integers in the base their prefix gives (0x, 0),
/// and for floating point also the YAML words for infinity and NaN.  Throws what `as<T>()`
/// throws: YAML::InvalidNode for a missing node, YAML::TypedBadConversion<T> otherwise.
template <class T>
T number(const YAML::Node& node) {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    const YAML::Mark mark = node.Mark();  // throws YAML::InvalidNode for a missing node
    if (!node.IsScalar()) {
        throw YAML::TypedBadConversion<T>(mark);
    }
    const std::string& text = node.Scalar();
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    stream.unsetf(std::ios::dec);
    if (!(std::is_unsigned_v<T> && stream.peek() == '-')) {
        T value{};
        if ((stream >> std::noskipws >> value) && (stream >> std::ws).eof()) {
            return value;
        }
    }
    if constexpr (std::is_floating_point_v<T>) {
        for (const char* word : {".inf", ".Inf", ".INF"}) {
            if (text == word || text == std::string("+") + word) {
                return std::numeric_limits<T>::infinity();
            }
            if (text == std::string("-") + word) {
                return -std::numeric_limits<T>::infinity();
            }
        }
        if (text == ".nan" || text == ".NaN" || text == ".NAN") {
            return std::numeric_limits<T>::quiet_NaN();
        }
    }
    throw YAML::TypedBadConversion<T>(mark);
}

}  // namespace tessel::yaml
