#include "testdriver/wireLoop.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>

#include "testdriver/captureFormat.h"
#include "testdriver/sampleFormat.h"

namespace refdrv {

namespace {

// Taps on each side of the fractional-delay filter.
constexpr int fractionReach = 16;

// Marks a delay-line slot that holds no output yet.
constexpr int64_t unwritten = std::numeric_limits<int64_t>::min();

// The buffer of 1-based channel `number` in `list`, or null.
const ChannelBuffer* findChannel(const std::vector<ChannelBuffer>& list, int32_t number) {
    for (const ChannelBuffer& buffer : list)
        if (buffer.channel + 1 == number) return &buffer;
    return nullptr;
}

} // namespace

bool WireLoop::prepare(const BufferSet& buffers, const WireConfig& config, uint32_t seed) {
    output_ = findChannel(buffers.outputs(), config.from);
    input_ = findChannel(buffers.inputs(), config.to);
    values_.reset();
    positions_.reset();
    if (!output_ || !input_) {
        output_ = input_ = nullptr;
        return false;
    }
    frames_ = buffers.frames();
    const double extra = config.delay;
    delay_ = 2 * int64_t{frames_} + static_cast<int64_t>(std::floor(extra));
    const double fraction = extra - std::floor(extra);
    fractionTaps_.clear();
    // The filter reaches fractionReach samples ahead, which must already have been
    // written: a fraction needs at least that many samples of delay.
    if (fraction > 0.0 && extra >= fractionReach) {
        for (int j = -fractionReach; j <= fractionReach; ++j) {
            const double x = j - fraction;
            const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double n = (x + fractionReach + 1) / (2.0 * fractionReach + 2);
            fractionTaps_.push_back(sinc * (0.42 - 0.5 * std::cos(2 * std::numbers::pi * n) +
                                            0.08 * std::cos(4 * std::numbers::pi * n)));
        }
    }
    length_ = delay_ + 2 * int64_t{frames_} + fractionReach + 1;
    values_.reset(new (std::nothrow) double[static_cast<size_t>(length_)]);
    positions_.reset(new (std::nothrow) int64_t[static_cast<size_t>(length_)]);
    if (!values_ || !positions_) {
        output_ = input_ = nullptr;
        return false;
    }
    for (int64_t i = 0; i < length_; ++i)
        positions_[i] = unwritten;
    gain_ = std::pow(10.0, config.gainDb / 20.0) * (config.invert ? -1.0 : 1.0);
    noisePeak_ = config.noiseDb ? std::sqrt(3.0) * std::pow(10.0, *config.noiseDb / 20.0) : 0.0;
    noise_ = PseudoRandom(seed, wireNoiseStream);
    return true;
}

size_t WireLoop::slotOf(int64_t position) const {
    const int64_t slot = position % length_;
    return static_cast<size_t>(slot < 0 ? slot + length_ : slot);
}

void WireLoop::fillInput(int32_t half, int64_t position, bool dropout) noexcept {
    if (!input_) return;
    uint8_t* target = input_->halves[half];
    if (dropout) {
        std::memset(target, 0, input_->bytes);
        return;
    }
    const int width = capture::sampleTypeBytes(input_->type);
    auto written = [this](int64_t source) {
        const size_t slot = slotOf(source);
        return positions_[slot] == source ? values_[slot] : 0.0;
    };
    for (int32_t s = 0; s < frames_; ++s) {
        const int64_t source = position + s - delay_;
        double value = 0.0;
        if (fractionTaps_.empty()) {
            value = written(source);
        } else {
            for (int j = -fractionReach; j <= fractionReach; ++j)
                value += fractionTaps_[static_cast<size_t>(j + fractionReach)] * written(source - j);
        }
        value *= gain_;
        if (noisePeak_ > 0.0) value += noisePeak_ * noise_.symmetric();
        if (!encodeSample(target + s * width, input_->type, value)) target[s] = 0;
    }
}

void WireLoop::takeOutput(int32_t half, int64_t position) noexcept {
    if (!output_) return;
    const uint8_t* source = output_->halves[half];
    const int width = capture::sampleTypeBytes(output_->type);
    for (int32_t s = 0; s < frames_; ++s) {
        const size_t slot = slotOf(position + s);
        values_[slot] = decodeSample(source + s * width, output_->type);
        positions_[slot] = position + s;
    }
}

} // namespace refdrv
