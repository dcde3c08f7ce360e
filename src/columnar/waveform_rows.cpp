#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tessel/columnar/batch.hpp"

namespace tessel {

namespace {

bool aligned_for_samples(const std::byte* p) noexcept {
    return reinterpret_cast<std::uintptr_t>(p) % alignof(std::uint16_t) == 0;
}

constexpr auto SAMPLE_SIZE = static_cast<std::ptrdiff_t>(sizeof(std::uint16_t));

}  // namespace

WaveformRows WaveformRows::fixed(const void* data, std::size_t count, std::size_t length,
                                 std::ptrdiff_t row_stride, std::ptrdiff_t sample_stride) noexcept {
    WaveformRows w;
    w.samples_ = static_cast<const std::byte*>(data);
    w.rows_ = count;
    w.length_ = length;
    w.row_stride_ = row_stride;
    w.sample_stride_ = sample_stride;
    w.direct_ = sample_stride == SAMPLE_SIZE && row_stride % SAMPLE_SIZE == 0 &&
                aligned_for_samples(w.samples_);
    return w;
}

WaveformRows WaveformRows::fixed(std::span<const std::uint16_t> samples, std::size_t count,
                                 std::size_t length) noexcept {
    return fixed(samples.data(), count, length, static_cast<std::ptrdiff_t>(length) * SAMPLE_SIZE,
                 SAMPLE_SIZE);
}

WaveformRows WaveformRows::ragged(const void* samples, std::size_t sample_count,
                                  std::ptrdiff_t sample_stride, const void* offsets,
                                  std::size_t offset_count, std::ptrdiff_t offset_stride) noexcept {
    WaveformRows w;
    w.ragged_ = true;
    w.samples_ = static_cast<const std::byte*>(samples);
    w.sample_count_ = sample_count;
    w.sample_stride_ = sample_stride;
    w.offsets_ = StridedRows<std::int64_t>(offsets, offset_count, offset_stride);
    w.direct_ = sample_stride == SAMPLE_SIZE && aligned_for_samples(w.samples_);
    return w;
}

WaveformRows WaveformRows::ragged(std::span<const std::uint16_t> samples,
                                  std::span<const std::int64_t> offsets) noexcept {
    return ragged(samples.data(), samples.size(), SAMPLE_SIZE, offsets.data(), offsets.size(),
                  static_cast<std::ptrdiff_t>(sizeof(std::int64_t)));
}

std::size_t WaveformRows::count() const noexcept {
    if (!ragged_) {
        return rows_;
    }
    return offsets_.size() == 0 ? 0 : offsets_.size() - 1;
}

std::size_t WaveformRows::validate(std::size_t triggers) const {
    if (!ragged_) {
        if (rows_ != triggers) {
            throw std::invalid_argument("waveforms has " + std::to_string(rows_) +
                                        " rows but triggers has " + std::to_string(triggers) +
                                        " rows; give one waveform per trigger");
        }
        return triggers == 0 ? 0 : length_;
    }
    if (offsets_.size() != triggers + 1) {
        throw std::invalid_argument("offsets has " + std::to_string(offsets_.size()) +
                                    " entries but triggers has " + std::to_string(triggers) +
                                    " rows; give one offset more than there are triggers");
    }
    const auto samples = static_cast<std::int64_t>(sample_count_);
    std::size_t longest = 0;
    std::int64_t previous = 0;
    for (std::size_t i = 0; i <= triggers; ++i) {
        const std::int64_t o = offsets_[i];
        if (o < 0 || o > samples) {
            throw std::invalid_argument(
                "offsets[" + std::to_string(i) + "] = " + std::to_string(o) + " lies outside [0, " +
                std::to_string(samples) + "], the range of the samples array");
        }
        if (i > 0) {
            if (o < previous) {
                throw std::invalid_argument("offsets must not decrease, but offsets[" +
                                            std::to_string(i) + "] = " + std::to_string(o) +
                                            " is below offsets[" + std::to_string(i - 1) +
                                            "] = " + std::to_string(previous));
            }
            const auto length = static_cast<std::size_t>(o - previous);
            longest = length > longest ? length : longest;
        }
        previous = o;
    }
    return longest;
}

void WaveformRows::throw_offsets_changed() {
    throw std::invalid_argument("offsets changed while the call was reading them");
}

std::span<const std::uint16_t> WaveformRows::gather(
    const std::byte* first, std::size_t length, std::span<std::uint16_t> scratch) const noexcept {
    for (std::size_t j = 0; j < length; ++j) {
        std::memcpy(&scratch[j], first + static_cast<std::ptrdiff_t>(j) * sample_stride_,
                    sizeof(std::uint16_t));
    }
    return scratch.first(length);
}

}  // namespace tessel
