#include "testdriver/wireLoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "testdriver/captureFormat.h"
#include "testdriver/sampleFormat.h"

namespace refdrv {

namespace {

// Marks a delay-line slot that holds no output yet.
constexpr int64_t unwritten = std::numeric_limits<int64_t>::min();

// A drift moves the delay for at most this long, so the delay lines stay bounded.
constexpr double driftMinutes = 60.0;

// The buffer of 1-based channel `number` in `list`, or null.
const ChannelBuffer* findChannel(const std::vector<ChannelBuffer>& list, int32_t number) {
    for (const ChannelBuffer& buffer : list)
        if (buffer.channel + 1 == number) return &buffer;
    return nullptr;
}

} // namespace

bool WireLoop::prepare(const BufferSet& buffers, const WireConfig& config, uint32_t seed, double sampleRate) {
    lines_.clear();
    paths_.clear();
    frames_ = buffers.frames();
    std::vector<WirePath> wanted = config.map;
    if (!config.mapGiven) wanted = {WirePath{config.from, config.to, {}, {}, {}, false}};
    const double samplesPerMinute = 60.0 * (sampleRate > 0.0 ? sampleRate : 48000.0);
    double longest = 0.0;
    for (const WirePath& want : wanted) {
        const ChannelBuffer* output = findChannel(buffers.outputs(), want.from);
        const ChannelBuffer* input = findChannel(buffers.inputs(), want.to);
        if (!output || !input) {
            paths_.clear();
            lines_.clear();
            return false;
        }
        Path path;
        auto line = std::find_if(lines_.begin(), lines_.end(),
                                 [output](const Line& l) { return l.output == output; });
        path.line = static_cast<size_t>(line - lines_.begin());
        if (line == lines_.end()) lines_.push_back(Line{output, nullptr, nullptr});
        path.input = input;
        const double extra = want.delay.value_or(config.delay);
        path.extra = extra < 0 || !(extra == extra) ? 0.0 : std::min<double>(extra, maxWireDelay);
        const double drift = want.drift.value_or(config.drift);
        path.driftPerSample = std::isfinite(drift) ? drift / samplesPerMinute : 0.0;
        path.driftUntil = driftMinutes * samplesPerMinute;
        const bool invert = config.invert != want.invert;
        path.gain = std::pow(10.0, want.gainDb.value_or(config.gainDb) / 20.0) * (invert ? -1.0 : 1.0);
        longest = std::max(longest, path.extra + std::abs(drift) * driftMinutes);
        setDelay(path, path.extra);
        paths_.push_back(path);
    }
    length_ = 2 * int64_t{frames_} + static_cast<int64_t>(std::ceil(longest)) + 2 * int64_t{frames_} +
              fractionReach + 1;
    for (Line& line : lines_) {
        line.values.reset(new (std::nothrow) double[static_cast<size_t>(length_)]);
        line.positions.reset(new (std::nothrow) int64_t[static_cast<size_t>(length_)]);
        if (!line.values || !line.positions) {
            paths_.clear();
            lines_.clear();
            return false;
        }
        std::fill(line.positions.get(), line.positions.get() + length_, unwritten);
    }
    mix_.assign(static_cast<size_t>(std::max(frames_, 0)), 0.0);
    noisePeak_ = config.noiseDb ? std::sqrt(3.0) * std::pow(10.0, *config.noiseDb / 20.0) : 0.0;
    noise_ = PseudoRandom(seed, wireNoiseStream);
    return true;
}

// The filter reaches fractionReach samples ahead, which must already have been written:
// a fraction needs at least that many samples of delay beyond the buffers.
void WireLoop::setDelay(Path& path, double extra) noexcept {
    extra = std::clamp(extra, 0.0, double(maxWireDelay));
    if (extra == path.tapsExtra) return;
    path.tapsExtra = extra;
    path.whole = 2 * int64_t{frames_} + static_cast<int64_t>(std::floor(extra));
    const double fraction = extra - std::floor(extra);
    path.fractional = fraction > 0.0 && extra >= fractionReach;
    if (path.fractional) wireFractionTaps(fraction, path.taps.data());
}

bool WireLoop::feeds(const ChannelBuffer& buffer) const {
    for (const Path& path : paths_)
        if (path.input == &buffer) return true;
    return false;
}

double WireLoop::written(const Line& line, int64_t source) const noexcept {
    int64_t slot = source % length_;
    if (slot < 0) slot += length_;
    return line.positions[slot] == source ? line.values[slot] : 0.0;
}

void WireLoop::fillInput(const ChannelBuffer& buffer, int32_t half, int64_t position, bool dropout) noexcept {
    uint8_t* target = buffer.halves[half];
    if (dropout) {
        std::memset(target, 0, buffer.bytes);
        return;
    }
    std::fill(mix_.begin(), mix_.end(), 0.0);
    for (Path& path : paths_) {
        if (path.input != &buffer) continue;
        // A drifting path's delay for this block: it moves with the position, for at most
        // an hour.
        if (path.driftPerSample != 0.0)
            setDelay(path, path.extra + path.driftPerSample * std::min(double(std::max<int64_t>(position, 0)),
                                                                       path.driftUntil));
        const Line& line = lines_[path.line];
        for (int32_t s = 0; s < frames_; ++s) {
            const int64_t source = position + s - path.whole;
            double value = 0.0;
            if (!path.fractional) {
                value = written(line, source);
            } else {
                for (int j = -fractionReach; j <= fractionReach; ++j)
                    value += path.taps[static_cast<size_t>(j + fractionReach)] * written(line, source - j);
            }
            mix_[static_cast<size_t>(s)] += value * path.gain;
        }
    }
    const int width = capture::sampleTypeBytes(buffer.type);
    for (int32_t s = 0; s < frames_; ++s) {
        double value = mix_[static_cast<size_t>(s)];
        if (noisePeak_ > 0.0) value += noisePeak_ * noise_.symmetric();
        if (!encodeSample(target + s * width, buffer.type, value)) target[s] = 0;
    }
}

void WireLoop::takeOutput(int32_t half, int64_t position) noexcept {
    for (Line& line : lines_) {
        const uint8_t* source = line.output->halves[half];
        const int width = capture::sampleTypeBytes(line.output->type);
        for (int32_t s = 0; s < frames_; ++s) {
            int64_t slot = (position + s) % length_;
            if (slot < 0) slot += length_;
            line.values[slot] = decodeSample(source + s * width, line.output->type);
            line.positions[slot] = position + s;
        }
    }
}

} // namespace refdrv
