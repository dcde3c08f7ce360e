#include "tessel/lut_reco.hpp"

#include "tessel/reconstructor_class.hpp"
#include "tessel/text.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace tessel {

LookupTable::LookupTable(std::vector<LookupPoint> data_points) : points_(std::move(data_points)) {
    if (points_.size() < 2) {
        throw std::invalid_argument("data_points must have at least two elements.");
    }
    // A NaN x has no place in an ordering: sorting with it breaks the comparison's strict weak
    // order (undefined behaviour) and no query could land on it.  LUT files cannot produce one
    // (stream extraction does not read "nan"), so only a table built in code can hit this.
    for (const auto& point : points_) {
        if (std::isnan(lut_get_x(point))) {
            throw std::invalid_argument("data_points must not contain a NaN x.");
        }
    }
    // Not stable: points sharing an x keep no particular order.  Repeated x values are kept.
    std::sort(points_.begin(), points_.end(), [](const LookupPoint& a, const LookupPoint& b) {
        return lut_get_x(a) < lut_get_x(b);
    });
}

bool LookupTable::in_range(double x) const noexcept {
    return lut_get_x(points_.front()) <= x && x < lut_get_x(points_.back());
}

std::pair<double, double> LookupTable::lookup_linear(double x) const noexcept {
    const auto found = std::lower_bound(
        points_.begin(), points_.end(), x,
        [](const LookupPoint& point, double query) { return lut_get_x(point) < query; });
    // The segment around x: the first one at or below the first x (and for NaN, which compares
    // false everywhere), the last one beyond the last x, otherwise the one ending at the first
    // point not below x, so that a tabulated x answers with its own point (t = 1).
    auto p1 = found;
    if (found == points_.begin()) {
        p1 = points_.begin() + 1;
    } else if (found == points_.end()) {
        p1 = points_.end() - 1;
    }
    const LookupPoint& lo = *(p1 - 1);
    const LookupPoint& hi = *p1;
    const double x0 = lut_get_x(lo);
    const double x1 = lut_get_x(hi);
    double t = 0.0;
    if (x1 != x0) {
        t = (x - x0) / (x1 - x0);
    } else {
        // Zero-width segment: repeated x values at an end of the table (an interior segment
        // always has x0 < x <= x1).  It has no slope, so the curve is taken flat beyond it: a
        // query at or below a repeated first x answers with the outer first point (t = 0), a
        // query beyond a repeated last x with the outer last point (t = 1), never 0/0.  NaN is
        // carried through t so that it still yields NaN.
        t = x > x0 ? 1.0 : (x <= x0 ? 0.0 : x);
    }
    const double value = (hi[1] - lo[1]) * t + lo[1];
    // Variance sigma0^2 (1-t)^2 + sigma1^2 t^2, associated as ((s0*s0)*(1-t))*(1-t) +
    // ((s1*s1)*t)*t.
    const double u = 1.0 - t;
    const double variance = ((lo[2] * lo[2]) * u) * u + ((hi[2] * hi[2]) * t) * t;
    return {value, std::sqrt(variance)};
}

struct LUTReco::Impl {
    LookupTable table;
    bool extrapolate;
    std::int32_t pmt_type;
    Feature feature;
    HitProperty property;

    static LookupTable load_lookup_table(const std::filesystem::path& path,
                                         const FileText& content);
};

// Lines end at '\n'; empty lines and lines whose very first character is '#' are skipped; any
// other line must begin with three numbers (x, y, uncertainty of y), and whatever follows them
// is ignored by the library (a trailing '\r' included) but reported to the check.  Numbers are
// read in the classic locale, whatever the program's global locale is.
std::optional<LookupTable> LookupTable::parse(std::string_view text,
                                              std::vector<TableProblem>& problems,
                                              std::size_t max_row_problems) {
    using text::in_quotes;
    using text::trim;
    const std::string expected = "three numbers (x, value, uncertainty) separated by blanks";
    std::vector<LookupPoint> points;
    std::size_t bad = 0;
    bool refused = false;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        const std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto report = [&](TableProblem problem) {
            refused = refused || !problem.refusal.empty();
            if (++bad <= max_row_problems) {
                problems.push_back(std::move(problem));
            }
        };
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        LookupPoint point{};
        fields >> point[0] >> point[1];
        const auto third = fields.tellg();
        if (!(fields >> point[2])) {
            const std::string_view trimmed = trim(line);
            std::string hint;
            if (trimmed.empty()) {
                hint = "a line of blanks is not skipped; leave it empty";
            } else if (trimmed.front() == '#') {
                hint = "a comment's \"#\" must be the first character of its line";
            } else if (line.find(',') != std::string::npos) {
                hint = "separate the numbers by blanks and write decimal points";
            }
            report({number, expected, in_quotes(line), std::move(hint),
                    "Invalid line in LUT file: " + line});
            continue;
        }
        points.push_back(point);
        const auto after = fields.tellg();
        fields >> std::ws;
        if (!fields.eof()) {
            const auto rest = std::string(trim(line.substr(static_cast<std::size_t>(after))));
            const auto number_text = std::string(trim(line.substr(
                static_cast<std::size_t>(third), static_cast<std::size_t>(after - third))));
            std::string hint;
            if (rest.front() == ',' || rest.front() == '.') {
                hint = "a decimal comma? " + in_quotes(number_text + rest) + " reads as " +
                       in_quotes(number_text) + "; write decimal points";
            }
            report({number, expected + ", then only white space",
                    in_quotes(line) + " (" + in_quotes(rest) + " after the third number)",
                    std::move(hint)});
        }
    }
    if (bad > max_row_problems) {
        problems.push_back({0, "well-formed rows",
                            std::to_string(bad - max_row_problems) + " more malformed rows"});
    }
    if (points.size() < 2) {
        problems.push_back({0, "at least two data points", std::to_string(points.size()), "",
                            "LUT file must contain at least two data points.", 1});
        return std::nullopt;
    }
    if (refused) {
        return std::nullopt;
    }
    return LookupTable(std::move(points));
}

LookupTable LUTReco::Impl::load_lookup_table(const std::filesystem::path& path,
                                             const FileText& content) {
    if (!content.text) {
        content.throw_unread(path, "LUT file", false);
    }
    std::vector<TableProblem> problems;
    auto table = LookupTable::parse(*content.text, problems, problems.max_size());
    throw_first_refusal(problems);
    return std::move(*table);
}

// The hit property is checked first, then the feature name, and only then is the file read.
LUTReco::LUTReco(std::filesystem::path lut_file, std::string feature, std::string hit_property,
                 bool extrapolate, std::int32_t pmt_type)
    : LUTReco(lut_file, read_whole_file(lut_file), std::move(feature), std::move(hit_property),
              extrapolate, pmt_type) {}

LUTReco::LUTReco(const std::filesystem::path& lut_file, const FileText& content,
                 std::string feature, std::string hit_property, bool extrapolate,
                 std::int32_t pmt_type) {
    const HitProperty property = hit_property_from_name(hit_property);
    const Feature which = feature_from_name(feature);
    LookupTable table = Impl::load_lookup_table(lut_file, content);
    impl_ = std::make_unique<Impl>(Impl{std::move(table), extrapolate, pmt_type, which, property});
}

LUTReco::~LUTReco() = default;

namespace {

const KeyTable& lut_reco_keys() {
    static const KeyTable keys{
        reco_keys::feature(),
        reco_keys::hit_property(),
        reco_keys::pmt_type(),
        {.name = "extrapolate",
         .type = ValueType::boolean,
         .required = true,
         .meaning = "whether x outside [first x, last x) is acted on, by extending the end "
                    "segments"},
        {.name = "lut_file",
         .type = ValueType::lut_file,
         .required = true,
         .meaning = "the lookup table, relative to the settings file"},
    };
    return keys;
}

// Keys are read one after the other in this fixed order; "lut_file" is resolved against the
// settings file's directory.
std::unique_ptr<Reconstructor> build(SettingsReader& instance) {
    const auto pmt_type = instance.integer("pmt_type");
    const auto extrapolate = instance.boolean("extrapolate");
    const auto hit_property = instance.text("hit_property");
    const auto feature = instance.text("feature");
    const auto lut_file = instance.file("lut_file");
    if (instance.checking()) {
        if (const auto text = instance.table_text("lut_file", "lookup-table file")) {
            std::vector<TableProblem> problems;
            (void)LookupTable::parse(*text, problems, kMaxRowProblems);
            instance.report_table("lut_file", problems);
        }
        return nullptr;
    }
    try {
        return std::make_unique<LUTReco>(lut_file, *instance.table_file("lut_file"), feature,
                                         hit_property, extrapolate,
                                         static_cast<std::int32_t>(pmt_type));
    } catch (const std::runtime_error&) {
        instance.explain_unnamed_file("lut_file");
    }
}

}  // namespace

ReconstructorClass LUTReco::settings_class() {
    return {"LUTReco", &lut_reco_keys(), build,
            "value and uncertainty interpolated linearly in a lookup table"};
}

void LUTReco::reconstruct(const HitFeatures& features, Hit& hit) const {
    apply(FeatureRecord::of(features), hit);
}

void LUTReco::apply(const FeatureRecord& record, Hit& hit) const noexcept {
    const Impl& impl = *impl_;
    if (!record.has(feature_flag(impl.feature))) {
        return;
    }
    if (impl.pmt_type != -1 && record.has(HitFeatures::PMT_TYPE) &&
        record.pmt_type != impl.pmt_type) {
        return;
    }
    const double x = record.value(impl.feature);
    if (!impl.extrapolate && !impl.table.in_range(x)) {
        return;
    }
    const auto [value, uncertainty] = impl.table.lookup_linear(x);
    update_hit(hit, impl.property, value, uncertainty);
}

}  // namespace tessel
