#include "app/myBP.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The tone's constants in extended precision.
constexpr long double twoPi = 6.283185307179586477L;
constexpr long double modulationStep = 0.00004L;

bool isInputChannel(telAsioDriver& driver, int32_t channel) {
    const pASIOChannelInfo info = driver.getChannelInfoByIndex(channel);
    return info != nullptr && info->isInput != 0;
}

// Buffer half `index` of a channel, or nullptr when the driver gave none.
void* bufferHalf(telAsioDriver& driver, int32_t channel, int32_t index) {
    const pASIOBufferInfo info = driver.getBufferInfoByIndex(channel);
    return info != nullptr ? info->buffers[index] : nullptr;
}

} // namespace

telBool myBP::doBufferSwitchTimeInfo(pASIOTime, int32_t index, telBool, pASIOTime) {
    telAsioDriver* driver = drv();
    if (driver == nullptr) return telFalse;

    // A driver that names a half other than 0 or 1 gets no audio work for this switch;
    // reading its pointers would go outside the buffer entry.
    if (index == 0 || index == 1) {
        if (!f_noLoop) loopInputs(*driver, index);
        if (!f_noSine) {
            const int32_t inputs = driver->inputChannels();
            writeTone(*driver, inputs, index);
            writeTone(*driver, inputs + 1, index);
        }
    }
    if (driver->postOutput()) driver->outputReady();
    return telTrue;
}

// Input k goes to output k, as raw bytes, for as many pairs as both counts allow.
void myBP::loopInputs(telAsioDriver& driver, int32_t index) {
    const int32_t inputs = driver.inputChannels();
    const int32_t channels = std::min(inputs + driver.outputChannels(), telMaxChannels);
    int32_t output = inputs;
    for (int32_t input = 0; input < inputs; ++input) {
        if (!isInputChannel(driver, input)) continue;
        while (output < channels) {
            f_outBufLooped[output] = telFalse;
            if (isInputChannel(driver, output)) {
                ++output;
                continue;
            }
            const int32_t bytes = std::min(driver.getBufferSizeInBytes(input), driver.getBufferSizeInBytes(output));
            const void* source = bufferHalf(driver, input, index);
            void* target = bufferHalf(driver, output, index);
            if (bytes >= 1 && source != nullptr && target != nullptr) {
                std::memcpy(target, source, static_cast<std::size_t>(bytes));
                f_outBufLooped[output] = telTrue;
            }
            ++output;
            break;
        }
    }
}

// The swept tone: the phase advances per sample by the cosine of a slowly rising
// modulation phase, so the pitch sweeps between 0 and rate / 2π. Sine and cosine are
// taken in extended precision; the phases are kept as doubles.
void myBP::writeTone(telAsioDriver& driver, int32_t channel, int32_t index) {
    if (channel >= driver.inputChannels() + driver.outputChannels() || channel >= telMaxChannels) return;
    if (isInputChannel(driver, channel)) return;

    const telASIOSampleOp op = f_outBufLooped[channel] ? soAdd : soReplace;
    const int32_t samples = driver.bufActualSize();
    double sine = f_sineValue[channel];
    double cosine = f_cosineValue[channel];
    for (int32_t sample = 0; sample < samples; ++sample) {
        driver.setSample(channel, index, sample, static_cast<double>(std::sin(static_cast<long double>(sine))), op);
        cosine = static_cast<double>(cosine + modulationStep);
        sine = static_cast<double>(sine + std::cos(static_cast<long double>(cosine)));
        if (sine > twoPi) sine = static_cast<double>(sine - twoPi);
        if (cosine > twoPi) cosine = static_cast<double>(cosine - twoPi);
    }
    f_sineValue[channel] = sine;
    f_cosineValue[channel] = cosine;
}
