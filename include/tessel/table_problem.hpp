#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel {

/// Row problems the settings check reports per table file before the rest are only counted.
inline constexpr std::size_t kMaxRowProblems = 20;

/// One mistake in a table file (a lookup table, a channel table), as the table's reader finds
/// it: what the settings check says of it, and whether the library refuses the table for it.
struct TableProblem {
    /// 1-based line; 0 for the file as a whole.
    int line = 0;
    std::string expected;
    std::string found;
    std::string hint = {};
    /// The library's error for it; empty when the library reads the table anyway.
    std::string refusal = {};
    /// Among refusals, the library reports the one of the lowest rank first (then in order).
    int rank = 0;
};

/// Throws, as a `std::runtime_error`, the library's error for the refusal it reports first
/// among `problems`; returns when the library reads the table anyway.
inline void throw_first_refusal(const std::vector<TableProblem>& problems) {
    const TableProblem* first = nullptr;
    for (const auto& problem : problems) {
        if (!problem.refusal.empty() && (first == nullptr || problem.rank < first->rank)) {
            first = &problem;
        }
    }
    if (first != nullptr) {
        throw std::runtime_error(first->refusal);
    }
}

}  // namespace tessel
