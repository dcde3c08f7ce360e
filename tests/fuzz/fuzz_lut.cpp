// The LUT file parser and lookup.  The input is a LUT file.  Properties: loading either
// succeeds or fails with one of the parser's errors; and where an independent reading of the
// file finds its points unambiguously, the table answers at each of its own points with that
// point's value (exactly at the first point, to rounding of the interpolation elsewhere) and
// between two neighbouring points with a value between theirs.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/lut_reco.hpp"

namespace {

using tessel::fuzz::require;

struct Point {
    double x;
    double y;
    double sigma;
};

/// One plain decimal number ([sign] digits [. digits] [e [sign] digits]) that strtod reads in
/// full to a finite value, or nothing.  Anything fancier (hexadecimal, inf, nan, a trailing
/// letter) is left to the parser alone.
std::optional<double> plain_number(const std::string& token) {
    if (token.empty() || token.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (end != token.c_str() + token.size() || errno != 0 || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

/// The points of `text` when every line is either skipped by the format (empty, or '#' first)
/// or exactly three plain numbers separated by blanks; nothing otherwise.
std::optional<std::vector<Point>> independent_reading(std::string_view text) {
    std::vector<Point> points;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string line(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::vector<std::string> tokens;
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t first = line.find_first_not_of(' ', at);
            if (first == std::string::npos) {
                break;
            }
            const std::size_t last = std::min(line.find(' ', first), line.size());
            tokens.push_back(line.substr(first, last - first));
            at = last;
        }
        if (tokens.size() != 3) {
            return std::nullopt;
        }
        const auto x = plain_number(tokens[0]);
        const auto y = plain_number(tokens[1]);
        const auto sigma = plain_number(tokens[2]);
        if (!x || !y || !sigma) {
            return std::nullopt;
        }
        points.push_back({*x, *y, *sigma});
    }
    return points;
}

/// The charge the table gives at `x` (NaN when it gives none).
double lookup(const tessel::LUTReco& reco, double x) {
    tessel::HitFeatures features;
    features.set_adc_sample(x);
    tessel::Hit hit;
    reco.reconstruct(features, hit);
    return hit.get_charge_uncertainty() < std::numeric_limits<double>::infinity()
               ? hit.get_charge()
               : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto file = tessel::fuzz::write_file("table.txt", text);
    std::optional<tessel::LUTReco> reco;
    try {
        reco.emplace(file, "adc_sample", "charge", true, -1);
    } catch (const std::runtime_error& e) {
        const std::string_view what = e.what();
        require(what.starts_with("Invalid line in LUT file: ") ||
                    what == "LUT file must contain at least two data points.",
                "a LUT file is refused with one of the parser's errors");
        return 0;
    }
    const auto points = independent_reading(text);
    if (!points) {
        return 0;
    }
    require(points->size() >= 2, "a table has at least two points");
    std::vector<Point> sorted = *points;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Point& a, const Point& b) { return a.x < b.x; });
    // Differences that overflow make the interpolation meaningless at this scale.
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (!std::isfinite(sorted[i].x - sorted[i - 1].x) ||
            !std::isfinite(sorted[i].y - sorted[i - 1].y)) {
            return 0;
        }
    }
    // Rounding of (y1 - y0) * t + y0 is below 1.5 epsilon of |y0| + |y1|.
    double scale = 0.0;
    for (const Point& p : sorted) {
        scale = std::max(scale, std::abs(p.y));
    }
    const double tolerance = 4 * std::numeric_limits<double>::epsilon() * scale;
    // The values of the points at `x`: any of them may answer there (their order is not kept).
    const auto values_at = [&](double x) {
        std::vector<double> values;
        for (const Point& q : sorted) {
            if (q.x == x) {
                values.push_back(q.y);
            }
        }
        return values;
    };
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const double x = sorted[i].x;
        const double value = lookup(*reco, x);
        if (std::isnan(value)) {
            continue;  // an uncertainty that gives no update (its square overflows)
        }
        const std::vector<double> own = values_at(x);
        // At the first x the answer is t = 0, exactly the point; elsewhere t = 1.
        const bool first = x == sorted.front().x;
        require(std::any_of(own.begin(), own.end(),
                            [&](double y) {
                                return first ? value == y : std::abs(value - y) <= tolerance;
                            }),
                "the table answers at its own point with that point's value");
        if (i == 0 || sorted[i - 1].x == x) {
            continue;
        }
        const double previous = sorted[i - 1].x;
        const double mid = previous + (x - previous) / 2;
        const double between = lookup(*reco, mid);
        if (std::isnan(between) || !(mid > previous && mid < x)) {
            continue;
        }
        std::vector<double> ends = values_at(previous);
        ends.insert(ends.end(), own.begin(), own.end());
        const auto [lo, hi] = std::minmax_element(ends.begin(), ends.end());
        require(between >= *lo - tolerance && between <= *hi + tolerance,
                "between two points the table stays between their values");
    }
    return 0;
}
