#include "waveform_kernels.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The loops below are written with fixed-width inner blocks so that GCC vectorises them with
// plain SSE2 at -O2 as well as at -O3; they need no target flags.  The edge search uses SSE2
// intrinsics (the x86-64 baseline) where available, and the blocked loops elsewhere.

namespace tessel::waveform {

namespace {

/// Samples summed side by side; each lane is a 32-bit accumulator.
constexpr std::size_t kSumLanes = 16;
/// Rounds of kSumLanes samples summed before the lanes are folded into the 64-bit total:
/// a lane then holds at most 4096 * 65535 < 2^28 and the folded lanes less than 2^32.
constexpr std::size_t kSumRounds = 4096;

/// Differences examined per block by `steepest_rise`: wide blocks while they fit, then narrow
/// ones.  A block costs one horizontal reduction, which wide blocks spread over more samples.
constexpr std::size_t kNarrowBlock = 16;
constexpr std::size_t kWideBlock = 64;

inline std::int32_t difference(const std::uint16_t* w, std::size_t i) noexcept {
    return static_cast<std::int32_t>(w[i + 1]) - static_cast<std::int32_t>(w[i]);
}

/// Rise max(0, w[j + 1] - w[j]): the rise of a falling step is 0.  Written as max(a, b) - a,
/// which GCC turns into one saturating 16-bit subtraction (SSE2).
inline std::uint16_t rise(std::uint16_t from, std::uint16_t to) noexcept {
    return static_cast<std::uint16_t>(std::max(from, to) - from);
}

/// Largest rise of the `Width` differences that start at w[0]; reads w[0] to w[Width].
template <std::size_t Width>
inline std::uint16_t block_rise_max(const std::uint16_t* w) noexcept {
    const std::uint16_t* next = w + 1;
    std::uint16_t best = 0;
    // Without this GCC -O3 unrolls the loop completely inside the caller's loop before it
    // vectorises, and then leaves the unrolled max reduction scalar.
#pragma GCC unroll 1
    for (std::size_t j = 0; j < Width; ++j) {
        const std::uint16_t r = rise(w[j], next[j]);
        best = best > r ? best : r;
    }
    return best;
}

/// Index within the block of `Width` differences that starts at w[0] of the first rise equal
/// to `target`, or `Width - 1` if there is none.  Branch-free, so that it vectorises.
template <std::size_t Width>
inline std::size_t block_first_rise(const std::uint16_t* w, std::uint16_t target) noexcept {
    // Without a match (the samples changed since `target` was found) the last index stands in,
    // so that the result stays inside the block whatever the memory holds.
    constexpr auto kNone = static_cast<std::int16_t>(Width - 1);
    const std::uint16_t* next = w + 1;
    std::int16_t first = kNone;
#pragma GCC unroll 1
    for (std::size_t j = 0; j < Width; ++j) {
        const auto index = static_cast<std::int16_t>(j);
        first = std::min(first, rise(w[j], next[j]) == target ? index : kNone);
    }
    return static_cast<std::size_t>(first);
}

/// Index of the first largest difference in one plain pass.
std::size_t first_largest_difference(const std::uint16_t* w, std::size_t diffs) noexcept {
    std::size_t best_index = 0;
    std::int32_t best = difference(w, 0);
    for (std::size_t i = 1; i < diffs; ++i) {
        const std::int32_t d = difference(w, i);
        const bool greater = d > best;  // selects rather than branches: noise is unpredictable
        best_index = greater ? i : best_index;
        best = greater ? d : best;
    }
    return best_index;
}

#if defined(__SSE2__)

/// Differences per SSE2 vector.
constexpr std::size_t kVectorDiffs = 8;

/// Rises max(0, w[j + 1] - w[j]) of the 8 differences that start at w[0]; reads w[0] to w[8].
inline __m128i vector_rise(const std::uint16_t* w) noexcept {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 1));
    return _mm_subs_epu16(next, cur);
}

/// Largest rise of `diffs` >= 8 differences.  The lanes hold rises biased by 0x8000, so that
/// the signed 16-bit maximum orders them as unsigned values.
std::uint16_t largest_rise(const std::uint16_t* w, std::size_t diffs) noexcept {
    const __m128i bias = _mm_set1_epi16(static_cast<std::int16_t>(0x8000));
    __m128i acc0 = bias;
    __m128i acc1 = bias;
    __m128i acc2 = bias;
    __m128i acc3 = bias;
    std::size_t i = 0;
    for (; i + 4 * kVectorDiffs <= diffs; i += 4 * kVectorDiffs) {
        acc0 = _mm_max_epi16(acc0, _mm_xor_si128(vector_rise(w + i), bias));
        acc1 = _mm_max_epi16(acc1, _mm_xor_si128(vector_rise(w + i + kVectorDiffs), bias));
        acc2 = _mm_max_epi16(acc2, _mm_xor_si128(vector_rise(w + i + 2 * kVectorDiffs), bias));
        acc3 = _mm_max_epi16(acc3, _mm_xor_si128(vector_rise(w + i + 3 * kVectorDiffs), bias));
    }
    for (; i + kVectorDiffs <= diffs; i += kVectorDiffs) {
        acc0 = _mm_max_epi16(acc0, _mm_xor_si128(vector_rise(w + i), bias));
    }
    if (i < diffs) {
        // The last differences as the vector that ends with the last one (overlapping is
        // harmless for a maximum).
        acc1 = _mm_max_epi16(acc1, _mm_xor_si128(vector_rise(w + diffs - kVectorDiffs), bias));
    }
    __m128i acc = _mm_max_epi16(_mm_max_epi16(acc0, acc1), _mm_max_epi16(acc2, acc3));
    acc = _mm_max_epi16(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
    acc = _mm_max_epi16(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
    acc = _mm_max_epi16(acc, _mm_shufflelo_epi16(acc, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint16_t>(static_cast<unsigned>(_mm_cvtsi128_si32(acc)) ^ 0x8000U);
}

/// Index of the first of `diffs` >= 8 differences whose rise is `target`, which one of them
/// has (if none has, an index below `diffs`).
std::size_t first_rise(const std::uint16_t* w, std::size_t diffs, std::uint16_t target) noexcept {
    const __m128i wanted = _mm_set1_epi16(static_cast<std::int16_t>(target));
    const auto match = [&](std::size_t start) {
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi16(vector_rise(w + start), wanted)));
    };
    std::size_t i = 0;
    // Four vectors per test while they fit.
    for (; i + 4 * kVectorDiffs <= diffs; i += 4 * kVectorDiffs) {
        const __m128i hit0 = _mm_cmpeq_epi16(vector_rise(w + i), wanted);
        const __m128i hit1 = _mm_cmpeq_epi16(vector_rise(w + i + kVectorDiffs), wanted);
        const __m128i hit2 = _mm_cmpeq_epi16(vector_rise(w + i + 2 * kVectorDiffs), wanted);
        const __m128i hit3 = _mm_cmpeq_epi16(vector_rise(w + i + 3 * kVectorDiffs), wanted);
        const __m128i any = _mm_or_si128(_mm_or_si128(hit0, hit1), _mm_or_si128(hit2, hit3));
        if (_mm_movemask_epi8(any) != 0) {
            // The compare lanes narrowed to bytes: one bit per difference, in order.
            const auto low = static_cast<std::uint64_t>(
                static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(hit0, hit1))));
            const auto high = static_cast<std::uint64_t>(
                static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(hit2, hit3))));
            return i + static_cast<std::size_t>(std::countr_zero(low | (high << 16U)));
        }
    }
    for (; i + kVectorDiffs <= diffs; i += kVectorDiffs) {
        const unsigned mask = match(i);
        if (mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask)) / 2;
        }
    }
    // The match lies among the last differences; in the vector that ends with the last one,
    // the lanes already seen hold none, so its first match is the first overall.  Should the
    // samples have changed since `target` was found (another thread writing them), there may be
    // none: the mark of the last lane then stands in, so that the index stays inside the
    // waveform whatever the memory holds.
    const std::size_t last = diffs - kVectorDiffs;
    constexpr unsigned kLastLane = 1U << (2 * (kVectorDiffs - 1));
    return last + static_cast<std::size_t>(std::countr_zero(match(last) | kLastLane)) / 2;
}

/// Adds the four 32-bit lanes of `v` (whose sum must fit 32 bits).
inline std::uint32_t lane_sum(__m128i v) noexcept {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

/// Sum of the eight 16-bit lanes of `v`.
inline std::uint32_t sample_lane_sum(__m128i v) noexcept {
    const __m128i zero = _mm_setzero_si128();
    return lane_sum(_mm_add_epi32(_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero)));
}

#endif  // __SSE2__

/// Exponent of the largest power of two, at most 2^0, that divides the finite `value`.
int unit_exponent(float value) noexcept {
    if (value == 0.0F) {
        return 0;
    }
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t exponent_field = (bits >> 23U) & 0xFFU;
    std::uint32_t mantissa = bits & 0x7FFFFFU;
    int bit0_exponent = -149;  // subnormal: mantissa bit 0 weighs 2^-149
    if (exponent_field != 0) {
        mantissa |= 0x800000U;
        bit0_exponent = static_cast<int>(exponent_field) - 150;
    }
    return std::min(bit0_exponent + std::countr_zero(mantissa), 0);
}

}  // namespace

std::uint64_t sample_sum(std::span<const std::uint16_t> samples) noexcept {
    const std::uint16_t* w = samples.data();
    const std::size_t n = samples.size();
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (n - i >= kSumLanes) {
        const std::size_t rounds = std::min((n - i) / kSumLanes, kSumRounds);
        std::uint32_t lanes[kSumLanes] = {};
        for (std::size_t r = 0; r < rounds; ++r, i += kSumLanes) {
            for (std::size_t j = 0; j < kSumLanes; ++j) {
                lanes[j] += w[i + j];
            }
        }
        std::uint32_t folded = 0;
        for (std::size_t j = 0; j < kSumLanes; ++j) {
            folded += lanes[j];
        }
        total += folded;
    }
    for (; i < n; ++i) {
        total += w[i];
    }
    return total;
}

double integral_in_order(std::span<const std::uint16_t> samples, float baseline) noexcept {
    const auto base = static_cast<double>(baseline);
    double sum = 0.0;
    for (const std::uint16_t sample : samples) {
        sum += static_cast<double>(sample) - base;
    }
    return sum;
}

bool integral_is_exact(std::size_t count, float baseline) noexcept {
    // With q the largest power of two not above 1 that divides the baseline, every term
    // (sample - baseline) and every partial sum is a multiple of q of magnitude at most
    // count * (65535 + |baseline|).  A double holds every multiple of q below 2^53 * q exactly,
    // so then no addition rounds.  The bound is evaluated in double and compared with 2^52 * q:
    // its own two roundings cannot hide a factor of 2.
    // The common case first, in a few instructions: with 1 <= |baseline| < 2^16, q is at least
    // the baseline's last mantissa bit, 2^(e - 23) with e >= 0 its exponent, so 2^52 * q >=
    // 2^(29 + e) >= 2^29, above the bound 4096 * (65535 + 65536) < 2^29 for fewer than 4096
    // samples.  (NaN fails both comparisons.)
    const float magnitude = std::fabs(baseline);
    if (count < 4096 && magnitude >= 1.0F && magnitude < 65536.0F) {
        return true;
    }
    if (!std::isfinite(baseline)) {
        return false;
    }
    const double bound =
        static_cast<double>(count) * (65535.0 + std::fabs(static_cast<double>(baseline)));
    // 2^(52 + e) with e from -149 to 0 is a normal double: built from its exponent field.
    const auto limit = std::bit_cast<double>(
        static_cast<std::uint64_t>(1023 + 52 + unit_exponent(baseline)) << 52U);
    return bound < limit;
}

double integral(std::span<const std::uint16_t> samples, float baseline) noexcept {
    if (!integral_is_exact(samples.size(), baseline)) {
        return integral_in_order(samples, baseline);
    }
    // Exact case: the samples' sum (below 2^53), count * baseline (a multiple of q below
    // 2^53 * q) and their difference (the exact integral) are all representable, so this is
    // the in-order result.  A zero integral comes out as +0.0 there as here, because x - x is
    // +0.0 when rounding to nearest (count * baseline may be -0.0; 0.0 - -0.0 is +0.0).
    return integral_from_sum(sample_sum(samples), samples, baseline);
}

std::size_t steepest_rise(std::span<const std::uint16_t> samples) noexcept {
    const std::uint16_t* w = samples.data();
    const std::size_t diffs = samples.size() - 1;
#if defined(__SSE2__)
    if (diffs < kVectorDiffs) {
        return first_largest_difference(w, diffs);
    }
    // When any difference is positive the largest difference is the largest rise.
    const std::uint16_t top = largest_rise(w, diffs);
    if (top == 0) {
        // Nothing rises: a flat or falling waveform, where the differences' signs matter.
        return first_largest_difference(w, diffs);
    }
    return first_rise(w, diffs, top);
#else
    if (diffs < kNarrowBlock) {
        return first_largest_difference(w, diffs);
    }

    // When any difference is positive the largest difference is the largest rise, which the
    // blocks find in 16-bit lanes.  First pass: the block that first holds it (a later block
    // wins only with a strictly greater rise).
    std::uint16_t best = 0;
    std::size_t best_block = 0;
    bool best_is_wide = false;
    const auto examine = [&](std::size_t start, std::uint16_t block_best, bool wide) {
        const bool greater = block_best > best;
        best_block = greater ? start : best_block;
        best_is_wide = greater ? wide : best_is_wide;
        best = greater ? block_best : best;
    };
    std::size_t i = 0;
    for (; i + kWideBlock <= diffs; i += kWideBlock) {
        examine(i, block_rise_max<kWideBlock>(w + i), true);
    }
    for (; i + kNarrowBlock <= diffs; i += kNarrowBlock) {
        examine(i, block_rise_max<kNarrowBlock>(w + i), false);
    }
    if (i < diffs) {
        // The remaining differences are examined as the narrow block that ends with the last
        // one.  It overlaps blocks already seen, so it can only win with a value none of them
        // holds, which then lies in its new part: its first match is still the first overall.
        const std::size_t last = diffs - kNarrowBlock;
        examine(last, block_rise_max<kNarrowBlock>(w + last), false);
    }
    if (best == 0) {
        // Nothing rises: a flat or falling waveform, where the differences' signs matter.
        return first_largest_difference(w, diffs);
    }
    // Second pass, within one block: the first difference equal to the largest rise.
    return best_block + (best_is_wide ? block_first_rise<kWideBlock>(w + best_block, best)
                                      : block_first_rise<kNarrowBlock>(w + best_block, best));
#endif
}

namespace {

/// First index in [from, n) whose sample is above `level` (`Above`) or not above it, or n.
template <bool Above>
std::size_t first_by_level(const std::uint16_t* w, std::size_t n, std::size_t from,
                           std::uint16_t level) noexcept {
    std::size_t i = from;
#if defined(__SSE2__)
    // A sample is above `level` when the saturating difference sample - level is not zero.
    const __m128i wanted = _mm_set1_epi16(static_cast<std::int16_t>(level));
    const __m128i zero = _mm_setzero_si128();
    const auto flags = [&](std::size_t start) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + start));
        const __m128i not_above = _mm_cmpeq_epi16(_mm_subs_epu16(s, wanted), zero);
        return Above ? _mm_xor_si128(not_above, _mm_cmpeq_epi16(zero, zero)) : not_above;
    };
    // 16 samples' flags as one bit each, in order.
    const auto bits16 = [&](std::size_t start) {
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_packs_epi16(flags(start), flags(start + kVectorDiffs))));
    };
    // Four vectors per test while they fit.
    for (; i + 4 * kVectorDiffs <= n; i += 4 * kVectorDiffs) {
        if constexpr (Above) {
            // Any of the 32 above: some saturating difference is not zero.
            const auto excess = [&](std::size_t start) {
                return _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + start)),
                                      wanted);
            };
            const __m128i any = _mm_or_si128(
                _mm_or_si128(excess(i), excess(i + kVectorDiffs)),
                _mm_or_si128(excess(i + 2 * kVectorDiffs), excess(i + 3 * kVectorDiffs)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) == 0xFFFF) {
                continue;
            }
        }
        const __m128i f0 = flags(i);
        const __m128i f1 = flags(i + kVectorDiffs);
        const __m128i f2 = flags(i + 2 * kVectorDiffs);
        const __m128i f3 = flags(i + 3 * kVectorDiffs);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(f0, f1), _mm_or_si128(f2, f3))) != 0) {
            const auto low = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(f0, f1)));
            const auto high = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(f2, f3)));
            return i + static_cast<std::size_t>(std::countr_zero(low | (high << 16U)));
        }
    }
    for (; i + 2 * kVectorDiffs <= n; i += 2 * kVectorDiffs) {
        const unsigned mask = bits16(i);
        if (mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
    if (i < n && n >= 2 * kVectorDiffs) {
        // The last samples as the 16 that end the waveform; those before `i` are dropped from
        // the mask (some may lie before `from` and were never meant to be searched).
        const std::size_t last = n - 2 * kVectorDiffs;
        const unsigned mask = bits16(last) >> (i - last);
        return mask != 0 ? i + static_cast<std::size_t>(std::countr_zero(mask)) : n;
    }
#endif
    for (; i < n; ++i) {
        if ((w[i] > level) == Above) {
            return i;
        }
    }
    return n;
}

}  // namespace

std::size_t first_above(std::span<const std::uint16_t> samples, std::size_t from,
                        std::uint16_t level) noexcept {
    return first_by_level<true>(samples.data(), samples.size(), from, level);
}

std::size_t first_not_above(std::span<const std::uint16_t> samples, std::size_t from,
                            std::uint16_t level) noexcept {
    return first_by_level<false>(samples.data(), samples.size(), from, level);
}

SumAndRise sum_and_largest_rise(std::span<const std::uint16_t> samples) noexcept {
#if defined(__SSE2__)
    const std::uint16_t* w = samples.data();
    const std::size_t n = samples.size();
    if (n < kVectorDiffs + 1) {
        return {sample_sum(samples), 0};
    }
    const std::size_t diffs = n - 1;
    const __m128i bias = _mm_set1_epi16(static_cast<std::int16_t>(0x8000));
    const __m128i zero = _mm_setzero_si128();
    __m128i top = bias;
    std::uint64_t total = 0;
    std::size_t i = 0;
    // Each vector holds the samples w[i..i+7] (summed) and, with w[i+1..i+8], the differences
    // that start at them (their largest rise kept).  The 32-bit sums are folded into the total
    // after at most kSumRounds vectors, before a lane could overflow.
    while (i + kVectorDiffs <= diffs) {
        const std::size_t rounds = std::min((diffs - i) / kVectorDiffs, kSumRounds);
        __m128i low = zero;
        __m128i high = zero;
        for (std::size_t r = 0; r < rounds; ++r, i += kVectorDiffs) {
            const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i + 1));
            top = _mm_max_epi16(top, _mm_xor_si128(_mm_subs_epu16(next, cur), bias));
            low = _mm_add_epi32(low, _mm_unpacklo_epi16(cur, zero));
            high = _mm_add_epi32(high, _mm_unpackhi_epi16(cur, zero));
        }
        total += lane_sum(_mm_add_epi32(low, high));
    }
    if (i < diffs) {
        // The last differences as the vector that ends with the last one.
        top = _mm_max_epi16(top, _mm_xor_si128(vector_rise(w + diffs - kVectorDiffs), bias));
    }
    // The samples from w[i] on (one to eight of them) as the lanes of the vector of the last
    // eight samples that lie at or after w[i].
    const std::size_t tail = n - kVectorDiffs;
    const __m128i lanes = _mm_set_epi16(7, 6, 5, 4, 3, 2, 1, 0);
    const __m128i keep = _mm_cmpgt_epi16(
        lanes, _mm_set1_epi16(static_cast<std::int16_t>(static_cast<int>(i - tail) - 1)));
    total += sample_lane_sum(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + tail)), keep));
    top = _mm_max_epi16(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(1, 0, 3, 2)));
    top = _mm_max_epi16(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(2, 3, 0, 1)));
    top = _mm_max_epi16(top, _mm_shufflelo_epi16(top, _MM_SHUFFLE(2, 3, 0, 1)));
    return {total,
            static_cast<std::uint16_t>(static_cast<unsigned>(_mm_cvtsi128_si32(top)) ^ 0x8000U)};
#else
    return {sample_sum(samples), 0};
#endif
}

double integral_from_sum(std::uint64_t sum, std::span<const std::uint16_t> samples,
                         float baseline) noexcept {
    if (!integral_is_exact(samples.size(), baseline)) {
        return integral_in_order(samples, baseline);
    }
    // See `integral`.
    return static_cast<double>(sum) -
           static_cast<double>(samples.size()) * static_cast<double>(baseline);
}

std::size_t steepest_rise(std::span<const std::uint16_t> samples,
                          std::uint16_t largest_rise) noexcept {
#if defined(__SSE2__)
    const std::size_t diffs = samples.size() - 1;
    if (diffs < kVectorDiffs || largest_rise == 0) {
        return first_largest_difference(samples.data(), diffs);
    }
    return first_rise(samples.data(), diffs, largest_rise);
#else
    (void)largest_rise;
    return steepest_rise(samples);
#endif
}

double unit_spaced_vertex(std::size_t k, double y1, double y2, double y3) noexcept {
    // Through x = k - 1, k, k + 1 (exact doubles), with (k + 1)^2 <= 2^52 so that the squares
    // are exact too, the general three-point fit reduces without any change of its roundings:
    // r = (x3 - x1) / (x2 - x1) is 2; its denominator for a,
    // ((k+1)^2 - (k-1)^2) - 2 * (k^2 - (k-1)^2) = 4k - (4k - 2), is 2, so dividing by it is the
    // exact scaling by 0.5; x2^2 - x1^2 is 2k - 1, and b's division by x2 - x1 = 1 is exact.
    // What is left rounds exactly where the general fit does.
    const auto x = static_cast<double>(k);
    const double a = ((y3 - y1) - (y2 - y1) * 2.0) * 0.5;
    const double b = (y2 - y1) - a * (2.0 * x - 1.0);
    return -b / (a + a);
}

}  // namespace tessel::waveform
