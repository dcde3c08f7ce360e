#pragma once

// Wording shared by the readers that report problems: quoting, lists, suggestions.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::text {

/// `text` in double quotes, control characters escaped.
inline std::string in_quotes(std::string_view text) {
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

/// `text` without the blanks (spaces, tabs, carriage returns) at its ends.
inline std::string_view trim(std::string_view text) noexcept {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

inline std::string in_quotes_list(const std::vector<std::string_view>& words,
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

/// Edit distance (insertions, deletions, substitutions, swaps of neighbours), ignoring case.
inline std::size_t distance(std::string_view a, std::string_view b) {
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
inline std::optional<std::string_view> closest(std::string_view word,
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

inline std::string did_you_mean(std::string_view word,
                                const std::vector<std::string_view>& candidates) {
    const auto best = closest(word, candidates);
    return best ? "did you mean " + in_quotes(*best) + "?" : std::string();
}

}  // namespace tessel::text
