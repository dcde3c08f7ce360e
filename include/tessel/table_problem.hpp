#pragma once

#include <cstddef>
#include <string>

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

}  // namespace tessel
