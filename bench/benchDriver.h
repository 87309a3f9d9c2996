// A lean in-memory driver for the benchmark: real buffers, fixed figures, and no
// bookkeeping on the calls the callback path makes.
#pragma once

#include <cstdint>
#include <vector>

#include "asio/asioDriverInterface.h"

class BenchDriver : public IASIO {
  public:
    BenchDriver(int32_t channels, ASIOSampleType type) : f_channels(channels), f_type(type) {}

    // The record the host handed over in createBuffers.
    const ASIOCallbacks& callbacks() const { return f_callbacks; }

    int32_t TEL_STDCALL QueryInterface(const plat::Guid&, void**) override { return plat::hrNoInterface; }
    uint32_t TEL_STDCALL AddRef() override { return 1; }
    uint32_t TEL_STDCALL Release() override { return 1; }
    ASIOBool TEL_THISCALL init(void*) override { return 1; }
    void TEL_THISCALL getDriverName(char* name) override { name[0] = 0; }
    int32_t TEL_THISCALL getDriverVersion() override { return 1; }
    void TEL_THISCALL getErrorMessage(char* text) override { text[0] = 0; }
    ASIOError TEL_THISCALL start() override { return ASE_OK; }
    ASIOError TEL_THISCALL stop() override { return ASE_OK; }
    ASIOError TEL_THISCALL getChannels(int32_t* inputs, int32_t* outputs) override;
    ASIOError TEL_THISCALL getLatencies(int32_t* input, int32_t* output) override;
    ASIOError TEL_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                                         int32_t* granularity) override;
    ASIOError TEL_THISCALL canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError TEL_THISCALL getSampleRate(ASIOSampleRate* rate) override;
    ASIOError TEL_THISCALL setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError TEL_THISCALL getClockSources(ASIOClockSource*, int32_t* count) override;
    ASIOError TEL_THISCALL setClockSource(int32_t) override { return ASE_OK; }
    ASIOError TEL_THISCALL getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override;
    ASIOError TEL_THISCALL getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError TEL_THISCALL createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t size,
                                         ASIOCallbacks* callbacks) override;
    ASIOError TEL_THISCALL disposeBuffers() override;
    ASIOError TEL_THISCALL controlPanel() override { return ASE_OK; }
    ASIOError TEL_THISCALL future(int32_t, void*) override { return ASE_OK; }
    ASIOError TEL_THISCALL outputReady() override { return ASE_OK; }

  private:
    int32_t f_channels;
    ASIOSampleType f_type;
    ASIOCallbacks f_callbacks{};
    std::vector<std::vector<uint8_t>> f_buffers;
};
