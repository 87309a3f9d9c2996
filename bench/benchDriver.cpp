#include "bench/benchDriver.h"

#include <cstdio>

ASIOError BenchDriver::getChannels(int32_t* inputs, int32_t* outputs) {
    *inputs = f_channels;
    *outputs = f_channels;
    return ASE_OK;
}

ASIOError BenchDriver::getLatencies(int32_t* input, int32_t* output) {
    *input = 0;
    *output = 0;
    return ASE_OK;
}

ASIOError BenchDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred, int32_t* granularity) {
    *minSize = 32;
    *maxSize = 4096;
    *preferred = 300;
    *granularity = 1;
    return ASE_OK;
}

ASIOError BenchDriver::getSampleRate(ASIOSampleRate* rate) {
    *rate = 48000.0;
    return ASE_OK;
}

ASIOError BenchDriver::getClockSources(ASIOClockSource*, int32_t* count) {
    *count = 0;
    return ASE_OK;
}

ASIOError BenchDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) {
    *position = {0, 4800};
    *stamp = {0, 100};
    return ASE_OK;
}

ASIOError BenchDriver::getChannelInfo(ASIOChannelInfo* info) {
    info->isActive = 1;
    info->channelGroup = 0;
    info->_type = f_type;
    std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out", info->channel + 1);
    return ASE_OK;
}

ASIOError BenchDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size, ASIOCallbacks* callbacks) {
    const int32_t width = f_type == ASIOSTInt16LSB ? 2 : 4;
    f_buffers.assign(static_cast<size_t>(2 * count), std::vector<uint8_t>(static_cast<size_t>(width * size)));
    for (int32_t k = 0; k < count; ++k) {
        infos[k].buffers[0] = f_buffers[static_cast<size_t>(2 * k)].data();
        infos[k].buffers[1] = f_buffers[static_cast<size_t>(2 * k + 1)].data();
    }
    f_callbacks = *callbacks;
    return ASE_OK;
}

ASIOError BenchDriver::disposeBuffers() {
    f_buffers.clear();
    return ASE_OK;
}
