#pragma once

// Inner loops of waveform extraction.  They read 16-bit samples and never allocate.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessel::waveform {

/// Exact integer sum of the samples.
[[nodiscard]] std::uint64_t sample_sum(std::span<const std::uint16_t> samples) noexcept;

/// Sum of (sample - baseline), each term and each partial sum rounded to double in sample
/// order, starting from +0.0.
[[nodiscard]] double integral_in_order(std::span<const std::uint16_t> samples,
                                       float baseline) noexcept;

/// Whether every term and every partial sum of the in-order integral of `count` samples is
/// exactly representable, so that the integral equals `sample_sum - count * baseline` exactly.
[[nodiscard]] bool integral_is_exact(std::size_t count, float baseline) noexcept;

/// Same bits as `integral_in_order`, through the integer sum whenever that is exact.
[[nodiscard]] double integral(std::span<const std::uint16_t> samples, float baseline) noexcept;

/// Index i of the largest difference samples[i + 1] - samples[i], the lowest index on ties.
/// Needs at least 2 samples.  Always below samples.size() - 1, even if another thread changes
/// the samples meanwhile.
[[nodiscard]] std::size_t steepest_rise(std::span<const std::uint16_t> samples) noexcept;

/// Index of the first sample at or after `from` greater than `level`; samples.size() if none.
[[nodiscard]] std::size_t first_above(std::span<const std::uint16_t> samples, std::size_t from,
                                      std::uint16_t level) noexcept;

/// Index of the first sample at or after `from` not greater than `level`; samples.size() if
/// none.
[[nodiscard]] std::size_t first_not_above(std::span<const std::uint16_t> samples, std::size_t from,
                                          std::uint16_t level) noexcept;

/// What one pass over the samples finds: their exact sum, and their largest rise
/// max(0, samples[i + 1] - samples[i]) where `steepest_rise` below uses it (0 otherwise).
struct SumAndRise {
    std::uint64_t sum;
    std::uint16_t largest_rise;
};
[[nodiscard]] SumAndRise sum_and_largest_rise(std::span<const std::uint16_t> samples) noexcept;

/// The bits of `integral`, given the samples' exact sum.
[[nodiscard]] double integral_from_sum(std::uint64_t sum, std::span<const std::uint16_t> samples,
                                       float baseline) noexcept;

/// The bits of `steepest_rise`, given the largest rise found by `sum_and_largest_rise` over the
/// same samples (at least 2).  Always below samples.size() - 1, even for a `largest_rise` that
/// no difference has (the samples changed in between).
[[nodiscard]] std::size_t steepest_rise(std::span<const std::uint16_t> samples,
                                        std::uint16_t largest_rise) noexcept;

/// Largest k for `unit_spaced_vertex`.
inline constexpr std::size_t kUnitSpacedVertexMax = (std::size_t{1} << 26U) - 1;

/// x of the vertex of the parabola through (k - 1, y1), (k, y2), (k + 1, y3), for
/// 1 <= k <= kUnitSpacedVertexMax: the bits of the general three-point fit's extremum, with one
/// division where that has four.
[[nodiscard]] double unit_spaced_vertex(std::size_t k, double y1, double y2, double y3) noexcept;

}  // namespace tessel::waveform
